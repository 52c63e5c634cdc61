// ANSI/NIST Type-6/Type-8 image data: readers and writers, thresholds,
// inversion switches, buffer ownership and the recorded sizes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "group4_reference.h"
#include "support/test_support.h"
#include "tessaly.h"

namespace {

using tsltest::Bytes;
using tsltest::Rng;

// The defaults, restored after every test that changes a switch.
void DefaultSwitches() { SetNISTType8ImageColorInversion(0, 0, 0, 1); }

// Runs a writer; returns its bytes (empty on failure) and its result.
using Writer = int (*)(const unsigned char *, int, int, unsigned char **, int *);
Bytes Write(Writer writer, const Bytes &grey, int w, int h, int *result = nullptr) {
  unsigned char *out = nullptr;
  int len = -1;
  int r = writer(grey.data(), w, h, &out, &len);
  if (result) *result = r;
  Bytes bytes;
  if (out) bytes.assign(out, out + len);
  std::free(out);
  return bytes;
}
Bytes WriteG4(const Bytes &grey, int w, int h, int *result = nullptr) {
  return Write(CreateNISTType8CompressedBinaryFieldfromImage, grey, w, h, result);
}
Bytes WriteRaw(const Bytes &grey, int w, int h, int *result = nullptr) {
  return Write(CreateNISTType8UncompressedBinaryFieldfromImage, grey, w, h, result);
}

Bytes Image(const unsigned char *p, size_t n) { return p ? Bytes(p, p + n) : Bytes(); }
Bytes ReadG4(const Bytes &data, int w, int h) {
  return Image(CreateImageFromNISTType8CompressedBinaryField(data.data(), (int)data.size(), w, h),
               static_cast<size_t>(w) * h);
}
Bytes ReadRaw(const Bytes &data, int w, int h) {
  return Image(
      CreateImageFromNISTType8UncompressedBinaryField(data.data(), (int)data.size(), w, h),
      static_cast<size_t>(w) * h);
}

Bytes RandomGrey(int w, int h, uint64_t seed) {
  Rng rng(seed);
  Bytes g(static_cast<size_t>(w) * h);
  for (auto &p : g) p = static_cast<uint8_t>(rng.Next());
  return g;
}
Bytes Thresholded(const Bytes &grey) {
  Bytes t(grey);
  for (auto &p : t) p = p > 128 ? 255 : 0;
  return t;
}

TEST(Type8Writers, GroupFourWhiteEightByEight) {
  int r;
  EXPECT_EQ(WriteG4(Bytes(64, 255), 8, 8, &r), (Bytes{0xFF, 0x00, 0x10, 0x01}));
  EXPECT_EQ(r, 1);
  EXPECT_EQ(ReadSizeOfNISTType8BinaryField(), 4);
  EXPECT_EQ(ReadType8DataWidth(), 8);
  EXPECT_EQ(ReadType8DataHeight(), 8);
  EXPECT_EQ(ReadType8DataCompressionType(), 0);
}

TEST(Type8Writers, ThresholdIsAbove128) {
  Bytes grey{0, 128, 129, 255, 128, 129, 200, 100};
  EXPECT_EQ(WriteRaw(grey, 8, 1), Bytes{0x36});
  SetNISTType8ImageColorInversion(0, 1, 0, 1);
  EXPECT_EQ(WriteRaw(grey, 8, 1), Bytes{0xC9});
  DefaultSwitches();
}

TEST(Type8Writers, UncompressedLayoutForWidth12) {
  // Rows are stored 1 byte apart; only the last row's last 4 pixels follow.
  Bytes grey(36, 0);
  for (int x = 8; x < 12; ++x) grey[x] = grey[12 + x] = 255;  // rows 0, 1: lost
  EXPECT_EQ(WriteRaw(grey, 12, 3), Bytes(6, 0));
  EXPECT_EQ(ReadSizeOfNISTType8BinaryField(), 6);
  EXPECT_EQ(ReadType8DataWidth(), 12);
  EXPECT_EQ(ReadType8DataHeight(), 3);
  grey[12] = 255;  // row 1, pixel 0
  for (int x = 8; x < 12; ++x) grey[24 + x] = 255;
  EXPECT_EQ(WriteRaw(grey, 12, 3), (Bytes{0x00, 0x80, 0x00, 0xF0, 0x00, 0x00}));
}

TEST(Type8Writers, SwitchOutsideZeroOrOnePacksNothing) {
  SetNISTType8ImageColorInversion(0, 2, 0, 2);
  EXPECT_EQ(WriteRaw(RandomGrey(8, 2, 1), 8, 2), Bytes(2, 0));
  Bytes black(64, 0);
  EXPECT_EQ(WriteG4(black, 8, 8), (Bytes{0xFF, 0x00, 0x10, 0x01})) << "coded as all white";
  DefaultSwitches();
}

TEST(Type8Writers, GroupFourMatchesLibtiff) {
  g4ref::Quiet();
  for (int w : {1, 7, 12, 16, 33, 300, 2550}) {
    Bytes grey = RandomGrey(w, 20, w);
    // Dark pixels are the black (1) bits of the coded rows.
    size_t row_bytes = (w + 7) / 8;
    Bytes rows(row_bytes * 20);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < w; ++x)
        if (grey[y * w + x] <= 128) rows[y * row_bytes + x / 8] |= 0x80 >> (x % 8);
    EXPECT_EQ(WriteG4(grey, w, 20), g4ref::Encode(rows, w, 20)) << w;
    EXPECT_EQ(ReadType8DataWidth(), w);
  }
}

