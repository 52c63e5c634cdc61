// The image record, its sizes and last error, and the pixel conversions,
// checked against values worked out by hand.
#include <gtest/gtest.h>

#include <cstring>

#include "image/raster_io.h"
#include "raster_test_util.h"

namespace {

using namespace tsltest;

// A record whose stored rows (bottom first) start with the given bytes.
void Fill(Record &r, uint32_t w, unsigned bpp, std::initializer_list<Bytes> rows, uint16_t n = 0) {
  MakeRecord(r, w, static_cast<uint32_t>(rows.size()), bpp, n);
  uint32_t y = 0;
  for (const Bytes &row : rows) std::memcpy(r.Row(y++), row.data(), row.size());
}
Bytes RowOf(Record &r, uint32_t y, size_t n) { return Bytes(r.Row(y), r.Row(y) + n); }

TEST(RasterRecord, PaddedRowsSizesThatWrapAndDeepCopies) {
  Record src(1), copy(1);
  Fill(src, 5, 8, {{1, 1}, {2, 2}}, 4);
  EXPECT_EQ(src->scan_width, 8u) << "rows padded to 4 bytes";
  std::memset(src->palette, 0x42, 16);
  ASSERT_EQ(CopyRasterImage(src.img, &copy), RASTER_OK);
  copy.Row(1)[0] = 99, copy->palette[0] = 7;
  EXPECT_EQ(src.Row(1)[0], 2) << "the copy shares no pixels";
  EXPECT_EQ(src->palette[0], 0x42) << "the copy shares no palette";
  const char *message = nullptr;  // a code outside the table still has a message
  SetLastRasterError(99);
  GetLastRasterErrorMessage(&message);
  EXPECT_NE(message, nullptr);
  const struct { uint32_t w, h; unsigned bpp; } absurd[] = {
      {4, 0, 8}, {0xFFFFFFFFu, 0xFFFFFFFFu, 32}, {0x40000001u, 4, 32}, {0xFFFFFFFFu, 1, 1}};
  for (const auto &a : absurd) {
    Record big(1);
    big->width = a.w, big->height = a.h, big->bits_per_pixel = static_cast<uint8_t>(a.bpp);
    ExpectRefused(AllocateRasterImage(&big), big, RASTER_ERR_INVALID_SIZE);
  }
}

TEST(RasterConvert, PaletteIndicesBeyondThePaletteAndOddWidthUnpacking) {
  Record src(1), out(1), one(1), four(1);
  Fill(src, 4, 8, {{5, 1, 200, 255}}, 200);
  for (int i = 0; i < 200; ++i) src->palette[4 * i] = uint8_t(i), src->palette[4 * i + 1] = 7;
  src->transparency_index = 5;
  ASSERT_EQ(ConvertPaletteToRGB(src.img, &out), RASTER_OK);
  // An index past palette_size gives black, never a read past the entries.
  EXPECT_EQ(RowOf(out, 0, 16), (Bytes{5, 7, 0, 0, 1, 7, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255}));
  EXPECT_EQ(out->transparency_index, -1);
  // Width 10 at 1 bit: pixels 9 and 10 from the leading bits of the second byte.
  Fill(one, 10, 1, {{0xA5, 0x80}, {0x0F, 0x7F}});
  Fill(four, 3, 4, {{0x12, 0x3F}, {0xAB, 0xC0}});
  Bytes px(20);
  Convert1to8(one.img, px.data());
  EXPECT_EQ(px, (Bytes{1, 0, 1, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0, 0, 1, 1, 1, 1, 0, 1}));
  Convert4to8(four.img, px.data());
  EXPECT_EQ(Bytes(px.begin(), px.begin() + 6), (Bytes{1, 2, 3, 0xA, 0xB, 0xC}));
}

TEST(RasterConvert, FiveFiveFiveRepackingAndGreyLevels) {
  Record src(1), out(1), two(0), sixteen(0), rgba(1);
  Fill(src, 3, 16, {{0xFF, 0x7F, 0x00, 0x80, 0x1F, 0x00}});  // 0x7FFF, 0x8000, 0x001F
  ASSERT_EQ(ConvertPaletteToRGB(src.img, &out), RASTER_OK);
  const Bytes expect{248, 248, 248, 0, 0, 0, 248, 0, 0};
  EXPECT_EQ(RowOf(out, 0, 9), expect);
  ASSERT_EQ(Convert16to24(&src), RASTER_OK);
  EXPECT_EQ(RowOf(src, 0, 9), expect);
  Fill(two, 9, 8, {{1, 0, 1, 1, 0, 0, 0, 1, 1}}, 2);
  Fill(sixteen, 3, 8, {{0x0F, 0x03, 0x0A}}, 16);
  ASSERT_EQ(CompressRasterImage(&two), RASTER_OK);
  ASSERT_EQ(CompressRasterImage(&sixteen), RASTER_OK);
  EXPECT_EQ(two->bits_per_pixel, 1);
  EXPECT_EQ(sixteen->bits_per_pixel, 4);
  EXPECT_EQ(RowOf(two, 0, 2), (Bytes{0xB1, 0x80}));
  EXPECT_EQ(RowOf(sixteen, 0, 2), (Bytes{0xF3, 0xA0}));

  const uint8_t bgr[4][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}};
  EXPECT_EQ((Bytes{CreateGrayScale(bgr[0]), CreateGrayScale(bgr[1]), CreateGrayScale(bgr[2]),
                   CreateGrayScale(bgr[3])}), (Bytes{76, 150, 29, 255}));
  Fill(rgba, 2, 32, {{0, 0, 255, 9, 255, 0, 0, 8}});
  ASSERT_EQ(ConvertToGrayScale(&rgba), RASTER_OK);
  EXPECT_EQ(RowOf(rgba, 0, 8), (Bytes{76, 76, 76, 9, 29, 29, 29, 8}));
}

