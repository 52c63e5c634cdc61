// ANSI/NIST Type-6/Type-8 image data: readers and writers, thresholds,
// inversion switches, buffer ownership and the recorded sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "group4_reference.h"
#include "support/test_support.h"
#include "tessaly.h"

namespace {

using tsltest::Bytes;
using Writer = int (*)(const unsigned char *, int, int, unsigned char **, int *);
using Reader = unsigned char *(*)(const unsigned char *, int, int, int);
const Writer kRaw = CreateNISTType8UncompressedBinaryFieldfromImage;
const Writer kG4 = CreateNISTType8CompressedBinaryFieldfromImage;
const Reader kRead8 = CreateImageFromNISTType8UncompressedBinaryField;
const Reader kRead8G4 = CreateImageFromNISTType8CompressedBinaryField;
const Reader kRead6 = CreateImageFromNISTType6UncompressedBinaryField;
const Reader kRead6G4 = CreateImageFromNISTType6CompressedBinaryField;
const Bytes kWhite8x8{0xFF, 0x00, 0x10, 0x01}, kBlack16x1{0x26, 0xA0, 0xB8, 0x00, 0x80, 0x08};

// Sizes every reader and writer refuses: not positive, or too large.
const std::pair<int, int> kRefused[] = {{0, 8},          {8, 0},          {-8, 8}, {8, -1},
                                        {65536, 65536}, {0x7FFFFFFF, 1}, {0x7FFFFFFF, 2}};

void DefaultSwitches() { SetNISTType8ImageColorInversion(0, 0, 0, 1); }

// A writer's bytes (empty on failure).
Bytes Write(Writer writer, const Bytes &grey, int w, int h, int *result = nullptr) {
  unsigned char *out = nullptr;
  int len = -1, r = writer(grey.data(), w, h, &out, &len);
  if (result) *result = r;
  Bytes bytes(out, out + (out ? len : 0));
  std::free(out);
  return bytes;
}
// The first n (default width x height) bytes of a reader's image; empty for null.
Bytes Read(Reader reader, const Bytes &data, int w, int h, size_t n = 0) {
  const unsigned char *p = reader(data.data(), static_cast<int>(data.size()), w, h);
  return p ? Bytes(p, p + (n ? n : static_cast<size_t>(w) * h)) : Bytes();
}

Bytes RandomGrey(int w, int h, uint64_t seed) {
  tsltest::Rng rng(seed);
  Bytes g(static_cast<size_t>(w) * h);
  for (auto &p : g) p = static_cast<uint8_t>(rng.Next());
  return g;
}
Bytes Thresholded(Bytes grey) {
  for (auto &p : grey) p = p > 128 ? 255 : 0;
  return grey;
}

// Runs of equal bytes: {count, value}, ...
Bytes Runs(std::initializer_list<std::pair<int, uint8_t>> runs) {
  Bytes out;
  for (auto r : runs) out.insert(out.end(), r.first, r.second);
  return out;
}
// What the getters hold: size, width, height, compression type.
std::vector<int> Records() {
  return {ReadSizeOfNISTType8BinaryField(), ReadType8DataWidth(), ReadType8DataHeight(),
          ReadType8DataCompressionType()};
}

TEST(Type8Writers, HandVectorsSwitchesAndRecordedSizes) {
  const Bytes ramp{0, 128, 129, 255, 128, 129, 200, 100};
  // Width 12: rows are stored 1 byte apart; only the last row's last 4
  // pixels follow, so rows 0 and 1 lose theirs.
  Bytes w12 = Runs({{8, 0}, {4, 255}, {8, 0}, {4, 255}, {12, 0}});
  Bytes w12b = Runs({{8, 0}, {5, 255}, {7, 0}, {4, 255}, {8, 0}, {4, 255}});
  const struct {
    Writer writer;
    int sw[4];
    Bytes grey;
    int w, h;
    Bytes want;
  } cases[] = {
      {kG4, {0, 0, 0, 1}, Bytes(64, 255), 8, 8, kWhite8x8},
      {kRaw, {0, 0, 0, 1}, ramp, 8, 1, {0x36}},  // pixels above 128 pack as 1
      {kRaw, {0, 1, 0, 1}, ramp, 8, 1, {0xC9}},
      {kRaw, {0, 0, 0, 1}, w12, 12, 3, Bytes(6, 0)},
      {kRaw, {0, 0, 0, 1}, w12b, 12, 3, {0x00, 0x80, 0x00, 0xF0, 0x00, 0x00}},
      // Switches other than 0 and 1 pack nothing: all white.
      {kRaw, {0, 2, 0, 2}, RandomGrey(8, 2, 1), 8, 2, Bytes(2, 0)},
      {kG4, {0, 2, 0, 2}, Bytes(64, 0), 8, 8, kWhite8x8},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.want));
    SetNISTType8ImageColorInversion(c.sw[0], c.sw[1], c.sw[2], c.sw[3]);
    int r;
    EXPECT_EQ(Write(c.writer, c.grey, c.w, c.h, &r), c.want);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(Records(), (std::vector<int>{static_cast<int>(c.want.size()), c.w, c.h, 0}));
    DefaultSwitches();
  }
}

