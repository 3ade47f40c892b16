#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/server/Catalogue.h"
#include "sim/server/ServerFault.h"

namespace brintel::sim {

struct RecordedRequest {
  std::string path;    // percent-decoded
  std::string target;  // the request target exactly as it arrived
  // Query parameters in order, "%XX" decoded to the byte; "+" stays "+".
  std::vector<std::pair<std::string, std::string>> params;
  std::string userAgent;
  int status = 0;                   // 0: the connection was dropped without a reply
  std::vector<std::string> faults;  // the faults that shaped the reply, as FaultText writes them

  // The first value of `key`; nullopt when the query has no such parameter.
  std::optional<std::string> Param(std::string_view key) const;
};

// The program server on HTTP: for any 16-hex-digit id,
//   GET /cargetnameplovix.asp?id=ID and GET /getnameplovix.asp?id=ID give the list,
//   either with &type=NAME gives NAME's package keyed for ID.
// Both forms answer on any address and port; the tool uses the second on port 82.
class ProgramServer {
 public:
  struct Options {
    std::string host = "127.0.0.1";
    int port = 0;                 // 0: a free port the system picks
    bool lineBreaks = true;       // CRLF every 64 bytes of a package
    bool listLineBreaks = false;  // the same for lists
    std::vector<ServerFault> faults;
    // Called on the serving thread once per request, before the reply is sent.
    std::function<void(const RecordedRequest&)> onRequest;
  };

  ProgramServer(Catalogue catalogue, Options options);
  ~ProgramServer();  // stops
  ProgramServer(const ProgramServer&) = delete;
  ProgramServer& operator=(const ProgramServer&) = delete;

  // Binds host:port and serves on a thread of its own; returns once requests
  // are accepted. Throws std::runtime_error naming the address when it cannot
  // bind (the port is taken, the address is not local, ...). Call once.
  void Start();
  // Stops accepting, cuts short any reply held back by a slow fault and waits
  // for the replies under way. Safe to call more than once.
  void Stop();

  const std::string& Host() const;
  int Port() const;  // the bound port once started
  // "http://HOST:PORT", for building URLs.
  std::string BaseUrl() const;

  // Faults may change while requests are served; each request sees one set.
  void SetFaults(std::vector<ServerFault> faults);
  void AddFault(const ServerFault& fault);
  void ClearFaults();
  // How often faults of this kind have shaped a reply since construction.
  int FiredCount(ServerFaultKind kind) const;

  std::vector<RecordedRequest> Requests() const;
  void ClearRequests();

  const Catalogue& GetCatalogue() const;
  // The bytes the display must hold after an upgrade with `name`.
  std::vector<std::uint8_t> ExpectedProgram(std::string_view name) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace brintel::sim
