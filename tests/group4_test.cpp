// Group 4 coder and decoder against libtiff's fax codec, hand-built streams,
// output capacity and damaged input.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
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
  size_t row_bytes;
  Bytes rows;
  Bilevel(int width, int height)
      : w(width), h(height), row_bytes((width + 7) / 8), rows(row_bytes * height) {}
  void Set(int x, int y, bool black = true) {
    uint8_t &b = rows[y * row_bytes + x / 8];
    uint8_t m = static_cast<uint8_t>(0x80 >> (x % 8));
    b = black ? (b | m) : (b & ~m);
  }
  bool Get(int x, int y) const { return rows[y * row_bytes + x / 8] & (0x80 >> (x % 8)); }
  // The image as one continuous bit string, as the decoder writes it.
  Bytes Continuous() const {
    Bytes out((static_cast<size_t>(w) * h + 7) / 8);
    size_t i = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x, ++i)
        if (Get(x, y)) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    return out;
  }
  // Rows with the bits past the width cleared.
  Bytes Clean() const {
    Bilevel c(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (Get(x, y)) c.Set(x, y);
    return c.rows;
  }
};

Bytes Encode(const Bytes &rows, int w, int h, int *status = nullptr) {
  size_t cap = tsl::Group4WorstCaseBytes(w, h);
  if (cap == 0) cap = 16;
  Bytes out(cap);
  size_t len = 0;
  int s = tsl::grp4comp_grp4comp(rows.data(), rows.size(), w, h, out.data(), cap, &len);
  if (status) *status = s;
  out.resize(len);
  return out;
}

// Decodes into an area of exactly ceil(w x h / 8) bytes (so the sanitizer
// sees any write past it), pre-filled with fill.
Bytes Decode(const Bytes &stream, int w, int h, int *status = nullptr, int *rows = nullptr,
             uint8_t fill = 0) {
  size_t n = (static_cast<size_t>(w) * h + 7) / 8;
  std::unique_ptr<uint8_t[]> area(new uint8_t[n ? n : 1]);
  std::memset(area.get(), fill, n);
  // A private copy of exactly the stream's length, for the same reason.
  std::unique_ptr<uint8_t[]> in(new uint8_t[stream.size() ? stream.size() : 1]);
  if (!stream.empty()) std::memcpy(in.get(), stream.data(), stream.size());
  int r = 0;
  int s = tsl::grp4deco_grp4decomp(in.get(), stream.size(), w, h, area.get(), n, &r);
  if (status) *status = s;
  if (rows) *rows = r;
  return Bytes(area.get(), area.get() + n);
}

// '0'/'1' text (spaces ignored) to bytes, padded with 0 bits.
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

const char kEofb[] = "000000000001 000000000001";

// ---- Test images --------------------------------------------------------

Bilevel RandomImage(int w, int h, uint64_t seed, int black_per_mille) {
  Rng rng(seed);
  Bilevel b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (static_cast<int>(rng.Below(1000)) < black_per_mille) b.Set(x, y);
  // Garbage in the padding bits must not change the coding.
  for (int y = 0; y < h && w % 8; ++y) b.rows[y * b.row_bytes + b.row_bytes - 1] |= 0xFF >> (w % 8);
  return b;
}

Bilevel BlobImage(int w, int h, uint64_t seed) {
  Rng rng(seed);
  Bilevel b(w, h);
  int blobs = 1 + w * h / 400;
  for (int k = 0; k < blobs; ++k) {
    int cx = rng.Below(w), cy = rng.Below(h), r = 1 + rng.Below(12);
    bool black = rng.Below(4) != 0;
    for (int y = std::max(0, cy - r); y < std::min(h, cy + r + 1); ++y)
      for (int x = std::max(0, cx - r); x < std::min(w, cx + r + 1); ++x)
        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) b.Set(x, y, black);
  }
  return b;
}

Bilevel Checkerboard(int w, int h, int cell) {
  Bilevel b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if ((x / cell + y / cell) % 2) b.Set(x, y);
  return b;
}

// Rows of long runs of both colours (beyond 2560 where the width allows),
// with small shifts between rows so every vertical offset occurs.
Bilevel LongRunImage(int w, int h, uint64_t seed) {
  Rng rng(seed);
  Bilevel b(w, h);
  std::vector<int> edges;
  for (int x = 0; x < w;) {
    x += 1 + (rng.Below(3) == 0 ? rng.Below(6000) : rng.Below(200));
    edges.push_back(x);
  }
  for (int y = 0; y < h; ++y) {
    bool black = y % 3 == 0;
    int start = 0;
    for (size_t k = 0; k < edges.size(); ++k) {
      int end = std::min(w, edges[k] + static_cast<int>(rng.Below(9)) - 4);
      for (int x = start; x < end; ++x)
        if (black) b.Set(x, y);
      start = std::max(start, end);
      black = !black;
    }
  }
  return b;
}

