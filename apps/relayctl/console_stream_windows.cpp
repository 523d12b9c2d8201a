#include "console_stream_windows.h"

#include <algorithm>

namespace {

// Bytes at the end of `text` that start a UTF-8 sequence still missing its last bytes.
std::size_t unfinished_tail(const std::string& text) {
  const std::size_t size = text.size();
  for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
    const auto byte = static_cast<unsigned char>(text[size - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    return length > back ? back : 0;
  }
  return 0;
}

}  // namespace

ConsoleStreamBuf::int_type ConsoleStreamBuf::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  pending_.push_back(traits_type::to_char_type(c));
  if (c == '\n' && !write_whole_characters()) return traits_type::eof();
  return c;
}

std::streamsize ConsoleStreamBuf::xsputn(const char* text, std::streamsize count) {
  pending_.append(text, static_cast<std::size_t>(count));
  if (pending_.find('\n') != std::string::npos && !write_whole_characters()) return 0;
  return count;
}

int ConsoleStreamBuf::sync() {
  return write_whole_characters() ? 0 : -1;
}

bool ConsoleStreamBuf::write_whole_characters() {
  const std::size_t whole = pending_.size() - unfinished_tail(pending_);
  if (whole == 0) return true;
  // Bytes that are no UTF-8 show as U+FFFD, as everywhere else in the program.
  const int wide_size =
      MultiByteToWideChar(CP_UTF8, 0, pending_.data(), static_cast<int>(whole), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, pending_.data(), static_cast<int>(whole), wide.data(), wide_size);
  pending_.erase(0, whole);
  std::size_t done = 0;
  while (done < wide.size()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
    if (!WriteConsoleW(console_, wide.data() + done, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

ConsoleText::ConsoleText() : code_page_(GetConsoleOutputCP()) {
  if (code_page_ != 0) SetConsoleOutputCP(CP_UTF8);
  take(out_, STD_OUTPUT_HANDLE);
  take(err_, STD_ERROR_HANDLE);
}

ConsoleText::~ConsoleText() {
  for (Redirect* redirect : {&out_, &err_}) {
    redirect->stream.flush();
    if (!redirect->console) continue;
    redirect->stream.rdbuf(redirect->before);
    redirect->console.reset();
  }
  if (code_page_ != 0) SetConsoleOutputCP(code_page_);
}

void ConsoleText::take(Redirect& redirect, DWORD handle_id) {
  const HANDLE handle = GetStdHandle(handle_id);
  DWORD mode = 0;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
    return;
  }
  redirect.console = std::make_unique<ConsoleStreamBuf>(handle);
  redirect.before = redirect.stream.rdbuf(redirect.console.get());
}
