// Group 4 coder and decoder against libtiff's fax codec, hand-built streams,
// output capacity and damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

#include "group4_reference.h"
#include "nist/group4.h"
#include "support/test_support.h"

namespace {

using tsltest::Bytes;
using tsltest::Rng;

// Packed rows of a bi-level image, ceil(width / 8) bytes each, bit 1 black.
struct Bilevel {
  int w, h;
  size_t rb;
  Bytes rows;
  Bilevel(int width, int height, const std::function<bool(int, int)> &black = nullptr)
      : w(width), h(height), rb((width + 7) / 8), rows(rb * height) {
    for (int y = 0; y < h && black; ++y)
      for (int x = 0; x < w; ++x) Set(x, y, black(x, y));
  }
  void Set(int x, int y, bool black = true) {
    uint8_t m = static_cast<uint8_t>(0x80 >> (x % 8));
    rows[y * rb + x / 8] = black ? (rows[y * rb + x / 8] | m) : (rows[y * rb + x / 8] & ~m);
  }
  bool Get(int x, int y) const { return rows[y * rb + x / 8] & (0x80 >> (x % 8)); }
  // Rows with the bits past the width cleared (clean) or the image as one
  // continuous bit string, as the decoder writes it.
  Bytes Bits(bool continuous) const {
    Bytes out(continuous ? (static_cast<size_t>(w) * h + 7) / 8 : rows.size());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        size_t i = continuous ? static_cast<size_t>(y) * w + x : y * rb * 8 + x;
        if (Get(x, y)) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
      }
    return out;
  }
};

Bytes Encode(const Bilevel &b, int *status = nullptr, size_t cap = 0) {
  if (!cap) cap = std::max<size_t>(tsl::Group4WorstCaseBytes(b.w, b.h), 16);
  std::unique_ptr<uint8_t[]> out(new uint8_t[cap]);  // exact size for the sanitizer
  size_t len = 99;
  const uint8_t none = 0, *in = b.rows.empty() ? &none : b.rows.data();
  int s = tsl::grp4comp_grp4comp(in, b.rows.size(), b.w, b.h, out.get(), cap, &len);
  if (status) *status = s;
  EXPECT_TRUE(s == tsl::kG4Ok || len == 0) << s;
  return Bytes(out.get(), out.get() + len);
}

// Decodes from a copy of exactly the stream into an area of exactly
// ceil(w x h / 8) bytes pre-filled with fill, so the sanitizer sees any
// access past either. Bits past w x h in the last byte come back 0.
Bytes Decode(const Bytes &stream, int w, int h, int *status = nullptr, int *rows = nullptr,
             uint8_t fill = 0) {
  size_t n = (static_cast<size_t>(w) * h + 7) / 8, bits = static_cast<size_t>(w) * h;
  std::unique_ptr<uint8_t[]> area(new uint8_t[n + !n]), in(new uint8_t[stream.size() + stream.empty()]);
  std::fill(area.get(), area.get() + n, fill);
  std::copy(stream.begin(), stream.end(), in.get());
  int r = -1;
  int s = tsl::grp4deco_grp4decomp(in.get(), stream.size(), w, h, area.get(), n, &r);
  if (status) *status = s;
  if (rows) *rows = r;
  EXPECT_TRUE(s <= 0 && r >= 0 && r <= h) << s << " " << r;
  if (bits % 8) area[n - 1] &= static_cast<uint8_t>(0xFF00 >> (bits % 8));
  return Bytes(area.get(), area.get() + n);
}

// '0'/'1' text (other characters ignored) to bytes, padded with 0 bits.
Bytes FromBits(const std::string &text) {
  Bytes out;
  int n = 0;
  for (char c : text) {
    if (c != '0' && c != '1') continue;
    if (n % 8 == 0) out.push_back(0);
    if (c == '1') out.back() |= static_cast<uint8_t>(0x80 >> (n % 8));
    ++n;
  }
  return out;
}
const std::string kEofb = " 000000000001 000000000001";

// ---- Test images --------------------------------------------------------

Bilevel RandomImage(int w, int h, uint64_t seed, uint32_t black_per_mille) {
  Rng rng(seed);
  Bilevel b(w, h, [&](int, int) { return rng.Below(1000) < black_per_mille; });
  // Garbage in the padding bits must not change the coding.
  for (int y = 0; y < h && w % 8; ++y) b.rows[y * b.rb + b.rb - 1] |= 0xFF >> (w % 8);
  return b;
}