// Ridges of a synthetic fingerprint, thresholded.
Bilevel RidgeBilevel(int w, int h, uint64_t seed) {
  Bytes grey = tsltest::RidgeImage(w, h, seed);
  Bilevel b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (grey[static_cast<size_t>(y) * w + x] < 128) b.Set(x, y);
  return b;
}

std::vector<int> Widths() {
  std::vector<int> w;
  for (int i = 1; i <= 40; ++i) w.push_back(i);
  for (int i : {63, 64, 65, 100, 127, 128, 129, 255, 256, 257, 511, 1000, 1023, 1024, 1025, 1728,
                2047, 2048, 2550, 2559, 2560, 2561, 2623, 2624, 2625, 3000})
    w.push_back(i);
  return w;
}

int HeightFor(int w) { return w < 100 ? 23 : w < 1100 ? 9 : 4; }

// Our stream must equal libtiff's byte for byte, libtiff must read ours back
// without complaint, and our decoder must read libtiff's.
void CheckAgainstLibtiff(const Bilevel &b, const std::string &what) {
  SCOPED_TRACE(what + " " + std::to_string(b.w) + "x" + std::to_string(b.h));
  int status;
  Bytes ours = Encode(b.rows, b.w, b.h, &status);
  ASSERT_EQ(status, tsl::kG4Ok);
  Bytes theirs = g4ref::Encode(b.rows, b.w, b.h);
  ASSERT_FALSE(theirs.empty());
  ASSERT_EQ(ours, theirs);

  g4ref::Complaints() = 0;
  Bytes back = g4ref::Decode(ours, b.w, b.h);
  EXPECT_EQ(g4ref::Complaints(), 0);
  EXPECT_EQ(back, b.Clean());

  int rows;
  Bytes decoded = Decode(theirs, b.w, b.h, &status, &rows, 0xA5);
  size_t bits = static_cast<size_t>(b.w) * b.h;
  if (bits % 8) decoded.back() &= static_cast<uint8_t>(0xFF00 >> (bits % 8));  // not image bits
  EXPECT_EQ(status, tsl::kG4Ok);
  EXPECT_EQ(rows, b.h);
  EXPECT_EQ(decoded, b.Continuous());
}

class Group4Reference : public ::testing::Test {
 protected:
  void SetUp() override { g4ref::Quiet(); }
};

TEST_F(Group4Reference, RandomImagesMatchLibtiff) {
  for (int w : Widths())
    for (int density : {500, 100, 15})
      CheckAgainstLibtiff(RandomImage(w, HeightFor(w), w * 7 + density, density),
                          "random " + std::to_string(density));
}

TEST_F(Group4Reference, BlobImagesMatchLibtiff) {
  for (int w : Widths()) CheckAgainstLibtiff(BlobImage(w, HeightFor(w) * 3, w), "blobs");
}

TEST_F(Group4Reference, CheckerboardsMatchLibtiff) {
  for (int w : Widths())
    for (int cell : {1, 2, 3, 4, 7})
      CheckAgainstLibtiff(Checkerboard(w, HeightFor(w), cell), "checker " + std::to_string(cell));
}

TEST_F(Group4Reference, LongRunsMatchLibtiff) {
  for (int w : {1, 9, 64, 2559, 2560, 2561, 2623, 2624, 2625, 5119, 5120, 5184, 5200, 7777})
    for (uint64_t seed = 1; seed <= 4; ++seed) CheckAgainstLibtiff(LongRunImage(w, 12, seed), "runs");
}

TEST_F(Group4Reference, RidgeImagesMatchLibtiff) {
  for (int w : {37, 256, 301, 800}) CheckAgainstLibtiff(RidgeBilevel(w, 200, w), "ridges");
}

