#include "mqtt/json_fields.h"

#include <cstdint>

namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  void blanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }
  bool take(char c) {
    blanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool peek(char c) {
    blanks();
    return pos_ < text_.size() && text_[pos_] == c;
  }
  bool at_end() {
    blanks();
    return pos_ == text_.size();
  }

  std::optional<std::string> string() {
    if (!take('"')) return std::nullopt;
    std::string out;
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) return std::nullopt;
      const char e = text_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          auto unit = hex4();
          if (!unit) return std::nullopt;
          std::uint32_t code = *unit;
          // A pair of UTF-16 halves is one character; a lone half is none.
          if (code >= 0xD800 && code < 0xDC00) {
            if (!(take_raw('\\') && take_raw('u'))) return std::nullopt;
            const auto low = hex4();
            if (!low || *low < 0xDC00 || *low >= 0xE000) return std::nullopt;
            code = 0x10000 + ((code - 0xD800) << 10) + (*low - 0xDC00);
          } else if (code >= 0xDC00 && code < 0xE000) {
            return std::nullopt;
          }
          append_utf8(out, code);
          break;
        }
        default:
          return std::nullopt;
      }
    }
    return std::nullopt;
  }

  // Skips any other value and returns its raw text.
  std::optional<std::string> raw_value() {
    blanks();
    const std::size_t start = pos_;
    int depth = 0;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '"') {
        if (!string()) return std::nullopt;
        continue;
      }
      if (c == '{' || c == '[') ++depth;
      if (c == '}' || c == ']') {
        if (depth == 0) break;
        --depth;
      }
      if (c == ',' && depth == 0) break;
      ++pos_;
    }
    if (depth != 0 || pos_ == start) return std::nullopt;
    return std::string(text_.substr(start, pos_ - start));
  }

 private:
  bool take_raw(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  std::optional<std::uint32_t> hex4() {
    if (pos_ + 4 > text_.size()) return std::nullopt;
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      value <<= 4;
      if (c >= '0' && c <= '9')
        value |= static_cast<std::uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f')
        value |= static_cast<std::uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        value |= static_cast<std::uint32_t>(c - 'A' + 10);
      else
        return std::nullopt;
    }
    return value;
  }
  static void append_utf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

std::optional<JsonField> field_value(Reader& reader) {
  if (reader.peek('"')) {
    auto text = reader.string();
    if (!text) return std::nullopt;
    return JsonField(std::move(*text));
  }
  if (reader.take('[')) {
    std::vector<std::string> texts;
    if (reader.take(']')) return JsonField(std::move(texts));
    do {
      auto text = reader.string();
      if (!text) return std::nullopt;
      texts.push_back(std::move(*text));
    } while (reader.take(','));
    if (!reader.take(']')) return std::nullopt;
    return JsonField(std::move(texts));
  }
  auto raw = reader.raw_value();
  if (!raw) return std::nullopt;
  return JsonField(JsonRaw{std::move(*raw)});
}

}  // namespace

std::optional<std::map<std::string, JsonField>> json_fields(std::string_view payload) {
  Reader reader(payload);
  std::map<std::string, JsonField> fields;
  if (!reader.take('{')) return std::nullopt;
  if (!reader.take('}')) {
    do {
      auto key = reader.string();
      if (!key || !reader.take(':')) return std::nullopt;
      auto value = field_value(reader);
      if (!value) return std::nullopt;
      fields.emplace(std::move(*key), std::move(*value));
    } while (reader.take(','));
    if (!reader.take('}')) return std::nullopt;
  }
  if (!reader.at_end()) return std::nullopt;
  return fields;
}

std::optional<std::string> json_text(const std::map<std::string, JsonField>& fields,
                                     const std::string& key) {
  const auto found = fields.find(key);
  if (found == fields.end()) return std::nullopt;
  if (const auto* text = std::get_if<std::string>(&found->second)) return *text;
  return std::nullopt;
}
