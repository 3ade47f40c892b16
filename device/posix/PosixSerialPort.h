#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "device/SerialPort.h"
#include "device/posix/UniqueFd.h"

namespace brintel {

// Who may open a device node.
struct NodeAccess {
  std::string owner;
  std::string group;
  unsigned mode = 0;  // permission bits
};

// Why `path` could not be opened for lack of permission, with its owner,
// group and mode and the user's groups, and what would let the user in: join
// the group when the group may read and write it, else a udev rule.
std::string DescribePermissionDenied(const std::string& path, const NodeAccess& node,
                                     const std::vector<std::string>& ownGroups);

// SerialPort on a termios device: a USB-serial adapter, an on-board UART or a
// pseudo-terminal. Port names are device paths. Every call returns at once.
class PosixSerialPort final : public SerialPort {
 public:
  struct Options {
    std::string devDir = "/dev";
    std::string sysClassTtyDir = "/sys/class/tty";
    // When not empty, the scan tries exactly these paths, in this order,
    // instead of looking for the machine's serial devices.
    std::vector<std::string> fixedPorts = {};
    // How the modem lines are set (request TIOCMBIS or TIOCMBIC, the line's
    // bit); empty: ioctl on the port. Pseudo-terminals refuse these calls, so
    // tests watch them here.
    std::function<void(int fd, unsigned long request, int line)> setModemLine = {};
  };

  PosixSerialPort();
  explicit PosixSerialPort(Options options);
  ~PosixSerialPort() override;

  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  // Lists ttyUSB*, then ttyACM*, then the ttyS* that have a UART behind them,
  // each family in numeric order, keeping those that can be opened right now.
  // USB adapters come first because the display hangs on one, so the search
  // reaches it sooner. Closes an open port first.
  std::vector<std::string> ScanPorts() override;

  // Open fails when the path is missing, not a terminal, or held by someone
  // else (TIOCEXCL or flock); the port is then taken with TIOCEXCL and flock.
  bool OpenPort(const std::string& name) override;

  // False when the write did not take exactly one byte, including a full
  // output queue (the descriptor is non-blocking) and a vanished device.
  bool WriteByte(std::uint8_t byte) override;

  // False when nothing is queued or the device has gone. Line errors are not
  // sticky under termios, so there is nothing to clear before reading.
  bool ReadByte(std::uint8_t& byte) override;

  // Resumes output that a stop left suspended (tcflow, or an XOFF taken before
  // our settings), the one termios state that keeps writes failing.
  void ClearError() override;

  void ClosePort() override;
  bool IsOpen() const override { return static_cast<bool>(fd_); }

  // Waits until bytes are queued to be read (true) or until `deadline`
  // (false). A closed or hung-up port only waits out the time.
  bool WaitForInput(std::chrono::steady_clock::time_point deadline) const;

  // Why the latest OpenPort failed, or the last port a scan could not open, with
  // a hint a person can act on. Empty after a successful OpenPort or a scan
  // that opened every candidate.
  std::string LastOpenError() const override { return lastOpenError_; }
  bool LastOpenErrorLasts() const override { return lastOpenErrorLasts_; }

 private:
  std::vector<std::string> MachinePorts() const;

  Options options_;
  UniqueFd fd_;
  std::string lastOpenError_;
  bool lastOpenErrorLasts_ = false;
  void NoteOpenFailure(const std::string& path, int error);
};

}  // namespace brintel