// Run lengths from 0 to past 2 x 2560 in both colours, each coded as
// libtiff codes it.
TEST_F(Group4Reference, EveryRunLengthCodesAsLibtiffDoes) {
  // Every length below 200, then every 13th, which meets every make-up code.
  for (int n = 0; n <= 5200; n += (n < 200 ? 1 : 13)) {
    Bilevel r(n + 3, 1);
    for (int x = n; x < n + 3; ++x) r.Set(x, 0);  // white run n, black 3
    CheckAgainstLibtiff(r, "white run " + std::to_string(n));
    Bilevel k(n + 3, 1);
    for (int x = 1; x < n + 1; ++x) k.Set(x, 0);  // white 1, black run n, white 2
    CheckAgainstLibtiff(k, "black run " + std::to_string(n));
  }
}

// ---- Hand-built streams --------------------------------------------------

TEST(Group4Vectors, EmptyImageIsEndCodeAlone) {
  int status;
  EXPECT_EQ(Encode(Bytes(1), 8, 0, &status), (Bytes{0x00, 0x10, 0x01}));
  EXPECT_EQ(status, tsl::kG4Ok);
}

TEST(Group4Vectors, WhiteEightByEight) {
  EXPECT_EQ(Encode(Bytes(8), 8, 8), (Bytes{0xFF, 0x00, 0x10, 0x01}));
  int status, rows;
  EXPECT_EQ(Decode(Bytes{0xFF, 0x00, 0x10, 0x01}, 8, 8, &status, &rows, 0x5A), Bytes(8));
  EXPECT_EQ(status, tsl::kG4Ok);
  EXPECT_EQ(rows, 8);
}

TEST(Group4Vectors, BlackRowOfSixteen) {
  const Bytes stream{0x26, 0xA0, 0xB8, 0x00, 0x80, 0x08};
  EXPECT_EQ(Encode(Bytes{0xFF, 0xFF}, 16, 1), stream);
  EXPECT_EQ(FromBits(std::string("001 00110101 0000010111") + kEofb), stream);
  EXPECT_EQ(Decode(stream, 16, 1), (Bytes{0xFF, 0xFF}));
}

TEST(Group4Vectors, RunsOf2560And2624) {
  // White 2560 then black 40; white 2624 then black 40.
  for (int run : {2560, 2624}) {
    Bilevel b(run + 40, 1);
    for (int x = run; x < run + 40; ++x) b.Set(x, 0);
    std::string bits = "001 000000011111 ";
    if (run == 2624) bits += "11011 ";
    bits += "00110101 000001101100";
    Bytes expected = FromBits(bits + kEofb);
    EXPECT_EQ(Encode(b.rows, b.w, 1), expected) << run;
    EXPECT_EQ(Decode(expected, b.w, 1), b.Continuous()) << run;
  }
}

TEST(Group4Vectors, RunBuiltOfSeveralCodes) {
  // White 2560 + 2560 + 64 + 16 = 5200, then black 100 (make-up 64, 36).
  Bytes stream = FromBits(std::string("001 000000011111 000000011111 11011 101010 ") +
                          "0000001111 000011010100" + kEofb);
  Bilevel b(5300, 1);
  for (int x = 5200; x < 5300; ++x) b.Set(x, 0);
  int status;
  EXPECT_EQ(Decode(stream, 5300, 1, &status), b.Continuous());
  EXPECT_EQ(status, tsl::kG4Ok);
}

TEST(Group4Vectors, EndCodeEndsWhateverFollows) {
  // Six 0 bits and 18 arbitrary bits: nothing decoded, area untouched.
  int status, rows;
  Bytes out = Decode(FromBits("000000 101010101010101010 1"), 8, 4, &status, &rows, 0x77);
  EXPECT_EQ(out, Bytes(4, 0x77));
  EXPECT_EQ(status, tsl::kG4Ok);
  EXPECT_EQ(rows, 0);
}

TEST(Group4Vectors, RowsAreNotPaddedForOddWidths) {
  // Width 12, two rows: black first row; the second row starts at bit 12.
  Bilevel b(12, 2);
  for (int x = 0; x < 12; ++x) b.Set(x, 0);
  b.Set(0, 1);
  Bytes out = Decode(Encode(b.rows, 12, 2), 12, 2);
  EXPECT_EQ(out, (Bytes{0xFF, 0xF8, 0x00}));
}

TEST(Group4Vectors, NarrowRowsCodeEveryPixel) {
  for (int w = 1; w < 8; ++w) {
    Bilevel b(w, 3);
    b.Set(w - 1, 0);
    b.Set(0, 2);
    Bytes out = Decode(Encode(b.rows, w, 3), w, 3);
    EXPECT_EQ(out, b.Continuous()) << w;
  }
}

// ---- Output capacity ------------------------------------------------------

