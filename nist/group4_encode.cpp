// Group 4 coder: each row becomes a list of changing elements (positions
// where the colour changes), coded against the previous row's list in pass,
// vertical or horizontal mode; the codes are integers written through a
// 64-bit bit buffer.
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "common/checked.h"
#include "nist/group4.h"
#include "nist/group4_codes.h"

namespace tsl {

namespace {

using g4::Code;

// Appends codes most significant bit first; fails instead of writing past
// the capacity.
struct BitWriter {
  uint8_t *out;
  size_t capacity;
  size_t pos = 0;
  uint64_t acc = 0;  // pending bits in the low `pending` bits
  uint32_t pending = 0;
  bool full = false;

  // len <= 32 and pending < 32 on entry, so acc never holds more than 64.
  inline void Put(Code c) {
    acc = (acc << c.len) | c.bits;
    pending += c.len;
    if (pending >= 32) {
      pending -= 32;
      uint32_t word = static_cast<uint32_t>(acc >> pending);
      if (capacity - pos < 4) {
        full = true;
        pending = 0;  // keep going harmlessly; the result is discarded
        return;
      }
      out[pos] = static_cast<uint8_t>(word >> 24);
      out[pos + 1] = static_cast<uint8_t>(word >> 16);
      out[pos + 2] = static_cast<uint8_t>(word >> 8);
      out[pos + 3] = static_cast<uint8_t>(word);
      pos += 4;
    }
  }

