#include "sim/display/DisplaySimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace brintel::sim {
namespace {

using namespace std::chrono_literals;

// A pty whose slave no one holds reads EIO and polls as hung up at once, so it
// cannot be waited on; look again this often for a tool opening it.
constexpr auto kDetachedPoll = 5ms;
constexpr auto kReplugRetry = 100ms;
constexpr std::size_t kChunk = 4096;
// A babbling display into a pty no one reads: what the line cannot take is
// lost, as on a real line, instead of piling up here.
constexpr std::size_t kOutputLimit = 64 * 1024;

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

DisplayProtocol::Settings MakeSettings(const DisplayOptions& options) {
  const std::optional<IdentityFrame> frame = BuildIdentityFrame(options.identity);
  if (!frame) {
    throw std::invalid_argument("identity '" + options.identity + "' is not 16 hexadecimal digits");
  }
  if (!options.devicePath.empty() && !options.linkPath.empty()) {
    throw std::invalid_argument("a link is made only to a pty the simulator creates");
  }
  // Powered from the first look at the clock, once the thread runs.
  return {*frame,
          options.faults,
          options.interByteTimeout,
          options.blockStartTimeout,
          options.replyDelay,
          std::nullopt};
}

speed_t SpeedFor(unsigned baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B9600;  // the display's own rate
  }
}

// No byte may be translated or swallowed: the protocol uses all 256 values.
// VMIN stays 1: with VMIN 0 an empty tty reads 0 even when non-blocking, which
// would look like a hang-up.
void MakeRaw(int fd, unsigned baud) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) {
    return;
  }
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, SpeedFor(baud));
  ::cfsetospeed(&tio, SpeedFor(baud));
  ::tcsetattr(fd, TCSANOW, &tio);
}

timespec Timeout(Clock::duration wait) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::max(wait, {})).count();
  return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) {
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

}  // namespace

DisplaySimulator::DisplaySimulator(DisplayOptions options)
    : options_(std::move(options)), protocol_(MakeSettings(options_)), line_(options_.baud) {}

DisplaySimulator::~DisplaySimulator() {
  Stop();
}

void DisplaySimulator::Start() {
  std::lock_guard lock(mutex_);
  if (started_ || stopping_) {
    throw std::logic_error("a display simulator starts once");
  }
  std::array<int, 2> wake{};
  if (::pipe2(wake.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
    ThrowErrno("pipe2");
  }
  UniqueFd wakeRead(wake[0]);
  UniqueFd wakeWrite(wake[1]);
  OpenLine();
  wakeRead_ = std::move(wakeRead);
  wakeWrite_ = std::move(wakeWrite);
  plugged_ = true;
  started_ = true;
  thread_ = std::thread(&DisplaySimulator::Loop, this);
}

void DisplaySimulator::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    Wake();
  }
  if (thread_.joinable()) {
    thread_.join();
  }
  std::lock_guard lock(mutex_);
  CloseLine();
  plugged_ = false;
  wakeRead_.reset();
  wakeWrite_.reset();
  done_.notify_all();
}

std::string DisplaySimulator::PortPath() const {
  std::lock_guard lock(mutex_);
  if (!options_.linkPath.empty()) {
    return options_.linkPath;
  }
  return options_.devicePath.empty() ? slavePath_ : options_.devicePath;
}

std::vector<std::uint8_t> DisplaySimulator::Program() const {
  std::lock_guard lock(mutex_);
  return protocol_.Program();
}

bool DisplaySimulator::Complete() const {
  std::lock_guard lock(mutex_);
  return protocol_.Complete();
}

DisplayCounters DisplaySimulator::Counters() const {
  std::lock_guard lock(mutex_);
  return protocol_.Counters();
}

std::vector<Fault> DisplaySimulator::Faults() const {
  std::lock_guard lock(mutex_);
  return protocol_.Faults();
}

std::uint64_t DisplaySimulator::ProgramsWritten() const {
  std::lock_guard lock(mutex_);
  return programsWritten_;
}

bool DisplaySimulator::ToolAttached() const {
  std::lock_guard lock(mutex_);
  return plugged_ && !hungUp_;
}

bool DisplaySimulator::Plugged() const {
  std::lock_guard lock(mutex_);
  return plugged_;
}

void DisplaySimulator::Unplug() {
  Ask({Request::Kind::kUnplug, {}});
}

