// brintel-pty-peer: the Linux end of a serial line for Windows tests run under
// Wine. Wine cannot make a pseudo-terminal itself, so this makes one, maps a
// COM number of the Wine prefix onto its slave, runs the test command and
// serves that command's requests on 127.0.0.1: the test plays the display
// through them and still keeps every assertion on the Windows side.
//
// Usage: brintel-pty-peer COM_NUMBER COMMAND [ARGUMENT...]
// The command finds the control port in BRINTEL_PTY_PEER_PORT and the COM
// number in BRINTEL_PTY_PEER_COM. The exit status is the command's.
//
// Each request is one opcode byte, a 32-bit little-endian length and that many
// bytes; each reply is a status byte (0 done, 1 failed), a length and bytes.
//   'N'  a fresh pty mapped on the COM number, slave raw; replies its path
//   'W'  puts settings on the slave that the port's open must replace
//   'S'  writes the bytes to the master; replies the count then waiting in
//        the slave's input queue, once it holds them or after 2 s
//   'R'  (count, milliseconds) reads up to count bytes from the master
//   'T'  the slave's settings as text ("speed=9600 cstopb=0 ...")
//   'C'  how many descriptors other processes hold on the slave: Wine keeps
//        one for every handle open on the port, so a leaked handle shows here
//   'H'  hangs up: closes the master and our slave descriptor
//   'U'  removes the COM mapping
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

std::atomic<bool> stopping{false};

