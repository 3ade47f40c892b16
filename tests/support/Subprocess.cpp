#include "tests/support/Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

extern char** environ;

namespace brintel::testing {

Subprocess::Subprocess(const std::vector<std::string>& argv) {
  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  outFd_ = outPipe[0];
  errFd_ = errPipe[0];
  Spawn(argv, outPipe[1], errPipe[1]);
}

Subprocess::Subprocess(const std::vector<std::string>& argv, Terminal terminal) {
  int slave = -1;
  winsize size{};
  size.ws_col = terminal.columns;
  size.ws_row = terminal.rows;
  if (openpty(&outFd_, &slave, nullptr, nullptr, &size) != 0) {
    throw std::runtime_error("openpty failed");
  }
  fcntl(outFd_, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  Spawn(argv, slave, slave, terminal.input ? slave : -1);
}

// Takes over the child's ends of its stdout and stderr.
void Subprocess::Spawn(const std::vector<std::string>& argv, int outFd, int errFd, int inFd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (inFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, inFd, 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  posix_spawn_file_actions_adddup2(&actions, errFd, 2);
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(outFd);
  if (errFd != outFd) {
    close(errFd);
  }
  if (rc != 0) {
    throw std::runtime_error("cannot start " + argv[0]);
  }
}

Subprocess::~Subprocess() {
  if (!exited_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  close(outFd_);
  if (errFd_ >= 0) {
    close(errFd_);
  }
}

bool Subprocess::Pump(int timeoutMs) {
  pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  if (poll(fds, 2, timeoutMs) <= 0) {
    return false;
  }
  bool any = false;
  char buffer[4096];
  for (pollfd& fd : fds) {
    if (fd.revents & (POLLIN | POLLHUP)) {
      const ssize_t n = read(fd.fd, buffer, sizeof buffer);
      if (n > 0) {
        (fd.fd == outFd_ ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
        any = true;
      }
    }
  }
  return any;
}

bool Subprocess::ReadUntil(const std::function<bool(const std::string&)>& until,
                           std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!until(out_)) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::milliseconds(0)) {
      return false;
    }
    if (!Pump(10) && !exited_) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        status_ = status;
        while (Pump(0)) {
        }
        return until(out_);
      }
    }
  }
  return true;
}

void Subprocess::Resize(unsigned short columns) {
  winsize size{};
  ::ioctl(outFd_, TIOCGWINSZ, &size);
  size.ws_col = columns;
  ::ioctl(outFd_, TIOCSWINSZ, &size);
  Signal(SIGWINCH);
}

void Subprocess::Type(const std::string& text) {
  if (::write(outFd_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    throw std::runtime_error("cannot type at the terminal");
  }
}

void Subprocess::Signal(int signal) {
  if (!exited_) {
    kill(pid_, signal);
  }
}

int Subprocess::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!exited_) {
    Pump(10);
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      exited_ = true;
      status_ = status;
    } else if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      exited_ = true;
      return -1;
    }
  }
  while (Pump(0)) {
  }
  if (WIFEXITED(status_)) {
    return WEXITSTATUS(status_);
  }
  return 128 + WTERMSIG(status_);
}

}  // namespace brintel::testing
