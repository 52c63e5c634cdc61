// Code tables of the Group 4 fax codec (mode codes and the run-length codes
// of one-dimensional fax coding), held as readable texts and turned into
// integer codes and lookup tables at compile time. Used by
// group4_encode.cpp and group4_decode.cpp only.
#ifndef TESSALY_NIST_GROUP4_CODES_H
#define TESSALY_NIST_GROUP4_CODES_H

#include <array>
#include <cstdint>

namespace tsl {
namespace g4 {

// ---- Code texts: '0' and '1', first bit first --------------------------

constexpr const char *kPassCode = "0001";
constexpr const char *kHorizontalCode = "001";
// Vertical mode by offset a1 - b1 + 3 (VL3 ... V0 ... VR3).
constexpr const char *kVerticalCode[7] = {"0000010", "000010", "010", "1",
                                          "011",     "000011", "0000011"};
// End of facsimile block: two end-of-line codes.
constexpr const char *kEolCode = "000000000001";

constexpr const char *white_terminating_code[64] = {
    "00110101", "000111",   "0111",     "1000",     "1011",     "1100",
    "1110",     "1111",     "10011",    "10100",    "00111",    "01000",
    "001000",   "000011",   "110100",   "110101",   "101010",   "101011",
    "0100111",  "0001100",  "0001000",  "0010111",  "0000011",  "0000100",
    "0101000",  "0101011",  "0010011",  "0100100",  "0011000",  "00000010",
    "00000011", "00011010", "00011011", "00010010", "00010011", "00010100",
    "00010101", "00010110", "00010111", "00101000", "00101001", "00101010",
    "00101011", "00101100", "00101101", "00000100", "00000101", "00001010",
    "00001011", "01010010", "01010011", "01010100", "01010101", "00100100",
    "00100101", "01011000", "01011001", "01011010", "01011011", "01001010",
    "01001011", "00110010", "00110011", "00110100"};

constexpr const char *black_terminating_code[64] = {
    "0000110111",   "010",          "11",           "10",
    "011",          "0011",         "0010",         "00011",
    "000101",       "000100",       "0000100",      "0000101",
    "0000111",      "00000100",     "00000111",     "000011000",
    "0000010111",   "0000011000",   "0000001000",   "00001100111",
    "00001101000",  "00001101100",  "00000110111",  "00000101000",
    "00000010111",  "00000011000",  "000011001010", "000011001011",
    "000011001100", "000011001101", "000001101000", "000001101001",
    "000001101010", "000001101011", "000011010010", "000011010011",
    "000011010100", "000011010101", "000011010110", "000011010111",
    "000001101100", "000001101101", "000011011010", "000011011011",
    "000001010100", "000001010101", "000001010110", "000001010111",
    "000001100100", "000001100101", "000001010010", "000001010011",
    "000000100100", "000000110111", "000000111000", "000000100111",
    "000000101000", "000001011000", "000001011001", "000000101011",
    "000000101100", "000001011010", "000001100110", "000001100111"};

// Entry k codes a run of 64 x (k + 1): the colour's own make-up codes up to
// 1728, then the extended make-up codes (1792 to 2560) both colours share.
constexpr const char *white_make_up_code[40] = {
    "11011",        "10010",        "010111",       "0110111",
    "00110110",     "00110111",     "01100100",     "01100101",
    "01101000",     "01100111",     "011001100",    "011001101",
    "011010010",    "011010011",    "011010100",    "011010101",
    "011010110",    "011010111",    "011011000",    "011011001",
    "011011010",    "011011011",    "010011000",    "010011001",
    "010011010",    "011000",       "010011011",    "00000001000",
    "00000001100",  "00000001101",  "000000010010", "000000010011",
    "000000010100", "000000010101", "000000010110", "000000010111",
    "000000011100", "000000011101", "000000011110", "000000011111"};

constexpr const char *black_make_up_code[40] = {
    "0000001111",    "000011001000",  "000011001001",  "000001011011",
    "000000110011",  "000000110100",  "000000110101",  "0000001101100",
    "0000001101101", "0000001001010", "0000001001011", "0000001001100",
    "0000001001101", "0000001110010", "0000001110011", "0000001110100",
    "0000001110101", "0000001110110", "0000001110111", "0000001010010",
    "0000001010011", "0000001010100", "0000001010101", "0000001011010",
    "0000001011011", "0000001100100", "0000001100101", "00000001000",
    "00000001100",   "00000001101",   "000000010010",  "000000010011",
    "000000010100",  "000000010101",  "000000010110",  "000000010111",
    "000000011100",  "000000011101",  "000000011110",  "000000011111"};

// The make-up code for 2560, written as often as a run holds 2560 pixels.
constexpr const char *largest_colorless_code = "000000011111";
constexpr int kLargestRun = 2560;

// ---- Integer codes ------------------------------------------------------

// A code right-aligned in bits, len bits long (len 0: none).
struct Code {
  uint32_t bits;
  uint32_t len;
};

constexpr Code CodeFromText(const char *text) {
  Code c{0, 0};
  for (; *text; ++text) {
    c.bits = (c.bits << 1) | (*text == '1' ? 1u : 0u);
    ++c.len;
  }
  return c;
}

constexpr Code Concat(Code a, Code b) { return Code{(a.bits << b.len) | b.bits, a.len + b.len}; }

// Complete code (make-up code when needed, then terminating code) of every
// run shorter than 2560, so the coder writes any such run with one put.
using RunCodes = std::array<Code, kLargestRun>;

inline constexpr RunCodes BuildRunCodes(const char *const *terminating, const char *const *make_up) {
  RunCodes t{};
  for (int n = 0; n < kLargestRun; ++n) {
    Code term = CodeFromText(terminating[n % 64]);
    t[n] = n >= 64 ? Concat(CodeFromText(make_up[n / 64 - 1]), term) : term;
  }
  return t;
}

inline constexpr RunCodes kWhiteRunCodes = BuildRunCodes(white_terminating_code, white_make_up_code);
inline constexpr RunCodes kBlackRunCodes = BuildRunCodes(black_terminating_code, black_make_up_code);
inline constexpr Code kLargestRunCode = CodeFromText(largest_colorless_code);

// ---- Decoding tables ----------------------------------------------------

// One entry per value of the next kBits bits of the stream: the run length
// (or mode) of the code those bits begin with and the code's length; len 0
// marks bits that begin no code.
struct Entry {
  int16_t value;
  uint8_t len;
};

constexpr int kWhiteBits = 12;  // longest white run code
constexpr int kBlackBits = 13;  // longest black run code
constexpr int kModeBits = 7;    // longest mode code

template <int kBits>
using Table = std::array<Entry, (1u << kBits)>;

template <int kBits>
constexpr void Enter(Table<kBits> &t, const char *text, int value) {
  Code c = CodeFromText(text);
  uint32_t first = c.bits << (kBits - c.len);
  uint32_t count = 1u << (kBits - c.len);
  for (uint32_t i = 0; i < count; ++i) {
    t[first + i] = Entry{static_cast<int16_t>(value), static_cast<uint8_t>(c.len)};
  }
}

template <int kBits>
inline constexpr Table<kBits> BuildRunTable(const char *const *terminating, const char *const *make_up) {
  Table<kBits> t{};
  for (int n = 0; n < 64; ++n) Enter<kBits>(t, terminating[n], n);
  for (int k = 0; k < 40; ++k) Enter<kBits>(t, make_up[k], 64 * (k + 1));
  return t;
}

inline constexpr Table<kWhiteBits> kWhiteTable =
    BuildRunTable<kWhiteBits>(white_terminating_code, white_make_up_code);
inline constexpr Table<kBlackBits> kBlackTable =
    BuildRunTable<kBlackBits>(black_terminating_code, black_make_up_code);

// Mode values in the mode table: vertical offsets -3..3 as themselves.
constexpr int kModePass = 10;
constexpr int kModeHorizontal = 11;
constexpr int kModeEnd = 12;  // six 0 bits: end of facsimile block

inline constexpr Table<kModeBits> BuildModeTable() {
  Table<kModeBits> t{};
  Enter<kModeBits>(t, kPassCode, kModePass);
  Enter<kModeBits>(t, kHorizontalCode, kModeHorizontal);
  for (int d = -3; d <= 3; ++d) Enter<kModeBits>(t, kVerticalCode[d + 3], d);
  Enter<kModeBits>(t, "000000", kModeEnd);
  return t;
}

inline constexpr Table<kModeBits> kModeTable = BuildModeTable();

}  // namespace g4
}  // namespace tsl

#endif
