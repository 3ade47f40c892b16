#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PtyPair.h"
#include "device/posix/PosixSerialPort.h"

namespace brintel::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

// A fake /dev and /sys/class/tty. Device nodes are symlinks to one pty slave: the
// scan's trial opens are one at a time, so they can all share it.
class PosixSerialScan : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dev_);
    fs::create_directories(sys_);
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string Node(const std::string& name) {
    const fs::path node = dev_ / name;
    fs::create_symlink(pty_.path(), node);
    return node.string();
  }

  void SysEntry(const std::string& name, int portType) {
    fs::create_directories(sys_ / name / "device");
    std::ofstream(sys_ / name / "type") << portType << '\n';
  }

  PosixSerialPort::Options FakeMachine() const {
    PosixSerialPort::Options options;
    options.devDir = dev_.string();
    options.sysClassTtyDir = sys_.string();
    return options;
  }

  const fs::path root_ = fs::temp_directory_path() / ("brintel-scan-" + std::to_string(::getpid()));
  const fs::path dev_ = root_ / "dev";
  const fs::path sys_ = root_ / "sys";
  PtyPair pty_;
};

TEST_F(PosixSerialScan, FixedPortsListsTheOnesThatOpenNowInTheGivenOrder) {
  PtyPair held;
  PtyPair idle;
  PosixSerialPort holder;
  ASSERT_TRUE(holder.OpenPort(held.path()));
  const std::string notATty = (root_ / "capture.bin").string();
  std::ofstream(notATty).close();

  PosixSerialPort::Options options;
  options.fixedPorts = {idle.path(), (dev_ / "ttyUSB9").string(), held.path(), notATty,
                        pty_.path()};
  PosixSerialPort scanner(options);
  ASSERT_TRUE(scanner.OpenPort(pty_.path()));

  EXPECT_THAT(scanner.ScanPorts(), ElementsAre(idle.path(), pty_.path()));
  EXPECT_FALSE(scanner.IsOpen());
  EXPECT_THAT(scanner.LastOpenError(), Not(IsEmpty()));
  PosixSerialPort after;
  EXPECT_TRUE(after.OpenPort(idle.path()));
  EXPECT_TRUE(after.OpenPort(pty_.path()));
}

TEST_F(PosixSerialScan, MachineScanOrdersFamiliesNumericallyAndSkipsPhantomUarts) {
  for (const char* name : {"ttyS2", "ttyUSB10", "ttyS1", "ttyACM0", "ttyUSB2", "ttyS0"}) {
    Node(name);
  }
  // Names outside the families, openable all the same.
  for (const char* name : {"tty0", "ttyUSB", "ttyUSBx", "ttyAMA0", "console"}) {
    Node(name);
  }
  fs::create_symlink(dev_ / "gone", dev_ / "ttyUSB3");  // unplugged while listed
  SysEntry("ttyS0", 4);                                 // a 16550A behind it
  SysEntry("ttyS1", 0);                                 // PORT_UNKNOWN: no chip
  // ttyS2 has no sysfs entry at all.

  PosixSerialPort scanner(FakeMachine());
  EXPECT_THAT(scanner.ScanPorts(),
              ElementsAre((dev_ / "ttyUSB2").string(), (dev_ / "ttyUSB10").string(),
                          (dev_ / "ttyACM0").string(), (dev_ / "ttyS0").string()));
  EXPECT_FALSE(scanner.IsOpen());
}

TEST_F(PosixSerialScan, MachineScanStopsAtTheLimit) {
  for (int number = 0; number <= 100; ++number) {
    Node("ttyUSB" + std::to_string(number));
  }
  PosixSerialPort scanner(FakeMachine());
  const std::vector<std::string> listed = scanner.ScanPorts();
  ASSERT_EQ(listed.size(), SerialPort::kMaxPorts);
  EXPECT_EQ(listed.back(), (dev_ / "ttyUSB98").string());
}

TEST_F(PosixSerialScan, NoDevicesListsNothing) {
  PosixSerialPort::Options options = FakeMachine();
  options.devDir = (root_ / "nowhere").string();
  PosixSerialPort scanner(options);
  EXPECT_THAT(scanner.ScanPorts(), IsEmpty());
}

}  // namespace
}  // namespace brintel::testing
