// Group 4 decoder: reads mode and run codes through lookup tables into the
// row's list of changing elements, each checked against a0 and the row
// width before its run goes into the output bit string.
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "common/checked.h"
#include "nist/group4.h"
#include "nist/group4_codes.h"

namespace tsl {

namespace {

// Reads the stream most significant bit first. Past the end of the input it
// supplies 0 bits without touching memory; `consumed` beyond `total` tells
// that the stream ran out.
struct BitReader {
  const uint8_t *in;
  size_t len;
  size_t pos = 0;
  uint64_t acc = 0;  // next bit at bit 63
  int avail = 0;     // bits loaded into acc
  uint64_t consumed = 0;
  uint64_t total;

  BitReader(const uint8_t *input, size_t length) : in(input), len(length), total(8ull * length) {}

  inline void Refill() {
    if (pos + 8 <= len) {
      uint64_t v;
      std::memcpy(&v, in + pos, 8);
      acc |= __builtin_bswap64(v) >> avail;
      int take = (63 - avail) >> 3;
      pos += take;
      avail += take * 8;
    } else {
      while (avail <= 56) {
        uint64_t b = pos < len ? in[pos] : 0;
        acc |= b << (56 - avail);
        ++pos;
        avail += 8;
      }
    }
  }
  inline uint32_t Peek(int n) const { return static_cast<uint32_t>(acc >> (64 - n)); }
  inline void Consume(int n) {
    acc <<= n;
    avail -= n;
    consumed += n;
  }
  inline bool Overrun() const { return consumed > total; }
};

// Writes the decoded pixels as one continuous bit string, 64 bits at a
// time; long runs become whole bytes.
struct PixelWriter {
  uint8_t *out;
  size_t pos = 0;    // byte where acc goes
  uint64_t acc = 0;  // pixels from bit 63 down
  unsigned used = 0;

  inline void Store() {
    uint64_t v = __builtin_bswap64(acc);
    std::memcpy(out + pos, &v, 8);
    pos += 8;
    acc = 0;
    used = 0;
  }

  inline void Put(uint64_t n, bool black) {
    while (n) {
      if (used == 0 && n >= 64) {
        const uint64_t bytes = (n / 64) * 8;
        std::memset(out + pos, black ? 0xFF : 0x00, bytes);
        pos += bytes;
        n %= 64;
        continue;
      }
      const unsigned take = n < 64 - used ? static_cast<unsigned>(n) : 64 - used;
      if (black) {
        uint64_t mask = ~0ull >> used;
        if (used + take < 64) mask &= ~(~0ull >> (used + take));
        acc |= mask;
      }
      used += take;
      n -= take;
      if (used == 64) Store();
    }
  }

