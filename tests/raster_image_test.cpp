// The image record, its sizes and last error, and the pixel conversions,
// checked against values worked out by hand.
#include <gtest/gtest.h>

#include <cstdlib>
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

// Every field set apart from its default and from the others, so a field
// left out or taken from the wrong one shows.
TEST(RasterRecord, CopyKeepsEveryFieldOfTheRecord) {
  Record src(2), copy(1);
  MakeRecord(src, 9, 3, 8, 6);
  src->transparency_index = 5;
  for (size_t i = 0; i < size_t{src->scan_width} * src->height; ++i) src->bits[i] = uint8_t(i + 1);
  for (size_t i = 0; i < 6 * 4; ++i) src->palette[i] = uint8_t(200 - i);
  MakeRecord(copy, 2, 2, 24);  // released by the copy (the sanitizer build sees a leak)
  ASSERT_EQ(CopyRasterImage(src.img, &copy), RASTER_OK);
  EXPECT_EQ(copy->width, 9u);
  EXPECT_EQ(copy->height, 3u);
  EXPECT_EQ(copy->bits_per_pixel, 8);
  EXPECT_EQ(copy->palette_size, 6);
  EXPECT_EQ(copy->bytes_per_palette_entry, 4);
  EXPECT_EQ(copy->scan_width, 12u);
  EXPECT_EQ(copy->bmp_layout, 2);
  EXPECT_EQ(copy->transparency_index, 5);
  EXPECT_EQ(Bytes(copy->bits, copy->bits + 36), Bytes(src->bits, src->bits + 36));
  EXPECT_EQ(Bytes(copy->palette, copy->palette + 24), Bytes(src->palette, src->palette + 24));
  // Four-byte entries without the BMP layout, as several readers make them.
  Record flat(0), flat_copy(0);
  flat->bytes_per_palette_entry = 4;
  MakeRecord(flat, 3, 1, 4, 2);
  std::memset(flat->palette, 0x61, 8);
  ASSERT_EQ(CopyRasterImage(flat.img, &flat_copy), RASTER_OK);
  EXPECT_EQ(flat_copy->bytes_per_palette_entry, 4);
  EXPECT_EQ(Bytes(flat_copy->palette, flat_copy->palette + 8), Bytes(8, 0x61));
}

// The table's last message, and past either end a plain "unknown" rather
// than whatever memory follows the table.
TEST(RasterRecord, LastErrorMessageAtAndPastTheEndsOfItsTable) {
  const char *message = nullptr;
  SetLastRasterError(RASTER_OK);
  GetLastRasterErrorMessage(&message);
  EXPECT_STREQ(message, "No Error");
  SetLastRasterError(RASTER_ERR_CORRUPT_FILE);
  GetLastRasterErrorMessage(&message);
  EXPECT_STREQ(message, "Corrupt File");
  SetLastRasterError(RASTER_ERR_CORRUPT_FILE + 1);
  GetLastRasterErrorMessage(&message);
  EXPECT_STREQ(message, "Unknown error code");
  SetLastRasterError(-1);
  GetLastRasterErrorMessage(&message);
  EXPECT_STREQ(message, "Unknown error code");
  SetLastRasterError(RASTER_OK);
}