  // Pads the last byte with 0 bits.
  void Flush() {
    if (full) return;
    while (pending > 0) {
      uint32_t take = pending >= 8 ? 8 : pending;
      uint8_t byte = static_cast<uint8_t>((acc >> (pending - take)) << (8 - take));
      pending -= take;
      if (pos == capacity) {
        full = true;
        return;
      }
      out[pos++] = byte;
    }
  }
};

constexpr Code kPass = g4::CodeFromText(g4::kPassCode);
constexpr Code kHorizontal = g4::CodeFromText(g4::kHorizontalCode);
constexpr Code kEol = g4::CodeFromText(g4::kEolCode);
constexpr Code kVertical[7] = {
    g4::CodeFromText(g4::kVerticalCode[0]), g4::CodeFromText(g4::kVerticalCode[1]),
    g4::CodeFromText(g4::kVerticalCode[2]), g4::CodeFromText(g4::kVerticalCode[3]),
    g4::CodeFromText(g4::kVerticalCode[4]), g4::CodeFromText(g4::kVerticalCode[5]),
    g4::CodeFromText(g4::kVerticalCode[6])};

inline void WriteRun(BitWriter &w, int32_t n, int colour) {
  while (n >= g4::kLargestRun) {
    w.Put(g4::kLargestRunCode);
    n -= g4::kLargestRun;
  }
  w.Put(colour ? g4::kBlackRunCodes[n] : g4::kWhiteRunCodes[n]);
}

inline uint64_t LoadBigEndian64(const uint8_t *p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

// Fills list with the positions below width where the colour changes (the
// pixel before the first one counts as white), then three entries of width.
// Returns the number of changes. Even entries are changes to black.
int32_t ChangingElements(const uint8_t *row, size_t row_bytes, int32_t width, int32_t *list) {
  int32_t n = 0;
  uint64_t prev = 0;  // colour of the last pixel examined, 0 or 1
  for (size_t i = 0; i < row_bytes; i += 8) {
    uint64_t w;
    const size_t avail = row_bytes - i;
    if (avail >= 8) {
      w = LoadBigEndian64(row + i);
    } else {
      uint8_t tail[8] = {0};
      std::memcpy(tail, row + i, avail);
      w = LoadBigEndian64(tail);
    }
    // Bit 63 - k set: pixel k of this word differs from the pixel before it.
    uint64_t t = w ^ ((w >> 1) | (prev << 63));
    prev = w & 1;
    const int64_t base = static_cast<int64_t>(i) * 8;
    while (t) {
      const int k = __builtin_clzll(t);
      const int64_t pos = base + k;
      if (pos >= width) break;  // padding bits, only in the last word
      list[n++] = static_cast<int32_t>(pos);
      t ^= 0x8000000000000000ull >> k;
    }
  }
  list[n] = list[n + 1] = list[n + 2] = width;
  return n;
}

// Codes one row (coding line cur) against the one above (ref).
void CodeLine(BitWriter &w, const int32_t *ref, const int32_t *cur, int32_t width) {
  int64_t a0 = -1;  // the imaginary white element before the first pixel
  int colour = 0;   // colour of a0
  int32_t i = 0;    // index of a1 in cur
  int32_t j = 0;    // index of b1 in ref: first change > a0 to the colour opposite a0's
  for (;;) {
    const int32_t a1 = cur[i];
    const int32_t b1 = ref[j];
    const int32_t b2 = ref[j + 1];
    if (b2 < a1) {
      w.Put(kPass);
      a0 = b2;
      j += 2;
    } else {
      const int32_t d = a1 - b1;
      if (d >= -3 && d <= 3) {
        w.Put(kVertical[d + 3]);
        a0 = a1;
        colour ^= 1;
        ++i;
        // The new b1 has the other parity and cannot lie before j - 1.
        j = j > 0 ? j - 1 : 1;
        while (ref[j] <= a0 && ref[j] < width) j += 2;
      } else {
        const int32_t a2 = cur[i + 1];
        w.Put(kHorizontal);
        WriteRun(w, a1 - (a0 < 0 ? 0 : static_cast<int32_t>(a0)), colour);
        WriteRun(w, a2 - a1, colour ^ 1);
        a0 = a2;
        i += 2;
        while (ref[j] <= a0 && ref[j] < width) j += 2;
      }
    }
    if (a0 >= width) return;
  }
}

}  // namespace

size_t Group4WorstCaseBytes(int width, int height) {
  // A pixel never costs more than 16 bits (single-pixel runs in horizontal
  // mode cost 6 per pixel, vertical codes at most 7 per change), plus
  // 8 bytes of row overhead and the end code with padding.
  if (width <= 0 || height <= 0) return 0;
  size_t per_row, total;
  if (!CheckedMul(static_cast<size_t>(width), 2, &per_row) ||
      !CheckedAdd(per_row, 8, &per_row) ||
      !CheckedMul(per_row, static_cast<size_t>(height), &total) ||
      !CheckedAdd(total, 8, &total))
    return 0;
  return total;
}

int grp4comp_grp4comp(const uint8_t *input, size_t input_length, int width, int height,
                      uint8_t *output, size_t capacity, size_t *output_length) {
  if (output_length) *output_length = 0;
  if (!input) {
    std::fputs("\nNo memory allocated for input data!\n", stdout);
    return kG4NoInput;
  }
  if (!output || !output_length) {
    std::fputs("\nMemory allocation error for compressed output data.\n", stdout);
    return kG4NoOutput;
  }
  if (width <= 0 || height < 0) return kG4BadSize;
  const size_t row_bytes = (static_cast<size_t>(width) + 7) / 8;
  size_t needed;
  if (!CheckedMul(row_bytes, static_cast<size_t>(height), &needed)) return kG4BadSize;
  if (needed > input_length) return kG4NoInput;

  // Changes of a row plus three end entries; the lists are swapped per row.
  const size_t entries = static_cast<size_t>(width) + 4;
  std::unique_ptr<int32_t, FreeDeleter> line_a(
      static_cast<int32_t *>(SafeMalloc(entries, sizeof(int32_t))));
  std::unique_ptr<int32_t, FreeDeleter> line_b(
      static_cast<int32_t *>(SafeMalloc(entries, sizeof(int32_t))));
  if (!line_a || !line_b) return kG4NoMemory;
  int32_t *ref = line_a.get();
  int32_t *cur = line_b.get();
  ref[0] = ref[1] = ref[2] = width;  // all-white line above the first row

  BitWriter w{output, capacity};
  const uint8_t *row = input;
  for (int y = 0; y < height && !w.full; ++y, row += row_bytes) {
    ChangingElements(row, row_bytes, width, cur);
    CodeLine(w, ref, cur, width);
    std::swap(ref, cur);
  }
  w.Put(kEol);
  w.Put(kEol);
  w.Flush();
  if (w.full) return kG4OutputFull;
  *output_length = w.pos;
  return kG4Ok;
}

}  // namespace tsl
