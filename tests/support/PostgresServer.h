#pragma once

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

}  // namespace brintel::testing
