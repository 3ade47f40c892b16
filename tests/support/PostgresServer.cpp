#include "tests/support/PostgresServer.h"

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <system_error>
#include <vector>

#include "tests/support/Subprocess.h"

namespace brintel::testing {
namespace {

using namespace std::chrono_literals;

constexpr char kRunuser[] = "/usr/sbin/runuser";
constexpr char kPsql[] = "/usr/bin/psql";
constexpr char kPort[] = "5432";  // alone in its folder: no other server's socket there

// The newest server Debian installed: /usr/lib/postgresql/<version>/bin.
std::filesystem::path ServerBin() {
  std::filesystem::path newest;
  int newestVersion = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
    const int version = std::atoi(entry.path().filename().c_str());
    if (version > newestVersion && std::filesystem::exists(entry.path() / "bin" / "initdb")) {
      newestVersion = version;
      newest = entry.path() / "bin";
    }
  }
  return newest;
}

}  // namespace

PostgresServer::PostgresServer(std::filesystem::path bin, std::filesystem::path dir, bool asNobody)
    : bin_(std::move(bin)), dir_(std::move(dir)), asNobody_(asNobody) {}

std::vector<std::string> PostgresServer::AsServerUser(std::vector<std::string> argv) const {
  if (asNobody_) {
    argv.insert(argv.begin(), {kRunuser, "-u", "nobody", "--"});
  }
  return argv;
}

std::unique_ptr<PostgresServer> PostgresServer::Start(std::string& why) {
  const std::filesystem::path bin = ServerBin();
  if (bin.empty()) {
    why = "no PostgreSQL server under /usr/lib/postgresql (scripts/install-deps installs it)";
    return nullptr;
  }
  const bool root = ::geteuid() == 0;
  if (root && !std::filesystem::exists(kRunuser)) {
    why = "running as root without runuser: the server refuses to run as root";
    return nullptr;
  }
  std::string folder = (std::filesystem::temp_directory_path() / "brintel-pg-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) {
    why = "cannot make a folder for the cluster";
    return nullptr;
  }
  std::unique_ptr<PostgresServer> server(new PostgresServer(bin, folder, root));
  if (root && ::chown(folder.c_str(), 65534, 65534) != 0) {  // nobody:nogroup
    why = "cannot give the cluster's folder to nobody";
    return nullptr;
  }
  const std::string data = (server->dir_ / "data").string();
  Subprocess initdb(
      server->AsServerUser({(bin / "initdb").string(), "-D", data, "-U", "brintel", "--auth=trust",
                            "--no-sync", "-E", "UTF8", "--locale=C"}));
  if (initdb.Wait(60s) != 0) {
    why = "initdb failed: " + initdb.err();
    return nullptr;
  }
  if (!server->Resume()) {
    why = "the server did not start";
    return nullptr;
  }
  return server;
}

PostgresServer::~PostgresServer() {
  Stop();
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

bool PostgresServer::Resume() {
  const std::string options =
      "-k " + dir_.string() + " -p " + kPort + " -c listen_addresses='' -c fsync=off";
  Subprocess start(AsServerUser({(bin_ / "pg_ctl").string(), "-D", (dir_ / "data").string(), "-l",
                                 (dir_ / "server.log").string(), "-o", options, "-w", "start"}));
  return start.Wait(60s) == 0;
}

bool PostgresServer::Stop() {
  Subprocess stop(AsServerUser(
      {(bin_ / "pg_ctl").string(), "-D", (dir_ / "data").string(), "-m", "fast", "-w", "stop"}));
  return stop.Wait(60s) == 0;
}

std::string PostgresServer::Uri(const std::string& database, const std::string& user) const {
  std::string uri = "postgresql://";
  for (const char c : user) {  // a role's name may hold a space
    if (c == ' ') {
      uri += "%20";
    } else {
      uri += c;
    }
  }
  uri += "@/" + database + "?host=" + dir_.string() + "&port=" + kPort;
  return uri;
}

std::string PostgresServer::Query(const std::string& database, const std::string& sql,
                                  const std::string& user) const {
  Subprocess psql({kPsql, "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-d",
                   Uri(database, user), "-c", sql});
  psql.Wait(30s);
  return psql.out() + psql.err();
}

std::string PostgresServer::CreateDatabase(const std::string& name) {
  Query("postgres", "CREATE DATABASE " + name);
  return Uri(name);
}

}  // namespace brintel::testing
