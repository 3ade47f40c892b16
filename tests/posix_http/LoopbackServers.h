#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brintel::test {

// A TCP socket bound to 127.0.0.1 on a port the system picks. Not listening
// until Listen, so a connection to it is refused meanwhile.
class LoopbackSocket {
 public:
  LoopbackSocket();
  ~LoopbackSocket();
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;

  // The kernel completes connections into the backlog without any accept.
  void Listen(int backlog);
  // Opens a connection to this socket and keeps it until destruction.
  void ConnectOnce();

  int fd() const { return fd_; }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> clients_;
};

// Answers every connection with hand-made bytes, written in pieces with a pause
// before each piece after the first, then closes it. For replies a real server
// would never send: short bodies, broken chunking, slow trickles.
class RawHttpServer {
 public:
  explicit RawHttpServer(std::vector<std::string> pieces,
                         std::chrono::milliseconds pause = std::chrono::milliseconds{0});
  explicit RawHttpServer(std::string reply) : RawHttpServer(std::vector<std::string>{reply}) {}
  ~RawHttpServer();
  RawHttpServer(const RawHttpServer&) = delete;
  RawHttpServer& operator=(const RawHttpServer&) = delete;

  int port() const { return socket_.port(); }
  // Request head (up to and including the blank line) of the latest connection.
  std::string LastRequest() const;

 private:
  void Serve();
  void Answer(int client);

  LoopbackSocket socket_;
  std::vector<std::string> pieces_;
  std::chrono::milliseconds pause_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::string lastRequest_;
  std::thread thread_;
};

}  // namespace brintel::test