void DisplaySimulator::Replug() {
  Ask({Request::Kind::kReplug, {}});
}

void DisplaySimulator::SwapIdentity(const std::string& identity) {
  if (!BuildIdentityFrame(identity)) {
    throw std::invalid_argument("identity '" + identity + "' is not 16 hexadecimal digits");
  }
  {
    std::lock_guard lock(mutex_);
    if (!started_ || stopping_) {
      // No thread to ask: the display is not on a line.
      std::vector<std::string> notes;
      DoSwap(identity, notes);
      return;
    }
  }
  Ask({Request::Kind::kSwap, identity});
}

std::string DisplaySimulator::Identity() const {
  std::lock_guard lock(mutex_);
  return BuildDeviceLabel(protocol_.Frame()).deviceId;
}

// The line belongs to the simulator's thread; other threads ask it and wait.
void DisplaySimulator::Ask(Request request) {
  std::unique_lock lock(mutex_);
  if (!started_ || stopping_) {
    return;
  }
  requests_.push_back(std::move(request));
  const std::uint64_t ticket = ++requestsMade_;
  Wake();
  done_.wait(lock, [&] { return requestsDone_ >= ticket || stopping_; });
}

void DisplaySimulator::Wake() {
  if (wakeWrite_) {
    const std::uint8_t token = 1;
    [[maybe_unused]] const ssize_t ignored =
        ::write(wakeWrite_.get(), &token, 1);  // full: already woken
  }
}

void DisplaySimulator::Loop() {
  std::vector<std::string> notes;
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    while (!requests_.empty()) {
      const Request request = std::move(requests_.front());
      requests_.pop_front();
      switch (request.kind) {
        case Request::Kind::kUnplug:
          replugAt_.reset();
          DoUnplug(notes);
          break;
        case Request::Kind::kReplug:
          replugAt_.reset();
          DoReplug(notes);
          break;
        case Request::Kind::kSwap:
          DoSwap(request.identity, notes);
          break;
      }
      ++requestsDone_;
    }
    done_.notify_all();
    if (replugAt_ && Clock::now() >= *replugAt_) {
      DoReplug(notes);
    }
    ReadInput(Clock::now());
    Process(Clock::now(), notes);
    WriteDue(Clock::now());

    const Clock::time_point now = Clock::now();
    const std::optional<Clock::time_point> wake = NextWake(now);
    const timespec timeout = Timeout(wake ? *wake - now : Clock::duration{});
    std::array<pollfd, 2> fds{{{wakeRead_.get(), POLLIN, 0}, {-1, 0, 0}}};
    if (plugged_ && !hungUp_) {
      fds[1] = {fd_.get(), static_cast<short>(POLLIN | (writeBlocked_ ? POLLOUT : 0)), 0};
    }
    lock.unlock();
    if (options_.log) {
      for (const std::string& note : notes) {
        options_.log(note);
      }
    }
    notes.clear();
    ::ppoll(fds.data(), fds.size(), wake ? &timeout : nullptr, nullptr);
    std::array<std::uint8_t, 64> drain{};
    while (::read(wakeRead_.get(), drain.data(), drain.size()) > 0) {
    }
    lock.lock();
  }
}

void DisplaySimulator::OpenLine() {
  UniqueFd line;
  if (!options_.devicePath.empty()) {
    line.reset(::open(options_.devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!line) {
      ThrowErrno(options_.devicePath);
    }
    if (::isatty(line.get()) != 0) {
      MakeRaw(line.get(), options_.baud);
    }
  } else {
    line.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!line) {
      ThrowErrno("posix_openpt");
    }
    std::array<char, 128> name{};
    if (::grantpt(line.get()) != 0 || ::unlockpt(line.get()) != 0 ||
        ::ptsname_r(line.get(), name.data(), name.size()) != 0) {
      ThrowErrno("pseudo-terminal");
    }
    ::fcntl(line.get(), F_SETFL, ::fcntl(line.get(), F_GETFL) | O_NONBLOCK);
    MakeRaw(line.get(), options_.baud);
    slavePath_ = name.data();
    if (!options_.linkPath.empty()) {
      PointLink();
    }
  }
  fd_ = std::move(line);
  hungUp_ = false;
  writeBlocked_ = false;
  line_.Reset();
}

void DisplaySimulator::CloseLine() {
  RemoveLink();
  fd_.reset();
}

