// Group 4 coder and decoder against libtiff's fax codec, hand-built streams,
// output capacity and damaged input.
#include <gtest/gtest.h>

#include <algorithm>
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
  Bytes px = Bytes(static_cast<size_t>(w) * h);
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
  Bilevel b{w, h};
  for (size_t i = 0; i < b.px.size(); ++i) b.px[i] = black(int(i % w), int(i / w));
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
  if (s != tsl::kG4Ok) {
    EXPECT_EQ(len, 0u) << "a failed coding leaves no length";
  }
  out.resize(len);
  return out;
}

// Decodes into an area of ceil(w x h / 8) bytes pre-filled with fill (bits
// past w x h come back 0); every stream must end with a sane row count.
struct Decoded {
  Bytes area;
  int status, rows;  // rows: whole rows decoded
};
Decoded Decode(const Bytes &stream, int w, int h, uint8_t fill = 0) {
  size_t bits = static_cast<size_t>(w) * h, n = (bits + 7) / 8;
  Bytes in(stream), area(n + !n, fill);
  in.reserve(1);
  int r = -1, s = tsl::grp4deco_grp4decomp(in.data(), in.size(), w, h, area.data(), n, &r);
  EXPECT_GE(r, 0) << "rows decoded";
  EXPECT_LE(r, h) << "rows decoded";
  area.resize(n);
  if (bits % 8) area[n - 1] &= static_cast<uint8_t>(0xFF00 >> (bits % 8));
  return {area, s, r};
}
// The area, status and row count a decoding must give.
void ExpectDecoded(const Decoded &d, const Bytes &area, int status, int rows) {
  EXPECT_EQ(d.area, area);
  EXPECT_EQ(d.status, status);
  EXPECT_EQ(d.rows, rows);
}

// '0'/'1' text (other characters ignored) to bytes, padded with 0 bits.
Bytes FromBits(const std::string &text) {
  Bytes out;
  size_t n = 0;
  for (char c : text)
    if (c == '0' || c == '1') out.resize(n / 8 + 1), out[n / 8] |= (c - '0') << (7 - n % 8), ++n;
  return out;
}
const std::string kEofb = " 000000000001 000000000001";

Bilevel RandomImage(int w, int h, uint64_t seed, uint32_t black_per_mille) {
  Rng rng(seed);
  return Make(w, h, [&](int, int) { return rng.Below(1000) < black_per_mille; });
}
// Fingerprint-like ridges: curved shapes with ragged edges.
Bilevel Ridges(int w, int h, uint64_t seed) {
  Bytes grey = tsltest::RidgeImage(w, h, seed);
  return Make(w, h, [&](int x, int y) { return grey[static_cast<size_t>(y) * w + x] < 128; });
}
Bilevel Checkerboard(int w, int h, int cell) {
  return Make(w, h, [&](int x, int y) { return (x / cell + y / cell) % 2 == 1; });
}
Bilevel LongRuns(int w, int h, int run) {
  return Make(w, h, [&](int x, int y) { return ((x + y * y % 7) / run + (y % 3 == 0)) % 2; });
}

// Our stream must equal libtiff's byte for byte, and decode to the image.
void CheckAgainstLibtiff(const Bilevel &b, const char *what) {
  SCOPED_TRACE(what + (" " + std::to_string(b.w) + "x" + std::to_string(b.h)));
  int status;
  Bytes ours = Encode(b, &status), theirs = g4ref::Encode(b.Pack(false, true), b.w, b.h);
  ASSERT_EQ(status, tsl::kG4Ok);
  ASSERT_FALSE(theirs.empty()) << "libtiff cannot code it";
  ASSERT_EQ(ours, theirs);
  ExpectDecoded(Decode(theirs, b.w, b.h, 0xA5), b.Pack(true), tsl::kG4Ok, b.h);
}

TEST(Group4Reference, ImagesMatchLibtiff) {
  g4ref::Quiet();
  std::vector<int> widths{31, 33, 63, 64, 65, 127, 129, 255, 257, 1000, 1728, 2550, 2561, 3000};
  for (int i = 1; i <= 17; ++i) widths.push_back(i);
  for (int w : widths) {
    int h = w < 100 ? 23 : w < 1100 ? 9 : 4;
    for (uint32_t density : {500, 100, 15})
      CheckAgainstLibtiff(RandomImage(w, h, w * 7 + density, density), "random");
    CheckAgainstLibtiff(Ridges(w, h * 3, w), "ridges");
    for (int cell : {1, 2, 3, 7}) CheckAgainstLibtiff(Checkerboard(w, h, cell), "checker");
  }
  // Long runs, shifted by y * y % 7 from row to row so every vertical offset
  // occurs, colours swapped every third row.
  for (int w : {2561, 2625, 5200, 7777})
    for (int run : {700, 2559, 2624, 5121})
      CheckAgainstLibtiff(LongRuns(w, 12, run), "long runs");
  // Single rows with run lengths from 0 to past 2 x 2560 in both colours:
  // every length below 200, then every 13th, which meets every make-up code.
  for (int n = 0; n <= 5200; n += (n < 200 ? 1 : 13)) {
    CheckAgainstLibtiff(Make(n + 3, 1, [&](int x, int) { return x >= n; }), "white run");
    CheckAgainstLibtiff(Make(n + 3, 1, [&](int x, int) { return x > 0 && x <= n; }), "black run");
  }
}

