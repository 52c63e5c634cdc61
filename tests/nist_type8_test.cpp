// ANSI/NIST Type-6/Type-8 image data: readers and writers, thresholds,
// inversion switches, buffer ownership, the recorded sizes, and the packing
// and unpacking of many pixels at a time against one pixel at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "group4_reference.h"
#include "nist/type8.h"
#include "support/test_support.h"
#include "tessaly.h"

namespace {

using tsltest::Bytes;
const auto kRaw = &CreateNISTType8UncompressedBinaryFieldfromImage;
const auto kG4 = &CreateNISTType8CompressedBinaryFieldfromImage;
const auto kRead8 = &CreateImageFromNISTType8UncompressedBinaryField;
const auto kRead8G4 = &CreateImageFromNISTType8CompressedBinaryField;
const auto kRead6 = &CreateImageFromNISTType6UncompressedBinaryField;
const auto kRead6G4 = &CreateImageFromNISTType6CompressedBinaryField;
using Writer = decltype(kRaw);
using Reader = decltype(kRead8);

// What the getters hold after a writer's call.
void ExpectRecorded(int size, int w, int h) {
  EXPECT_EQ(ReadSizeOfNISTType8BinaryField(), size);
  EXPECT_EQ(ReadType8DataWidth(), w);
  EXPECT_EQ(ReadType8DataHeight(), h);
}
// A writer's bytes, which the getters must have recorded.
Bytes Write(Writer writer, const Bytes &grey, int w, int h) {
  unsigned char *out = nullptr;
  int len = -1;
  EXPECT_EQ(writer(grey.data(), w, h, &out, &len), 1);
  ExpectRecorded(len, w, h);
  Bytes bytes(out, out + (out ? len : 0));
  std::free(out);
  return bytes;
}
// The first n (default width x height) bytes of a reader's image; empty for null.
Bytes Read(Reader reader, const Bytes &data, int w, int h, size_t n = 0) {
  const unsigned char *p = reader(data.data(), static_cast<int>(data.size()), w, h);
  return p ? Bytes(p, p + (n ? n : static_cast<size_t>(w) * h)) : Bytes();
}
// Runs of equal bytes: {count, value}, ...
Bytes Runs(std::initializer_list<std::pair<int, uint8_t>> runs) {
  Bytes out;
  for (auto r : runs) out.insert(out.end(), r.first, r.second);
  return out;
}
Bytes Thresholded(Bytes grey) {
  for (auto &p : grey) p = p > 128 ? 255 : 0;
  return grey;
}

// One pixel at a time: bit 1 for a grey pixel above 128, bytes XORed with
// flip; and back, 255 for a 1 bit.
Bytes PackRef(const uint8_t *grey, size_t n, uint8_t flip) {
  Bytes out((n + 7) / 8);
  for (size_t i = 0; i < n; ++i)
    if (grey[i] > 128) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  for (auto &b : out) b ^= flip;
  return out;
}
Bytes UnpackRef(const uint8_t *bits, size_t n, uint8_t flip) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = (((bits[i / 8] >> (7 - i % 8)) & 1) ? 255 : 0) ^ flip;
  return out;
}
// Grey pixels, most of them 127 to 129, the rest anything.
Bytes NearThreshold(size_t n, uint64_t seed) {
  tsltest::Rng rng(seed);
  Bytes grey(n);
  for (auto &p : grey) p = static_cast<uint8_t>(rng.Below(4) ? 127 + rng.Below(3) : rng.Next());
  return grey;
}

TEST(Type8Packing, ManyPixelsAtATimeMatchOneAtATime) {
  // Every count up to three blocks of 16 and a tail, from every start in a
  // block; the input ends where the pixels do and the output is fenced by
  // guard bytes, so the sanitizer build and the comparison see any overrun.
  const Bytes grey = NearThreshold(16 + 55, 3);
  for (uint8_t flip : {0x00, 0xFF})
    for (size_t start = 0; start < 16; ++start)
      for (size_t n = 0; n <= 55; ++n) {
        const Bytes in(grey.begin(), grey.begin() + start + n);
        Bytes packed(8, 0x5A), want = PackRef(in.data() + start, n, flip);
        tsl::PackGreyPixels(in.data() + start, n, flip, packed.data());
        want.resize(8, 0x5A);
        EXPECT_EQ(packed, want) << "pack " << n << " from " << start << " flip " << int(flip);
        Bytes unpacked(56, 0x5A), back = UnpackRef(in.data() + start, n, flip);
        tsl::UnpackBitsToGrey(in.data() + start, n, flip, unpacked.data());
        back.resize(56, 0x5A);
        EXPECT_EQ(unpacked, back) << "unpack " << n << " from " << start << " flip " << int(flip);
      }
}