  // Writes what acc holds; bits of the last byte past the pixels keep their
  // value.
  void Finish() {
    unsigned i = 0;
    for (; i + 8 <= used; i += 8) out[pos++] = static_cast<uint8_t>(acc >> (56 - i));
    if (i < used) {
      const uint8_t mask = static_cast<uint8_t>(0xFF00 >> (used - i));
      out[pos] = static_cast<uint8_t>((out[pos] & ~mask) | ((acc >> (56 - i)) & mask));
    }
    used = 0;
  }
};

enum LineResult { kLineDone, kLineEnd, kLineDamaged, kLineTruncated };

// Reads one run (make-up codes, then a terminating code) in a colour.
// Returns the run length, or -1 damaged, -2 truncated.
template <int kBits>
inline int64_t ReadRun(BitReader &r, const g4::Table<kBits> &table, int64_t limit) {
  int64_t sum = 0;
  for (;;) {
    if (r.avail < 16) r.Refill();
    const g4::Entry e = table[r.Peek(kBits)];
    // Bits that begin no code are damage, unless they run past the input.
    if (e.len == 0) return r.consumed + kBits > r.total ? -2 : -1;
    r.Consume(e.len);
    if (r.Overrun()) return -2;
    sum += e.value;
    if (e.value < 64) return sum;
    if (sum > limit) return -1;
  }
}

inline int64_t ReadColourRun(BitReader &r, int colour, int64_t limit) {
  return colour ? ReadRun<g4::kBlackBits>(r, g4::kBlackTable, limit)
                : ReadRun<g4::kWhiteBits>(r, g4::kWhiteTable, limit);
}

// Decodes one row into cur (at most cap entries, *count receives how many)
// and writes its pixels as they become known.
LineResult DecodeLine(BitReader &r, PixelWriter &pixels, const int32_t *ref, int32_t *cur,
                      int32_t cap, int32_t width, int32_t *count) {
  int64_t a0 = 0;  // starts on the imaginary white element before pixel 0
  int colour = 0;
  int32_t j = 0;  // index of b1 in ref
  int32_t n = 0;
  LineResult result = kLineDone;
  while (a0 < width) {
    if (r.avail < 32) r.Refill();
    const g4::Entry m = g4::kModeTable[r.Peek(g4::kModeBits)];
    r.Consume(m.len);
    if (r.Overrun()) {
      result = kLineTruncated;
      break;
    }
    // Six 0 bits: the end code, or the uncompressed-mode extension, which
    // this decoder does not take; either way the data ends here.
    if (m.value == g4::kModeEnd) {
      r.Consume(18);  // the rest of the end code; what it holds does not matter
      result = kLineEnd;
      break;
    }
    if (m.value == g4::kModePass) {
      pixels.Put(static_cast<uint64_t>(ref[j + 1] - a0), colour);
      a0 = ref[j + 1];
      j += 2;
      // b1 lies right of a0. In data that puts a change on a0 (a vertical
      // code onto it, a run of 0) the next entry can stand on a0 and is
      // passed over; libtiff does so only once the row holds a change, and
      // so does this, to read such rows as it does. At the row's end no b1
      // is needed, and j may stand past the line's last entry.
      if (a0 < width && n > 0)
        while (ref[j] <= a0) j += 2;
    } else if (m.value == g4::kModeHorizontal) {
      int64_t run1 = ReadColourRun(r, colour, width);
      int64_t run2 = run1 < 0 ? run1 : ReadColourRun(r, colour ^ 1, width);
      if (run1 < 0 || run2 < 0) {
        result = (run1 == -2 || run2 == -2) ? kLineTruncated : kLineDamaged;
        break;
      }
      const int64_t a1 = a0 + run1;
      const int64_t a2 = a1 + run2;
      if (a2 > width || n + 2 > cap) {
        result = kLineDamaged;
        break;
      }
      pixels.Put(static_cast<uint64_t>(run1), colour);
      pixels.Put(static_cast<uint64_t>(run2), colour ^ 1);
      cur[n++] = static_cast<int32_t>(a1);
      cur[n++] = static_cast<int32_t>(a2);
      a0 = a2;
      while (ref[j] <= a0 && ref[j] < width) j += 2;
    } else {  // vertical, offset m.value
      const int64_t a1 = static_cast<int64_t>(ref[j]) + m.value;
      if (a1 < a0 || a1 > width || n + 1 > cap) {
        result = kLineDamaged;
        break;
      }
      pixels.Put(static_cast<uint64_t>(a1 - a0), colour);
      cur[n++] = static_cast<int32_t>(a1);
      a0 = a1;
      colour ^= 1;
      // The new b1 has the other parity and cannot lie before j - 1.
      j = j > 0 ? j - 1 : 1;
      while (ref[j] <= a0 && ref[j] < width) j += 2;
    }
  }
  *count = n;
  return result;
}

}  // namespace

int grp4deco_grp4decomp(const uint8_t *input, size_t input_length, int width, int height,
                        uint8_t *output, size_t capacity, int *rows_decoded) {
  if (rows_decoded) *rows_decoded = 0;
  if (!input) {
    std::fputs("\nNo memory allocated for input data!\n", stdout);
    return kG4NoInput;
  }
  if (!output) {
    std::fputs("\nNo memory allocated for decompressed data!\n", stdout);
    return kG4NoOutput;
  }
  if (width <= 0 || height < 0) return kG4BadSize;
  size_t bits;
  if (!CheckedMul(static_cast<size_t>(width), static_cast<size_t>(height), &bits))
    return kG4BadSize;
  if ((bits / 8) + (bits % 8 != 0) > capacity) return kG4NoOutput;
  if (height == 0) return kG4Ok;

  // Every stored change costs at least one bit of input, and a sound row
  // holds at most width + 2 of them.
  size_t cap = static_cast<size_t>(width) + 2;
  if (input_length < cap / 8) cap = input_length * 8 + 2;
  std::unique_ptr<int32_t, FreeDeleter> line_a(
      static_cast<int32_t *>(SafeMalloc(cap + 3, sizeof(int32_t))));
  std::unique_ptr<int32_t, FreeDeleter> line_b(
      static_cast<int32_t *>(SafeMalloc(cap + 3, sizeof(int32_t))));
  if (!line_a || !line_b) return kG4NoMemory;
  int32_t *ref = line_a.get();
  int32_t *cur = line_b.get();
  ref[0] = ref[1] = ref[2] = width;  // all-white line above the first row

  BitReader r(input, input_length);
  PixelWriter pixels{output};
  int status = kG4Ok;
  for (int y = 0; y < height; ++y) {
    int32_t n;
    LineResult lr = DecodeLine(r, pixels, ref, cur, static_cast<int32_t>(cap), width, &n);
    if (lr != kLineDone) {
      // An end code before the last row, even one cut by the end of the
      // data, leaves the picture as short as cut data does.
      status = lr == kLineDamaged ? kG4Damaged : kG4Truncated;
      break;
    }
    cur[n] = cur[n + 1] = cur[n + 2] = width;
    std::swap(ref, cur);
    if (rows_decoded) *rows_decoded = y + 1;
  }
  pixels.Finish();
  return status;
}

}  // namespace tsl