TEST(Type8Writers, PassedBufferIsReleasedAndReplaced) {
  // The sanitizer build reports the old buffers as leaks if they are kept.
  for (Writer writer : {CreateNISTType8UncompressedBinaryFieldfromImage,
                        CreateNISTType8CompressedBinaryFieldfromImage}) {
    unsigned char *out = static_cast<unsigned char *>(std::malloc(100));
    int len = 0;
    Bytes grey(16, 255);
    EXPECT_EQ(writer(grey.data(), 4, 4, &out, &len), 1);
    ASSERT_NE(out, nullptr);
    EXPECT_GT(len, 0);
    EXPECT_EQ(writer(grey.data(), 4, 4, &out, &len), 1);
    std::free(out);
  }
}

TEST(Type8Writers, RefusedSizesGiveNothing) {
  Bytes grey(64, 255);
  for (Writer writer : {CreateNISTType8UncompressedBinaryFieldfromImage,
                        CreateNISTType8CompressedBinaryFieldfromImage}) {
    for (auto wh : {std::make_pair(0, 8), std::make_pair(8, 0), std::make_pair(-8, 8),
                    std::make_pair(8, -1), std::make_pair(65536, 65536),
                    std::make_pair(0x7FFFFFFF, 2)}) {
      unsigned char *out = static_cast<unsigned char *>(std::malloc(10));
      int len = 5;
      EXPECT_EQ(writer(grey.data(), wh.first, wh.second, &out, &len), 0);
      EXPECT_EQ(out, nullptr);
      EXPECT_EQ(len, 0);
      EXPECT_EQ(ReadSizeOfNISTType8BinaryField(), 0);
      EXPECT_EQ(ReadType8DataWidth(), wh.first);
    }
    unsigned char *out = nullptr;
    int len = 5;
    EXPECT_EQ(writer(nullptr, 8, 8, &out, &len), 0);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(writer(grey.data(), 8, 8, nullptr, &len), 0);
    EXPECT_EQ(writer(grey.data(), 8, 8, &out, nullptr), 0);
  }
}

