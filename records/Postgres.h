#pragma once

// A thin layer over libpq: ownership of the handles, parameters always bound,
// every wait bounded, and every failure as a RecordsError naming the
// database without its password.

#include <libpq-fe.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/DatabaseUri.h"
#include "records/Sqlite.h"  // RecordsError

namespace brintel::records {

class PgResult {
 public:
  explicit PgResult(PGresult* result) : result_(result) {}
  int Rows() const { return PQntuples(result_.get()); }
  std::string Text(int row, int column) const;
  std::int64_t Int(int row, int column) const;
  bool Null(int row, int column) const { return PQgetisnull(result_.get(), row, column) != 0; }
  // The rows an INSERT, UPDATE or DELETE touched.
  std::int64_t Affected() const;

 private:
  struct Clear {
    void operator()(PGresult* result) const { PQclear(result); }
  };
  std::unique_ptr<PGresult, Clear> result_;
};

using PgParams = std::vector<std::optional<std::string>>;  // nullopt: NULL

class PgConnection {
 public:
  struct Timeouts {
    std::chrono::seconds connect{5};  // unless the URI or PGCONNECT_TIMEOUT says
    std::chrono::milliseconds statement{10000};
  };

  // `uri` is a libpq connection URI or key=value text; what it leaves out
  // comes from the PG* environment variables and the service file, as libpq
  // reads them.
  PgConnection(const std::string& uri, Timeouts timeouts);
  // The same server and user, another database (the server's own "postgres"
  // to make one).
  PgConnection(const std::string& uri, const std::string& database, Timeouts timeouts);

  // The database, host and port the connection went to.
  std::string Database() const { return PQdb(conn_.get()); }
  std::string Host() const { return PQhost(conn_.get()); }
  std::string Port() const { return PQport(conn_.get()); }

  // One statement with its parameters bound, answered within the statement
  // time-out, else cancelled and the connection dropped.
  PgResult Exec(const std::string& sql, const PgParams& params = {});
  // Several statements without parameters (a schema step).
  void ExecScript(const std::string& sql);

  // The connection was lost or dropped; it is of no more use.
  bool Broken() const;
  // The database as it may be shown.
  const std::string& name() const { return name_; }
  // A text as an SQL literal, for the statements that take no parameters.
  std::string Literal(std::string_view text) const;
  std::string Identifier(std::string_view text) const;

 private:
  void Connect(const std::string& uri, const char* database);
  PGresult* Wait(const std::string& sql);
  [[noreturn]] void Fail(const std::string& what, const std::string& why);

  struct Finish {
    void operator()(PGconn* conn) const { PQfinish(conn); }
  };
  std::string name_;
  Timeouts timeouts_;
  std::unique_ptr<PGconn, Finish> conn_;
};

// BEGIN at once; ROLLBACK unless committed.
class PgTransaction {
 public:
  explicit PgTransaction(PgConnection& connection);
  ~PgTransaction();
  PgTransaction(const PgTransaction&) = delete;
  PgTransaction& operator=(const PgTransaction&) = delete;
  void Commit();

 private:
  PgConnection& connection_;
  bool done_ = false;
};

}  // namespace brintel::records
