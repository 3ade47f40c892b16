#include "sim/server/ProgramServer.h"

#include <httplib.h>
#include <netdb.h>
#include <pthread.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "device/SendBlock.h"
#include "server/ProgramList.h"
#include "server/ProgramPackage.h"
#include "server/Separator.h"
#include "sim/server/PackageBuilder.h"

namespace brintel::sim {
namespace {

constexpr const char* kTextType = "text/plain; charset=gbk";
constexpr const char* kHtmlType = "text/html; charset=gbk";

// Error pages hold no "_", so the tool can never take one for a list.
std::string ErrorPage(int status, std::string_view reason, std::string_view text) {
  const std::string head = std::to_string(status) + " " + std::string(reason);
  return "<html><head><title>" + head + "</title></head><body><h1>" + head + "</h1><p>" +
         std::string(text) + "</p></body></html>\r\n";
}

// Only "%XX" is decoded. The library's own decoding turns "+" into a blank and
// "%uXXXX" into UTF-8; neither belongs here: names are raw GBK bytes and a "+"
// in a name is a "+".
std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = HexDigitValue(text[i + 1]);
      const int low = HexDigitValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> DecodeQuery(std::string_view target) {
  std::vector<std::pair<std::string, std::string>> params;
  const std::size_t question = target.find('?');
  if (question == std::string_view::npos) {
    return params;
  }
  std::string_view query = target.substr(question + 1);
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view piece = query.substr(0, amp);
    if (!piece.empty()) {
      const std::size_t equals = piece.find('=');
      if (equals == std::string_view::npos) {
        params.emplace_back(PercentDecode(piece), "");
      } else {
        params.emplace_back(PercentDecode(piece.substr(0, equals)),
                            PercentDecode(piece.substr(equals + 1)));
      }
    }
    if (amp == std::string_view::npos) {
      break;
    }
    query.remove_prefix(amp + 1);
  }
  return params;
}

// The id one above, so the package of "another display" never matches.
std::string OtherDeviceId(std::string_view deviceId) {
  std::uint64_t value = 0;
  for (const char c : deviceId) {
    value = value * 16 + static_cast<std::uint64_t>(HexDigitValue(c));
  }
  ++value;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string id(16, '0');
  for (std::size_t i = 16; i-- > 0; value >>= 4) {
    id[i] = kHex[value & 0x0F];
  }
  return id;
}

std::string NumericHost(const sockaddr_storage& address, socklen_t length, int& port) {
  char host[NI_MAXHOST] = {};
  char service[NI_MAXSERV] = {};
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, service,
                  sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return "";
  }
  port = std::atoi(service);
  return host;
}

// The library gives handlers no socket, so the connection is found among the
// process's descriptors by its two ends. The client's own end, when the
// client runs in this process, has them swapped and does not match.
bool DropConnection(const httplib::Request& request) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    const std::string name = entry.path().filename().string();
    const int fd = std::atoi(name.c_str());
    sockaddr_storage local{};
    sockaddr_storage peer{};
    socklen_t localLength = sizeof local;
    socklen_t peerLength = sizeof peer;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
      continue;
    }
    int localPort = -1;
    int peerPort = -1;
    const std::string localHost = NumericHost(local, localLength, localPort);
    const std::string peerHost = NumericHost(peer, peerLength, peerPort);
    if (localPort == request.local_port && peerPort == request.remote_port &&
        localHost == request.local_addr && peerHost == request.remote_addr) {
      // The library closes the descriptor itself; its reply then goes nowhere.
      return shutdown(fd, SHUT_RDWR) == 0;
    }
  }
  return false;
}

// A provider with a known length is never compressed by the library, so the
// bytes on the wire are the bytes built here, line breaks included.
void SetBody(httplib::Response& response, int status, const char* type, std::string body,
             bool truncate) {
  response.status = status;
  // Windows' internet client may answer a repeated GET from its cache.
  response.set_header("Cache-Control", "no-cache");
  auto shared = std::make_shared<const std::string>(std::move(body));
  const std::size_t cut = truncate ? shared->size() / 2 : shared->size();
  response.set_content_provider(
      shared->size(), type,
      [shared, cut](std::size_t offset, std::size_t, httplib::DataSink& sink) {
        if (offset < cut) {
          sink.write(shared->data() + offset, cut - offset);
        }
        // false ends the reply short of its Content-Length: the library closes
        // the connection.
        return cut == shared->size();
      });
}

}  // namespace

std::optional<std::string> RecordedRequest::Param(std::string_view key) const {
  for (const auto& [name, value] : params) {
    if (name == key) {
      return value;
    }
  }
  return std::nullopt;
}

struct ProgramServer::Impl {
  Impl(Catalogue c, Options o) : catalogue(std::move(c)), options(std::move(o)) {
    faults = options.faults;
  }

  struct Reply {
    int status = 200;  // 0: drop the connection
    const char* type = kTextType;
    std::string body;
    bool truncate = false;
    std::chrono::milliseconds delay{0};
  };

