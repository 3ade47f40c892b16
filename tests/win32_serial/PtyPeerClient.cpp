#include "PtyPeerClient.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <stdexcept>

namespace brintel::testing {
namespace {

constexpr std::uint32_t kReceiveMillis = 2000;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    throw std::runtime_error(std::string(name) +
                             " is not set: run this test through brintel-pty-peer");
  }
  return value;
}

void PutLe32(Bytes& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

std::uint32_t Le32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void SendAll(SOCKET s, const Bytes& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const int n = ::send(s, reinterpret_cast<const char*>(bytes.data() + sent),
                         static_cast<int>(bytes.size() - sent), 0);
    if (n <= 0) {
      throw std::runtime_error("lost the pty peer");
    }
    sent += static_cast<std::size_t>(n);
  }
}

Bytes ReceiveExactly(SOCKET s, std::size_t size) {
  Bytes bytes(size);
  std::size_t got = 0;
  while (got < size) {
    const int n =
        ::recv(s, reinterpret_cast<char*>(bytes.data() + got), static_cast<int>(size - got), 0);
    if (n <= 0) {
      throw std::runtime_error("lost the pty peer");
    }
    got += static_cast<std::size_t>(n);
  }
  return bytes;
}

}  // namespace

PtyPeerClient::PtyPeerClient() : socket_(INVALID_SOCKET) {
  const std::string port = Environment("BRINTEL_PTY_PEER_PORT");
  portName_ = "COM" + Environment("BRINTEL_PTY_PEER_COM");
  WSADATA data{};
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    throw std::runtime_error("WSAStartup failed");
  }
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(static_cast<u_short>(std::stoi(port)));
  address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  if (s == INVALID_SOCKET ||
      ::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (s != INVALID_SOCKET) {
      ::closesocket(s);
    }
    ::WSACleanup();
    throw std::runtime_error("cannot reach the pty peer on port " + port);
  }
  socket_ = s;
}

PtyPeerClient::~PtyPeerClient() {
  ::closesocket(static_cast<SOCKET>(socket_));
  ::WSACleanup();
}

Bytes PtyPeerClient::Request(char op, const Bytes& payload) {
  const auto s = static_cast<SOCKET>(socket_);
  Bytes message{static_cast<std::uint8_t>(op)};
  PutLe32(message, static_cast<std::uint32_t>(payload.size()));
  message.insert(message.end(), payload.begin(), payload.end());
  SendAll(s, message);
  const Bytes head = ReceiveExactly(s, 5);
  Bytes reply = ReceiveExactly(s, Le32(head.data() + 1));
  if (head[0] != 0) {
    throw std::runtime_error(std::string("pty peer refused '") + op +
                             "': " + std::string(reply.begin(), reply.end()));
  }
  return reply;
}

void PtyPeerClient::NewLine() {
  Request('N', {});
}

void PtyPeerClient::Unsettle() {
  Request('W', {});
}

std::uint32_t PtyPeerClient::Send(const Bytes& bytes) {
  const Bytes reply = Request('S', bytes);
  return reply.size() == 4 ? Le32(reply.data()) : 0;
}

Bytes PtyPeerClient::Receive(std::uint32_t count) {
  Bytes payload;
  PutLe32(payload, count);
  PutLe32(payload, kReceiveMillis);
  return Request('R', payload);
}

std::string PtyPeerClient::Settings() {
  const Bytes reply = Request('T', {});
  return std::string(reply.begin(), reply.end());
}

std::uint32_t PtyPeerClient::Holders() {
  const Bytes reply = Request('C', {});
  return reply.size() == 4 ? Le32(reply.data()) : 0;
}

void PtyPeerClient::HangUp() {
  Request('H', {});
}

void PtyPeerClient::Unmap() {
  Request('U', {});
}

}  // namespace brintel::testing