Bilevel BlobImage(int w, int h, uint64_t seed) {
  Rng rng(seed);
  Bilevel b(w, h);
  for (int k = 0; k <= w * h / 400; ++k) {
    int cx = rng.Below(w), cy = rng.Below(h), r = 1 + rng.Below(12);
    bool black = rng.Below(4) != 0;
    for (int y = std::max(0, cy - r); y < std::min(h, cy + r + 1); ++y)
      for (int x = std::max(0, cx - r); x < std::min(w, cx + r + 1); ++x)
        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) b.Set(x, y, black);
  }
  return b;
}

Bilevel Checkerboard(int w, int h, int cell) {
  return Bilevel(w, h, [&](int x, int y) { return (x / cell + y / cell) % 2; });
}

// Rows of long runs of both colours (beyond 2560 where the width allows),
// with small shifts between rows so every vertical offset occurs.
Bilevel LongRunImage(int w, int h, uint64_t seed) {
  Rng rng(seed);
  std::vector<int> edges;
  for (int x = 0; x < w; edges.push_back(x))
    x += 1 + (rng.Below(3) == 0 ? rng.Below(6000) : rng.Below(200));
  Bilevel b(w, h);
  for (int y = 0; y < h; ++y) {
    bool black = y % 3 == 0;
    int start = 0;
    for (size_t k = 0; k < edges.size(); ++k, black = !black) {
      int end = std::min(w, edges[k] + static_cast<int>(rng.Below(9)) - 4);
      for (; start < end; ++start) b.Set(start, y, black);
    }
  }
  return b;
}

// Our stream must equal libtiff's byte for byte, libtiff must read ours back
// without complaint, and our decoder must read libtiff's.
void CheckAgainstLibtiff(const Bilevel &b, const std::string &what) {
  SCOPED_TRACE(what + " " + std::to_string(b.w) + "x" + std::to_string(b.h));
  int status, rows;
  Bytes ours = Encode(b, &status);
  ASSERT_EQ(status, tsl::kG4Ok);
  Bytes theirs = g4ref::Encode(b.rows, b.w, b.h);
  ASSERT_FALSE(theirs.empty());
  ASSERT_EQ(ours, theirs);
  g4ref::Complaints() = 0;
  EXPECT_EQ(g4ref::Decode(ours, b.w, b.h), b.Bits(false));
  EXPECT_EQ(g4ref::Complaints(), 0);
  EXPECT_EQ(Decode(theirs, b.w, b.h, &status, &rows, 0xA5), b.Bits(true));
  EXPECT_EQ(status, tsl::kG4Ok);
  EXPECT_EQ(rows, b.h);
}

TEST(Group4Reference, ImagesMatchLibtiff) {
  g4ref::Quiet();
  std::vector<int> widths;
  for (int i = 1; i <= 40; ++i) widths.push_back(i);
  for (int i : {63, 64, 65, 100, 127, 128, 129, 255, 256, 257, 511, 1000, 1023, 1024, 1025, 1728,
                2047, 2048, 2550, 2559, 2560, 2561, 2623, 2624, 2625, 3000})
    widths.push_back(i);
  for (int w : widths) {
    int h = w < 100 ? 23 : w < 1100 ? 9 : 4;
    for (uint32_t density : {500, 100, 15})
      CheckAgainstLibtiff(RandomImage(w, h, w * 7 + density, density), "random");
    CheckAgainstLibtiff(BlobImage(w, h * 3, w), "blobs");
    for (int cell : {1, 2, 3, 4, 7}) CheckAgainstLibtiff(Checkerboard(w, h, cell), "checker");
  }
  for (int w : {1, 9, 64, 2559, 2560, 2561, 2623, 2624, 2625, 5119, 5120, 5184, 5200, 7777})
    for (uint64_t seed = 1; seed <= 4; ++seed) CheckAgainstLibtiff(LongRunImage(w, 12, seed), "runs");
  for (int w : {37, 256, 301, 800}) {
    Bytes grey = tsltest::RidgeImage(w, 200, w);
    CheckAgainstLibtiff(Bilevel(w, 200, [&](int x, int y) { return grey[y * w + x] < 128; }),
                        "ridges");
  }
}

// Run lengths from 0 to past 2 x 2560 in both colours: every length below
// 200, then every 13th, which meets every make-up code.
TEST(Group4Reference, EveryRunLengthCodesAsLibtiffDoes) {
  g4ref::Quiet();
  for (int n = 0; n <= 5200; n += (n < 200 ? 1 : 13)) {
    CheckAgainstLibtiff(Bilevel(n + 3, 1, [&](int x, int) { return x >= n; }), "white run");
    CheckAgainstLibtiff(Bilevel(n + 3, 1, [&](int x, int) { return x >= 1 && x <= n; }),
                        "black run");
  }
}