TEST(Type8Readers, GroupFourBlackRowIsDark) {
  EXPECT_EQ(ReadG4(Bytes{0x26, 0xA0, 0xB8, 0x00, 0x80, 0x08}, 16, 1), Bytes(16, 0));
  SetNISTType8ImageColorInversion(0, 0, 0, 0);
  EXPECT_EQ(ReadG4(Bytes{0x26, 0xA0, 0xB8, 0x00, 0x80, 0x08}, 16, 1), Bytes(16, 255));
  EXPECT_EQ(ReadG4(Bytes{0xFF, 0x00, 0x10, 0x01}, 8, 8), Bytes(64, 0))
      << "white lines read as 0 with the switch at 0";
  DefaultSwitches();
  EXPECT_EQ(ReadG4(Bytes{0xFF, 0x00, 0x10, 0x01}, 8, 8), Bytes(64, 255));
}

TEST(Type8Readers, UncompressedDataShortOrLong) {
  // Sequence pixels past the data stay 0; bytes past the image are ignored.
  Bytes want(32, 0);
  std::memset(want.data(), 255, 8);
  EXPECT_EQ(ReadRaw(Bytes{0xFF}, 16, 2), want);
  EXPECT_EQ(ReadRaw(Bytes{0xFF, 0, 0, 0, 0xFF, 0xFF}, 16, 2), want);
  SetNISTType8ImageColorInversion(1, 0, 0, 1);
  Bytes inverted = ReadRaw(Bytes{0xFF, 0xFF, 0x00, 0x00}, 16, 2);
  EXPECT_EQ(Bytes(inverted.begin(), inverted.begin() + 16), Bytes(16, 0)) << "1 bits read as 0";
  EXPECT_EQ(Bytes(inverted.begin() + 16, inverted.end()), Bytes(16, 255));
  DefaultSwitches();
}

TEST(Type8Readers, UncompressedWidth12Regrouping) {
  Bytes grey = RandomGrey(12, 2, 5);
  Bytes t = Thresholded(grey);
  Bytes back = ReadRaw(WriteRaw(grey, 12, 2), 12, 2);
  ASSERT_EQ(back.size(), 24u);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(back[x], t[x]) << "row 0 column " << x;
  for (int x = 8; x < 11; ++x) EXPECT_EQ(back[x], t[12 + x - 8]) << "row 1 spills into row 0";
  EXPECT_EQ(back[11], t[7]) << "last column repeats pixel 7";
  for (int x = 0; x < 11; ++x) EXPECT_EQ(back[12 + x], t[12 + x]) << "row 1 column " << x;
  EXPECT_EQ(back[23], t[12 + 7]);
}

TEST(Type8Readers, UncompressedNarrowWidthsReadNothingBeforeTheData) {
  // Below width 8 no row holds a whole byte: every row reads the data's
  // first pixels, and no last-column step reaches before them.
  Bytes back = ReadRaw(Bytes{0xA8}, 5, 3);
  for (int y = 0; y < 3; ++y)
    EXPECT_EQ(Bytes(back.begin() + 5 * y, back.begin() + 5 * y + 5),
              (Bytes{255, 0, 255, 0, 255}));
}

TEST(Type8RoundTrip, BothWritersWidth16) {
  Bytes grey = RandomGrey(16, 2, 3);
  EXPECT_EQ(ReadRaw(WriteRaw(grey, 16, 2), 16, 2), Thresholded(grey));
  EXPECT_EQ(ReadG4(WriteG4(grey, 16, 2), 16, 2), Thresholded(grey));
}

TEST(Type8RoundTrip, GroupFourKeepsEveryPixelAtAnyWidth) {
  // A 12 x 100 image must not lose its bottom third (nor any last column).
  Bytes grey(1200, 255);
  for (int y = 60; y < 100; ++y)
    for (int x = 0; x < 12; ++x) grey[y * 12 + x] = (x + y) % 3 ? 0 : 255;
  EXPECT_EQ(ReadG4(WriteG4(grey, 12, 100), 12, 100), grey);
  for (int w : {1, 2, 5, 7, 9, 13, 31, 33, 100, 257, 2550}) {
    Bytes g = RandomGrey(w, 37, w);
    EXPECT_EQ(ReadG4(WriteG4(g, w, 37), w, 37), Thresholded(g)) << w;
  }
}

