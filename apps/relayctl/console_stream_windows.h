#pragma once

#include <windows.h>

#include <iostream>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

// UTF-8 text for a console window, written as UTF-16 so that every character shows
// whatever the console's code page. A character split between two writes is held back
// until it is whole.
class ConsoleStreamBuf final : public std::streambuf {
 public:
  explicit ConsoleStreamBuf(HANDLE console) : console_(console) {}

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  bool write_whole_characters();

  HANDLE console_;
  std::string pending_;
};

// While it lives, std::cout and std::cerr write through a ConsoleStreamBuf where they
// are console windows, and the console takes UTF-8 for anything else written to it;
// the console's code page is put back at the end. Where they are pipes or files they
// stay as they are: UTF-8 bytes, with Windows line ends.
class ConsoleText {
 public:
  ConsoleText();
  ~ConsoleText();
  ConsoleText(const ConsoleText&) = delete;
  ConsoleText& operator=(const ConsoleText&) = delete;

 private:
  struct Redirect {
    std::ostream& stream;
    std::streambuf* before = nullptr;
    std::unique_ptr<ConsoleStreamBuf> console;
  };
  void take(Redirect& redirect, DWORD handle_id);

  Redirect out_{std::cout, nullptr, nullptr};
  Redirect err_{std::cerr, nullptr, nullptr};
  UINT code_page_ = 0;
};