// ---- Hand-built streams --------------------------------------------------

TEST(Group4Vectors, HandCodedStreams) {
  struct Case {
    int w, h, x0, x1;  // black from x0 to x1 on every row
    std::string bits;
    bool encode;  // false: a valid stream our coder would not make
  } cases[] = {
      {8, 0, 0, 0, kEofb, true},
      {8, 8, 0, 0, "11111111" + kEofb, true},  // FF 00 10 01
      {16, 1, 0, 16, "001 00110101 0000010111" + kEofb, true},  // 26 A0 B8 00 80 08
      {2600, 1, 2560, 2600, "001 000000011111 00110101 000001101100" + kEofb, true},
      {2664, 1, 2624, 2664, "001 000000011111 11011 00110101 000001101100" + kEofb, true},
      // White 2560 + 2560 + 64 + 16, black 64 + 36.
      {5300, 1, 5200, 5300,
       "001 000000011111 000000011111 11011 101010 0000001111 000011010100" + kEofb, false},
  };
  EXPECT_EQ(FromBits(cases[1].bits), (Bytes{0xFF, 0x00, 0x10, 0x01}));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.bits);
    Bilevel b(c.w, c.h, [&](int x, int) { return x >= c.x0 && x < c.x1; });
    if (c.encode) {
      EXPECT_EQ(Encode(b), FromBits(c.bits));
    }
    int status, rows;
    EXPECT_EQ(Decode(FromBits(c.bits), c.w, c.h, &status, &rows, 0x5A), b.Bits(true));
    EXPECT_EQ(status, tsl::kG4Ok);
    EXPECT_EQ(rows, c.h);
  }
}

// ---- Output capacity ------------------------------------------------------

TEST(Group4Capacity, WorstCaseBoundAndFullOutput) {
  // Single pixels in every mode: noise, checkerboards, diagonal hatching;
  // the first two code to more than twice their packed size.
  Bilevel hatch(97, 40, [](int x, int y) { return (x + y) % 2 == 0; });
  for (const Bilevel &b : {RandomImage(333, 40, 9, 500), Checkerboard(200, 30, 1),
                           Checkerboard(7, 30, 1), hatch, Bilevel(1, 5), Bilevel(8, 1)}) {
    SCOPED_TRACE(std::to_string(b.w) + "x" + std::to_string(b.h));
    int status;
    Bytes full = Encode(b, &status);
    ASSERT_EQ(status, tsl::kG4Ok);
    EXPECT_LE(full.size(), tsl::Group4WorstCaseBytes(b.w, b.h));
    EXPECT_TRUE(b.w < 200 || full.size() > 2 * b.rows.size());
    EXPECT_EQ(Encode(b, &status, full.size()), full);  // exactly its size fits
    for (size_t cap : {full.size() - 1, full.size() / 2, size_t{1}}) {
      Encode(b, &status, cap);
      EXPECT_EQ(status, tsl::kG4OutputFull) << cap;
    }
  }
  EXPECT_EQ(Encode(Bilevel(8, 1)).size(), 4u) << "an all-white 8 x 1 row takes 4 bytes";
}

TEST(Group4Capacity, RefusedArguments) {
  Bytes rows(16), out(64);
  size_t len = 7;
  uint8_t *o = out.data(), *i = rows.data();
  EXPECT_EQ(tsl::grp4comp_grp4comp(nullptr, 16, 8, 8, o, 64, &len), tsl::kG4NoInput);
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(tsl::grp4comp_grp4comp(i, 16, 8, 8, nullptr, 64, &len), tsl::kG4NoOutput);
  EXPECT_EQ(tsl::grp4comp_grp4comp(i, 7, 8, 8, o, 64, &len), tsl::kG4NoInput) << "short input";
  EXPECT_EQ(tsl::grp4comp_grp4comp(i, 16, 0, 8, o, 64, &len), tsl::kG4BadSize);
  EXPECT_EQ(tsl::grp4comp_grp4comp(i, 16, 8, -1, o, 64, &len), tsl::kG4BadSize);
  int r;
  EXPECT_EQ(tsl::grp4deco_grp4decomp(nullptr, 4, 8, 8, o, 64, &r), tsl::kG4NoInput);
  EXPECT_EQ(tsl::grp4deco_grp4decomp(i, 4, 8, 8, nullptr, 64, &r), tsl::kG4NoOutput);
  EXPECT_EQ(tsl::grp4deco_grp4decomp(i, 4, 8, 8, o, 7, &r), tsl::kG4NoOutput) << "small area";
  EXPECT_EQ(tsl::grp4deco_grp4decomp(i, 4, -8, 8, o, 64, &r), tsl::kG4BadSize);
  EXPECT_EQ(tsl::grp4deco_grp4decomp(i, 4, 0x7FFFFFFF, 0x7FFFFFFF, o, 64, &r), tsl::kG4NoOutput);
}