// Through a rename, so that a tool never finds the link missing or half made.
void DisplaySimulator::PointLink() {
  static std::atomic<unsigned> serial{0};
  const std::string temporary = options_.linkPath + ".new-" + std::to_string(::getpid()) + "-" +
                                std::to_string(serial.fetch_add(1));
  ::unlink(temporary.c_str());
  if (::symlink(slavePath_.c_str(), temporary.c_str()) != 0) {
    ThrowErrno(temporary);
  }
  if (::rename(temporary.c_str(), options_.linkPath.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw std::system_error(error, std::generic_category(), options_.linkPath);
  }
  linkMade_ = true;
}

// Only while it is still ours: someone may have pointed it elsewhere since.
void DisplaySimulator::RemoveLink() {
  if (!linkMade_) {
    return;
  }
  linkMade_ = false;
  std::array<char, 256> target{};
  const ssize_t n = ::readlink(options_.linkPath.c_str(), target.data(), target.size() - 1);
  if (n > 0 && std::string(target.data(), static_cast<std::size_t>(n)) == slavePath_) {
    ::unlink(options_.linkPath.c_str());
  }
}

void DisplaySimulator::ReadInput(Clock::time_point now) {
  if (!plugged_ || !fd_) {
    return;
  }
  std::array<std::uint8_t, kChunk> chunk{};
  for (;;) {
    const ssize_t n = ::read(fd_.get(), chunk.data(), chunk.size());
    if (n > 0) {
      hungUp_ = false;
      // Mid-block the display keeps time: bytes read now came some time after
      // the line was last seen empty. Taken as then, a thread that was not
      // scheduled for a while sees no pause the tool never made, and does not
      // drop the block it was sending. (Waiting for it, the thread wakes at
      // the deadline and sees a real pause.)
      const Clock::time_point seen = protocol_.Deadline() ? std::min(lastSeenEmpty_, now) : now;
      for (ssize_t i = 0; i < n; ++i) {
        input_.push_back({chunk[static_cast<std::size_t>(i)], line_.Arrival(seen), false});
      }
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    lastSeenEmpty_ = now;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      hungUp_ = false;
      return;
    }
    // EIO from a pty master whose slave no one holds, or end of file from a
    // device that hung up: no tool on the line, which is no reason to stop.
    if (!hungUp_) {
      hungUp_ = true;
      const Clock::time_point after = input_.empty() ? now : input_.back().arrival;
      input_.push_back({0, std::max(now, after), true});
    }
    return;
  }
}

void DisplaySimulator::Process(Clock::time_point now, std::vector<std::string>& notes) {
  if (!plugged_) {
    return;  // no power: nothing to time, and it powers up when plugged in again
  }
  while (!input_.empty() && input_.front().arrival <= now) {
    if (unplugPending_) {
      // The tool speaks again or closes, so it has read the acknowledgement:
      // closing the line any sooner would hang it up with the acknowledgement unread.
      DoUnplug(notes);
      return;
    }
    const Incoming incoming = input_.front();
    input_.pop_front();
    // The tool never sends anything after a probe until the reply comes, so a
    // byte already queued behind one means it gave up on it: a display that
    // answered it now, late because its thread was starved, would be taken
    // for the answer to the next probe and read that probe as block data.
    if (incoming.byte == PROBE_BYTE && !incoming.toolLeft && protocol_.AwaitingProbe() &&
        !input_.empty() && !input_.front().toolLeft) {
      notes.push_back("probe superseded by the next byte: not answered");
      continue;
    }
    reaction_.Clear();
    if (incoming.toolLeft) {
      // Closing the port drops DTR on a real line: a block in progress ends there,
      // so the tool's next probe is not taken for a block byte.
      protocol_.OnLineLost("the tool closed the port", reaction_);
    } else {
      protocol_.OnByte(incoming.byte, incoming.arrival, reaction_);
    }
    React(incoming.arrival, notes);
  }
  reaction_.Clear();
  protocol_.OnClock(now, reaction_);
  React(now, notes);
}

void DisplaySimulator::React(Clock::time_point at, std::vector<std::string>& notes) {
  outputOverflowing_ = outputOverflowing_ && !output_.empty();
  for (const std::uint8_t byte : reaction_.bytes) {
    if (output_.size() >= kOutputLimit) {
      if (!outputOverflowing_) {
        outputOverflowing_ = true;
        notes.push_back("the tool reads less than the display sends: the rest is lost");
      }
      break;
    }
    output_.push_back({byte, line_.Delivery(at)});
  }
  notes.insert(notes.end(), reaction_.notes.begin(), reaction_.notes.end());
  if (reaction_.programComplete) {
    WriteProgram(notes);
  }
  if (reaction_.unplug) {
    unplugPending_ = true;
    replugAfterUnplug_ = reaction_.replugAfter;
  }
}

void DisplaySimulator::WriteDue(Clock::time_point now) {
  std::array<std::uint8_t, kChunk> chunk{};
  std::size_t count = 0;
  while (count < output_.size() && count < chunk.size() && output_[count].due <= now) {
    chunk[count] = output_[count].byte;
    ++count;
  }
  if (count == 0) {
    return;
  }
  if (!plugged_ || !fd_ || hungUp_) {
    // No one on the line: what the display sends is lost, as on a real one.
    output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(count));
    return;
  }
  ssize_t n = 0;
  do {
    n = ::write(fd_.get(), chunk.data(), count);
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    output_.erase(output_.begin(), output_.begin() + n);
    writeBlocked_ = static_cast<std::size_t>(n) < count;
  } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
    writeBlocked_ = true;  // the tool is not reading; wait until it does
  } else {
    output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(count));
  }
}

