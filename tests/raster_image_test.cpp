// The image record, its sizes and last error, and the pixel conversions,
// checked against values worked out by hand.
#include <gtest/gtest.h>

#include <cstring>

#include "image/raster_image.h"
#include "raster_test_util.h"

namespace {

using namespace tsl;
using namespace tsltest;

template <size_t N>
void ExpectBytes(const uint8_t *got, const uint8_t (&want)[N]) {
  EXPECT_EQ(Bytes(got, got + N), Bytes(want, want + N));
}

TEST(RasterRecord, SizesAndDepthsRefused) {
  Record r(1);
  MakeRecord(r, 3, 2, 24);
  EXPECT_EQ(r->scan_width, 12u) << "rows padded to 4 bytes";
  uint8_t *bits = r->bits;
  r->bits_per_pixel = 2;
  EXPECT_EQ(AllocateRasterImage(&r), RASTER_ERR_INVALID_BPP);
  EXPECT_EQ(GetLastRasterError(), RASTER_ERR_INVALID_BPP);
  EXPECT_EQ(r->bits, bits) << "buffers stay on a depth failure";

  // Sizes that wrap in 32 bits are refused, not allocated small.
  const struct { uint32_t w, h; unsigned bpp; } absurd[] = {
      {4, 0, 8}, {0xFFFFFFFFu, 0xFFFFFFFFu, 32}, {0x80000000u, 1, 32}, {0x40000001u, 4, 32},
      {65536, 65536, 8}, {0xFFFFFFFFu, 1, 1}, {1, 0xFFFFFFFFu, 24}};
  for (const auto &a : absurd) {
    Record big(1);
    big->width = a.w, big->height = a.h, big->bits_per_pixel = static_cast<uint8_t>(a.bpp);
    EXPECT_REFUSED(AllocateRasterImage(&big), big, RASTER_ERR_INVALID_SIZE);
  }
}

TEST(RasterRecord, CopyIsDeepAndIndependent) {
  Record src(1), copy(1);
  MakeRecord(src, 5, 3, 8, 4);
  for (uint32_t y = 0; y < 3; ++y) std::memset(src.Row(y), static_cast<int>(y + 1), 5);
  std::memset(src->palette, 0x42, 16);
  src->transparency_index = 2;
  ASSERT_EQ(CopyRasterImage(src.img, &copy), RASTER_OK);
  ASSERT_NE(copy->bits, src->bits);
  ASSERT_NE(copy->palette, src->palette);
  EXPECT_EQ(copy->transparency_index, 2);
  EXPECT_EQ(0, std::memcmp(copy->bits, src->bits, 3 * src->scan_width));
  EXPECT_EQ(0, std::memcmp(copy->palette, src->palette, 16));
  copy.Row(1)[0] = 99;
  copy->palette[0] = 7;
  EXPECT_EQ(src.Row(1)[0], 2);
  EXPECT_EQ(src->palette[0], 0x42);

  // 4-byte entries copied into a record of 3-byte ones keep their colours
  // and stay inside the copy's palette.
  Record wide(0), narrow(0);
  wide->bytes_per_palette_entry = 4;
  MakeRecord(wide, 2, 2, 8, 3);
  for (int i = 0; i < 12; ++i) wide->palette[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(CopyRasterImage(wide.img, &narrow), RASTER_OK);
  ASSERT_EQ(narrow->bytes_per_palette_entry, 3);
  ExpectBytes(narrow->palette, {0, 1, 2, 4, 5, 6, 8, 9, 10});
}

TEST(RasterConvert, PaletteToRgbTransparencyAndIndicesBeyondThePalette) {
  Record src(1), out(1), opaque(1);
  MakeRecord(src, 3, 2, 8);
  for (int i = 0; i < 256; ++i) std::memcpy(src->palette + 4 * i, Bytes{uint8_t(i), 7, 0}.data(), 3);
  const uint8_t idx[2][3] = {{5, 1, 5}, {0, 5, 200}};
  for (int y = 0; y < 2; ++y) std::memcpy(src.Row(y), idx[y], 3);
  src->transparency_index = 5;
  ASSERT_EQ(ConvertPaletteToRGB(src.img, &out), RASTER_OK);
  ASSERT_EQ(out->bits_per_pixel, 32);
  EXPECT_EQ(out->transparency_index, -1);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      const uint8_t *p = out.Row(y) + 4 * x, v = idx[y][x];
      EXPECT_EQ(Bytes(p, p + 4), (Bytes{v, 7, 0, uint8_t(v == 5 ? 0 : 255)})) << y << "," << x;
    }
  src->transparency_index = -1;
  ASSERT_EQ(ConvertPaletteToRGB(src.img, &opaque), RASTER_OK);
  EXPECT_EQ(opaque->bits_per_pixel, 24);

  // An index past palette_size gives black, never a read past the entries.
  Record small(0), rgb(0);
  MakeRecord(small, 4, 1, 8, 2);
  std::memset(small->palette, 0xFF, 6);
  std::memcpy(small.Row(0), "\0\1\2\377", 4);
  ASSERT_EQ(ConvertPaletteToRGB(small.img, &rgb), RASTER_OK);
  ExpectBytes(rgb.Row(0), {255, 255, 255, 255, 255, 255, 0, 0, 0, 0, 0, 0});
}

TEST(RasterConvert, UnpacksOneAndFourBitRowsOfOddWidths) {
  // Width 10 at 1 bit: pixels 9 and 10 come from the two leading bits of
  // each row's second byte.
  Record one(1), four(1);
  MakeRecord(one, 10, 2, 1);
  std::memcpy(one.Row(0), "\xA5\x80", 2);
  std::memcpy(one.Row(1), "\x0F\x7F", 2);
  uint8_t out[20];
  Convert1to8(one.img, out);
  ExpectBytes(out, {1, 0, 1, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0, 0, 1, 1, 1, 1, 0, 1});
  MakeRecord(four, 3, 2, 4);
  std::memcpy(four.Row(0), "\x12\x3F", 2);
  std::memcpy(four.Row(1), "\xAB\xC0", 2);
  Convert4to8(four.img, out);
  ExpectBytes(out, {1, 2, 3, 0xA, 0xB, 0xC});

  // Through the palette (black, white), top row first.
  std::memset(one->palette + 4, 255, 3);
  Bytes rgb = TopFirstRgb(one.img);
  ASSERT_EQ(rgb.size(), 60u);
  EXPECT_EQ((Bytes{rgb[24], rgb[27], rgb[54], rgb[57]}), (Bytes{0, 255, 255, 0}));
}

TEST(RasterConvert, FiveFiveFiveToTwentyFour) {
  Record src(1), out(1);
  MakeRecord(src, 3, 1, 16);
  std::memcpy(src.Row(0), "\xFF\x7F\x00\x80\x1F\x00", 6);  // 0x7FFF, 0x8000, 0x001F
  ASSERT_EQ(ConvertPaletteToRGB(src.img, &out), RASTER_OK);
  ExpectBytes(out.Row(0), {248, 248, 248, 0, 0, 0, 248, 0, 0});
  EXPECT_EQ(Convert16to24(&out), RASTER_ERR_INVALID_BPP);
  ASSERT_EQ(Convert16to24(&src), RASTER_OK);
  EXPECT_EQ(src->scan_width, 12u);
  ExpectBytes(src.Row(0), {248, 248, 248, 0, 0, 0, 248, 0, 0});
}

TEST(RasterConvert, CompressRepacksSmallPalettes) {
  Record two(0), sixteen(0), seventeen(0);
  MakeRecord(two, 9, 1, 8, 2);
  MakeRecord(sixteen, 3, 1, 8, 16);
  MakeRecord(seventeen, 3, 1, 8, 17);
  std::memcpy(two.Row(0), "\1\0\1\1\0\0\0\1\1", 9);
  std::memcpy(sixteen.Row(0), "\x0F\x03\x0A", 3);
  for (RasterImage *r : {&two, &sixteen, &seventeen}) ASSERT_EQ(CompressRasterImage(r), RASTER_OK);
  EXPECT_EQ(two->bits_per_pixel, 1);
  ExpectBytes(two.Row(0), {0xB1, 0x80});
  EXPECT_EQ(sixteen->bits_per_pixel, 4);
  ExpectBytes(sixteen.Row(0), {0xF3, 0xA0});
  EXPECT_EQ(seventeen->bits_per_pixel, 8);
}

TEST(RasterConvert, GreyLevelsAndAlpha) {
  const uint8_t red[3] = {0, 0, 255}, green[3] = {0, 255, 0}, blue[3] = {255, 0, 0},
                white[3] = {255, 255, 255};
  EXPECT_EQ((Bytes{CreateGrayScale(red), CreateGrayScale(green), CreateGrayScale(blue),
                   CreateGrayScale(white)}), (Bytes{76, 150, 29, 255}));

  Record rgb(1), rgba(1), pseudo(1), sixteen(1);
  MakeRecord(rgb, 2, 1, 24);
  std::memcpy(rgb.Row(0), "\0\0\377\377\0\0", 6);
  ASSERT_EQ(ConvertToGrayScale(&rgb), RASTER_OK);
  EXPECT_EQ(rgb->bits_per_pixel, 8);
  ExpectBytes(rgb.Row(0), {76, 29});
  EXPECT_EQ(rgb->palette[4 * 200 + 1], 200);
  MakeRecord(rgba, 1, 1, 32);
  std::memcpy(rgba.Row(0), "\0\377\0\11", 4);
  ASSERT_EQ(ConvertToGrayScale(&rgba), RASTER_OK);
  ExpectBytes(rgba.Row(0), {150, 150, 150, 9});
  MakeRecord(pseudo, 2, 1, 24);
  std::memcpy(pseudo.Row(0), "\12\13\14\12\24\36", 6);
  ASSERT_EQ(ConvertToPseudoGrayScale(&pseudo), RASTER_OK);
  ExpectBytes(pseudo.Row(0), {10, 11, 12, 22, 22, 22});
  MakeRecord(sixteen, 1, 1, 16);
  EXPECT_EQ(ConvertToPseudoGrayScale(&sixteen), RASTER_ERR_INVALID_BPP);
  EXPECT_EQ(GetLastRasterError(), RASTER_ERR_INVALID_BPP);

  EXPECT_EQ((Bytes{AlphaComp(200, 128, 0), AlphaComp(200, 0, 17), AlphaComp(200, 255, 17),
                   InverseAlphaComp(100, 128, 0), InverseAlphaComp(0, 128, 255),
                   InverseAlphaComp(255, 1, 0)}),
            (Bytes{100, 17, 200, 199, 0, 255}));
}

TEST(RasterUtil, ErrorMessages) {
  const char *message = nullptr;
  SetLastRasterError(10);
  GetLastRasterErrorMessage(&message);
  EXPECT_STREQ(message, "Unsupported file extension");
  SetLastRasterError(99);
  GetLastRasterErrorMessage(&message);
  ASSERT_NE(message, nullptr) << "a code outside the table still has a message";
}

}  // namespace