TEST(Type8Packing, OddWidthsUnderBothSwitchesMatchReferences) {
  g4ref::Quiet();
  for (int w : {1, 2, 3, 5, 7, 8, 9, 11, 12, 13, 15, 16, 17, 31, 33, 100}) {
    const int h = 5;
    const size_t rb = (w + 7) / 8, n = static_cast<size_t>(w) * h, stride = w - w % 8;
    const Bytes grey = NearThreshold(n, w);
    // Group 4 rows hold whole bytes of a row; uncompressed rows only the
    // whole bytes, the last row's remaining pixels after them.
    Bytes rows(rb * h), dark_rows, seq(rb * 8 * h);
    for (size_t y = 0; y < static_cast<size_t>(h); ++y) {
      const Bytes row = PackRef(grey.data() + y * w, w, 0);
      std::copy(row.begin(), row.end(), rows.begin() + y * rb);
      std::copy(grey.begin() + y * w, grey.begin() + (y + 1) * w, seq.begin() + y * stride);
    }
    for (uint8_t &b : dark_rows = rows) b ^= 0xFF;
    const Bytes dark_stream = g4ref::Encode(dark_rows, w, h);
    for (int sw : {0, 1}) {
      SetNISTType8ImageColorInversion(0, sw, 0, sw);
      const uint8_t flip = sw ? 0xFF : 0x00;
      Bytes raw = PackRef(seq.data(), n, flip);
      raw.resize(rb * h);
      EXPECT_EQ(Write(kRaw, grey, w, h), raw) << "uncompressed, width " << w << " switch " << sw;
      EXPECT_EQ(Write(kG4, grey, w, h), g4ref::Encode(sw ? dark_rows : rows, w, h))
          << "Group 4, width " << w << " switch " << sw;
      // Decoded rows follow each other bit after bit: dark pixels as 1 bits.
      const Bytes dark_bits = PackRef(grey.data(), n, 0xFF);
      EXPECT_EQ(Read(kRead8G4, dark_stream, w, h), UnpackRef(dark_bits.data(), n, flip))
          << "Group 4 reader, width " << w << " switch " << sw;
    }
    Bytes plain = UnpackRef(rows.data(), n, 0xFF);  // Type-6: 1 bits dark
    plain.resize(rb * 8 * h);
    EXPECT_EQ(Read(kRead6, rows, w, h, plain.size()), plain) << "Type-6 uncompressed, width " << w;
  }
  SetNISTType8ImageColorInversion(0, 0, 0, 1);
}

TEST(Type8Writers, AnyNonZeroSwitchInvertsAsOneAndTallImagesReadBack) {
  // Switch 2 once packed nothing: a blank picture reported as written.
  Bytes alternate(64);
  for (size_t i = 0; i < alternate.size(); ++i) alternate[i] = i % 2 ? 255 : 0;
  SetNISTType8ImageColorInversion(0, 1, 0, 1);
  const Bytes g4_1 = Write(kG4, alternate, 8, 8);
  SetNISTType8ImageColorInversion(0, 2, 0, -3);
  EXPECT_EQ(Write(kRaw, alternate, 8, 8), Bytes(8, 0xAA)) << "uncompressed writer, switch 2";
  EXPECT_EQ(Write(kG4, alternate, 8, 8), g4_1) << "Group 4 writer, switch -3";
  SetNISTType8ImageColorInversion(0, 0, 0, 1);
  // A 12 x 100 image once lost its bottom third.
  const Bytes grey = tsltest::RidgeImage(12, 100, 12), want = Thresholded(grey);
  const Bytes s = Write(kG4, grey, 12, 100);
  EXPECT_EQ(Read(kRead8G4, s, 12, 100), want);
  EXPECT_EQ(Read(kRead6G4, s, 12, 100), want);
}

