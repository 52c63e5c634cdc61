// The image record, its sizes and last error, and the pixel conversions,
// checked against values worked out by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "image/raster_image.h"
#include "raster_test_util.h"

namespace {

using namespace tsl;
using tsltest::Bytes;
using tsltest::MakeRecord;
using tsltest::Record;

TEST(RasterRecord, ScanWidthFollowsDepthAndLayout) {
  Record padded(1), packed(0), one_bit(1);
  MakeRecord(padded, 3, 2, 24);
  MakeRecord(packed, 3, 2, 24);
  MakeRecord(one_bit, 3, 2, 1);
  EXPECT_EQ(padded->scan_width, 12u);
  EXPECT_EQ(packed->scan_width, 9u);
  EXPECT_EQ(one_bit->scan_width, 4u);
  EXPECT_EQ(padded->palette, nullptr);
  EXPECT_EQ(padded->palette_size, 0);
  EXPECT_EQ(one_bit->palette_size, 2);
  EXPECT_EQ(one_bit->bytes_per_palette_entry, 4);
  EXPECT_EQ(packed->transparency_index, -1);
}

TEST(RasterRecord, PalettePresetsAreKept) {
  Record sixteen(1), full(1), wide(0), narrow(0);
  MakeRecord(sixteen, 4, 4, 8, 16);
  MakeRecord(full, 4, 4, 8);
  wide->bytes_per_palette_entry = 4;
  MakeRecord(wide, 4, 4, 8);
  MakeRecord(narrow, 4, 4, 8);
  EXPECT_EQ(sixteen->palette_size, 16);
  EXPECT_EQ(full->palette_size, 256);
  EXPECT_EQ(wide->bytes_per_palette_entry, 4);
  EXPECT_EQ(narrow->bytes_per_palette_entry, 3);
}

TEST(RasterRecord, RefusesBadDepthAndSizes) {
  Record r(1);
  MakeRecord(r, 4, 4, 8);
  uint8_t *bits = r->bits;
  r->bits_per_pixel = 2;
  EXPECT_EQ(AllocateRasterImage(&r), RASTER_ERR_INVALID_BPP);
  EXPECT_EQ(GetLastRasterError(), RASTER_ERR_INVALID_BPP);
  EXPECT_EQ(r->bits, bits) << "buffers stay on a depth failure";
  r->bits_per_pixel = 8;
  r->height = 0;
  EXPECT_EQ(AllocateRasterImage(&r), RASTER_ERR_INVALID_SIZE);

  // Sizes that wrap in 32 bits are refused, not allocated small.
  const struct { uint32_t w, h; unsigned bpp; } absurd[] = {
      {0xFFFFFFFFu, 0xFFFFFFFFu, 32}, {0x80000000u, 1, 32}, {0x40000001u, 4, 32},
      {65536, 65536, 8}, {0xFFFFFFFFu, 1, 1}, {1, 0xFFFFFFFFu, 24}};
  for (const auto &a : absurd) {
    Record big(1);
    big->width = a.w;
    big->height = a.h;
    big->bits_per_pixel = static_cast<uint8_t>(a.bpp);
    EXPECT_EQ(AllocateRasterImage(&big), RASTER_ERR_INVALID_SIZE) << a.w << "x" << a.h;
    EXPECT_EQ(big->bits, nullptr);
    EXPECT_EQ(big->palette, nullptr);
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
  EXPECT_EQ(copy->palette_size, 4);
  EXPECT_EQ(copy->transparency_index, 2);
  EXPECT_EQ(0, std::memcmp(copy->bits, src->bits, 3 * src->scan_width));
  EXPECT_EQ(0, std::memcmp(copy->palette, src->palette, 16));
  copy.Row(1)[0] = 99;
  copy->palette[0] = 7;
  EXPECT_EQ(src.Row(1)[0], 2);
  EXPECT_EQ(src->palette[0], 0x42);

  // 4-byte entries copied into a record that chooses 3-byte ones keep their
  // colours and stay inside the copy's palette.
  Record wide(0), narrow(0);
  wide->bytes_per_palette_entry = 4;
  MakeRecord(wide, 2, 2, 8, 3);
  for (int i = 0; i < 12; ++i) wide->palette[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(CopyRasterImage(wide.img, &narrow), RASTER_OK);
  EXPECT_EQ(narrow->bytes_per_palette_entry, 3);
  const uint8_t expect[9] = {0, 1, 2, 4, 5, 6, 8, 9, 10};
  EXPECT_EQ(0, std::memcmp(narrow->palette, expect, 9));
}

TEST(RasterConvert, PaletteToRgbWithTransparency) {
  Record src(1), out(1);
  MakeRecord(src, 3, 2, 8);
  for (int i = 0; i < 256; ++i) {
    src->palette[4 * i] = static_cast<uint8_t>(i);
    src->palette[4 * i + 1] = static_cast<uint8_t>(255 - i);
    src->palette[4 * i + 2] = 7;
  }
  const uint8_t idx[2][3] = {{5, 1, 5}, {0, 5, 200}};
  for (int y = 0; y < 2; ++y) std::memcpy(src.Row(y), idx[y], 3);
  src->transparency_index = 5;
  ASSERT_EQ(ConvertPaletteToRGB(src.img, &out), RASTER_OK);
  ASSERT_EQ(out->bits_per_pixel, 32);
  EXPECT_EQ(out->transparency_index, -1);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      const uint8_t *p = out.Row(y) + 4 * x;
      EXPECT_EQ(p[0], idx[y][x]);
      EXPECT_EQ(p[1], 255 - idx[y][x]);
      EXPECT_EQ(p[2], 7);
      EXPECT_EQ(p[3], idx[y][x] == 5 ? 0 : 255);
    }
  src->transparency_index = -1;
  Record opaque(1);
  ASSERT_EQ(ConvertPaletteToRGB(src.img, &opaque), RASTER_OK);
  EXPECT_EQ(opaque->bits_per_pixel, 24);
  EXPECT_EQ(opaque->scan_width, 12u);
}

TEST(RasterConvert, IndexBeyondPaletteIsBlack) {
  Record src(0), out(0);
  MakeRecord(src, 4, 1, 8, 2);
  std::memset(src->palette, 0xFF, 6);
  const uint8_t idx[4] = {0, 1, 2, 255};
  std::memcpy(src.Row(0), idx, 4);
  ASSERT_EQ(ConvertPaletteToRGB(src.img, &out), RASTER_OK);
  const uint8_t expect[12] = {255, 255, 255, 255, 255, 255, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(out.Row(0), expect, 12));
}

TEST(RasterConvert, UnpacksOneAndFourBitRowsOfOddWidths) {
  // Width 10 at 1 bit: the 9th and 10th pixels come from the two leading
  // bits of each row's second byte.
  Record one(1);
  MakeRecord(one, 10, 2, 1);
  one.Row(0)[0] = 0xA5;
  one.Row(0)[1] = 0x80;
  one.Row(1)[0] = 0x0F;
  one.Row(1)[1] = 0x7F;
  Bytes out(20);
  Convert1to8(one.img, out.data());
  const uint8_t expect1[20] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0, 0, 1, 1, 1, 1, 0, 1};
  EXPECT_EQ(0, std::memcmp(out.data(), expect1, 20));

  Record four(1);
  MakeRecord(four, 3, 2, 4);
  four.Row(0)[0] = 0x12;
  four.Row(0)[1] = 0x3F;
  four.Row(1)[0] = 0xAB;
  four.Row(1)[1] = 0xC0;
  Bytes out4(6);
  Convert4to8(four.img, out4.data());
  const uint8_t expect4[6] = {1, 2, 3, 0xA, 0xB, 0xC};
  EXPECT_EQ(0, std::memcmp(out4.data(), expect4, 6));

  // Through the palette: 1-bit width 10 with black and white.
  one->palette[4] = one->palette[5] = one->palette[6] = 255;
  Bytes rgb = tsltest::TopFirstRgb(one.img);
  ASSERT_EQ(rgb.size(), 60u);
  // Record row 0 is the bottom: the picture's second row.
  EXPECT_EQ(rgb[3 * 8], 0);
  EXPECT_EQ(rgb[3 * 9], 255);
  EXPECT_EQ(rgb[30 + 3 * 8], 255);
  EXPECT_EQ(rgb[30 + 3 * 9], 0);
}

TEST(RasterConvert, FiveFiveFiveToTwentyFour) {
  Record src(1), out(1);
  MakeRecord(src, 3, 1, 16);
  const uint8_t words[6] = {0xFF, 0x7F, 0x00, 0x80, 0x1F, 0x00};  // 0x7FFF, 0x8000, 0x001F
  std::memcpy(src.Row(0), words, 6);
  ASSERT_EQ(ConvertPaletteToRGB(src.img, &out), RASTER_OK);
  EXPECT_EQ(out->bits_per_pixel, 24);
  const uint8_t expect[9] = {248, 248, 248, 0, 0, 0, 248, 0, 0};
  EXPECT_EQ(0, std::memcmp(out.Row(0), expect, 9));

  EXPECT_EQ(Convert16to24(&out), RASTER_ERR_INVALID_BPP);
  ASSERT_EQ(Convert16to24(&src), RASTER_OK);
  EXPECT_EQ(src->scan_width, 12u);
  EXPECT_EQ(0, std::memcmp(src.Row(0), expect, 9));
}

TEST(RasterConvert, CompressRepacksSmallPalettes) {
  Record two(0), sixteen(0), seventeen(0);
  MakeRecord(two, 9, 1, 8, 2);
  MakeRecord(sixteen, 3, 1, 8, 16);
  MakeRecord(seventeen, 3, 1, 8, 17);
  const uint8_t bits[9] = {1, 0, 1, 1, 0, 0, 0, 1, 1};
  std::memcpy(two.Row(0), bits, 9);
  const uint8_t nib[3] = {0xF, 0x3, 0xA};
  std::memcpy(sixteen.Row(0), nib, 3);
  ASSERT_EQ(CompressRasterImage(&two), RASTER_OK);
  ASSERT_EQ(CompressRasterImage(&sixteen), RASTER_OK);
  ASSERT_EQ(CompressRasterImage(&seventeen), RASTER_OK);
  EXPECT_EQ(two->bits_per_pixel, 1);
  EXPECT_EQ(two->scan_width, 2u);
  EXPECT_EQ(two.Row(0)[0], 0xB1);
  EXPECT_EQ(two.Row(0)[1], 0x80);
  EXPECT_EQ(sixteen->bits_per_pixel, 4);
  EXPECT_EQ(sixteen.Row(0)[0], 0xF3);
  EXPECT_EQ(sixteen.Row(0)[1], 0xA0);
  EXPECT_EQ(seventeen->bits_per_pixel, 8);
  EXPECT_EQ(CompressRasterImage(&sixteen), RASTER_OK);
  EXPECT_EQ(sixteen->bits_per_pixel, 4) << "a 4-bit record is left alone";
}

TEST(RasterConvert, GreyLevels) {
  const uint8_t red[3] = {0, 0, 255}, green[3] = {0, 255, 0}, blue[3] = {255, 0, 0},
                white[3] = {255, 255, 255};
  EXPECT_EQ(CreateGrayScale(red), 76);
  EXPECT_EQ(CreateGrayScale(green), 150);
  EXPECT_EQ(CreateGrayScale(blue), 29);
  EXPECT_EQ(CreateGrayScale(white), 255);

  Record rgb(1);
  MakeRecord(rgb, 2, 1, 24);
  std::memcpy(rgb.Row(0), red, 3);
  std::memcpy(rgb.Row(0) + 3, blue, 3);
  ASSERT_EQ(ConvertToGrayScale(&rgb), RASTER_OK);
  EXPECT_EQ(rgb->bits_per_pixel, 8);
  EXPECT_EQ(rgb->palette_size, 256);
  EXPECT_EQ(rgb->bytes_per_palette_entry, 4);
  EXPECT_EQ(rgb.Row(0)[0], 76);
  EXPECT_EQ(rgb.Row(0)[1], 29);
  EXPECT_EQ(rgb->palette[4 * 200 + 1], 200);

  Record rgba(1);
  MakeRecord(rgba, 1, 1, 32);
  const uint8_t px[4] = {0, 255, 0, 9};
  std::memcpy(rgba.Row(0), px, 4);
  ASSERT_EQ(ConvertToGrayScale(&rgba), RASTER_OK);
  const uint8_t grey[4] = {150, 150, 150, 9};
  EXPECT_EQ(0, std::memcmp(rgba.Row(0), grey, 4));

  Record pseudo(1);
  MakeRecord(pseudo, 2, 1, 24);
  const uint8_t two[6] = {10, 11, 12, 10, 20, 30};
  std::memcpy(pseudo.Row(0), two, 6);
  ASSERT_EQ(ConvertToPseudoGrayScale(&pseudo), RASTER_OK);
  const uint8_t after[6] = {10, 11, 12, 22, 22, 22};
  EXPECT_EQ(0, std::memcmp(pseudo.Row(0), after, 6));
  Record sixteen(1);
  MakeRecord(sixteen, 1, 1, 16);
  EXPECT_EQ(ConvertToPseudoGrayScale(&sixteen), RASTER_ERR_INVALID_BPP);
  EXPECT_EQ(GetLastRasterError(), RASTER_ERR_INVALID_BPP);
}

TEST(RasterConvert, AlphaBlends) {
  EXPECT_EQ(AlphaComp(200, 128, 0), 100);
  EXPECT_EQ(AlphaComp(200, 0, 17), 17);
  EXPECT_EQ(AlphaComp(200, 255, 17), 200);
  EXPECT_EQ(InverseAlphaComp(100, 128, 0), 199);
  EXPECT_EQ(InverseAlphaComp(0, 128, 255), 0);
  EXPECT_EQ(InverseAlphaComp(255, 1, 0), 255);
}

TEST(RasterUtil, BitmapInfoHeaderAndErrorMessages) {
  BitmapInfoHeader h = InternalCreateBMI(3, 2, 3, 0);
  EXPECT_EQ(h.header_size, 40u);
  EXPECT_EQ(h.bit_count, 4);
  EXPECT_EQ(h.image_size, 8u);
  EXPECT_EQ(h.colors_used, 16u);
  EXPECT_EQ(InternalCreateBMI(3, 2, 40, 0).bit_count, 8);

  const char *message = nullptr;
  SetLastRasterError(10);
  GetLastRasterErrorMessage(&message);
  EXPECT_STREQ(message, "Unsupported file extension");
  SetLastRasterError(99);
  GetLastRasterErrorMessage(&message);
  ASSERT_NE(message, nullptr) << "a code outside the table still has a message";
}

}  // namespace
