#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace brintel::testing {

// A PostgreSQL cluster of Debian's server in a fresh folder of its own,
// listening only on a unix socket in that folder, owned by an unprivileged
// user (nobody, when the tests run as root: the server refuses root). One a
// test program: initdb takes a second or two.
class PostgresServer {
 public:
  // Made and started; nullptr with `why` when this machine cannot (no
  // server installed, no user to run it as).
  static std::unique_ptr<PostgresServer> Start(std::string& why);
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // A fresh database of that name, and its connection URI (as the superuser
  // "brintel", who needs no password here).
  std::string CreateDatabase(const std::string& name);
  std::string Uri(const std::string& database, const std::string& user = "brintel") const;
  // The socket's folder and port, as PGHOST and PGPORT take them.
  std::string Host() const { return dir_.string(); }
  static std::string Port() { return "5432"; }
  // Runs SQL through psql; its output, one row a line, columns split by '|',
  // then its errors.
  std::string Query(const std::string& database, const std::string& sql,
                    const std::string& user = "brintel") const;

  // pg_ctl stop (fast: connections are cut) and start again; true when done.
  bool Stop();
  bool Resume();

 private:
  PostgresServer(std::filesystem::path bin, std::filesystem::path dir, bool asNobody);
  std::vector<std::string> AsServerUser(std::vector<std::string> argv) const;

  std::filesystem::path bin_;
  std::filesystem::path dir_;  // data and socket
  bool asNobody_;
};

// A test fixture on `Base` with one cluster for all the tests of its suite,
// started before the first and stopped after the last, and a database of its
// own for each test. A test is skipped, saying why, where no cluster can run.
template <typename Base>
class OnSuiteCluster : public Base {
 protected:
  static void SetUpTestSuite() { server_ = PostgresServer::Start(why_).release(); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (server_ == nullptr) {
      GTEST_SKIP() << why_;
    }
    Base::SetUp();
    database = "t";  // built with +=: GCC 12 warns of a false overlap on "t" + ...
    database += std::to_string(++count_);
    uri = server_->CreateDatabase(database);
  }
  std::string Sql(const std::string& sql) const { return server_->Query(database, sql); }
  static PostgresServer& Server() { return *server_; }

  std::string database, uri;

 private:
  static inline PostgresServer* server_ = nullptr;
  static inline std::string why_;
  static inline int count_ = 0;
};

}  // namespace brintel::testing
