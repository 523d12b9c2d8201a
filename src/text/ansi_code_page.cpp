// The one place that calls the system's code page conversion.
#include "text/ansi_code_page.h"

#include <algorithm>

#include "text/utf8.h"

#ifdef _WIN32

#include <windows.h>

#include "text/gb18030_four_byte.h"

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

#else

#include <iconv.h>

#include <cerrno>

namespace {

constexpr const char* file_code_page = "GB18030";

// What stands for input that does not convert, and how many of its bytes.
struct StandIn {
  std::string_view text;
  std::size_t length;
};

// A byte that does not decode becomes U+FFFD on its own, so that damaged files still
// show everything around the damage. Byte 80 is no GB18030 character, but code page 936
// has the euro sign there: files written on Simplified Chinese Windows systems hold it.
StandIn undecodable(std::string_view bytes, std::size_t pos) {
  return {bytes[pos] == '\x80' ? std::string_view("\xE2\x82\xAC") : utf8_replacement, 1};
}

// A character the code page lacks becomes one '?', as Windows writes it.
StandIn unencodable(std::string_view text, std::size_t pos) {
  return {"?", std::max<std::size_t>(utf8_sequence_length(text, pos), 1)};
}

std::string convert(const char* to, const char* from, std::string_view input,
                    StandIn (*stand_in)(std::string_view, std::size_t)) {
  const iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // No converter installed: keep ASCII, which both sides share.
    std::string out;
    for (std::size_t pos = 0; pos < input.size();) {
      if (static_cast<unsigned char>(input[pos]) < 0x80) {
        out += input[pos++];
      } else {
        const StandIn piece = stand_in(input, pos);
        out += piece.text;
        pos += piece.length;
      }
    }
    return out;
  }
  std::string out;
  out.reserve(input.size() * 2);
  char* in = const_cast<char*>(input.data());
  std::size_t in_left = input.size();
  char buffer[4096];
  while (in_left > 0) {
    char* dst = buffer;
    std::size_t dst_left = sizeof buffer;
    const std::size_t result = iconv(cd, &in, &in_left, &dst, &dst_left);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    if (result != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    const StandIn piece = stand_in(input, static_cast<std::size_t>(in - input.data()));
    out += piece.text;
    in += piece.length;
    in_left -= piece.length;
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string ansi_to_utf8(std::string_view bytes) {
  return convert("UTF-8", file_code_page, bytes, undecodable);
}

// GB18030 writes the euro sign as A2 E3, a private-use character to a Windows reader
// in code page 936, which has it at 80: the euro sign is written as 80.
std::string utf8_to_ansi(std::string_view text) {
  constexpr std::string_view euro = "\xE2\x82\xAC";
  std::string out;
  for (;;) {
    const std::size_t at = text.find(euro);
    out += convert(file_code_page, "UTF-8", text.substr(0, at), unencodable);
    if (at == std::string_view::npos) return out;
    out += '\x80';
    text.remove_prefix(at + euro.size());
  }
}

std::size_t ansi_char_length(std::string_view bytes, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(bytes[pos]);
  std::size_t length = 1;
  if (lead >= 0x81 && lead <= 0xFE && pos + 1 < bytes.size()) {
    const auto second = static_cast<unsigned char>(bytes[pos + 1]);
    length = second >= 0x30 && second <= 0x39 ? 4 : 2;
  }
  return std::min(length, bytes.size() - pos);
}

std::optional<std::string> first_missing_ansi_character(std::string_view text) {
  const iconv_t cd = iconv_open(file_code_page, "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::optional<std::string> missing;
  for (std::size_t pos = 0; pos < text.size() && !missing;) {
    const std::size_t length = utf8_sequence_length(text, pos);
    const std::string_view c = text.substr(pos, std::max<std::size_t>(length, 1));
    pos += c.size();
    // ASCII is in every code page; a malformed byte is no character to name.
    if (length <= 1) continue;
    char* in = const_cast<char*>(c.data());
    std::size_t in_left = c.size();
    char buffer[16];
    char* out = buffer;
    std::size_t out_left = sizeof buffer;
    if (iconv(cd, &in, &in_left, &out, &out_left) == static_cast<std::size_t>(-1)) {
      missing = std::string(c);
    }
  }
  iconv_close(cd);
  return missing;
}

bool is_gb2312_text(std::string_view text) {
  const iconv_t cd = iconv_open("GB2312", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  char* in = const_cast<char*>(text.data());
  std::size_t in_left = text.size();
  bool converts = true;
  while (in_left > 0 && converts) {
    char buffer[4096];
    char* out = buffer;
    std::size_t out_left = sizeof buffer;
    converts =
        iconv(cd, &in, &in_left, &out, &out_left) != static_cast<std::size_t>(-1) || errno == E2BIG;
  }
  iconv_close(cd);
  return converts;
}

#endif