// PackBits data decoded into a row of n bytes inside a buffer one byte
// longer, whose last byte must stay untouched: the code, and the buffer
// when the code is 0.
int UnpackCode(const Bytes &in, size_t n, bool whole = false, Bytes *out = nullptr) {
  ByteReader reader{in.data(), in.data() + in.size(), in.data()};
  Bytes row(n + 1, 0xEE);
  const int code = UnpackBits(&reader, row.data(), n, whole);
  if (out && code == RASTER_OK) *out = row;
  return code;
}
Bytes Unpacked(const Bytes &in, size_t n, bool whole = false) {
  Bytes out;
  UnpackCode(in, n, whole, &out);
  return out;
}

TEST(RasterBytes, PackBitsRunsAtTheRowEnd) {
  // A repeat that reaches the row end fills it; a longer one is cut there.
  EXPECT_EQ(Unpacked({0xFD, 7}, 4), (Bytes{7, 7, 7, 7, 0xEE}));
  EXPECT_EQ(Unpacked({0xFC, 7}, 4), (Bytes{7, 7, 7, 7, 0xEE}));
  EXPECT_EQ(Unpacked({0x00, 1, 0x81, 7}, 4), (Bytes{1, 7, 7, 7, 0xEE}));
  // A literal that reaches the row end is copied; a longer one is refused.
  EXPECT_EQ(Unpacked({0x80, 0x03, 1, 2, 3, 4}, 4), (Bytes{1, 2, 3, 4, 0xEE}));
  EXPECT_EQ(UnpackCode({0x04, 1, 2, 3, 4, 5}, 4), RASTER_ERR_CORRUPT_FILE);
  EXPECT_EQ(UnpackCode({0x00, 1, 0x03, 2, 3, 4, 5}, 4), RASTER_ERR_CORRUPT_FILE);
  // Data that ends before the row does.
  EXPECT_EQ(UnpackCode({0x03, 1, 2, 3}, 4), RASTER_ERR_CORRUPT_FILE);
  EXPECT_EQ(UnpackCode({0xFD}, 4), RASTER_ERR_CORRUPT_FILE);
  EXPECT_EQ(UnpackCode({0xFE, 7}, 4), RASTER_ERR_CORRUPT_FILE);
  // A whole row's data is read to its end: repeats and no-ops after the
  // row are taken, a literal is not.
  EXPECT_EQ(Unpacked({0x01, 1, 2, 0xFF, 9, 0x80}, 2, true), (Bytes{1, 2, 0xEE}));
  EXPECT_EQ(UnpackCode({0x01, 1, 2, 0x00, 9}, 2, true), RASTER_ERR_CORRUPT_FILE);
}

TEST(RasterBytes, SeekToTheEndAndPicturesPerFileByte) {
  const uint8_t data[4] = {1, 2, 3, 4};
  ByteReader in{data, data + 4, data};
  EXPECT_TRUE(in.Seek(4));
  EXPECT_EQ(in.Left(), 0u);
  in.Seek(1);
  EXPECT_FALSE(in.Seek(5));
  EXPECT_EQ(in.Offset(), 1u) << "a refused seek leaves the cursor";
  // A byte of LZW codes stands for at most 4096 * 8 / 3 pixels, with one
  // byte's worth to spare.
  constexpr uint64_t kPerByte = 10923;
  EXPECT_TRUE(PictureFitsFile(kPerByte * 1001 - 1, 1, 1000));
  EXPECT_FALSE(PictureFitsFile(kPerByte * 1001, 1, 1000));
  EXPECT_TRUE(PictureFitsFile(kPerByte - 1, 1, 0));
  EXPECT_FALSE(PictureFitsFile(1, kPerByte, 0));
  EXPECT_FALSE(PictureFitsFile(0xFFFFFFFFu, 0xFFFFFFFFu, kMaxRasterBytes)) << "no wrapped product";
}

// Encoders that miscount their file size: one writes past the block, one
// leaves its last byte unwritten. Neither may leave a file behind.
RasterError EncodeOneTooMany(const RasterImage &, const char *, EncodedFile *out) {
  if (StartEncodedFile(4, out) != RASTER_OK) return RASTER_ERR_MEMORY;
  out->writer.LE32(1), out->writer.U8(2);
  return RASTER_OK;
}
RasterError EncodeOneTooFew(const RasterImage &, const char *, EncodedFile *out) {
  if (StartEncodedFile(4, out) != RASTER_OK) return RASTER_ERR_MEMORY;
  out->writer.BE16(1), out->writer.U8(2);
  return RASTER_OK;
}

TEST(RasterWrite, MiscountedEncodingIsRefusedAndNoFileCreated) {
  Record r;
  MakeRecord(r, 2, 2, 24);
  TempDir dir;
  for (RasterEncoder encode : {EncodeOneTooMany, EncodeOneTooFew}) {
    const std::string path = dir.File("x.bin");
    EXPECT_EQ(WriteRasterFile(path.c_str(), r.img, encode), RASTER_ERR_WRITE);
    EXPECT_EQ(GetLastRasterError(), RASTER_ERR_WRITE);
    EXPECT_FALSE(std::ifstream(path).good());
  }
}

}  // namespace