TEST(Group4Vectors, HandCodedStreams) {
  const struct { int w, h, x0, x1; std::string bits; } cases[] = {  // black from x0 to x1
      {8, 0, 0, 0, kEofb},
      {8, 8, 0, 0, "11111111" + kEofb},  // FF 00 10 01
      {16, 1, 0, 16, "001 00110101 0000010111" + kEofb},  // 26 A0 B8 00 80 08
      {2600, 1, 2560, 2600, "001 000000011111 00110101 000001101100" + kEofb},
      {2664, 1, 2624, 2664, "001 000000011111 11011 00110101 000001101100" + kEofb},
  };
  for (const auto &c : cases) {
    Bilevel b = Make(c.w, c.h, [&](int x, int) { return x >= c.x0 && x < c.x1; });
    EXPECT_EQ(Encode(b), FromBits(c.bits)) << c.bits;
    ExpectDecoded(Decode(FromBits(c.bits), c.w, c.h, 0x5A), b.Pack(true), tsl::kG4Ok, c.h);
  }
}

// A run may fill the whole row: a make-up code alone reaching the width is
// no damage, one passing it is, even when the input ends right after it.
TEST(Group4Vectors, MakeUpRunAsLongAsTheRow) {
  const Bytes white(8, 0x00), black(8, 0xFF);
  ExpectDecoded(Decode(FromBits("001 11011 00110101 0000110111" + kEofb), 64, 1, 0x5A), white,
                tsl::kG4Ok, 1);
  // An all-black row is coded so: white 0, black make-up 64, black 0.
  const std::string black_row = "001 00110101 0000001111 0000110111" + kEofb;
  EXPECT_EQ(Encode(Make(64, 1, [](int, int) { return true; })), FromBits(black_row));
  ExpectDecoded(Decode(FromBits(black_row), 64, 1, 0x5A), black, tsl::kG4Ok, 1);
  ExpectDecoded(Decode(FromBits("001 11011"), 63, 1, 0x5A), Bytes(8, 0x5A), tsl::kG4Damaged, 0);
  ExpectDecoded(Decode(FromBits("001 00110101 0000001111"), 63, 1, 0x5A), Bytes(8, 0x5A),
                tsl::kG4Damaged, 0);
}

// The end code, even one the data cuts, ends the image wherever it stands
// as cut data does: the rows before it, and the decoded start of a row it
// interrupts, are kept, and what its last 18 bits hold does not matter.
TEST(Group4Vectors, EndCodeBeforeTheLastRowCutsTheImageShort) {
  ExpectDecoded(Decode(FromBits("1 1" + kEofb), 8, 4, 0x5A), (Bytes{0, 0, 0x5A, 0x5A}),
                tsl::kG4Truncated, 2);
  ExpectDecoded(Decode(FromBits("1 000000 111111111111111111"), 8, 3, 0x5A),
                (Bytes{0, 0x5A, 0x5A}), tsl::kG4Truncated, 1);
  // White 4, black 4, then the end code half way along a 16-pixel row.
  ExpectDecoded(Decode(FromBits("001 1011 011" + kEofb), 16, 2, 0x5A),
                (Bytes{0x0F, 0x5A, 0x5A, 0x5A}), tsl::kG4Truncated, 0);
  ExpectDecoded(Decode(FromBits("1 0000000"), 8, 2, 0x5A), (Bytes{0, 0x5A}), tsl::kG4Truncated, 1);
}

// Bits past the width in a row's last byte are no pixels: a change among
// them is not listed, so the row below is coded against the true row.
TEST(Group4Vectors, PaddingBitsListNoChange) {
  // Width 9: pixels 5 to 8 black in both rows; each row's padding starts
  // black (continuing pixel 8) and turns white at bit 10.
  const Bytes rows{0x07, 0xC0, 0x07, 0xC0};
  // Row 0: white 5, black 4; row 1 lies under row 0: V0, V0.
  const Bytes want = FromBits("001 1100 011 1 1" + kEofb);
  Bytes out(64);
  size_t len = 0;
  ASSERT_EQ(tsl::grp4comp_grp4comp(rows.data(), rows.size(), 9, 2, out.data(), out.size(), &len),
            tsl::kG4Ok);
  out.resize(len);
  EXPECT_EQ(out, want);
  ExpectDecoded(Decode(want, 9, 2), (Bytes{0x07, 0x83, 0xC0}), tsl::kG4Ok, 2);
}