// ---- Damaged streams -------------------------------------------------------
// Decode() itself checks that each ends with a status and a sane row count;
// the sanitizer build checks that no memory outside input and area is touched.

TEST(Group4Damaged, TruncatedStreamsKeepTheirRows) {
  for (const Bilevel &b : {RandomImage(100, 20, 3, 200), BlobImage(61, 30, 4)}) {
    Bytes s = Encode(b), want = b.Bits(true);
    for (size_t n = 0; n < s.size(); ++n) {
      int status, rows;
      Bytes out = Decode(Bytes(s.begin(), s.begin() + n), b.w, b.h, &status, &rows);
      if (status == tsl::kG4Ok) {
        EXPECT_EQ(rows, b.h) << n;  // only the end code was cut
      } else {
        EXPECT_TRUE(status == tsl::kG4Truncated || status == tsl::kG4Damaged) << n;
      }
      size_t whole = static_cast<size_t>(rows) * b.w / 8;
      EXPECT_TRUE(std::equal(out.begin(), out.begin() + whole, want.begin())) << n;
    }
  }
}

TEST(Group4Damaged, FlippedBitsAndRandomBytes) {
  Bytes grey = tsltest::RidgeImage(90, 40, 7);
  Bytes s = Encode(Bilevel(90, 40, [&](int x, int y) { return grey[y * 90 + x] < 128; }));
  for (size_t bit = 0; bit < s.size() * 8; ++bit) {
    Bytes d = s;
    d[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
    Decode(d, 90, 40);
  }
  Rng rng(11);
  for (int k = 0; k < 3000; ++k) {
    Bytes d = s;
    for (int f = 0; f < 4; ++f) d[rng.Below(d.size())] ^= static_cast<uint8_t>(rng.Next());
    Decode(d, 90, 40);
    Bytes r(1 + rng.Below(64));
    for (auto &c : r) c = static_cast<uint8_t>(rng.Next() >> (rng.Below(2) ? 0 : 3));
    Decode(r, 1 + rng.Below(80), 1 + rng.Below(30));
  }
}

TEST(Group4Damaged, HandBuiltFaults) {
  std::string zero_runs = "1";  // row 0 white, then zero-length runs forever
  for (int k = 0; k < 100; ++k) zero_runs += " 001 00110101 0000110111";
  const struct {
    const char *what;
    std::string bits;
    int h, status, rows;
  } cases[] = {
      {"run past the width", "001 0001000 010", 2, tsl::kG4Damaged, 0},  // white 20 in 16
      {"vertical left of a0", "001 110100 010 0000010", 2, tsl::kG4Damaged, 0},  // W14 B1 VL3
      {"vertical past the width", "011", 2, tsl::kG4Damaged, 0},  // VR1 from b1 = 16
      {"make-up codes without end", "001 000000011111 000000011111 000000011111", 2,
       tsl::kG4Damaged, 0},
      {"eight zeros in a black run", "001 0111 00000000 1111", 2, tsl::kG4Damaged, 0},
      {"stream ends inside a row", "001 0111", 2, tsl::kG4Truncated, 0},
      {"no bits for a ninth row", "11111111", 9, tsl::kG4Truncated, 8},
      {"endless zero-length runs", zero_runs, 2, tsl::kG4Damaged, 1},
      {"end code ends whatever follows", "000000 101010101010101010 1", 4, tsl::kG4Ok, 0},
  };
  for (const auto &c : cases) {
    int status, rows;
    Bytes out = Decode(FromBits(c.bits), 16, c.h, &status, &rows, 0x77);
    EXPECT_EQ(status, c.status) << c.what;
    EXPECT_EQ(rows, c.rows) << c.what;
    EXPECT_TRUE(c.status != tsl::kG4Ok || out == Bytes(8, 0x77)) << "area untouched";
  }
  // A damaged row keeps its decoded start: white 4, black 4, run past the width.
  int status;
  Bytes out = Decode(FromBits("001 1011 011 001 0001000 010"), 16, 1, &status, nullptr, 0x55);
  EXPECT_EQ(status, tsl::kG4Damaged);
  EXPECT_EQ(out, (Bytes{0x0F, 0x55}));
}

}  // namespace
