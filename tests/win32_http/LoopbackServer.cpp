#include "LoopbackServer.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

namespace brintel::test {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  return address;
}

bool WaitReadable(SOCKET s, long timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return ::select(0, &readable, nullptr, nullptr, &timeout) > 0;
}

}  // namespace

LoopbackSocket::LoopbackSocket() : socket_(INVALID_SOCKET) {
  WSADATA data{};
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    ADD_FAILURE() << "WSAStartup failed";
    return;
  }
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = Loopback(0);
  if (s == INVALID_SOCKET ||
      ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ADD_FAILURE() << "cannot bind a loopback socket: " << ::WSAGetLastError();
  }
  int length = sizeof address;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ::ntohs(address.sin_port);
  socket_ = s;
}

LoopbackSocket::~LoopbackSocket() {
  if (socket_ != INVALID_SOCKET) {
    ::closesocket(static_cast<SOCKET>(socket_));
  }
  ::WSACleanup();
}

void LoopbackSocket::Listen() {
  if (::listen(static_cast<SOCKET>(socket_), 8) != 0) {
    ADD_FAILURE() << "listen: " << ::WSAGetLastError();
  }
}

RawHttpServer::RawHttpServer(std::vector<std::string> pieces, std::chrono::milliseconds pause,
                             bool hold)
    : pieces_(std::move(pieces)), pause_(pause), hold_(hold) {
  socket_.Listen();
  thread_ = std::thread([this] { Serve(); });
}

RawHttpServer::~RawHttpServer() {
  stopping_ = true;
  thread_.join();
}

std::string RawHttpServer::Url(const std::string& target) const {
  return "http://127.0.0.1:" + std::to_string(port()) + target;
}

std::string RawHttpServer::LastRequest() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return lastRequest_;
}

void RawHttpServer::Serve() {
  const auto listener = static_cast<SOCKET>(socket_.socket());
  while (!stopping_) {
    // Waiting in short slices lets the destructor stop the loop.
    if (!WaitReadable(listener, 20)) {
      continue;
    }
    const SOCKET client = ::accept(listener, nullptr, nullptr);
    if (client != INVALID_SOCKET) {
      ++connections_;
      Answer(client);
      // Only our reply is unread by now, so the close is an orderly FIN, not a
      // reset that would throw the reply away.
      ::shutdown(client, SD_SEND);
      ::closesocket(client);
    }
  }
}

void RawHttpServer::Answer(std::uintptr_t clientSocket) {
  const auto client = static_cast<SOCKET>(clientSocket);
  std::string request;
  char buffer[1024];
  while (request.find("\r\n\r\n") == std::string::npos && WaitReadable(client, 1000)) {
    const int got = ::recv(client, buffer, sizeof buffer, 0);
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
    const std::string& piece = pieces_[i];
    std::size_t sent = 0;
    while (sent < piece.size()) {
      const int n = ::send(client, piece.data() + sent, static_cast<int>(piece.size() - sent), 0);
      if (n <= 0) {
        return;  // the client gave up
      }
      sent += static_cast<std::size_t>(n);
    }
  }
  while (hold_ && !stopping_) {
    std::this_thread::sleep_for(std::chrono::milliseconds{20});
  }
}

std::string Reply(const std::string& body, const std::string& status) {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

std::vector<std::string> Trickle(const std::string& reply) {
  const std::size_t bodyStart = reply.find("\r\n\r\n") + 4;
  std::vector<std::string> pieces{reply.substr(0, bodyStart)};
  for (std::size_t i = bodyStart; i < reply.size(); ++i) {
    pieces.emplace_back(1, reply[i]);
  }
  return pieces;
}

}  // namespace brintel::test
