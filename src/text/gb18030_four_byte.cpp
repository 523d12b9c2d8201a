#include "text/gb18030_four_byte.h"

#include <algorithm>
#include <iterator>

namespace {

// Four bytes count up as digits of 126 and 10 values: 81..FE, 30..39, 81..FE, 30..39.
// U+10000 is the linear number of 90 30 81 30.
constexpr unsigned long supplementary_start = ((0x90 - 0x81) * 10UL) * 126 * 10;

// The basic plane's four-byte characters: runs of code points whose linear numbers
// count up with them, as GB18030-2005 assigns them (and as the C library converts),
// in the order of their code points.
struct Run {
  char32_t first;
  unsigned long linear;
  unsigned long length;
};

constexpr Run runs[] = {
    {0x0080, 0, 36},       {0x00A5, 36, 2},      {0x00A9, 38, 7},        {0x00B2, 45, 5},
    {0x00B8, 50, 31},      {0x00D8, 81, 8},      {0x00E2, 89, 6},        {0x00EB, 95, 1},
    {0x00EE, 96, 4},       {0x00F4, 100, 3},     {0x00F8, 103, 1},       {0x00FB, 104, 1},
    {0x00FD, 105, 4},      {0x0102, 109, 17},    {0x0114, 126, 7},       {0x011C, 133, 15},
    {0x012C, 148, 24},     {0x0145, 172, 3},     {0x0149, 175, 4},       {0x014E, 179, 29},
    {0x016C, 208, 98},     {0x01CF, 306, 1},     {0x01D1, 307, 1},       {0x01D3, 308, 1},
    {0x01D5, 309, 1},      {0x01D7, 310, 1},     {0x01D9, 311, 1},       {0x01DB, 312, 1},
    {0x01DD, 313, 28},     {0x01FA, 341, 87},    {0x0252, 428, 15},      {0x0262, 443, 101},
    {0x02C8, 544, 1},      {0x02CC, 545, 13},    {0x02DA, 558, 183},     {0x03A2, 741, 1},
    {0x03AA, 742, 7},      {0x03C2, 749, 1},     {0x03CA, 750, 55},      {0x0402, 805, 14},
    {0x0450, 819, 1},      {0x0452, 820, 6637},  {0x1E40, 7458, 464},    {0x2011, 7922, 2},
    {0x2017, 7924, 1},     {0x201A, 7925, 2},    {0x201E, 7927, 7},      {0x2027, 7934, 9},
    {0x2031, 7943, 1},     {0x2034, 7944, 1},    {0x2036, 7945, 5},      {0x203C, 7950, 112},
    {0x20AD, 8062, 86},    {0x2104, 8148, 1},    {0x2106, 8149, 3},      {0x210A, 8152, 12},
    {0x2117, 8164, 10},    {0x2122, 8174, 62},   {0x216C, 8236, 4},      {0x217A, 8240, 22},
    {0x2194, 8262, 2},     {0x219A, 8264, 110},  {0x2209, 8374, 6},      {0x2210, 8380, 1},
    {0x2212, 8381, 3},     {0x2216, 8384, 4},    {0x221B, 8388, 2},      {0x2221, 8390, 2},
    {0x2224, 8392, 1},     {0x2226, 8393, 1},    {0x222C, 8394, 2},      {0x222F, 8396, 5},
    {0x2238, 8401, 5},     {0x223E, 8406, 10},   {0x2249, 8416, 3},      {0x224D, 8419, 5},
    {0x2253, 8424, 13},    {0x2262, 8437, 2},    {0x2268, 8439, 6},      {0x2270, 8445, 37},
    {0x2296, 8482, 3},     {0x229A, 8485, 11},   {0x22A6, 8496, 25},     {0x22C0, 8521, 82},
    {0x2313, 8603, 333},   {0x246A, 8936, 10},   {0x249C, 8946, 100},    {0x254C, 9046, 4},
    {0x2574, 9050, 13},    {0x2590, 9063, 3},    {0x2596, 9066, 10},     {0x25A2, 9076, 16},
    {0x25B4, 9092, 8},     {0x25BE, 9100, 8},    {0x25C8, 9108, 3},      {0x25CC, 9111, 2},
    {0x25D0, 9113, 18},    {0x25E6, 9131, 31},   {0x2607, 9162, 2},      {0x260A, 9164, 54},
    {0x2641, 9218, 1},     {0x2643, 9219, 2110}, {0x2E82, 11329, 2},     {0x2E85, 11331, 3},
    {0x2E89, 11334, 2},    {0x2E8D, 11336, 10},  {0x2E98, 11346, 15},    {0x2EA8, 11361, 2},
    {0x2EAB, 11363, 3},    {0x2EAF, 11366, 4},   {0x2EB4, 11370, 2},     {0x2EB8, 11372, 3},
    {0x2EBC, 11375, 14},   {0x2ECB, 11389, 293}, {0x2FFC, 11682, 4},     {0x3004, 11686, 1},
    {0x3018, 11687, 5},    {0x301F, 11692, 2},   {0x302A, 11694, 20},    {0x303F, 11714, 2},
    {0x3094, 11716, 7},    {0x309F, 11723, 2},   {0x30F7, 11725, 5},     {0x30FF, 11730, 6},
    {0x312A, 11736, 246},  {0x322A, 11982, 7},   {0x3232, 11989, 113},   {0x32A4, 12102, 234},
    {0x3390, 12336, 12},   {0x339F, 12348, 2},   {0x33A2, 12350, 34},    {0x33C5, 12384, 9},
    {0x33CF, 12393, 2},    {0x33D3, 12395, 2},   {0x33D6, 12397, 113},   {0x3448, 12510, 43},
    {0x3474, 12553, 298},  {0x359F, 12851, 111}, {0x360F, 12962, 11},    {0x361B, 12973, 765},
    {0x3919, 13738, 85},   {0x396F, 13823, 96},  {0x39D1, 13919, 14},    {0x39E0, 13933, 147},
    {0x3A74, 14080, 218},  {0x3B4F, 14298, 287}, {0x3C6F, 14585, 113},   {0x3CE1, 14698, 885},
    {0x4057, 15583, 264},  {0x4160, 15847, 471}, {0x4338, 16318, 116},   {0x43AD, 16434, 4},
    {0x43B2, 16438, 43},   {0x43DE, 16481, 248}, {0x44D7, 16729, 373},   {0x464D, 17102, 20},
    {0x4662, 17122, 193},  {0x4724, 17315, 5},   {0x472A, 17320, 82},    {0x477D, 17402, 16},
    {0x478E, 17418, 441},  {0x4948, 17859, 50},  {0x497B, 17909, 2},     {0x497E, 17911, 4},
    {0x4984, 17915, 1},    {0x4987, 17916, 20},  {0x499C, 17936, 3},     {0x49A0, 17939, 22},
    {0x49B8, 17961, 703},  {0x4C78, 18664, 39},  {0x4CA4, 18703, 111},   {0x4D1A, 18814, 148},
    {0x4DAF, 18962, 81},   {0x9FA6, 19043, 14},  {0x9FBC, 19065, 14404}, {0xE76C, 33469, 1},
    {0xE7C7, 7457, 1},     {0xE7C8, 33470, 1},   {0xE7E7, 33471, 13},    {0xE815, 33484, 1},
    {0xE819, 33485, 5},    {0xE81F, 33490, 7},   {0xE827, 33497, 4},     {0xE82D, 33501, 4},
    {0xE833, 33505, 8},    {0xE83C, 33513, 7},   {0xE844, 33520, 16},    {0xE856, 33536, 14},
    {0xE865, 33550, 4295}, {0xF92D, 37845, 76},  {0xF97A, 37921, 27},    {0xF996, 37948, 81},
    {0xF9E8, 38029, 9},    {0xF9F2, 38038, 26},  {0xFA10, 38064, 1},     {0xFA12, 38065, 1},
    {0xFA15, 38066, 3},    {0xFA19, 38069, 6},   {0xFA22, 38075, 1},     {0xFA25, 38076, 2},
    {0xFA2A, 38078, 998},  {0xFE1A, 39086, 22},  {0xFE32, 39108, 1},     {0xFE45, 39109, 4},
    {0xFE53, 39113, 1},    {0xFE58, 39114, 1},   {0xFE67, 39115, 1},     {0xFE6C, 39116, 149},
    {0xFF5F, 39265, 129},  {0xFFE6, 39394, 26},
};

unsigned long linear_number(std::string_view bytes, std::size_t pos) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[pos + i]); };
  return (((b(0) - 0x81UL) * 10 + (b(1) - 0x30)) * 126 + (b(2) - 0x81)) * 10 + (b(3) - 0x30);
}

