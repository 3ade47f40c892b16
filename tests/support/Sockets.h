#pragma once

// The few socket calls LoopbackServer.cpp makes, over Winsock or POSIX
// sockets, so that the servers are written once for both.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/support/LoopbackServer.h"

namespace brintel::test::sockets {

#ifdef _WIN32

inline constexpr SocketHandle kNone = INVALID_SOCKET;
using AddressLength = int;

// Winsock counts its users: every Startup that succeeded wants its Cleanup.
inline bool Startup() {
  WSADATA data{};
  return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}
inline void Cleanup() {
  ::WSACleanup();
}

inline SocketHandle OpenTcp() {
  return ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
}
inline SocketHandle Accept(SocketHandle listener) {
  return ::accept(listener, nullptr, nullptr);
}
inline void Close(SocketHandle s) {
  ::closesocket(s);
}
inline void EndSending(SocketHandle s) {
  ::shutdown(s, SD_SEND);
}
inline std::string LastError() {
  return std::to_string(::WSAGetLastError());
}

inline long SendSome(SocketHandle s, const char* data, std::size_t size) {
  return ::send(s, data, static_cast<int>(size), 0);
}
inline long ReceiveSome(SocketHandle s, char* buffer, std::size_t size) {
  return ::recv(s, buffer, static_cast<int>(size), 0);
}

inline bool WaitReadable(SocketHandle s, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return ::select(0, &readable, nullptr, nullptr, &timeout) > 0;
}

#else

inline constexpr SocketHandle kNone = -1;
using AddressLength = socklen_t;

inline bool Startup() {
  return true;
}
inline void Cleanup() {}

inline SocketHandle OpenTcp() {
  return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}
inline SocketHandle Accept(SocketHandle listener) {
  return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}
inline void Close(SocketHandle s) {
  ::close(s);
}
inline void EndSending(SocketHandle s) {
  ::shutdown(s, SHUT_WR);
}
inline std::string LastError() {
  return std::strerror(errno);
}

// The client may already have given up; that must not raise SIGPIPE here.
inline long SendSome(SocketHandle s, const char* data, std::size_t size) {
  return ::send(s, data, size, MSG_NOSIGNAL);
}
inline long ReceiveSome(SocketHandle s, char* buffer, std::size_t size) {
  return ::recv(s, buffer, size, 0);
}

inline bool WaitReadable(SocketHandle s, int timeoutMs) {
  pollfd entry{s, POLLIN, 0};
  return ::poll(&entry, 1, timeoutMs) > 0;
}

#endif

inline sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace brintel::test::sockets