TEST(Group4Capacity, FullOutputFailsWithoutWritingPastIt) {
  for (const Bilevel &b : {RandomImage(301, 17, 5, 500), Checkerboard(64, 8, 1), Bilevel(8, 1)}) {
    Bytes full = Encode(b.rows, b.w, b.h);
    ASSERT_GT(full.size(), 1u);
    size_t len = 99;
    // Exactly the stream's size: fits.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[full.size()]);
    EXPECT_EQ(tsl::grp4comp_grp4comp(b.rows.data(), b.rows.size(), b.w, b.h, exact.get(),
                                     full.size(), &len),
              tsl::kG4Ok);
    EXPECT_EQ(Bytes(exact.get(), exact.get() + len), full);
    // One byte short, and much shorter: refused, nothing past the area.
    for (size_t cap : {full.size() - 1, full.size() / 2, size_t{1}}) {
      std::unique_ptr<uint8_t[]> small(new uint8_t[cap]);
      EXPECT_EQ(tsl::grp4comp_grp4comp(b.rows.data(), b.rows.size(), b.w, b.h, small.get(), cap,
                                       &len),
                tsl::kG4OutputFull);
      EXPECT_EQ(len, 0u);
    }
  }
}

TEST(Group4Capacity, WorstCaseBoundHoldsForNoise) {
  // Single pixels in every mode: random, checkerboards, diagonal hatching.
  std::vector<Bilevel> images{RandomImage(333, 40, 9, 500), Checkerboard(200, 30, 1),
                              Checkerboard(7, 30, 1), Bilevel(1, 5)};
  Bilevel hatch(97, 40);
  for (int y = 0; y < 40; ++y)
    for (int x = (y * 3) % 2; x < 97; x += 2) hatch.Set(x, y);
  images.push_back(hatch);
  images.back().Set(0, 0);
  for (size_t i = 0; i < images.size(); ++i) {
    const Bilevel &b = images[i];
    Bytes s = Encode(b.rows, b.w, b.h);
    EXPECT_LE(s.size(), tsl::Group4WorstCaseBytes(b.w, b.h));
    if (i < 2) {
      EXPECT_GT(s.size(), 2 * b.rows.size()) << "more than twice the packed size";
    }
    EXPECT_EQ(Decode(s, b.w, b.h), b.Continuous());
  }
  // An all-white 8 x 1 row takes 4 bytes, twice its packed size.
  EXPECT_EQ(Encode(Bytes(1), 8, 1).size(), 4u);
}

TEST(Group4Capacity, RefusedArguments) {
  Bytes rows(16), out(64);
  size_t len = 7;
  EXPECT_EQ(tsl::grp4comp_grp4comp(nullptr, 16, 8, 8, out.data(), 64, &len), tsl::kG4NoInput);
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(tsl::grp4comp_grp4comp(rows.data(), 16, 8, 8, nullptr, 64, &len), tsl::kG4NoOutput);
  EXPECT_EQ(tsl::grp4comp_grp4comp(rows.data(), 7, 8, 8, out.data(), 64, &len), tsl::kG4NoInput)
      << "input shorter than the rows";
  EXPECT_EQ(tsl::grp4comp_grp4comp(rows.data(), 16, 0, 8, out.data(), 64, &len), tsl::kG4BadSize);
  EXPECT_EQ(tsl::grp4comp_grp4comp(rows.data(), 16, 8, -1, out.data(), 64, &len),
            tsl::kG4BadSize);
  int r;
  EXPECT_EQ(tsl::grp4deco_grp4decomp(nullptr, 4, 8, 8, out.data(), 64, &r), tsl::kG4NoInput);
  EXPECT_EQ(tsl::grp4deco_grp4decomp(rows.data(), 4, 8, 8, nullptr, 64, &r), tsl::kG4NoOutput);
  EXPECT_EQ(tsl::grp4deco_grp4decomp(rows.data(), 4, 8, 8, out.data(), 7, &r), tsl::kG4NoOutput)
      << "area smaller than the image";
  EXPECT_EQ(tsl::grp4deco_grp4decomp(rows.data(), 4, -8, 8, out.data(), 64, &r), tsl::kG4BadSize);
  EXPECT_EQ(tsl::grp4deco_grp4decomp(rows.data(), 4, 0x7FFFFFFF, 0x7FFFFFFF, out.data(), 64, &r),
            tsl::kG4NoOutput);
}

// ---- Damaged streams -------------------------------------------------------