// Every pixel survives at any width (a 12 x 100 image once lost its bottom
// third), and the Group 4 writer codes what libtiff codes.
TEST(Type8Writers, GroupFourMatchesLibtiffAndReadsBack) {
  g4ref::Quiet();
  for (int w : {1, 2, 5, 7, 9, 12, 13, 16, 31, 33, 64, 100, 257, 300, 2550}) {
    const int h = w == 12 ? 100 : 37;
    Bytes grey = RandomGrey(w, h, w), want = Thresholded(grey);
    size_t rb = (w + 7) / 8;
    Bytes rows(rb * h);  // dark pixels are the black (1) bits
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (grey[y * w + x] <= 128) rows[y * rb + x / 8] |= 0x80 >> (x % 8);
    Bytes s = Write(kG4, grey, w, h);
    EXPECT_EQ(s, g4ref::Encode(rows, w, h)) << w;
    EXPECT_EQ(Read(kRead8G4, s, w, h), want) << w;
    EXPECT_EQ(Read(kRead6G4, s, w, h), want) << w;
    if (w % 8 == 0) {
      EXPECT_EQ(Read(kRead8, Write(kRaw, grey, w, h), w, h), want) << w;
    }
  }
}

TEST(Type8Writers, OwnershipAndRefusedArguments) {
  Bytes grey(64, 255);
  for (Writer writer : {kRaw, kG4}) {
    // A buffer passed in is released and replaced (the sanitizer build
    // reports it as a leak otherwise).
    unsigned char *out = static_cast<unsigned char *>(std::malloc(100));
    int len = 0;
    EXPECT_EQ(writer(grey.data(), 4, 4, &out, &len), 1);
    EXPECT_TRUE(out && len > 0);
    EXPECT_EQ(writer(grey.data(), 4, 4, &out, &len), 1);
    for (auto wh : kRefused) {
      len = 5;
      EXPECT_EQ(writer(grey.data(), wh.first, wh.second, &out, &len), 0);
      EXPECT_TRUE(out == nullptr && len == 0) << wh.first << "x" << wh.second;
      EXPECT_EQ(Records(), (std::vector<int>{0, wh.first, wh.second, 0}));
      out = static_cast<unsigned char *>(std::malloc(10));
    }
    std::free(out);
    out = nullptr;
    EXPECT_EQ(writer(nullptr, 8, 8, &out, &len), 0);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(writer(grey.data(), 8, 8, nullptr, &len), 0);
    EXPECT_EQ(writer(grey.data(), 8, 8, &out, nullptr), 0);
  }
}

