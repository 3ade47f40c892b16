#include "records/Postgres.h"

#include <poll.h>

#include <cstdlib>

namespace brintel::records {
namespace {

// libpq's messages end in a line break and may span several lines.
std::string OneLine(const char* message) {
  std::string line;
  for (const char* c = message; c != nullptr && *c != '\0'; ++c) {
    if (*c == '\n') {
      if (c[1] != '\0' && !line.empty()) {
        line += "; ";
      }
    } else {
      line += *c;
    }
  }
  return line.empty() ? "no answer" : line;
}

}  // namespace

std::string PgResult::Text(int row, int column) const {
  return {PQgetvalue(result_.get(), row, column),
          static_cast<std::size_t>(PQgetlength(result_.get(), row, column))};
}

std::int64_t PgResult::Int(int row, int column) const {
  return std::strtoll(PQgetvalue(result_.get(), row, column), nullptr, 10);
}

std::int64_t PgResult::Affected() const {
  return std::strtoll(PQcmdTuples(result_.get()), nullptr, 10);
}

PgConnection::PgConnection(const std::string& uri, Timeouts timeouts)
    : name_(WithoutPassword(uri)), timeouts_(timeouts) {
  Connect(uri, nullptr);
}

PgConnection::PgConnection(const std::string& uri, const std::string& database, Timeouts timeouts)
    : name_(WithoutPassword(uri) + " (database " + database + ")"), timeouts_(timeouts) {
  Connect(uri, database.c_str());
}

void PgConnection::Connect(const std::string& uri, const char* database) {
  const std::string connect = std::to_string(timeouts_.connect.count());
  // Given before the URI, so that the URI's own settings win. The keepalives
  // and the user time-out notice a pulled cable on TCP.
  std::vector<const char*> keys = {"fallback_application_name", "keepalives_idle",
                                   "keepalives_interval", "keepalives_count", "tcp_user_timeout"};
  std::vector<const char*> values = {"brintel", "5", "2", "3", "10000"};
  if (std::getenv("PGCONNECT_TIMEOUT") == nullptr) {
    keys.push_back("connect_timeout");
    values.push_back(connect.c_str());
  }
  keys.push_back("dbname");
  values.push_back(uri.c_str());
  if (database != nullptr) {  // a second dbname is a name, not a URI
    keys.push_back("dbname");
    values.push_back(database);
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  conn_.reset(PQconnectdbParams(keys.data(), values.data(), 1));
  if (!conn_) {
    throw RecordsError(name_ + ": cannot connect: out of memory");
  }
  if (PQstatus(conn_.get()) != CONNECTION_OK) {
    Fail("cannot connect", OneLine(PQerrorMessage(conn_.get())));
  }
  // The server gives up too, so that no lock wait outlasts the client's.
  Exec("SELECT set_config('statement_timeout', $1, false), set_config('lock_timeout', $1, false)",
       {std::to_string(timeouts_.statement.count())});
}

void PgConnection::Fail(const std::string& what, const std::string& why) {
  throw RecordsError(name_ + ": " + what + ": " + why);
}

bool PgConnection::Broken() const {
  return !conn_ || PQstatus(conn_.get()) != CONNECTION_OK;
}

PgResult PgConnection::Exec(const std::string& sql, const PgParams& params) {
  if (Broken()) {
    Fail(sql, "the connection is lost");
  }
  std::vector<const char*> values;
  for (const auto& param : params) {
    values.push_back(param ? param->c_str() : nullptr);
  }
  if (PQsendQueryParams(conn_.get(), sql.c_str(), static_cast<int>(values.size()), nullptr,
                        values.data(), nullptr, nullptr, 0) == 0) {
    Fail(sql, OneLine(PQerrorMessage(conn_.get())));
  }
  return PgResult(Wait(sql));
}

void PgConnection::ExecScript(const std::string& sql) {
  if (Broken()) {
    Fail(sql, "the connection is lost");
  }
  if (PQsendQuery(conn_.get(), sql.c_str()) == 0) {
    Fail(sql, OneLine(PQerrorMessage(conn_.get())));
  }
  PQclear(Wait(sql));
}

// The last result of what was sent; a failure throws.
PGresult* PgConnection::Wait(const std::string& sql) {
  const auto deadline = std::chrono::steady_clock::now() + timeouts_.statement;
  while (PQisBusy(conn_.get()) != 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd socket{PQsocket(conn_.get()), POLLIN, 0};
    const int ready = left.count() > 0 ? ::poll(&socket, 1, static_cast<int>(left.count())) : 0;
    if (ready == 0) {
      // A dead server or a pulled cable: ask to cancel, and never wait again.
      if (PGcancel* cancel = PQgetCancel(conn_.get())) {
        char error[256];
        PQcancel(cancel, error, sizeof error);
        PQfreeCancel(cancel);
      }
      conn_.reset();
      Fail(sql, "no answer within " + std::to_string(timeouts_.statement.count()) +
                    " ms; the connection is dropped");
    }
    if (ready < 0 || PQconsumeInput(conn_.get()) == 0) {
      Fail(sql, OneLine(PQerrorMessage(conn_.get())));
    }
  }
  PGresult* last = nullptr;
  std::string failure;
  while (PGresult* result = PQgetResult(conn_.get())) {
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && failure.empty()) {
      failure = OneLine(PQresultErrorMessage(result));
    }
    PQclear(last);
    last = result;
  }
  if (failure.empty() && last == nullptr) {
    failure = OneLine(PQerrorMessage(conn_.get()));
  }
  if (!failure.empty()) {
    PQclear(last);
    Fail(sql, failure);
  }
  return last;
}

std::string PgConnection::Literal(std::string_view text) const {
  std::unique_ptr<char, decltype(&PQfreemem)> quoted(
      PQescapeLiteral(conn_.get(), text.data(), text.size()), &PQfreemem);
  if (!quoted) {
    throw RecordsError(name_ + ": cannot quote a literal: " + PQerrorMessage(conn_.get()));
  }
  return quoted.get();
}

std::string PgConnection::Identifier(std::string_view text) const {
  std::unique_ptr<char, decltype(&PQfreemem)> quoted(
      PQescapeIdentifier(conn_.get(), text.data(), text.size()), &PQfreemem);
  if (!quoted) {
    throw RecordsError(name_ + ": cannot quote a name: " + PQerrorMessage(conn_.get()));
  }
  return quoted.get();
}

PgTransaction::PgTransaction(PgConnection& connection) : connection_(connection) {
  connection_.Exec("BEGIN");
}

PgTransaction::~PgTransaction() {
  if (!done_ && !connection_.Broken()) {
    try {
      connection_.Exec("ROLLBACK");
    } catch (const RecordsError&) {
      // The connection went meanwhile: the server rolls back on its own.
    }
  }
}

void PgTransaction::Commit() {
  connection_.Exec("COMMIT");
  done_ = true;
}

}  // namespace brintel::records
