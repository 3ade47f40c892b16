#pragma once

// A very thin layer over the SQLite C API: ownership of the handles, and every
// failure as a RecordsError naming the file.

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace brintel::records {

class RecordsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Database {
 public:
  // flags as for sqlite3_open_v2.
  Database(const std::string& path, int flags);
  // Opens `uri` (flags must hold SQLITE_OPEN_URI) and names `path` in errors.
  Database(const std::string& path, const std::string& uri, int flags);

  sqlite3* get() const { return db_.get(); }
  const std::string& path() const { return path_; }

  // "<file>: <what>: <SQLite's message>"
  [[noreturn]] void Fail(std::string_view what) const;
  void Exec(const char* sql) const;
  std::int64_t ReadInt(const char* sql) const;

 private:
  struct Close {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };
  std::string path_;
  std::unique_ptr<sqlite3, Close> db_;
};

class Statement {
 public:
  Statement(const Database& db, const char* sql);

  void Bind(int index, std::string_view text);
  void Bind(int index, std::int64_t value);
  // True while a row is there to read.
  bool Step();
  void Run();  // a statement that returns no row

  std::int64_t Int(int column) const;
  std::string Text(int column) const;

 private:
  struct Finalize {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
  };
  const Database& db_;
  std::unique_ptr<sqlite3_stmt, Finalize> statement_;
};

// BEGIN IMMEDIATE takes the write lock at once, so a busy writer is waited for
// through the busy timeout instead of failing at the first write.
class WriteTransaction {
 public:
  explicit WriteTransaction(const Database& db);
  ~WriteTransaction();
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;
  void Commit();

 private:
  const Database& db_;
  bool done_ = false;
};

}  // namespace brintel::records