TEST(Type8Writers, CompressionTypeReadsZeroAfterEveryCall) {
  SetNISTType8ImageColorInversion(0, 0, 0, 1);
  // The compression of ".BIN" reads is a setting of its own.
  WriteType8CompressionWidthHeight(8, 8, 1);
  const Bytes white(64, 255), stream{0xFF, 0x00, 0x10, 0x01};
  EXPECT_EQ(Write(kG4, white, 8, 8), stream);
  EXPECT_EQ(ReadType8DataCompressionType(), 0) << "after a Group 4 write";
  EXPECT_EQ(Read(kRead8G4, stream, 8, 8), white);
  EXPECT_EQ(ReadType8DataCompressionType(), 0) << "after a Group 4 read";
  EXPECT_EQ(Write(kRaw, white, 8, 8), Bytes(8, 0xFF));
  EXPECT_EQ(ReadType8DataCompressionType(), 0) << "after an uncompressed write";
}

TEST(Type8, OwnershipAndRefusedArguments) {
  const std::pair<int, int> refused[] = {{0, 8}, {8, -1}, {65536, 65536}, {0x7FFFFFFF, 2}};
  Bytes grey(64, 255);
  for (Writer writer : {kRaw, kG4}) {
    // A buffer passed in is released and replaced, also on refusal (the
    // sanitizer build reports a leak otherwise).
    unsigned char *out = static_cast<unsigned char *>(std::malloc(100));
    int len = 0;
    EXPECT_EQ(writer(grey.data(), 4, 4, &out, &len), 1);
    EXPECT_NE(out, nullptr);
    EXPECT_GT(len, 0);
    for (auto [w, h] : refused) {
      SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
      EXPECT_EQ(writer(grey.data(), w, h, &out, &len), 0);
      EXPECT_EQ(out, nullptr);
      EXPECT_EQ(len, 0);
      ExpectRecorded(0, w, h);
      out = static_cast<unsigned char *>(std::malloc(10)), len = 5;
    }
    std::free(std::exchange(out, nullptr));
    EXPECT_EQ(writer(nullptr, 8, 8, &out, &len), 0);
    EXPECT_EQ(writer(grey.data(), 8, 8, nullptr, &len), 0);
    EXPECT_EQ(writer(grey.data(), 8, 8, &out, nullptr), 0);
  }
  for (Reader reader : {kRead8, kRead8G4, kRead6, kRead6G4}) {
    for (auto [w, h] : refused) EXPECT_EQ(reader(grey.data(), 64, w, h), nullptr) << w;
    EXPECT_EQ(reader(grey.data(), -1, 8, 8), nullptr);
    EXPECT_EQ(reader(nullptr, 64, 8, 8), nullptr);
  }
}

TEST(Type8Readers, SwitchesShortDataAndOddWidths) {
  // Width 12, uncompressed: row 1 spills into row 0's last columns, and each
  // row's last column repeats its pixel 7.
  Bytes t = Thresholded(tsltest::RidgeImage(12, 2, 5)), w12(t);
  std::copy(t.begin() + 12, t.begin() + 15, w12.begin() + 8);
  w12[11] = t[7];
  w12[23] = t[19];
  // All black 40 x 30 codes to 23 bits for row 0 and 2 per row after it;
  // cut to 7 bytes, 17 rows decode and the rest comes back white.
  Bytes s = Write(kG4, Bytes(40 * 30, 0), 40, 30);
  s.resize(7);
  const struct { Reader reader; int sw[4]; Bytes data; int w, h; Bytes want; } cases[] = {
      {kRead8G4, {0, 0, 0, 1}, s, 40, 30, Runs({{680, 0}, {520, 255}})},
      {kRead8, {0, 0, 0, 1}, {0xFF}, 16, 2, Runs({{8, 255}, {24, 0}})},  // short data: 0
      {kRead8, {1, 0, 0, 1}, {0xFF, 0xFF, 0, 0}, 16, 2, Runs({{16, 0}, {16, 255}})},
      {kRead8, {0, 0, 0, 1}, Write(kRaw, t, 12, 2), 12, 2, w12},
      // Below width 8 no row holds a whole byte: every row reads the data's
      // first pixels, and no last-column step reaches before them.
      {kRead8, {0, 0, 0, 1}, {0xA8}, 5, 3,
       {255, 0, 255, 0, 255, 255, 0, 255, 0, 255, 255, 0, 255, 0, 255}},
  };
  for (const auto &c : cases) {
    SetNISTType8ImageColorInversion(c.sw[0], c.sw[1], c.sw[2], c.sw[3]);
    EXPECT_EQ(Read(c.reader, c.data, c.w, c.h, c.want.size()), c.want) << c.w << "x" << c.h;
  }
  SetNISTType8ImageColorInversion(0, 0, 0, 1);
}

}  // namespace
