// Group 4 coder and decoder against libtiff's fax codec, hand-built streams,
// output capacity and damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>

#include "group4_reference.h"
#include "nist/group4.h"
#include "support/test_support.h"

namespace {

using tsltest::Bytes;
using tsltest::Rng;

// A bi-level image, one byte per pixel (1 black), and its packed forms:
// rows of ceil(w / 8) bytes, or one continuous bit string as the decoder
// writes it. The coder gets rows with garbage in the padding bits, which
// must not change the coding.
struct Bilevel {
  int w, h;
  Bytes px;
  Bytes Pack(bool continuous, bool garbage = false) const {
    size_t rb = (w + 7) / 8;
    Bytes out(continuous ? (static_cast<size_t>(w) * h + 7) / 8 : rb * h);
    for (size_t y = 0; y < static_cast<size_t>(h); ++y) {
      for (size_t x = 0, i = continuous ? y * w : y * rb * 8; x < static_cast<size_t>(w); ++x, ++i)
        if (px[y * w + x]) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
      if (garbage && w % 8) out[y * rb + rb - 1] |= 0xFF >> (w % 8);
    }
    return out;
  }
};
Bilevel Make(int w, int h, const std::function<bool(int, int)> &black) {
  Bilevel b{w, h, Bytes(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.px[static_cast<size_t>(y) * w + x] = black(x, y);
  return b;
}

// Coding and decoding work on copies of exactly the sizes given, so the
// sanitizer build sees any access past them.
Bytes Encode(const Bilevel &b, int *status = nullptr, size_t cap = 0) {
  Bytes rows = b.Pack(false, true), out(cap ? cap : tsl::Group4WorstCaseBytes(b.w, b.h) + 16);
  rows.reserve(1);  // a valid pointer even for height 0
  size_t len = 99;
  int s = tsl::grp4comp_grp4comp(rows.data(), rows.size(), b.w, b.h, out.data(), out.size(), &len);
  if (status) *status = s;
  EXPECT_TRUE(s == tsl::kG4Ok || len == 0) << s;
  out.resize(len);
  return out;
}

// Decodes into an area of ceil(w x h / 8) bytes pre-filled with fill; bits
// past w x h in the last byte come back 0.
Bytes Decode(const Bytes &stream, int w, int h, int *status = nullptr, int *rows = nullptr,
             uint8_t fill = 0) {
  size_t bits = static_cast<size_t>(w) * h, n = (bits + 7) / 8;
  Bytes in(stream), area(n + !n, fill);
  in.reserve(1);
  int r = -1, s = tsl::grp4deco_grp4decomp(in.data(), in.size(), w, h, area.data(), n, &r);
  if (status) *status = s;
  if (rows) *rows = r;
  EXPECT_TRUE(s <= 0 && r >= 0 && r <= h) << s << " " << r;
  area.resize(n);
  if (bits % 8) area[n - 1] &= static_cast<uint8_t>(0xFF00 >> (bits % 8));
  return area;
}

// '0'/'1' text (other characters ignored) to bytes, padded with 0 bits.
Bytes FromBits(const std::string &text) {
  Bytes out;
  size_t n = 0;
  for (char c : text) {
    if (c == '0' || c == '1') out.resize(n / 8 + 1), out[n / 8] |= (c - '0') << (7 - n % 8), ++n;
  }
  return out;
}
const std::string kEofb = " 000000000001 000000000001";

// ---- Test images --------------------------------------------------------

Bilevel RandomImage(int w, int h, uint64_t seed, uint32_t black_per_mille) {
  Rng rng(seed);
  return Make(w, h, [&](int, int) { return rng.Below(1000) < black_per_mille; });
}

Bilevel BlobImage(int w, int h, uint64_t seed) {
  Rng rng(seed);
  std::vector<std::array<int, 4>> blobs(1 + w * h / 400);  // x, y, radius, black
  for (auto &b : blobs)
    b = {static_cast<int>(rng.Below(w)), static_cast<int>(rng.Below(h)),
         1 + static_cast<int>(rng.Below(12)), rng.Below(4) != 0};
  return Make(w, h, [&](int x, int y) {
    bool black = false;
    for (const auto &b : blobs)
      if ((x - b[0]) * (x - b[0]) + (y - b[1]) * (y - b[1]) <= b[2] * b[2]) black = b[3];
    return black;
  });
}

Bilevel Checkerboard(int w, int h, int cell) {
  return Make(w, h, [&](int x, int y) { return (x / cell + y / cell) % 2 == 1; });
}

// Rows of long runs of both colours (beyond 2560 where the width allows),
// with small shifts between rows so every vertical offset occurs.
Bilevel LongRunImage(int w, int h, uint64_t seed) {
  Rng rng(seed);
  std::vector<int> edges{0};
  while (edges.back() < w)
    edges.push_back(edges.back() + 1 + (rng.Below(3) ? rng.Below(200) : rng.Below(6000)));
  std::vector<std::vector<int>> rows(h, edges);
  for (auto &r : rows)
    for (size_t k = 1; k < r.size(); ++k) r[k] = std::max(r[k - 1], r[k] + int(rng.Below(9)) - 4);
  return Make(w, h, [&](int x, int y) {
    size_t run = std::upper_bound(rows[y].begin(), rows[y].end(), x) - rows[y].begin();
    return (run % 2 == 1) == (y % 3 == 0);
  });
}

Bilevel Ridges(int w, int h, uint64_t seed) {
  Bytes grey = tsltest::RidgeImage(w, h, seed);
  return Make(w, h, [&](int x, int y) { return grey[static_cast<size_t>(y) * w + x] < 128; });
}

// Our stream must equal libtiff's byte for byte, libtiff must read ours back
// without complaint, and our decoder must read libtiff's.
void CheckAgainstLibtiff(const Bilevel &b, const char *what) {
  SCOPED_TRACE(what + (" " + std::to_string(b.w) + "x" + std::to_string(b.h)));
  int status, rows;
  Bytes ours = Encode(b, &status), theirs = g4ref::Encode(b.Pack(false, true), b.w, b.h);
  ASSERT_EQ(status, tsl::kG4Ok);
  ASSERT_FALSE(theirs.empty());
  ASSERT_EQ(ours, theirs);
  g4ref::Complaints() = 0;
  EXPECT_EQ(g4ref::Decode(ours, b.w, b.h), b.Pack(false));
  EXPECT_EQ(g4ref::Complaints(), 0);
  EXPECT_EQ(Decode(theirs, b.w, b.h, &status, &rows, 0xA5), b.Pack(true));
  EXPECT_TRUE(status == tsl::kG4Ok && rows == b.h) << status << " " << rows;
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
    for (uint64_t s = 1; s <= 4; ++s) CheckAgainstLibtiff(LongRunImage(w, 12, s), "long runs");
  for (int w : {37, 256, 301, 800}) CheckAgainstLibtiff(Ridges(w, 200, w), "ridges");
  // Run lengths from 0 to past 2 x 2560 in both colours: every length below
  // 200, then every 13th, which meets every make-up code.
  for (int n = 0; n <= 5200; n += (n < 200 ? 1 : 13)) {
    CheckAgainstLibtiff(Make(n + 3, 1, [&](int x, int) { return x >= n; }), "white run");
    CheckAgainstLibtiff(Make(n + 3, 1, [&](int x, int) { return x > 0 && x <= n; }), "black run");
  }
}

TEST(Group4Vectors, HandCodedStreams) {
  const struct {
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
  for (const auto &c : cases) {
    SCOPED_TRACE(c.bits);
    Bilevel b = Make(c.w, c.h, [&](int x, int) { return x >= c.x0 && x < c.x1; });
    EXPECT_TRUE(!c.encode || Encode(b) == FromBits(c.bits));
    int status, rows;
    EXPECT_EQ(Decode(FromBits(c.bits), c.w, c.h, &status, &rows, 0x5A), b.Pack(true));
    EXPECT_TRUE(status == tsl::kG4Ok && rows == c.h) << status << " " << rows;
  }
}

TEST(Group4Capacity, WorstCaseBoundAndFullOutput) {
  // Single pixels in every mode: noise, checkerboards, diagonal hatching;
  // the first two code to more than twice their packed size.
  auto white = [](int, int) { return false; };
  for (const Bilevel &b : {RandomImage(333, 40, 9, 500), Checkerboard(200, 30, 1),
                           Checkerboard(7, 30, 1), Checkerboard(97, 40, 1), Make(1, 5, white),
                           Make(8, 1, white)}) {
    SCOPED_TRACE(std::to_string(b.w) + "x" + std::to_string(b.h));
    int status;
    Bytes full = Encode(b, &status);
    ASSERT_EQ(status, tsl::kG4Ok);
    EXPECT_LE(full.size(), tsl::Group4WorstCaseBytes(b.w, b.h));
    EXPECT_TRUE(b.w < 200 || full.size() > 2 * b.Pack(false).size());
    EXPECT_TRUE(b.w != 8 || full.size() == 4) << "an all-white 8 x 1 row takes 4 bytes";
    EXPECT_EQ(Encode(b, &status, full.size()), full);  // exactly its size fits
    for (size_t cap : {full.size() - 1, full.size() / 2, size_t{1}}) {
      Encode(b, &status, cap);
      EXPECT_EQ(status, tsl::kG4OutputFull) << cap;
    }
  }
}

// The work areas' sizes are checked before anything is read or written.
TEST(Group4Capacity, RefusedArguments) {
  uint8_t in[16] = {}, out[64];
  size_t len = 7;
  int r;
  EXPECT_EQ(tsl::grp4comp_grp4comp(in, 7, 8, 8, out, 64, &len), tsl::kG4NoInput) << "short input";
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(tsl::grp4comp_grp4comp(in, 16, 0, 8, out, 64, &len), tsl::kG4BadSize);
  EXPECT_EQ(tsl::grp4comp_grp4comp(in, 16, 8, -1, out, 64, &len), tsl::kG4BadSize);
  EXPECT_EQ(tsl::grp4deco_grp4decomp(in, 4, 8, 8, out, 7, &r), tsl::kG4NoOutput) << "small area";
  EXPECT_EQ(tsl::grp4deco_grp4decomp(in, 4, -8, 8, out, 64, &r), tsl::kG4BadSize);
  EXPECT_EQ(tsl::grp4deco_grp4decomp(in, 4, 0x7FFFFFFF, 0x7FFFFFFF, out, 64, &r), tsl::kG4NoOutput);
}

// ---- Damaged streams -------------------------------------------------------
// Decode() itself checks that each ends with a status and a sane row count;
// the sanitizer build checks that no memory outside input and area is touched.

TEST(Group4Damaged, TruncatedStreamsKeepTheirRows) {
  for (const Bilevel &b : {RandomImage(100, 20, 3, 200), BlobImage(61, 30, 4)}) {
    Bytes s = Encode(b), want = b.Pack(true);
    for (size_t n = 0; n < s.size(); ++n) {
      int status, rows;
      Bytes out = Decode(Bytes(s.begin(), s.begin() + n), b.w, b.h, &status, &rows);
      EXPECT_TRUE(status == tsl::kG4Ok ? rows == b.h  // only the end code was cut
                                       : status == tsl::kG4Truncated || status == tsl::kG4Damaged)
          << n;
      size_t whole = static_cast<size_t>(rows) * b.w / 8;
      EXPECT_TRUE(std::equal(out.begin(), out.begin() + whole, want.begin())) << n;
    }
  }
}

TEST(Group4Damaged, FlippedBitsAndRandomBytes) {
  Bytes s = Encode(Ridges(90, 40, 7));
  for (size_t bit = 0; bit < s.size() * 8; ++bit) {
    Bytes d = s;
    d[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
    Decode(d, 90, 40);
  }
  Rng rng(11);
  for (int k = 0; k < 3000; ++k) {
    Bytes d = s, r(1 + rng.Below(64));
    for (int f = 0; f < 4; ++f) d[rng.Below(d.size())] ^= static_cast<uint8_t>(rng.Next());
    Decode(d, 90, 40);
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
    EXPECT_TRUE(status == c.status && rows == c.rows) << c.what << ": " << status << " " << rows;
    EXPECT_TRUE(c.status != tsl::kG4Ok || out == Bytes(8, 0x77)) << "area untouched";
  }
  // A damaged row keeps its decoded start: white 4, black 4, run past the width.
  int status;
  Bytes out = Decode(FromBits("001 1011 011 001 0001000 010"), 16, 1, &status, nullptr, 0x55);
  EXPECT_EQ(status, tsl::kG4Damaged);
  EXPECT_EQ(out, (Bytes{0x0F, 0x55}));
}

}  // namespace