TEST(Type8Readers, SwitchesShortDataAndOddWidths) {
  // Width 12, uncompressed: row 1 spills into row 0's last columns, and each
  // row's last column repeats its pixel 7.
  Bytes grey = RandomGrey(12, 2, 5), t = Thresholded(grey), w12(t);
  std::copy(t.begin() + 12, t.begin() + 15, w12.begin() + 8);
  w12[11] = t[7];
  w12[23] = t[19];
  const struct {
    Reader reader;
    int sw[4];
    Bytes data;
    int w, h;
    Bytes want;  // the image, or for Type-6 uncompressed the padded rows
  } cases[] = {
      {kRead8G4, {0, 0, 0, 1}, kBlack16x1, 16, 1, Bytes(16, 0)},
      {kRead6G4, {0, 0, 0, 1}, kBlack16x1, 16, 1, Bytes(16, 0)},
      {kRead8G4, {0, 0, 0, 1}, kWhite8x8, 8, 8, Bytes(64, 255)},
      {kRead8G4, {0, 0, 0, 0}, kBlack16x1, 16, 1, Bytes(16, 255)},
      {kRead8G4, {0, 0, 0, 0}, kWhite8x8, 8, 8, Bytes(64, 0)},
      // Pixels past the data stay 0; bytes past the image are ignored.
      {kRead8, {0, 0, 0, 1}, {0xFF}, 16, 2, Runs({{8, 255}, {24, 0}})},
      {kRead8, {0, 0, 0, 1}, {0xFF, 0, 0, 0, 0xFF, 0xFF}, 16, 2, Runs({{8, 255}, {24, 0}})},
      {kRead8, {1, 0, 0, 1}, {0xFF, 0xFF, 0, 0}, 16, 2, Runs({{16, 0}, {16, 255}})},
      {kRead8, {0, 0, 0, 1}, Write(kRaw, grey, 12, 2), 12, 2, w12},
      // Below width 8 no row holds a whole byte: every row reads the data's
      // first pixels, and no last-column step reaches before them.
      {kRead8, {0, 0, 0, 1}, {0xA8}, 5, 3,
       {255, 0, 255, 0, 255, 255, 0, 255, 0, 255, 255, 0, 255, 0, 255}},
      // Type-6 by default reads 1 bits as dark, into padded rows, image first.
      {kRead6, {0, 0, 0, 1}, {0xF0, 0x0F, 0xFF}, 12, 2, Runs({{4, 0}, {8, 255}, {20, 0}})},
  };
  for (const auto &c : cases) {
    SetNISTType8ImageColorInversion(c.sw[0], c.sw[1], c.sw[2], c.sw[3]);
    EXPECT_EQ(Read(c.reader, c.data, c.w, c.h, c.want.size()), c.want)
        << ::testing::PrintToString(c.data) << " " << c.w << "x" << c.h;
    DefaultSwitches();
  }
}

TEST(Type8Readers, DamagedAndRefusedInput) {
  Bytes grey(40 * 30, 255);
  for (int y = 0; y < 30; ++y) grey[y * 40 + y] = 0;
  Bytes s = Write(kG4, grey, 40, 30);
  Bytes back = Read(kRead8G4, Bytes(s.begin(), s.begin() + s.size() / 2), 40, 30);
  ASSERT_EQ(back.size(), grey.size());
  EXPECT_TRUE(std::equal(grey.begin(), grey.begin() + 200, back.begin())) << "first rows kept";
  EXPECT_EQ(back.back(), 255) << "rows not decoded take the fill value";
  for (size_t n = 0; n < s.size(); ++n)
    EXPECT_NE(Read(kRead8G4, Bytes(s.begin(), s.begin() + n + 1), 40, 30), Bytes()) << n;
  Bytes data(64, 0);
  for (Reader reader : {kRead8, kRead8G4, kRead6, kRead6G4}) {
    for (auto wh : kRefused)
      EXPECT_EQ(reader(data.data(), 64, wh.first, wh.second), nullptr) << wh.first;
    EXPECT_EQ(reader(data.data(), -1, 8, 8), nullptr);
    EXPECT_EQ(reader(nullptr, 64, 8, 8), nullptr);
    EXPECT_NE(reader(data.data(), 64, 8, 8), nullptr);
  }
}

}  // namespace