TEST(Type8RoundTrip, RidgePage) {
  Bytes grey = tsltest::RidgeImage(2550, 330, 9);
  EXPECT_EQ(ReadG4(WriteG4(grey, 2550, 330), 2550, 330), Thresholded(grey));
}

TEST(Type8Readers, DamagedGroupFourKeepsDecodedRows) {
  Bytes grey(40 * 30, 255);
  for (int y = 0; y < 30; ++y) grey[y * 40 + y] = 0;
  Bytes s = WriteG4(grey, 40, 30);
  Bytes cut(s.begin(), s.begin() + s.size() / 2);
  Bytes back = ReadG4(cut, 40, 30);
  ASSERT_EQ(back.size(), grey.size());
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 40 * 5), Bytes(grey.begin(), grey.begin() + 40 * 5));
  EXPECT_EQ(back.back(), 255) << "rows not decoded take the fill value";
  for (size_t n = 0; n < s.size(); ++n)
    EXPECT_NE(CreateImageFromNISTType8CompressedBinaryField(s.data(), (int)n, 40, 30), nullptr);
}

TEST(Type8Readers, RefusedArgumentsGiveNull) {
  Bytes data(64, 0);
  using Reader = unsigned char *(*)(const unsigned char *, int, int, int);
  for (Reader reader : {CreateImageFromNISTType8UncompressedBinaryField,
                        CreateImageFromNISTType8CompressedBinaryField,
                        CreateImageFromNISTType6UncompressedBinaryField,
                        CreateImageFromNISTType6CompressedBinaryField}) {
    EXPECT_EQ(reader(data.data(), 64, 0, 8), nullptr);
    EXPECT_EQ(reader(data.data(), 64, 8, 0), nullptr);
    EXPECT_EQ(reader(data.data(), 64, -1, 8), nullptr);
    EXPECT_EQ(reader(data.data(), 64, 65536, 65536), nullptr);
    EXPECT_EQ(reader(data.data(), 64, 0x7FFFFFFF, 1), nullptr) << "padded size too large";
    EXPECT_EQ(reader(data.data(), -1, 8, 8), nullptr);
    EXPECT_EQ(reader(nullptr, 64, 8, 8), nullptr);
    EXPECT_NE(reader(data.data(), 64, 8, 8), nullptr);
  }
}

TEST(Type6Readers, UncompressedIsPaddedAndInverted) {
  // Default: 1 bits are dark; the result holds padded rows, image first.
  unsigned char *img = CreateImageFromNISTType6UncompressedBinaryField(
      Bytes{0xF0, 0x0F, 0xFF}.data(), 3, 12, 2);
  ASSERT_NE(img, nullptr);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(img[i], (i < 4 || (i >= 12 && i < 24)) ? 0 : 255) << i;
  for (int i = 24; i < 32; ++i) EXPECT_EQ(img[i], 0) << i;
}

TEST(Type6Readers, CompressedLikeType8) {
  EXPECT_EQ(Image(CreateImageFromNISTType6CompressedBinaryField(
                      Bytes{0x26, 0xA0, 0xB8, 0x00, 0x80, 0x08}.data(), 6, 16, 1),
                  16),
            Bytes(16, 0));
  Bytes grey = RandomGrey(13, 9, 2);
  Bytes s = WriteG4(grey, 13, 9);
  EXPECT_EQ(Image(CreateImageFromNISTType6CompressedBinaryField(s.data(), (int)s.size(), 13, 9),
                  13 * 9),
            Thresholded(grey));
}

}  // namespace