void Close(int& fd) {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

bool WaitFor(int fd, short events, int milliseconds) {
  pollfd request{fd, events, 0};
  return ::poll(&request, 1, milliseconds) == 1;
}

bool ReadExactly(int fd, void* data, std::size_t size) {
  auto* out = static_cast<std::uint8_t*>(data);
  while (size > 0) {
    if (stopping && !WaitFor(fd, POLLIN, 0)) {
      return false;
    }
    if (!WaitFor(fd, POLLIN, 100)) {
      continue;
    }
    const ssize_t n = ::read(fd, out, size);
    if (n <= 0) {
      return false;
    }
    out += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      WaitFor(fd, POLLOUT, 100);
      continue;
    }
    if (n <= 0) {
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::uint32_t Le32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void PutLe32(Bytes& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

struct Reply {
  bool ok = true;
  Bytes payload;

  static Reply Fail(const std::string& why) { return {false, Bytes(why.begin(), why.end())}; }
  static Reply Text(const std::string& text) { return {true, Bytes(text.begin(), text.end())}; }
};

class Line {
 public:
  explicit Line(fs::path link) : link_(std::move(link)) {}
  ~Line() {
    Unmap();
    HangUp();
  }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  Reply Handle(char op, const Bytes& payload) {
    switch (op) {
      case 'N':
        return Fresh();
      case 'W':
        return Unsettle();
      case 'S':
        return Send(payload);
      case 'R':
        if (payload.size() != 8) {
          return Reply::Fail("R wants a count and milliseconds");
        }
        return Receive(Le32(payload.data()), Le32(payload.data() + 4));
      case 'T':
        return Settings();
      case 'C':
        return Holders();
      case 'H':
        HangUp();
        return {};
      case 'U':
        Unmap();
        return {};
      default:
        return Reply::Fail(std::string("unknown request ") + op);
    }
  }

 private:
  Reply Fresh() {
    HangUp();
    std::array<char, 128> name{};
    if (::openpty(&master_, &slave_, name.data(), nullptr, nullptr) != 0) {
      return Reply::Fail(std::string("openpty: ") + std::strerror(errno));
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    // The kernel's default is cooked with echo: bytes sent before the port
    // opens would come straight back to us.
    termios raw{};
    ::tcgetattr(slave_, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave_, TCSANOW, &raw);
    slavePath_ = name.data();
    // Renamed into place, so Wine never sees a half-made mapping.
    const fs::path staging = link_.string() + ".new";
    std::error_code error;
    fs::remove(staging, error);
    fs::create_symlink(slavePath_, staging, error);
    if (!error) {
      fs::rename(staging, link_, error);
    }
    if (error) {
      return Reply::Fail("cannot map " + link_.string() + ": " + error.message());
    }
    mapped_ = true;
    return Reply::Text(slavePath_);
  }

  Reply Unsettle() {
    if (slave_ < 0) {
      return Reply::Fail("no line");
    }
    termios wrong{};
    ::tcgetattr(slave_, &wrong);
    ::cfsetispeed(&wrong, B115200);
    ::cfsetospeed(&wrong, B115200);
    // Size and parity are left out: a pty keeps CS8 and no parity whatever it is told.
    wrong.c_cflag |= CSTOPB | CRTSCTS;
    wrong.c_iflag |= IXON | IXOFF;
    ::tcsetattr(slave_, TCSANOW, &wrong);
    return {};
  }

  Reply Send(const Bytes& bytes) {
    if (master_ < 0) {
      return Reply::Fail("no line");
    }
    if (!WriteAll(master_, bytes.data(), bytes.size())) {
      return Reply::Fail(std::string("write to the master: ") + std::strerror(errno));
    }
    // The kernel moves the bytes to the slave a moment later.
    int queued = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (::ioctl(slave_, FIONREAD, &queued) == 0 &&
           static_cast<std::size_t>(queued) < bytes.size() && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Reply reply;
    PutLe32(reply.payload, static_cast<std::uint32_t>(queued));
    return reply;
  }

  Reply Receive(std::uint32_t count, std::uint32_t milliseconds) {
    if (master_ < 0) {
      return Reply::Fail("no line");
    }
    Reply reply;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (reply.payload.size() < count && Clock::now() < deadline) {
      std::array<std::uint8_t, 512> chunk{};
      const std::size_t want = std::min<std::size_t>(chunk.size(), count - reply.payload.size());
      const ssize_t n = ::read(master_, chunk.data(), want);
      if (n > 0) {
        reply.payload.insert(reply.payload.end(), chunk.begin(), chunk.begin() + n);
      } else {
        WaitFor(master_, POLLIN, 5);
      }
    }
    return reply;
  }

  Reply Settings() {
    termios now{};
    if (slave_ < 0 || ::tcgetattr(slave_, &now) != 0) {
      return Reply::Fail("no line");
    }
    const speed_t speed = ::cfgetospeed(&now);
    auto flag = [](tcflag_t set, tcflag_t bit) { return (set & bit) != 0 ? "1" : "0"; };
    std::string text = "speed=" + std::string(speed == B9600     ? "9600"
                                              : speed == B115200 ? "115200"
                                                                 : "other");
    text += std::string(" cstopb=") + flag(now.c_cflag, CSTOPB);
    text += std::string(" crtscts=") + flag(now.c_cflag, CRTSCTS);
    text += std::string(" ixon=") + flag(now.c_iflag, IXON);
    text += std::string(" ixoff=") + flag(now.c_iflag, IXOFF);
    return Reply::Text(text);
  }

  Reply Holders() {
    if (slave_ < 0) {
      return Reply::Fail("no line");
    }
    const std::string self = std::to_string(::getpid());
    std::uint32_t count = 0;
    std::error_code error;
    for (const auto& process : fs::directory_iterator("/proc", error)) {
      const std::string pid = process.path().filename().string();
      if (pid == self || pid.find_first_not_of("0123456789") != std::string::npos) {
        continue;
      }
      std::error_code unreadable;
      for (const auto& fd : fs::directory_iterator(process.path() / "fd", unreadable)) {
        std::error_code gone;
        if (fs::read_symlink(fd.path(), gone) == slavePath_) {
          ++count;
        }
      }
    }
    Reply reply;
    PutLe32(reply.payload, count);
    return reply;
  }

  void HangUp() {
    Close(master_);
    Close(slave_);
  }

  // Only our own mapping: another run may have taken the number since.
  void Unmap() {
    if (!mapped_) {
      return;
    }
    std::error_code error;
    if (fs::read_symlink(link_, error) == slavePath_) {
      fs::remove(link_, error);
    }
    mapped_ = false;
  }

  fs::path link_;
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  bool mapped_ = false;
};

// One test connection at a time, each request answered in turn.
void Serve(int listener, Line& line) {
  while (!stopping) {
    if (!WaitFor(listener, POLLIN, 100)) {
      continue;
    }
    int client = ::accept(listener, nullptr, nullptr);
    if (client < 0) {
      continue;
    }
    while (true) {
      std::array<std::uint8_t, 5> head{};
      if (!ReadExactly(client, head.data(), head.size())) {
        break;
      }
      Bytes payload(Le32(head.data() + 1));
      if (!ReadExactly(client, payload.data(), payload.size())) {
        break;
      }
      const Reply reply = line.Handle(static_cast<char>(head[0]), payload);
      Bytes out{static_cast<std::uint8_t>(reply.ok ? 0 : 1)};
      PutLe32(out, static_cast<std::uint32_t>(reply.payload.size()));
      out.insert(out.end(), reply.payload.begin(), reply.payload.end());
      if (!WriteAll(client, out.data(), out.size())) {
        break;
      }
    }
    Close(client);
  }
}

std::optional<fs::path> DosDevices() {
  const char* prefix = std::getenv("WINEPREFIX");
  const char* home = std::getenv("HOME");
  const fs::path root = prefix != nullptr && *prefix != '\0' ? fs::path(prefix)
                        : home != nullptr                    ? fs::path(home) / ".wine"
                                                             : fs::path();
  std::error_code error;
  if (root.empty() || !fs::is_directory(root / "dosdevices", error)) {
    return std::nullopt;
  }
  return root / "dosdevices";
}

pid_t child = -1;

void Forward(int signal) {
  if (child > 0) {
    ::kill(child, signal);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s COM_NUMBER COMMAND [ARGUMENT...]\n", argv[0]);
    return 2;
  }
  const int com = std::atoi(argv[1]);
  const std::optional<fs::path> dosDevices = DosDevices();
  if (com < 1 || com > 255 || !dosDevices) {
    std::fprintf(stderr, "%s: needs a COM number and an existing Wine prefix (WINEPREFIX)\n",
                 argv[0]);
    return 2;
  }

  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener, 4) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("control socket");
    return 2;
  }

  Line line(*dosDevices / ("com" + std::to_string(com)));
  std::thread server([&] { Serve(listener, line); });

  ::setenv("BRINTEL_PTY_PEER_PORT", std::to_string(ntohs(address.sin_port)).c_str(), 1);
  ::setenv("BRINTEL_PTY_PEER_COM", std::to_string(com).c_str(), 1);
  // ctest ends a test that runs too long with a signal: pass it on.
  struct sigaction forward {};
  forward.sa_handler = Forward;
  ::sigaction(SIGTERM, &forward, nullptr);
  ::sigaction(SIGINT, &forward, nullptr);
  child = ::fork();
  if (child == 0) {
    ::execvp(argv[2], argv + 2);
    std::perror(argv[2]);
    ::_exit(127);
  }
  int status = 0;
  int waited = -1;
  while (child > 0 && (waited = ::waitpid(child, &status, 0)) < 0 && errno == EINTR) {
  }
  stopping = true;
  server.join();
  ::close(listener);
  if (child < 0 || waited < 0) {
    std::perror("fork");
    return 2;
  }
  if (WIFSIGNALED(status)) {
    return 128 + WTERMSIG(status);
  }
  return WEXITSTATUS(status);
}