  // The faults that hit one request. Take counts a fault as fired and records
  // it, so it is called only where that fault shapes the reply.
  class Hits {
   public:
    Hits(Impl& impl, RecordedRequest& record, FaultTarget target);
    const ServerFault* Take(ServerFaultKind kind);
    std::chrono::milliseconds Delay() const;

   private:
    Impl& impl_;
    RecordedRequest& record_;
    std::vector<ServerFault> faults_;
  };

  void Handle(const httplib::Request& request, httplib::Response& response);
  Reply Plan(RecordedRequest& record);
  std::string ListBody(const std::string& id, Hits& hits) const;
  std::string PackageBody(const std::string& id, const Program& program, Hits& hits) const;
  void Wait(std::chrono::milliseconds delay);

  const Catalogue catalogue;
  const Options options;
  httplib::Server http;
  std::thread thread;
  bool started = false;
  int port = 0;

  mutable std::mutex mutex;
  std::condition_variable stopSignal;
  bool stopping = false;
  std::vector<ServerFault> faults;
  std::array<int, kServerFaultKindCount> fired{};
  std::vector<RecordedRequest> requests;
};

ProgramServer::Impl::Hits::Hits(Impl& impl, RecordedRequest& record, FaultTarget target)
    : impl_(impl), record_(record) {
  std::lock_guard lock(impl_.mutex);
  for (const ServerFault& fault : impl_.faults) {
    if (fault.Hits(target)) {
      faults_.push_back(fault);
    }
  }
}

const ServerFault* ProgramServer::Impl::Hits::Take(ServerFaultKind kind) {
  for (const ServerFault& fault : faults_) {
    if (fault.kind == kind) {
      std::lock_guard lock(impl_.mutex);
      ++impl_.fired[static_cast<std::size_t>(kind)];
      record_.faults.push_back(FaultText(fault));
      return &fault;
    }
  }
  return nullptr;
}

// Every slow fault that hits adds its delay.
std::chrono::milliseconds ProgramServer::Impl::Hits::Delay() const {
  std::chrono::milliseconds delay{0};
  for (const ServerFault& fault : faults_) {
    if (fault.kind == ServerFaultKind::kSlow) {
      delay += fault.delay;
    }
  }
  return delay;
}

ProgramServer::Impl::Reply ProgramServer::Impl::Plan(RecordedRequest& record) {
  Reply reply;
  const bool listPath =
      record.path == "/cargetnameplovix.asp" || record.path == "/getnameplovix.asp";
  if (!listPath) {
    return {404, kHtmlType, ErrorPage(404, "Not Found", "No such page."), false, {}};
  }
  const std::optional<std::string> id = record.Param("id");
  if (!id || !IsDeviceId(*id)) {
    return {400,
            kHtmlType,
            ErrorPage(400, "Bad Request", "The id must be 16 hexadecimal digits."),
            false,
            {}};
  }
  const std::optional<std::string> name = record.Param("type");
  const FaultTarget target = name ? FaultTarget::kPackage : FaultTarget::kList;

  Hits hits(*this, record, target);
  reply.delay = hits.Delay();
  if (reply.delay.count() > 0) {
    hits.Take(ServerFaultKind::kSlow);
  }
  if (hits.Take(ServerFaultKind::kDropConnection)) {
    reply.status = 0;
    return reply;
  }
  if (hits.Take(ServerFaultKind::kErrorPage)) {
    reply.status = 500;
    reply.type = kHtmlType;
    reply.body = ErrorPage(500, "Internal Server Error", "The program server could not answer.");
    return reply;
  }

  if (target == FaultTarget::kList) {
    reply.body = ListBody(*id, hits);
  } else {
    const Program* program = catalogue.Find(*name);
    if (!program) {
      return {404, kHtmlType, ErrorPage(404, "Not Found", "No such program."), false, reply.delay};
    }
    reply.body = PackageBody(*id, *program, hits);
  }
  reply.truncate = hits.Take(ServerFaultKind::kTruncatedBody) != nullptr;
  return reply;
}

std::string ProgramServer::Impl::ListBody(const std::string& id, Hits& hits) const {
  std::string body;
  if (hits.Take(ServerFaultKind::kNoSeparator)) {
    body = "NOPROGRAMS";
  } else {
    std::string key = catalogue.ListKeyFor(id);
    if (hits.Take(ServerFaultKind::kEmptyKey)) {
      key.clear();
    } else if (hits.Take(ServerFaultKind::kLongKey)) {
      while (key.size() <= LIST_KEY_MAX) {
        key += static_cast<char>('0' + key.size() % 10);
      }
    }
    body = catalogue.ListText(key);
  }
  return options.listLineBreaks ? WithLineBreaks(body) : body;
}

std::string ProgramServer::Impl::PackageBody(const std::string& id, const Program& program,
                                             Hits& hits) const {
  std::string label = id;
  if (hits.Take(ServerFaultKind::kOtherDevice)) {
    label = OtherDeviceId(id);
  }
  std::string body = BuildPackage(label, catalogue.ListKeyFor(label), program);
  const std::size_t separator = FindSeparator(body);
  if (hits.Take(ServerFaultKind::kNoSeparator)) {
    body.erase(separator, 1);
  }
  if (hits.Take(ServerFaultKind::kNonHex)) {
    body[separator + PAYLOAD_OFFSET + PAYLOAD_DIGITS / 2] = 'G';
  }
  if (hits.Take(ServerFaultKind::kShortBody)) {
    body.resize(PACKAGE_MIN_SIZE - 1);
  }
  return options.lineBreaks ? WithLineBreaks(body) : body;
}

