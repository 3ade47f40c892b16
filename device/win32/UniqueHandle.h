#pragma once

#include <utility>

namespace brintel {

// Owns one Windows HANDLE and closes it when it goes. Null, and a moved-from
// UniqueHandle, own none: the owner of a CreateFile result stores null for
// INVALID_HANDLE_VALUE. Kept as void* so that this header needs no
// <windows.h>.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(void* handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  void* get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

  // Gives the handle up without closing it.
  void* release() { return std::exchange(handle_, nullptr); }

  // Closes the handle held, if any, and takes `handle` instead.
  void reset(void* handle = nullptr) {
    void* const old = std::exchange(handle_, handle);
    if (old != nullptr && old != handle) {
      Close(old);
    }
  }

 private:
  static void Close(void* handle);

  void* handle_ = nullptr;
};

}  // namespace brintel
