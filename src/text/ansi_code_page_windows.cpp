// The code page conversion on Windows: the system's own, for its ANSI code page.
#include <windows.h>

#include <algorithm>

#include "text/ansi_code_page.h"
#include "text/gb18030_four_byte.h"
#include "text/utf8.h"

namespace {

std::wstring widen(UINT code_page, std::string_view bytes, DWORD flags = 0) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  const int length = MultiByteToWideChar(code_page, flags, bytes.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(code_page, flags, bytes.data(), size, wide.data(), length);
  return wide;
}

std::string narrow(UINT code_page, const std::wstring& wide, BOOL* used_default = nullptr) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  // The system refuses the flag and the question for UTF-8 itself.
  const bool ask = used_default && code_page != CP_UTF8;
  const DWORD flags = ask ? WC_NO_BEST_FIT_CHARS : 0;
  const int length =
      WideCharToMultiByte(code_page, flags, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(code_page, flags, wide.data(), size, bytes.data(), length, nullptr,
                      ask ? used_default : nullptr);
  return bytes;
}

// Code page 936 is GB18030 without its four-byte characters: the system has the two-byte
// ones, and the four-byte ones are read and written here as GB18030 has them.
bool chinese_system() {
  return GetACP() == 936;
}

// The four bytes that stand for a character code page 936 lacks, when GB18030 has them
// and the system is set to code page 936.
std::optional<std::string> four_byte_form(std::string_view utf8_char) {
  if (!chinese_system() || utf8_char.size() < 2) return std::nullopt;
  return gb18030_four_byte_bytes(utf8_code_point(utf8_char, 0, utf8_char.size()));
}

}  // namespace

std::string ansi_to_utf8(std::string_view bytes) {
  const std::wstring whole = widen(CP_ACP, bytes, MB_ERR_INVALID_CHARS);
  const bool four_byte = chinese_system() && bytes.find_first_of("0123456789") != bytes.npos;
  if (!whole.empty() && !four_byte) return narrow(CP_UTF8, whole);
  // Character by character: a byte that does not decode becomes U+FFFD on its own, as
  // everywhere, instead of the system's '?', so that damaged files show everything
  // around the damage.
  // A lead byte whose character does not decode is replaced alone and the bytes after
  // it are read afresh: "81 20" is U+FFFD and a blank.
  std::string out;
  for (std::size_t pos = 0; pos < bytes.size();) {
    const std::size_t length = ansi_char_length(bytes, pos);
    const std::string_view c = bytes.substr(pos, length);
    if (length == 4) {
      const auto code_point = gb18030_four_byte_code_point(c, 0);
      if (code_point) append_utf8(out, *code_point);
      pos += code_point ? length : 1;
      if (!code_point) out += utf8_replacement;
      continue;
    }
    const std::wstring wide = widen(CP_ACP, c, MB_ERR_INVALID_CHARS);
    out += wide.empty() ? std::string(utf8_replacement) : narrow(CP_UTF8, wide);
    pos += wide.empty() ? 1 : length;
  }
  return out;
}

std::string utf8_to_ansi(std::string_view text) {
  BOOL used_default = FALSE;
  std::string whole = narrow(CP_ACP, widen(CP_UTF8, text), &used_default);
  if (!used_default) return whole;
  // Character by character: one '?' for a missing character, not one for each half of
  // a surrogate pair, nor a look-alike ("a" for "ä") that would read back as another
  // name.
  std::string out;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = std::max<std::size_t>(utf8_sequence_length(text, pos), 1);
    const std::string_view c = text.substr(pos, length);
    pos += length;
    BOOL missing = FALSE;
    const std::string bytes = narrow(CP_ACP, widen(CP_UTF8, c), &missing);
    if (!missing) {
      out += bytes;
    } else {
      out += four_byte_form(c).value_or("?");
    }
  }
  return out;
}

std::size_t ansi_char_length(std::string_view bytes, std::size_t pos) {
  // A system set to UTF-8 has no double-byte lead bytes: its characters are longer.
  if (GetACP() == CP_UTF8) return std::max<std::size_t>(utf8_sequence_length(bytes, pos), 1);
  const bool lead = IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(bytes[pos])) != 0;
  if (!lead || pos + 1 >= bytes.size()) return 1;
  const auto second = static_cast<unsigned char>(bytes[pos + 1]);
  const bool four = chinese_system() && second >= 0x30 && second <= 0x39;
  return four ? std::min<std::size_t>(4, bytes.size() - pos) : 2;
}

std::optional<std::string> first_missing_ansi_character(std::string_view text) {
  // A system set to UTF-8 holds every character.
  if (GetACP() == CP_UTF8) return std::nullopt;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = std::max<std::size_t>(utf8_sequence_length(text, pos), 1);
    const std::string_view c = text.substr(pos, length);
    pos += length;
    if (c.size() == 1) continue;
    BOOL used_default = FALSE;
    narrow(CP_ACP, widen(CP_UTF8, c), &used_default);
    if (used_default && !four_byte_form(c)) return std::string(c);
  }
  return std::nullopt;
}

bool is_gb2312_text(std::string_view) {
  return false;
}
