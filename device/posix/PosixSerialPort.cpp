#include "device/posix/PosixSerialPort.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>

namespace brintel {

namespace {

// USB adapters first: the display is reached through one.
constexpr std::array<std::string_view, 3> kFamilies = {"ttyUSB", "ttyACM", "ttyS"};
constexpr std::size_t kSerialFamily = 2;

std::string UserName(uid_t uid) {
  passwd entry{};
  passwd* found = nullptr;
  std::array<char, 4096> buffer{};
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  group entry{};
  group* found = nullptr;
  std::array<char, 4096> buffer{};
  if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->gr_name;
  }
  return std::to_string(gid);
}

// The groups this process is in, by name.
std::vector<std::string> OwnGroups() {
  std::vector<gid_t> ids(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)) + 1);
  const int count = ::getgroups(static_cast<int>(ids.size()), ids.data());
  ids.resize(static_cast<std::size_t>(std::max(count, 0)));
  ids.push_back(::getegid());
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  std::vector<std::string> names;
  for (const gid_t id : ids) {
    names.push_back(GroupName(id));
  }
  return names;
}

std::string PermissionDenied(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    return path + ": permission denied";
  }
  return DescribePermissionDenied(
      path, {UserName(st.st_uid), GroupName(st.st_gid), static_cast<unsigned>(st.st_mode & 07777)},
      OwnGroups());
}

std::string DescribeOpenFailure(const std::string& path, int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return PermissionDenied(path);
    case EBUSY:
    case EWOULDBLOCK:
      return path +
             ": in use by another program; close it (a terminal program, ModemManager or "
             "another upgrade tool) and try again";
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return path + ": no such device; check that the adapter is plugged in";
    case ENOTTY:
      return path + ": not a serial device";
    default:
      return path + ": " + std::strerror(error);
  }
}

// Takes `path` for this process alone. Returns the descriptor, or none with
// the reason in `error`.
UniqueFd OpenExclusive(const std::string& path, int& error) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    error = errno;
    return {};
  }
  // A path given by hand may be an ordinary file; the probe must not be written into it.
  if (::isatty(fd.get()) == 0) {
    error = ENOTTY;
    return {};
  }
#ifdef TIOCGEXCL
  // Root opens through TIOCEXCL; the flag already set means another program holds the port.
  int exclusive = 0;
  if (::ioctl(fd.get(), TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
    error = EBUSY;
    return {};
  }
#endif
  // Lock before setting TIOCEXCL, so that losing the race never flags the holder's tty.
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    error = EWOULDBLOCK;
    return {};
  }
  ::ioctl(fd.get(), TIOCEXCL);
  return fd;
}

// Closing `fd` on the way out also drops the flock.
void ReleaseExclusive(UniqueFd fd) {
  // TIOCEXCL belongs to the tty, not to our descriptor: left set, it would refuse the
  // next opener for as long as anyone else keeps the tty open.
  ::ioctl(fd.get(), TIOCNXCL);
}

// Failures are ignored: a driver that refuses a setting still gives a usable port.
void ApplyLineSettings(int fd, const PosixSerialPort::Options& options) {
  termios tio{};
  if (::tcgetattr(fd, &tio) == 0) {
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~tcflag_t{IXON | IXOFF | IXANY | INPCK};
    tio.c_cflag &= ~tcflag_t{CSIZE | PARENB | CSTOPB};
#ifdef CRTSCTS
    tio.c_cflag &= ~tcflag_t{CRTSCTS};
#endif
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    // With VMIN and VTIME 0 a read returns what is queued and never waits for more.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    ::tcsetattr(fd, TCSANOW, &tio);
  }
  // After the speed is set: the driver raises both lines when the port leaves B0.
  const auto setLine = [&](unsigned long request, int line) {
    if (options.setModemLine) {
      options.setModemLine(fd, request, line);
    } else {
      ::ioctl(fd, request, &line);
    }
  };
  setLine(TIOCMBIS, TIOCM_DTR);
  setLine(TIOCMBIC, TIOCM_RTS);
}

std::optional<unsigned long> PortNumber(std::string_view name, std::string_view family) {
  if (!name.starts_with(family)) {
    return std::nullopt;
  }
  const std::string_view digits = name.substr(family.size());
  unsigned long number = 0;
  const char* end = digits.data() + digits.size();
  const auto [stop, status] = std::from_chars(digits.data(), end, number);
  if (digits.empty() || status != std::errc{} || stop != end) {
    return std::nullopt;
  }
  return number;
}

// The 8250 driver makes a ttyS node for every possible UART and opening one with no
// chip behind it succeeds, so only sysfs tells them apart: a device link and a port
// type other than 0 (PORT_UNKNOWN). Read from sysfs rather than TIOCGSERIAL so that
// nothing is opened to find out.
bool HasUart(const std::filesystem::path& sysEntry) {
  std::error_code ignored;
  if (!std::filesystem::exists(sysEntry / "device", ignored)) {
    return false;
  }
  std::ifstream typeFile(sysEntry / "type");
  int type = 0;
  if (!(typeFile >> type)) {
    return true;  // a driver without the attribute: the device link is all there is
  }
  return type != 0;
}

bool Lasts(int error) {
  return error == EACCES || error == EPERM || error == ENOTTY;
}

}  // namespace