// Decoding must end with a status and never touch memory outside the input
// and the output area (the sanitizer build checks the latter).
void DecodeSurvives(const Bytes &stream, int w, int h) {
  int status = 1, rows = -1;
  Decode(stream, w, h, &status, &rows);
  EXPECT_LE(status, 0);
  EXPECT_GE(rows, 0);
  EXPECT_LE(rows, h);
}

TEST(Group4Damaged, TruncatedStreams) {
  for (const Bilevel &b : {RandomImage(100, 20, 3, 200), BlobImage(61, 30, 4)}) {
    Bytes s = Encode(b.rows, b.w, b.h);
    for (size_t n = 0; n < s.size(); ++n) {
      Bytes cut(s.begin(), s.begin() + n);
      int status, rows;
      Bytes out = Decode(cut, b.w, b.h, &status, &rows);
      if (status == tsl::kG4Ok) {
        EXPECT_EQ(rows, b.h) << n;  // only the end code was cut
      } else {
        EXPECT_TRUE(status == tsl::kG4Truncated || status == tsl::kG4Damaged) << n;
      }
      // Rows decoded before the cut are right.
      Bytes want = b.Continuous();
      size_t whole = static_cast<size_t>(rows) * b.w / 8;
      EXPECT_TRUE(std::equal(out.begin(), out.begin() + whole, want.begin())) << n;
    }
  }
}

TEST(Group4Damaged, FlippedBits) {
  Bilevel b = RidgeBilevel(90, 40, 7);
  Bytes s = Encode(b.rows, b.w, b.h);
  for (size_t bit = 0; bit < s.size() * 8; ++bit) {
    Bytes d = s;
    d[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
    DecodeSurvives(d, b.w, b.h);
  }
  Rng rng(11);
  for (int k = 0; k < 3000; ++k) {
    Bytes d = s;
    for (int f = 0; f < 4; ++f) d[rng.Below(d.size())] ^= static_cast<uint8_t>(rng.Next());
    DecodeSurvives(d, b.w, b.h);
  }
}

TEST(Group4Damaged, RandomBytes) {
  Rng rng(12);
  for (int k = 0; k < 3000; ++k) {
    Bytes d(1 + rng.Below(64));
    for (auto &c : d) c = static_cast<uint8_t>(rng.Next() >> (rng.Below(2) ? 0 : 3));
    DecodeSurvives(d, 1 + rng.Below(80), 1 + rng.Below(30));
  }
}

TEST(Group4Damaged, HandBuiltFaults) {
  struct Case {
    const char *what;
    std::string bits;
    int status;
  };
  const Case cases[] = {
      {"run past the width", "001 0001000 010", tsl::kG4Damaged},  // white 20 in 16
      {"vertical left of a0", "001 110100 010 0000010", tsl::kG4Damaged},  // W14 B1, VL3
      {"vertical past the width", "011", tsl::kG4Damaged},  // VR1 from b1 = 16
      {"make-up codes without end", "001 000000011111 000000011111 000000011111",
       tsl::kG4Damaged},
      {"eight zeros in a black run", "001 0111 00000000 1111", tsl::kG4Damaged},
      {"stream ends inside a row", "001 0111", tsl::kG4Truncated},
  };
  for (const Case &c : cases) {
    int status, rows;
    Decode(FromBits(c.bits), 16, 2, &status, &rows);
    EXPECT_EQ(status, c.status) << c.what;
  }
  // Eight all-white rows fill the byte exactly; a ninth has no bits left.
  int status, rows;
  Decode(FromBits("11111111"), 16, 9, &status, &rows);
  EXPECT_EQ(status, tsl::kG4Truncated);
  EXPECT_EQ(rows, 8);
  // Zero-length runs cannot run a row forever: the change list is bounded.
  std::string zeros = "1";  // row 0 all white
  for (int k = 0; k < 100; ++k) zeros += " 001 00110101 0000110111";
  Decode(FromBits(zeros), 16, 2, &status);
  EXPECT_EQ(status, tsl::kG4Damaged);
}

TEST(Group4Damaged, DamagedRowKeepsItsDecodedStart) {
  // Row 0: white 4, black 4, then a run past the width.
  int status, rows;
  Bytes out = Decode(FromBits("001 1011 011 001 0001000 010"), 16, 1, &status, &rows, 0x55);
  EXPECT_EQ(status, tsl::kG4Damaged);
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(out[0], 0x0F);
  EXPECT_EQ(out[1], 0x55);
}

}  // namespace
