#pragma once

#include <windows.h>

#include <string>

// A claim on a serial device among this system's programs, held for as long as a line
// is open. Windows' own serial drivers refuse a second open of a port, but not every
// driver does (Wine's does not, nor some virtual ports'): without the claim the panel
// and relayctl could both talk to one board, each taking the other's answers.
class LineClaim {
 public:
  // Claims `device` (COM1, com1 and \\.\COM1 are one device); an empty claim when
  // another program, or another line of this one, holds it.
  explicit LineClaim(const std::string& device);
  LineClaim() = default;
  ~LineClaim() { release(); }
  LineClaim(LineClaim&& other) noexcept : mutex_(other.mutex_) { other.mutex_ = nullptr; }
  LineClaim& operator=(LineClaim&& other) noexcept;
  LineClaim(const LineClaim&) = delete;
  LineClaim& operator=(const LineClaim&) = delete;

  bool held() const { return mutex_ != nullptr; }
  void release();

 private:
  HANDLE mutex_ = nullptr;
};

// The name under which `device` is claimed.
std::wstring line_claim_name(const std::string& device);
