#pragma once

#include <cstddef>
#include <string_view>

// The bytes of the character of a text's encoding that starts at `pos` (at least 1).
// Names are walked by characters so that every ASCII letter folds, wherever it stands,
// while the second byte of a double-byte character never does, even where it looks
// like a letter (GBK 81 41 and 81 61 are different characters). Without one, every
// byte below 0x80 is a character of its own, as in ASCII and UTF-8.
using CharLength = std::size_t (*)(std::string_view bytes, std::size_t pos);
