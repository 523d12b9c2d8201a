// The code page conversion on POSIX systems: iconv, for GB18030.
#include <iconv.h>

#include <algorithm>
#include <cerrno>

#include "text/ansi_code_page.h"
#include "text/utf8.h"

namespace {

// One iconv conversion, closed by its owner on every way out.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  ~Converter() {
    if (opened()) iconv_close(cd_);
  }
  // Whether the system has the conversion at all.
  bool opened() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  // iconv(3): converts what it can, moving the four arguments past it.
  std::size_t convert(char** in, std::size_t* in_left, char** out, std::size_t* out_left) {
    return iconv(cd_, in, in_left, out, out_left);
  }

 private:
  iconv_t cd_;
};

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
  Converter converter(to, from);
  if (!converter.opened()) {
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
    const std::size_t result = converter.convert(&in, &in_left, &dst, &dst_left);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    if (result != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    const StandIn piece = stand_in(input, static_cast<std::size_t>(in - input.data()));
    out += piece.text;
    in += piece.length;
    in_left -= piece.length;
  }
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
  Converter converter(file_code_page, "UTF-8");
  if (!converter.opened()) return std::nullopt;
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
    if (converter.convert(&in, &in_left, &out, &out_left) == static_cast<std::size_t>(-1)) {
      missing = std::string(c);
    }
  }
  return missing;
}

bool is_gb2312_text(std::string_view text) {
  Converter converter("GB2312", "UTF-8");
  if (!converter.opened()) return false;
  char* in = const_cast<char*>(text.data());
  std::size_t in_left = text.size();
  bool converts = true;
  while (in_left > 0 && converts) {
    char buffer[4096];
    char* out = buffer;
    std::size_t out_left = sizeof buffer;
    converts = converter.convert(&in, &in_left, &out, &out_left) != static_cast<std::size_t>(-1) ||
               errno == E2BIG;
  }
  return converts;
}
