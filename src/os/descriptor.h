#ifndef PLINKARD_OS_DESCRIPTOR_H_
#define PLINKARD_OS_DESCRIPTOR_H_

#include <system_error>

namespace os {

// Owns one descriptor of the system and closes it when it goes. Only the
// platform layer sees the number inside.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor();
  Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Descriptor& operator=(Descriptor&& other) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  bool valid() const { return fd_ >= 0; }
  int get() const { return fd_; }
  // Closes it now and returns what the system said about the close: a
  // write-back error can show only here.
  std::error_code close();

 private:
  int fd_ = -1;
};

}  // namespace os

#endif  // PLINKARD_OS_DESCRIPTOR_H_