std::string bytes_of(unsigned long linear) {
  std::string bytes(4, '\0');
  bytes[3] = static_cast<char>(0x30 + linear % 10);
  linear /= 10;
  bytes[2] = static_cast<char>(0x81 + linear % 126);
  linear /= 126;
  bytes[1] = static_cast<char>(0x30 + linear % 10);
  bytes[0] = static_cast<char>(0x81 + linear / 10);
  return bytes;
}

bool in_range(std::string_view bytes, std::size_t pos, unsigned low, unsigned high) {
  const auto byte = static_cast<unsigned char>(bytes[pos]);
  return byte >= low && byte <= high;
}

}  // namespace

std::optional<char32_t> gb18030_four_byte_code_point(std::string_view bytes, std::size_t pos) {
  if (pos + 4 > bytes.size() || !in_range(bytes, pos, 0x81, 0xFE) ||
      !in_range(bytes, pos + 1, 0x30, 0x39) || !in_range(bytes, pos + 2, 0x81, 0xFE) ||
      !in_range(bytes, pos + 3, 0x30, 0x39)) {
    return std::nullopt;
  }
  const unsigned long linear = linear_number(bytes, pos);
  if (linear >= supplementary_start) {
    if (linear - supplementary_start > 0xFFFFF) return std::nullopt;
    return static_cast<char32_t>(0x10000 + (linear - supplementary_start));
  }
  // Searched one by one: the runs go up by code point, and two of them (U+E76C and
  // U+E7C7, which GB18030-2005 moved) are out of order by linear number.
  const Run* run = std::find_if(std::begin(runs), std::end(runs), [&](const Run& r) {
    return linear >= r.linear && linear - r.linear < r.length;
  });
  if (run == std::end(runs)) return std::nullopt;
  return static_cast<char32_t>(run->first + (linear - run->linear));
}

std::optional<std::string> gb18030_four_byte_bytes(char32_t c) {
  if (c >= 0x10000) {
    if (c > 0x10FFFF) return std::nullopt;
    return bytes_of(supplementary_start + (c - 0x10000));
  }
  const Run* run = std::upper_bound(std::begin(runs), std::end(runs), c,
                                    [](char32_t code, const Run& r) { return code < r.first; });
  if (run == std::begin(runs)) return std::nullopt;
  --run;
  if (c - run->first >= run->length) return std::nullopt;
  return bytes_of(run->linear + (c - run->first));
}
