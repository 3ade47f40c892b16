#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brintel::test {

// A socket as the system hands it out: a Winsock SOCKET, or a POSIX
// descriptor.
#ifdef _WIN32
using SocketHandle = std::uintptr_t;
#else
using SocketHandle = int;
#endif

// A TCP socket bound to 127.0.0.1 on a port the system picks (under Wine, a
// Linux socket behind Winsock). Not listening until Listen, so a connection to
// it is refused meanwhile.
class LoopbackSocket {
 public:
  LoopbackSocket();
  ~LoopbackSocket();
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;

  // The system completes connections into the backlog without any accept.
  void Listen(int backlog = 8);
  // Opens a connection to this socket and keeps it until destruction.
  void ConnectOnce();

  SocketHandle handle() const { return socket_; }
  int port() const { return port_; }

 private:
  SocketHandle socket_;
  int port_ = 0;
  std::vector<SocketHandle> clients_;
};

// Answers every connection with hand-made bytes, written in pieces with a pause
// before each piece after the first, then closes it, or, with `hold`, keeps it
// open without another byte until the server is destroyed. For every reply a
// client must cope with, good or broken: exact bodies, short bodies, broken
// chunking, slow trickles, silence.
class RawHttpServer {
 public:
  explicit RawHttpServer(std::vector<std::string> pieces,
                         std::chrono::milliseconds pause = std::chrono::milliseconds{0},
                         bool hold = false);
  explicit RawHttpServer(std::string reply) : RawHttpServer(std::vector<std::string>{reply}) {}
  ~RawHttpServer();
  RawHttpServer(const RawHttpServer&) = delete;
  RawHttpServer& operator=(const RawHttpServer&) = delete;

  int port() const { return socket_.port(); }
  std::string Url(const std::string& target) const;
  // Request head (up to and including the blank line) of the latest connection.
  std::string LastRequest() const;
  int Connections() const { return connections_; }

 private:
  void Serve();
  void Answer(SocketHandle client);

  LoopbackSocket socket_;
  std::vector<std::string> pieces_;
  std::chrono::milliseconds pause_;
  bool hold_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::string lastRequest_;
  std::thread thread_;
};

// "HTTP/1.1 <status>" with a Content-Length and the body.
std::string Reply(const std::string& body, const std::string& status = "200 OK");

// The pieces of a reply that trickles in: its head in one piece, then its body
// one byte a piece, for a RawHttpServer with a pause between pieces.
std::vector<std::string> Trickle(const std::string& reply);

}  // namespace brintel::test
