#include "SimServerSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>

#include "device/SendBlock.h"
#include "server/ProgramPackage.h"
#include "server/Separator.h"
#include "sim/display/LineUnscrambling.h"

namespace brintel::sim::test {

std::string WithoutLineBreaks(std::string_view body) {
  std::string out;
  for (const char c : body) {
    if (c != '\r' && c != '\n') {
      out += c;
    }
  }
  return out;
}

std::vector<std::uint8_t> DisplayProgram(std::string_view packageText, std::string_view deviceId,
                                         std::string_view listKey) {
  const std::size_t found = FindSeparator(packageText);
  const std::ptrdiff_t separator =
      found == std::string_view::npos ? -1 : static_cast<std::ptrdiff_t>(found);
  std::vector<std::uint8_t> program(BLOCK_SIZE * BLOCK_COUNT);
  for (int b = 0; b < BLOCK_COUNT; ++b) {
    const SendBlock block =
        PrepareBlock(packageText, separator + PAYLOAD_OFFSET, b, deviceId, listKey);
    const std::size_t segment = static_cast<std::size_t>(BLOCK_COUNT - 1 - b);
    for (std::size_t k = 0; k < BLOCK_SIZE; ++k) {
      program[segment * BLOCK_SIZE + (BLOCK_SIZE - 1 - k)] = UnscrambleByte(block[k]);
    }
  }
  return program;
}

std::string WireReply::Header(std::string_view name) const {
  std::size_t line = head.find("\r\n");
  while (line != std::string::npos && line + 2 < head.size()) {
    const std::size_t begin = line + 2;
    const std::size_t end = head.find("\r\n", begin);
    const std::string_view text = std::string_view(head).substr(begin, end - begin);
    const std::size_t colon = text.find(':');
    if (colon == name.size() && strncasecmp(text.data(), name.data(), name.size()) == 0) {
      std::string_view value = text.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') {
        value.remove_prefix(1);
      }
      return std::string(value);
    }
    line = end;
  }
  return "";
}

WireReply RawGet(const std::string& host, int port, const std::string& target) {
  WireReply reply;
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) {
    return reply;
  }
  timeval timeout{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, host.c_str(), &address.sin_addr);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return reply;
  }
  reply.connected = true;
  const std::string request = "GET " + target + " HTTP/1.1\r\nHost: " + host +
                              "\r\nUser-Agent: wire-test\r\nConnection: close\r\n\r\n";
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
    close(fd);
    return reply;
  }
  std::string received;
  char buffer[8192];
  while (true) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      reply.closed = n == 0;
      break;
    }
    received.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  const std::size_t blank = received.find("\r\n\r\n");
  if (blank == std::string::npos) {
    reply.head = received;
    return reply;
  }
  reply.head = received.substr(0, blank + 2);
  reply.body = received.substr(blank + 4);
  if (reply.head.starts_with("HTTP/1.")) {
    reply.status = std::atoi(reply.head.c_str() + 9);
  }
  return reply;
}

}  // namespace brintel::sim::test
