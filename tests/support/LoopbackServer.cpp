#include "tests/support/LoopbackServer.h"

#include <gtest/gtest.h>

#include "tests/support/Sockets.h"

namespace brintel::test {

LoopbackSocket::LoopbackSocket() : socket_(sockets::kNone) {
  if (!sockets::Startup()) {
    ADD_FAILURE() << "the socket library did not start";
    return;
  }
  socket_ = sockets::OpenTcp();
  sockaddr_in address = sockets::Loopback(0);
  if (socket_ == sockets::kNone ||
      ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ADD_FAILURE() << "cannot bind a loopback socket: " << sockets::LastError();
    return;
  }
  sockets::AddressLength length = sizeof address;
  ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
}

LoopbackSocket::~LoopbackSocket() {
  for (const SocketHandle client : clients_) {
    sockets::Close(client);
  }
  if (socket_ != sockets::kNone) {
    sockets::Close(socket_);
  }
  sockets::Cleanup();
}

void LoopbackSocket::Listen(int backlog) {
  if (::listen(socket_, backlog) != 0) {
    ADD_FAILURE() << "listen: " << sockets::LastError();
  }
}

void LoopbackSocket::ConnectOnce() {
  const SocketHandle client = sockets::OpenTcp();
  const sockaddr_in address = sockets::Loopback(port_);
  if (client == sockets::kNone ||
      ::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ADD_FAILURE() << "connect: " << sockets::LastError();
  }
  if (client != sockets::kNone) {
    clients_.push_back(client);
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
  const SocketHandle listener = socket_.handle();
  while (!stopping_) {
    // Waiting in short slices lets the destructor stop the loop.
    if (!sockets::WaitReadable(listener, 20)) {
      continue;
    }
    const SocketHandle client = sockets::Accept(listener);
    if (client != sockets::kNone) {
      ++connections_;
      Answer(client);
      // Only our reply is unread by now, so the close is an orderly FIN, not a
      // reset that would throw the reply away.
      sockets::EndSending(client);
      sockets::Close(client);
    }
  }
}

void RawHttpServer::Answer(SocketHandle client) {
  std::string request;
  char buffer[1024];
  while (request.find("\r\n\r\n") == std::string::npos && sockets::WaitReadable(client, 1000)) {
    const long got = sockets::ReceiveSome(client, buffer, sizeof buffer);
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
      const long n = sockets::SendSome(client, piece.data() + sent, piece.size() - sent);
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
