#include "records/Sqlite.h"

namespace brintel::records {

Database::Database(const std::string& path, int flags) : Database(path, path, flags) {}

Database::Database(const std::string& path, const std::string& uri, int flags) : path_(path) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(uri.c_str(), &db, flags, nullptr);
  db_.reset(db);
  if (rc != SQLITE_OK) {
    if (db == nullptr) {
      throw RecordsError(path + ": cannot open: " + sqlite3_errstr(rc));
    }
    Fail("cannot open");
  }
  sqlite3_extended_result_codes(db, 1);
}

void Database::Fail(std::string_view what) const {
  throw RecordsError(path_ + ": " + std::string(what) + ": " + sqlite3_errmsg(db_.get()));
}

void Database::Exec(const char* sql) const {
  if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    Fail(sql);
  }
}

std::int64_t Database::ReadInt(const char* sql) const {
  Statement statement(*this, sql);
  if (!statement.Step()) {
    throw RecordsError(path_ + ": " + sql + ": no row");
  }
  return statement.Int(0);
}

Statement::Statement(const Database& db, const char* sql) : db_(db) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db.get(), sql, -1, &statement, nullptr) != SQLITE_OK) {
    db.Fail(sql);
  }
  statement_.reset(statement);
}

void Statement::Bind(int index, std::string_view text) {
  if (sqlite3_bind_text(statement_.get(), index, text.data(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT) != SQLITE_OK) {
    db_.Fail("bind");
  }
}

void Statement::Bind(int index, std::int64_t value) {
  if (sqlite3_bind_int64(statement_.get(), index, value) != SQLITE_OK) {
    db_.Fail("bind");
  }
}

bool Statement::Step() {
  const int rc = sqlite3_step(statement_.get());
  if (rc == SQLITE_ROW) {
    return true;
  }
  if (rc != SQLITE_DONE) {
    db_.Fail(sqlite3_sql(statement_.get()));
  }
  return false;
}

void Statement::Run() {
  while (Step()) {
  }
}

std::int64_t Statement::Int(int column) const {
  return sqlite3_column_int64(statement_.get(), column);
}

std::string Statement::Text(int column) const {
  const auto* text = sqlite3_column_text(statement_.get(), column);
  if (text == nullptr) {
    return {};
  }
  return {reinterpret_cast<const char*>(text),
          static_cast<std::size_t>(sqlite3_column_bytes(statement_.get(), column))};
}

WriteTransaction::WriteTransaction(const Database& db) : db_(db) {
  db_.Exec("BEGIN IMMEDIATE");
}

WriteTransaction::~WriteTransaction() {
  if (!done_) {
    sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

void WriteTransaction::Commit() {
  db_.Exec("COMMIT");
  done_ = true;
}

}  // namespace brintel::records
