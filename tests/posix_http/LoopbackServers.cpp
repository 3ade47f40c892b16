#include "LoopbackServers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

namespace brintel::test {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool WaitReadable(int fd, int timeoutMs) {
  pollfd entry{fd, POLLIN, 0};
  return poll(&entry, 1, timeoutMs) > 0;
}

}  // namespace

LoopbackSocket::LoopbackSocket() {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ADD_FAILURE() << "cannot bind a loopback socket: " << std::strerror(errno);
    return;
  }
  socklen_t length = sizeof address;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
}

LoopbackSocket::~LoopbackSocket() {
  for (const int client : clients_) {
    close(client);
  }
  if (fd_ >= 0) {
    close(fd_);
  }
}

void LoopbackSocket::Listen(int backlog) {
  if (listen(fd_, backlog) != 0) {
    ADD_FAILURE() << "listen: " << std::strerror(errno);
  }
}

void LoopbackSocket::ConnectOnce() {
  const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(port_);
  if (client < 0 ||
      connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ADD_FAILURE() << "connect: " << std::strerror(errno);
  }
  if (client >= 0) {
    clients_.push_back(client);
  }
}

RawHttpServer::RawHttpServer(std::vector<std::string> pieces, std::chrono::milliseconds pause)
    : pieces_(std::move(pieces)), pause_(pause) {
  socket_.Listen(8);
  thread_ = std::thread([this] { Serve(); });
}

RawHttpServer::~RawHttpServer() {
  stopping_ = true;
  thread_.join();
}

std::string RawHttpServer::LastRequest() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return lastRequest_;
}

void RawHttpServer::Serve() {
  while (!stopping_) {
    // Polling with a short wait lets the destructor stop the loop.
    if (!WaitReadable(socket_.fd(), 20)) {
      continue;
    }
    const int client = accept4(socket_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (client >= 0) {
      Answer(client);
      close(client);
    }
  }
}

void RawHttpServer::Answer(int client) {
  std::string request;
  char buffer[1024];
  while (request.find("\r\n\r\n") == std::string::npos && WaitReadable(client, 1000)) {
    const ssize_t got = recv(client, buffer, sizeof buffer, 0);
    if (got <= 0) {
      break;
    }
    request.append(buffer, static_cast<std::size_t>(got));
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    lastRequest_ = request;
  }
  for (std::size_t i = 0; i < pieces_.size() && !stopping_; ++i) {
    if (i > 0) {
      std::this_thread::sleep_for(pause_);
    }
    // The client may already have given up; that must not raise SIGPIPE here.
    if (send(client, pieces_[i].data(), pieces_[i].size(), MSG_NOSIGNAL) < 0) {
      return;
    }
  }
}

}  // namespace brintel::test