void DisplaySimulator::DoUnplug(std::vector<std::string>& notes) {
  unplugPending_ = false;
  if (!plugged_) {
    return;
  }
  CloseLine();
  plugged_ = false;
  hungUp_ = false;
  writeBlocked_ = false;
  input_.clear();
  output_.clear();
  reaction_.Clear();
  protocol_.OnPowerLost(reaction_);
  notes.insert(notes.end(), reaction_.notes.begin(), reaction_.notes.end());
  notes.push_back("unplugged");
  if (replugAfterUnplug_) {
    replugAt_ = Clock::now() + *replugAfterUnplug_;
    replugAfterUnplug_.reset();
  }
}

// What the display there before had queued dies with its power.
void DisplaySimulator::DoSwap(const std::string& identity, std::vector<std::string>& notes) {
  output_.clear();
  outputOverflowing_ = false;
  reaction_.Clear();
  protocol_.SwapDisplay(identity, reaction_);
  notes.insert(notes.end(), reaction_.notes.begin(), reaction_.notes.end());
}

void DisplaySimulator::DoReplug(std::vector<std::string>& notes) {
  replugAt_.reset();
  if (plugged_) {
    return;
  }
  try {
    OpenLine();
    plugged_ = true;
    notes.push_back("plugged in again at " +
                    (options_.linkPath.empty() ? slavePath_ : options_.linkPath));
  } catch (const std::system_error& error) {
    notes.push_back(std::string("cannot plug in again: ") + error.what());
    replugAt_ = Clock::now() + kReplugRetry;
  }
}

// Through a temporary file and a rename, so that a reader never sees half a program.
void DisplaySimulator::WriteProgram(std::vector<std::string>& notes) {
  if (options_.outputPath.empty()) {
    return;
  }
  std::string name = options_.outputPath + ".XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    notes.push_back("cannot write " + options_.outputPath + ": " + std::strerror(errno));
    return;
  }
  const std::vector<std::uint8_t>& program = protocol_.Program();
  bool ok = ::fchmod(fd, 0644) == 0 && WriteAll(fd, program.data(), program.size());
  int error = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && ::rename(name.c_str(), options_.outputPath.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    notes.push_back("cannot write " + options_.outputPath + ": " + std::strerror(error));
    ::unlink(name.c_str());
    return;
  }
  ++programsWritten_;
  notes.push_back("program written to " + options_.outputPath);
}

std::optional<Clock::time_point> DisplaySimulator::NextWake(Clock::time_point now) const {
  std::optional<Clock::time_point> wake;
  const auto consider = [&wake](Clock::time_point at) {
    if (!wake || at < *wake) {
      wake = at;
    }
  };
  if (!input_.empty()) {
    consider(input_.front().arrival);
  }
  if (!output_.empty() && !writeBlocked_) {
    consider(output_.front().due);
  }
  if (plugged_) {
    if (const std::optional<Clock::time_point> next = protocol_.NextEvent()) {
      consider(*next);
    }
  }
  if (replugAt_) {
    consider(*replugAt_);
  }
  if (plugged_ && hungUp_) {
    consider(now + kDetachedPoll);
  }
  return wake;
}

}  // namespace brintel::sim
