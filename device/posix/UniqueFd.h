#pragma once

#include <unistd.h>

#include <utility>

namespace brintel {

// Owns one POSIX file descriptor and closes it when it goes. -1, and a
// moved-from UniqueFd, own none.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }

  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

  // Gives the descriptor up without closing it.
  int release() { return std::exchange(fd_, -1); }

  // Closes the descriptor held, if any, and takes `fd` instead.
  void reset(int fd = -1) {
    const int old = std::exchange(fd_, fd);
    if (old >= 0 && old != fd) {
      ::close(old);
    }
  }

 private:
  int fd_ = -1;
};

}  // namespace brintel