TEST(Group4Capacity, WorstCaseBoundFullOutputAndSmallAreas) {
  // A checkerboard of single pixels is the costliest picture; an all-white
  // 8 x 1 row is nearly all overhead.
  for (const Bilevel &b : {Checkerboard(200, 30, 1), Make(8, 1, [](int, int) { return false; })}) {
    SCOPED_TRACE(b.w);
    int status;
    Bytes full = Encode(b, &status);
    EXPECT_EQ(status, tsl::kG4Ok);
    EXPECT_LE(full.size(), tsl::Group4WorstCaseBytes(b.w, b.h));
    EXPECT_EQ(Encode(b, &status, full.size()), full) << "exactly its size fits";
    Encode(b, &status, full.size() - 1);
    EXPECT_EQ(status, tsl::kG4OutputFull);
  }
  // Areas are checked against the image size before anything is touched.
  uint8_t in[16] = {}, out[64];
  size_t len = 7;
  int r;
  EXPECT_EQ(tsl::grp4comp_grp4comp(in, 7, 8, 8, out, 64, &len), tsl::kG4NoInput);
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(tsl::grp4deco_grp4decomp(in, 4, 8, 8, out, 7, &r), tsl::kG4NoOutput);
  EXPECT_EQ(tsl::grp4deco_grp4decomp(in, 4, 0x7FFFFFFF, 0x7FFFFFFF, out, 64, &r), tsl::kG4NoOutput);
}

// When width x height is not a multiple of 8 the last pixels take a byte of
// their own: an area one byte short is refused before anything is written,
// an exact one (sized so the sanitizer build sees a write past it) is
// filled.
TEST(Group4Capacity, PartialLastByteNeedsItsOwnByte) {
  for (const Bilevel &b : {Checkerboard(9, 1, 1), Ridges(5, 3, 2), Ridges(13, 7, 3)}) {
    SCOPED_TRACE(std::to_string(b.w) + "x" + std::to_string(b.h));
    const Bytes stream = Encode(b), want = b.Pack(true);
    ASSERT_NE(want.size() * 8, static_cast<size_t>(b.w) * b.h);
    Bytes short_area(want.size() - 1, 0x5A), exact(want.size());
    int r = -1;
    EXPECT_EQ(tsl::grp4deco_grp4decomp(stream.data(), stream.size(), b.w, b.h, short_area.data(),
                                       short_area.size(), &r),
              tsl::kG4NoOutput);
    EXPECT_EQ(short_area, Bytes(want.size() - 1, 0x5A)) << "written though refused";
    EXPECT_EQ(tsl::grp4deco_grp4decomp(stream.data(), stream.size(), b.w, b.h, exact.data(),
                                       exact.size(), &r),
              tsl::kG4Ok);
    exact.back() &= static_cast<uint8_t>(0xFF00 >> (static_cast<size_t>(b.w) * b.h % 8));
    EXPECT_EQ(exact, want);
  }
}

// Truncated streams keep their whole rows (the sanitizer build sees any
// access outside input and area).
TEST(Group4Damaged, TruncatedStreamsKeepTheirWholeRows) {
  Bilevel b = Ridges(61, 30, 4);
  Bytes s = Encode(b), want = b.Pack(true);
  for (size_t n = 0; n < s.size(); ++n) {
    SCOPED_TRACE(n);
    const Decoded d = Decode(Bytes(s.begin(), s.begin() + n), b.w, b.h);
    if (d.status == tsl::kG4Ok) {
      EXPECT_EQ(d.rows, b.h) << "only the end code was cut";
    } else {
      EXPECT_TRUE(d.status == tsl::kG4Truncated || d.status == tsl::kG4Damaged) << d.status;
    }
    EXPECT_TRUE(std::equal(want.begin(), want.begin() + d.rows * b.w / 8, d.area.begin()));
  }
}

TEST(Group4Damaged, HandBuiltFaults) {
  // Width 16: a white run of 20; white 14, black 1, then a vertical code left
  // of a0; row 0 white, then zero-length runs forever.
  std::string zero_runs = "1";
  for (int k = 0; k < 100; ++k) zero_runs += " 001 00110101 0000110111";
  for (std::string bits : {"001 0001000 010", "001 110100 010 0000010", zero_runs.c_str()})
    EXPECT_EQ(Decode(FromBits(bits), 16, 2).status, tsl::kG4Damaged) << bits;
  // A damaged row keeps its decoded start: white 4, black 4, run past the width.
  ExpectDecoded(Decode(FromBits("001 1011 011 001 0001000 010"), 16, 1, 0x55), Bytes{0x0F, 0x55},
                tsl::kG4Damaged, 0);
  // Row 0 lists a change of length 0 at x 13 (VL3 onto a0, twice): row 1 reads as in libtiff.
  const std::string zero = "001 10100 011 0000010 0000010 1 ";
  ExpectDecoded(Decode(FromBits(zero + "001 00110101 11 0001 1"), 16, 2),
                (Bytes{0, 0x78, 0xC0, 0}), tsl::kG4Ok, 2);
  ExpectDecoded(Decode(FromBits(zero + "0001 1 1"), 16, 2), (Bytes{0, 0x78, 0, 7}), tsl::kG4Ok, 2);
}

}  // namespace
