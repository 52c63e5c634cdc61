// TGA files: files made by Pillow and netpbm read with identical pixels, ours
// read back by them, hand-made pixel orders and maps, hostile files refused.
#include <gtest/gtest.h>

#include <cstring>

#include "image/tga.h"
#include "raster_test_util.h"

namespace {

using namespace tsltest;

// An 18-byte header (a colour map when `map_bits` is set) and `body`.
Bytes Tga(uint8_t type, uint16_t w, uint16_t h, uint8_t depth, uint8_t desc, Bytes body = {},
          uint8_t map_bits = 0, uint16_t map_len = 0) {
  body.insert(body.begin(), {0, map_bits != 0, type, 0, 0, uint8_t(map_len), uint8_t(map_len >> 8),
                             map_bits, 0, 0, 0, 0, uint8_t(w), uint8_t(w >> 8), uint8_t(h),
                             uint8_t(h >> 8), depth, desc});
  return body;
}

TEST(TgaRead, FilesOfPillowAndNetpbm) {
  TSL_NEED_TOOL("/usr/bin/python3");
  TSL_NEED_TOOL("pamtotga");
  ExpectToolFilesRead(
      ReadTGA, {{Pillow(".save(%o, 'TGA')"), 0, 8},  // bottom row first, raw
                {Pillow(".quantize(256).save(%o, 'TGA', compression='tga_rle', orientation=1)"),
                 40, 8},
                {Pillow(".save(%o, 'TGA', compression='tga_rle')"), 1u << 24, 24},
                {Pillow(".convert('RGBA').save(%o, 'TGA', orientation=1)"), 1u << 24, 32},
                {"pamtotga -cmap %i > %o", 40, 8}, {"pamtotga -rgb -norle %i > %o", 1u << 24, 24},
                {"pamtotga -mono %i > %o", 0, 8}});
}

// Hand-made files and the top-first RGB(A) they hold.
TEST(TgaRead, RightToLeftDepthsRunsAndColourMaps) {
  const struct { const char *what; Bytes file; Bytes rgb; } cases[] = {
      {"bottom-right", Tga(3, 2, 2, 8, 0x10, {1, 2, 3, 4}), GreyToRgb({4, 3, 2, 1})},
      {"top-right", Tga(3, 2, 2, 8, 0x30, {1, 2, 3, 4}), GreyToRgb({2, 1, 4, 3})},
      {"32 no alpha bits", Tga(2, 2, 1, 32, 0, {1, 2, 3, 4, 5, 6, 7, 8}), {3, 2, 1, 7, 6, 5}},
      {"15 bits", Tga(2, 2, 1, 15, 0, {0xFF, 0x7F, 0x1F, 0}), {248, 248, 248, 0, 0, 248}},
      {"long run cut", Tga(11, 2, 2, 8, 0, {0xFF, 77}), GreyToRgb({77, 77, 77, 77})},
      {"map 16", Tga(1, 1, 1, 8, 0, {0x1F, 0, 0}, 16, 1), {0, 0, 248}},
      {"8-bit map skipped", Tga(3, 2, 1, 8, 0, {9, 9, 9, 2, 1}, 8, 3), GreyToRgb({2, 1})}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Record r(0);
    ASSERT_EQ(ReadTGAMemory(c.file.data(), c.file.size(), &r), RASTER_OK);
    EXPECT_EQ(TopFirstRgb(r.img, true), c.rgb);
  }
}

TEST(TgaWrite, ReadBackByNetpbmAndPillowSidesOf16Bits) {
  TSL_NEED_TOOL("tgatoppm");
  TSL_NEED_TOOL("/usr/bin/python3");
  // Grey palettes that are not the ramp must go out through their colours.
  ExpectWrittenFilesReadAlike(WriteTGA, ReadTGA, "tga", "tgatoppm", {1, 4, 8, 24, 32}, true);
  ExpectSidesLimitedTo16Bits(WriteTGA);
}

TEST(TgaWrite, ExactBytesOfGreyRampAndOneBitMap) {
  TempDir dir;
  const std::string path = dir.File("g.tga");
  Record g(0), bw(1);
  MakeRecord(g, 3, 1, 8);
  for (int i = 0; i < 256; ++i) std::memset(g->palette + 3 * i, i, 3);
  std::memcpy(g->bits, "\1\2\3", 3);
  ASSERT_EQ(WriteTGA(path.c_str(), g.img), RASTER_OK);
  EXPECT_EQ(ReadFile(path), Tga(3, 3, 1, 8, 0x20, {1, 2, 3}));
  // 1 bit goes out as 8-bit indices into a two-entry map, blue first.
  MakeRecord(bw, 9, 1, 1);
  std::memcpy(bw->palette + 4, "\1\2\3", 3);
  bw->bits[0] = 0x81;
  ASSERT_EQ(WriteTGA(path.c_str(), bw.img), RASTER_OK);
  EXPECT_EQ(ReadFile(path),
            Tga(1, 9, 1, 8, 0x20, {0, 0, 0, 1, 2, 3, 1, 0, 0, 0, 0, 0, 0, 1, 0}, 24, 2));
}

TEST(TgaHostile, TruncationsAndBadFields) {
  Record src(1);
  MakeRecord(src, 5, 3, 8, 20);
  TempDir dir;
  const std::string path = dir.File("t.tga");
  ASSERT_EQ(WriteTGA(path.c_str(), src.img), RASTER_OK);
  ExpectEveryTruncationFails(ReadFile(path), ReadTGAMemory);
  ExpectEveryTruncationFails(
      Tga(10, 3, 2, 24, 0, {0x81, 1, 2, 3, 0x03, 4, 5, 6, 7, 8, 9, 1, 2, 3, 4, 5, 6}),
      ReadTGAMemory);
  const int kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION, kSize = RASTER_ERR_INVALID_SIZE;
  const struct { Bytes file; int code; } cases[] = {
      {Tga(0, 1, 1, 8, 0), kUnsupported}, {Tga(12, 1, 1, 8, 0), kUnsupported},
      {Tga(2, 1, 1, 8, 0), kUnsupported}, {Tga(1, 1, 1, 8, 0, {}, 24, 300), kUnsupported},
      {Tga(1, 1, 1, 16, 0, {}, 24, 2), kUnsupported}, {Tga(2, 0, 5, 24, 0), kSize},
      {Tga(2, 65535, 65535, 32, 8), kSize}, {Tga(10, 30000, 20000, 24, 0), RASTER_ERR_READ},
      {Tga(2, 1, 1, 24, 0, {}, 32, 65535), RASTER_ERR_READ}};
  for (const auto &c : cases) {
    Record r;
    ExpectRefused(ReadTGAMemory(c.file.data(), c.file.size(), &r), r, c.code);
  }
}

}  // namespace