TEST(RasterRecord, FreeRasterMemoryReleasesABlockAndTakesNull) {
  // The sanitizer build reports the block as leaked if it stays.
  FreeRasterMemory(static_cast<unsigned char *>(std::malloc(32)));
  FreeRasterMemory(nullptr);
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

// The palette holds 4 entries but counts 3: index 3 has no entry and must
// not take the colour stored after the counted ones. Index 0 is a
// transparent index like any other.
TEST(RasterConvert, IndexEqualToThePaletteSizeIsBlackAndIndexZeroCanBeTransparent) {
  Record src(0), out(1);
  Fill(src, 3, 8, {{0, 2, 3}}, 4);
  for (unsigned i = 0; i < 4; ++i) SetPaletteEntry(&src, i, 200, uint8_t(10 + i), 30);
  src->palette_size = 3;
  src->transparency_index = 0;
  ASSERT_EQ(ConvertPaletteToRGB(src.img, &out), RASTER_OK);
  EXPECT_EQ(out->bits_per_pixel, 32);
  EXPECT_EQ(RowOf(out, 0, 12), (Bytes{30, 10, 200, 0, 30, 12, 200, 255, 0, 0, 0, 255}));
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

// Only pixels whose channels differ by more than 2 turn grey; alpha stays.
TEST(RasterConvert, PseudoGreyGreysOnlyColouredPixels) {
  Record rgb(0), rgba(0), words(0);
  Fill(rgb, 3, 24, {{10, 11, 12, 10, 11, 13, 10, 20, 30}});
  SetLastRasterError(RASTER_ERR_READ);
  ASSERT_EQ(ConvertToPseudoGrayScale(&rgb), RASTER_OK);
  EXPECT_EQ(GetLastRasterError(), RASTER_OK);
  EXPECT_EQ(RowOf(rgb, 0, 9), (Bytes{10, 11, 12, 11, 11, 11, 22, 22, 22}));
  Fill(rgba, 2, 32, {{12, 10, 11, 7, 30, 20, 10, 9}});
  ASSERT_EQ(ConvertToPseudoGrayScale(&rgba), RASTER_OK);
  EXPECT_EQ(RowOf(rgba, 0, 8), (Bytes{12, 10, 11, 7, 18, 18, 18, 9}));
  Fill(words, 1, 16, {{0x1F, 0x7C}});
  EXPECT_EQ(ConvertToPseudoGrayScale(&words), RASTER_ERR_INVALID_BPP) << "16 bits";
  EXPECT_EQ(GetLastRasterError(), RASTER_ERR_INVALID_BPP);
  EXPECT_EQ(RowOf(words, 0, 2), (Bytes{0x1F, 0x7C}));
}

TEST(RasterConvert, InverseBlendRecoversTheForeground) {
  EXPECT_EQ(InverseAlphaComp(100, 128, 0), 199);
  EXPECT_EQ(InverseAlphaComp(100, 0, 7), 7) << "alpha 0: the background";
  EXPECT_EQ(InverseAlphaComp(1, 1, 0), 255) << "alpha 1";
  EXPECT_EQ(InverseAlphaComp(100, 254, 255), 99) << "alpha 254";
  EXPECT_EQ(InverseAlphaComp(100, 255, 255), 100) << "alpha 255: the composite";
  EXPECT_EQ(InverseAlphaComp(0, 128, 200), 0) << "a quotient below 0";
  EXPECT_EQ(InverseAlphaComp(255, 1, 0), 255) << "a quotient above 255, not wrapped";
}

TEST(RasterHeader, InfoHeaderRoundsTheBitCountAndWordAlignsRows) {
  const BitmapInfoHeader h = InternalCreateBMI(3, 2, 3, 0);
  EXPECT_EQ(h.header_size, 40u);
  EXPECT_EQ(h.width, 3);
  EXPECT_EQ(h.height, 2);
  EXPECT_EQ(h.planes, 1);
  EXPECT_EQ(h.bit_count, 4);
  EXPECT_EQ(h.image_size, 8u);
  EXPECT_EQ(h.x_pixels_per_meter, 0);
  EXPECT_EQ(h.y_pixels_per_meter, 0);
  EXPECT_EQ(h.colors_used, 16u);
  EXPECT_EQ(h.colors_important, 16u);
  const int rounded[][2] = {{0, 1},   {1, 1},   {2, 4},   {4, 4},   {5, 8},   {8, 8},  {9, 16},
                            {16, 16}, {17, 24}, {24, 24}, {25, 32}, {32, 32}, {33, 8}};
  for (const auto &r : rounded)
    EXPECT_EQ(InternalCreateBMI(1, 1, uint16_t(r[0]), 0).bit_count, r[1]) << r[0];
  EXPECT_EQ(InternalCreateBMI(1, 1, 8, 0).colors_used, 256u);
  EXPECT_EQ(InternalCreateBMI(1, 1, 9, 0).colors_used, 0u);
  EXPECT_EQ(InternalCreateBMI(8, 5, 4, 0).image_size, 20u) << "32 bits fill one word";
  EXPECT_EQ(InternalCreateBMI(9, 5, 4, 0).image_size, 40u) << "36 bits take two";
  EXPECT_EQ(InternalCreateBMI(1, 1, 24, 3).compression, 3u);
}

TEST(RasterHeader, SwapsReverseTheBytes) {
  EXPECT_EQ(SwapUShort(0x1234), 0x3412);
  EXPECT_EQ(SwapShort(0x1280), static_cast<int16_t>(0x8012));
  EXPECT_EQ(SwapShort(static_cast<int16_t>(0x80FF)), static_cast<int16_t>(0xFF80));
  EXPECT_EQ(SwapULong(0x01020304u), 0x04030201u);
  EXPECT_EQ(SwapULong(0xF1E2D3C4u), 0xC4D3E2F1u);
  EXPECT_EQ(SwapLong(0x01020384), static_cast<int32_t>(0x84030201u));
  EXPECT_EQ(SwapLong(static_cast<int32_t>(0x81828304u)), 0x04838281);
}

TEST(RasterBackground, ColourAndImageKeepWhatWasSet) {
  const uint8_t colour[4] = {1, 2, 3, 4};
  SetRasterBackgroundColor(colour);
  EXPECT_EQ(Bytes(GetBackgroundColor(), GetBackgroundColor() + 4), (Bytes{1, 2, 3, 4}));
  InitBackground();
  EXPECT_EQ(Bytes(GetBackgroundColor(), GetBackgroundColor() + 4), (Bytes{255, 255, 255, 0}));
  EXPECT_EQ(GetBackgroundImage()->bits, nullptr);
  EXPECT_EQ(GetBackgroundImage()->transparency_index, -1);

  Record pal(0);
  Fill(pal, 2, 8, {{1, 0}}, 2);
  SetPaletteEntry(&pal, 1, 9, 8, 7);
  ASSERT_EQ(SetRasterBackgroundImage(pal.img), RASTER_OK);
  const RasterImage *bg = GetBackgroundImage();
  EXPECT_EQ(bg->bits_per_pixel, 24);
  EXPECT_EQ(bg->width, 2u);
  EXPECT_EQ(Bytes(bg->bits, bg->bits + 6), (Bytes{7, 8, 9, 0, 0, 0}));
  // A second picture replaces the first (the sanitizer build sees a leak
  // otherwise); one the conversion refuses leaves none.
  ASSERT_EQ(SetRasterBackgroundImage(pal.img), RASTER_OK);
  pal->width = 0;
  EXPECT_EQ(SetRasterBackgroundImage(pal.img), RASTER_ERR_INVALID_SIZE);
  EXPECT_EQ(GetLastRasterError(), RASTER_ERR_INVALID_SIZE);
  EXPECT_EQ(GetBackgroundImage()->bits, nullptr);
  EXPECT_EQ(Bytes(GetBackgroundColor(), GetBackgroundColor() + 4), (Bytes{255, 255, 255, 0}));
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
