#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace brintel::testing {

// A child process with its stdout and stderr captured (stdin is /dev/null, so
// the child sees no terminal). Never waits past its deadline: a child still
// running then is killed and reported as timed out.
class Subprocess {
 public:
  // A pseudo-terminal of this size as the child's stdout and stderr, both read
  // into out(); stdin too when `input` (then Type writes to it), else /dev/null.
  struct Terminal {
    unsigned short columns = 80;
    unsigned short rows = 24;
    bool input = false;
  };

  explicit Subprocess(const std::vector<std::string>& argv);
  Subprocess(const std::vector<std::string>& argv, Terminal terminal);
  ~Subprocess();
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  // Reads output until the child exits, `until` returns true for the output
  // so far, or the timeout passes. True when `until` was satisfied.
  bool ReadUntil(const std::function<bool(const std::string& out)>& until,
                 std::chrono::milliseconds timeout);

  void Signal(int signal);
  // The terminal takes this many columns, and the child is told (SIGWINCH).
  void Resize(unsigned short columns);
  // What a person types at the terminal (Terminal::input only).
  void Type(const std::string& text);

  // Waits for the exit; kills the child after the timeout. Returns the exit
  // status (128 + signal when killed by one), -1 when it timed out.
  int Wait(std::chrono::milliseconds timeout);

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  void Spawn(const std::vector<std::string>& argv, int outFd, int errFd, int inFd = -1);
  bool Pump(int timeoutMs);

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  int status_ = -1;
  bool exited_ = false;
  std::string out_;
  std::string err_;
};

}  // namespace brintel::testing