std::string DescribePermissionDenied(const std::string& path, const NodeAccess& node,
                                     const std::vector<std::string>& ownGroups) {
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", node.mode & 07777u);
  std::string groups;
  for (const std::string& name : ownGroups) {
    groups += (groups.empty() ? "" : " ") + name;
  }
  std::string text = path + ": permission denied (owner " + node.owner + ", group " + node.group +
                     ", mode " + mode + "; you are in: " + (groups.empty() ? "no group" : groups) +
                     "); ";
  const bool groupMayUse = (node.mode & 060u) == 060u && node.group != "root";
  if (groupMayUse && std::find(ownGroups.begin(), ownGroups.end(), node.group) == ownGroups.end()) {
    return text + "add the user to the " + node.group + " group (sudo usermod -aG " + node.group +
           " $USER), then log in again";
  }
  if (groupMayUse) {
    return text + "log in again, so that your membership of " + node.group + " takes effect";
  }
  return text +
         "no group may read and write it: a udev rule must give it to a group such as "
         "dialout (GROUP=\"dialout\", MODE=\"0660\"), or run as its owner";
}

void PosixSerialPort::NoteOpenFailure(const std::string& path, int error) {
  lastOpenError_ = DescribeOpenFailure(path, error);
  lastOpenErrorLasts_ = Lasts(error);
}

PosixSerialPort::PosixSerialPort() = default;

PosixSerialPort::PosixSerialPort(Options options) : options_(std::move(options)) {}

PosixSerialPort::~PosixSerialPort() {
  ClosePort();
}

std::vector<std::string> PosixSerialPort::MachinePorts() const {
  struct Candidate {
    std::size_t family;
    unsigned long number;
    std::string name;
  };
  std::vector<Candidate> candidates;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(options_.devDir, error)) {
    const std::string name = entry.path().filename().string();
    for (std::size_t family = 0; family < kFamilies.size(); ++family) {
      const std::optional<unsigned long> number = PortNumber(name, kFamilies[family]);
      if (!number) {
        continue;
      }
      if (family != kSerialFamily ||
          HasUart(std::filesystem::path(options_.sysClassTtyDir) / name)) {
        candidates.push_back({family, *number, name});
      }
      break;
    }
  }
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return std::tie(a.family, a.number, a.name) < std::tie(b.family, b.number, b.name);
  });
  std::vector<std::string> paths;
  paths.reserve(candidates.size());
  for (const Candidate& candidate : candidates) {
    paths.push_back((std::filesystem::path(options_.devDir) / candidate.name).string());
  }
  return paths;
}

std::vector<std::string> PosixSerialPort::ScanPorts() {
  // Our own open port would fail its trial open and drop out of the list.
  ClosePort();
  lastOpenError_.clear();
  lastOpenErrorLasts_ = false;
  const std::vector<std::string> candidates =
      options_.fixedPorts.empty() ? MachinePorts() : options_.fixedPorts;
  std::vector<std::string> listed;
  for (const std::string& path : candidates) {
    if (listed.size() == kMaxPorts) {
      break;
    }
    int error = 0;
    UniqueFd fd = OpenExclusive(path, error);
    if (!fd) {
      NoteOpenFailure(path, error);
      continue;
    }
    ReleaseExclusive(std::move(fd));
    listed.push_back(path);
  }
  return listed;
}

bool PosixSerialPort::OpenPort(const std::string& name) {
  ClosePort();
  int error = 0;
  UniqueFd fd = OpenExclusive(name, error);
  if (!fd) {
    NoteOpenFailure(name, error);
    return false;
  }
  lastOpenError_.clear();
  lastOpenErrorLasts_ = false;
  fd_ = std::move(fd);
  ApplyLineSettings(fd_.get(), options_);
  // Last, so that whatever the device sent before or during the setup is dropped.
  ::tcflush(fd_.get(), TCIOFLUSH);
  return true;
}

bool PosixSerialPort::WriteByte(std::uint8_t byte) {
  if (!fd_) {
    return false;
  }
  ssize_t written = 0;
  do {
    written = ::write(fd_.get(), &byte, 1);
  } while (written < 0 && errno == EINTR);
  return written == 1;
}

bool PosixSerialPort::ReadByte(std::uint8_t& byte) {
  byte = 0;
  if (!fd_) {
    return false;
  }
  std::uint8_t received = 0;
  ssize_t count = 0;
  do {
    // Non-blocking: EAGAIN when nothing is queued; 0 or EIO once the device has gone.
    count = ::read(fd_.get(), &received, 1);
  } while (count < 0 && errno == EINTR);
  if (count != 1) {
    return false;
  }
  byte = received;
  return true;
}

void PosixSerialPort::ClearError() {
  if (fd_) {
    ::tcflow(fd_.get(), TCOON);
  }
}

bool PosixSerialPort::WaitForInput(std::chrono::steady_clock::time_point deadline) const {
  using Clock = std::chrono::steady_clock;
  while (fd_) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      return false;
    }
    pollfd watched{fd_.get(), POLLIN, 0};
    const int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0 || (watched.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      break;  // a gone device is readable at once: its loss shows at the next tick
    }
    return (watched.revents & POLLIN) != 0;
  }
  std::this_thread::sleep_until(deadline);
  return false;
}

void PosixSerialPort::ClosePort() {
  if (fd_) {
    ReleaseExclusive(std::move(fd_));
  }
}

}  // namespace brintel
