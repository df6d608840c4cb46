#pragma once
// TFileDescriptor: a POSIX file descriptor that closes itself, so an operation that fails half-way
// never leaks one.

#include <unistd.h>

#include <utility>

namespace vexa {

class TFileDescriptor {
 public:
  explicit TFileDescriptor(int fd = -1) noexcept : fd_(fd) {}
  ~TFileDescriptor() { Reset(); }
  TFileDescriptor(TFileDescriptor&& other) noexcept : fd_(other.Release()) {}
  TFileDescriptor& operator=(TFileDescriptor&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;

  int Get() const noexcept { return fd_; }
  bool Valid() const noexcept { return fd_ >= 0; }
  // Hands the descriptor over; this holder no longer closes it.
  int Release() noexcept { return std::exchange(fd_, -1); }
  // Closes the held descriptor (if any) and holds fd instead.
  void Reset(int fd = -1) noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now and tells whether close succeeded (a delayed write error shows only here).
  bool Close() noexcept {
    const int fd = Release();
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

}  // namespace vexa