void ProgramServer::Impl::Wait(std::chrono::milliseconds delay) {
  std::unique_lock lock(mutex);
  stopSignal.wait_for(lock, delay, [this] { return stopping; });
}

void ProgramServer::Impl::Handle(const httplib::Request& request, httplib::Response& response) {
  RecordedRequest record;
  record.path = request.path;
  record.target = request.target;
  record.params = DecodeQuery(request.target);
  record.userAgent = request.get_header_value("User-Agent");
  Reply reply = Plan(record);
  record.status = reply.status;
  {
    std::lock_guard lock(mutex);
    requests.push_back(record);
  }
  if (options.onRequest) {
    options.onRequest(record);
  }

  if (reply.delay.count() > 0) {
    Wait(reply.delay);
  }
  if (reply.status == 0 && DropConnection(request)) {
    return;
  }
  if (reply.status == 0) {
    reply = {500,
             kHtmlType,
             ErrorPage(500, "Internal Server Error", "The connection could not be dropped."),
             false,
             {}};
  }
  SetBody(response, reply.status, reply.type, std::move(reply.body), reply.truncate);
}

ProgramServer::ProgramServer(Catalogue catalogue, Options options)
    : impl_(std::make_unique<Impl>(std::move(catalogue), std::move(options))) {
  Impl& impl = *impl_;
  const auto handler = [&impl](const httplib::Request& request, httplib::Response& response) {
    impl.Handle(request, response);
  };
  impl.http.Get("/cargetnameplovix\\.asp", handler);
  impl.http.Get("/getnameplovix\\.asp", handler);
  impl.http.Get(".*", handler);
  // One request per connection, as the tool makes them, so Stop never waits
  // on an idle kept-alive connection.
  impl.http.set_keep_alive_max_count(1);
  impl.http.set_keep_alive_timeout(1);
  // The library's default also sets SO_REUSEPORT, which lets a second server
  // bind a port already serving and silently share its requests.
  impl.http.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
}

ProgramServer::~ProgramServer() {
  Stop();
}

void ProgramServer::Start() {
  Impl& impl = *impl_;
  if (impl.started) {
    throw std::logic_error("a program server starts only once");
  }
  impl.started = true;
  errno = 0;
  int port = -1;
  if (impl.options.port == 0) {
    port = impl.http.bind_to_any_port(impl.options.host);
  } else if (impl.http.bind_to_port(impl.options.host, impl.options.port)) {
    port = impl.options.port;
  }
  if (port < 0) {
    const int error = errno;
    std::string message =
        "cannot listen on " + impl.options.host + ":" + std::to_string(impl.options.port);
    if (error != 0) {
      message += ": ";
      message += std::strerror(error);
    }
    throw std::runtime_error(message);
  }
  impl.port = port;
  impl.thread = std::thread([&impl] {
    // Clients that hang up mid-reply turn the library's writes into SIGPIPE;
    // blocked here, the worker threads it creates inherit the mask.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    impl.http.listen_after_bind();
  });
  // stop() before the loop has begun would be lost.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!impl.http.is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void ProgramServer::Stop() {
  Impl& impl = *impl_;
  {
    std::lock_guard lock(impl.mutex);
    impl.stopping = true;
  }
  impl.stopSignal.notify_all();
  if (impl.thread.joinable()) {
    impl.http.stop();
    impl.thread.join();
  }
}

const std::string& ProgramServer::Host() const {
  return impl_->options.host;
}

int ProgramServer::Port() const {
  return impl_->port;
}

std::string ProgramServer::BaseUrl() const {
  const std::string& host = impl_->options.host;
  const bool ipv6 = host.find(':') != std::string::npos;
  return "http://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(impl_->port);
}

void ProgramServer::SetFaults(std::vector<ServerFault> faults) {
  std::lock_guard lock(impl_->mutex);
  impl_->faults = std::move(faults);
}

void ProgramServer::AddFault(const ServerFault& fault) {
  std::lock_guard lock(impl_->mutex);
  impl_->faults.push_back(fault);
}

void ProgramServer::ClearFaults() {
  SetFaults({});
}

int ProgramServer::FiredCount(ServerFaultKind kind) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->fired[static_cast<std::size_t>(kind)];
}

std::vector<RecordedRequest> ProgramServer::Requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

void ProgramServer::ClearRequests() {
  std::lock_guard lock(impl_->mutex);
  impl_->requests.clear();
}

const Catalogue& ProgramServer::GetCatalogue() const {
  return impl_->catalogue;
}

std::vector<std::uint8_t> ProgramServer::ExpectedProgram(std::string_view name) const {
  return impl_->catalogue.ExpectedProgram(name);
}

}  // namespace brintel::sim
