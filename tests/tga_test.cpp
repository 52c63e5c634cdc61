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
  const std::string tga = ".save(%o, 'TGA'", rle = ", compression='tga_rle'",
                    up = ", orientation=1";  // top row first
  ExpectToolFilesRead(ReadTGA, {{Pillow(tga + ")"), 0, 8},  // bottom row first, raw
                                {Pillow(".quantize(256)" + tga + rle + up + ")"), 40, 8},
                                {Pillow(tga + rle + ")"), 1u << 24, 24},
                                {"pamtotga -rgb -norle %i > %o", 1u << 24, 24}});
}

// netpbm writes grey pictures colour-mapped with one-byte map entries, each
// a grey level.
TEST(TgaRead, GreyColourMapOfNetpbmAsTgatoppmReadsIt) {
  if (!NeedTools({"pgmramp", "pamtotga", "tgatoppm"})) GTEST_SKIP() << "tools missing";
  TempDir dir;
  const std::string tga = dir.File("ramp.tga"), ppm = dir.File("ramp.ppm");
  ASSERT_EQ(RunTool("pgmramp -lr 64 16 | pamtotga -cmap > %i && tgatoppm %i > %o", tga, ppm), 0);
  int width = 0, height = 0, channels = 0;
  Bytes netpbm;
  ASSERT_TRUE(ReadPnm(ppm, &width, &height, &channels, &netpbm));
  Record r;
  ASSERT_EQ(ReadTGA(tga.c_str(), &r), RASTER_OK);
  EXPECT_EQ(TopFirstRgb(r.img), netpbm);
}

TEST(TgaWrite, ReadBackByNetpbmAndPillowSidesAndExactBytes) {
  // Grey palettes that are not the ramp must go out through their colours.
  ExpectWrittenFilesReadAlike(WriteTGA, ReadTGA, "tga", "tgatoppm", {1, 4, 8, 24, 32}, true);
  ExpectSidesLimitedTo16Bits(WriteTGA);
  TempDir dir;  // exact bytes of a grey ramp and of 1 bit
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

TEST(TgaRead, RightToLeftDepthsRunsMapsAndHostileFields) {
  ExpectEveryTruncationFails(
      Tga(10, 3, 2, 24, 0, {0x81, 1, 2, 3, 0x03, 4, 5, 6, 7, 8, 9, 1, 2, 3, 4, 5, 6}),
      ReadTGAMemory);
  const int kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION;
  ExpectHandMadeFiles(
      ReadTGAMemory,
      {{"bottom-right", Tga(3, 2, 2, 8, 0x10, {1, 2, 3, 4}), GreyToRgb({4, 3, 2, 1})},
       {"top-right", Tga(3, 2, 2, 8, 0x30, {1, 2, 3, 4}), GreyToRgb({2, 1, 4, 3})},
       {"32 no alpha bits", Tga(2, 2, 1, 32, 0, {1, 2, 3, 4, 5, 6, 7, 8}), {3, 2, 1, 7, 6, 5}},
       {"15 bits", Tga(2, 2, 1, 15, 0, {0xFF, 0x7F, 0x1F, 0}), {248, 248, 248, 0, 0, 248}},
       {"long run cut", Tga(11, 2, 2, 8, 0, {0xFF, 77}), GreyToRgb({77, 77, 77, 77})},
       {"map 16", Tga(1, 1, 1, 8, 0, {0x1F, 0, 0}, 16, 1), {0, 0, 248}},
       {"8-bit map skipped", Tga(3, 2, 1, 8, 0, {9, 9, 9, 2, 1}, 8, 3), GreyToRgb({2, 1})},
       {"type 12", Tga(12, 1, 1, 8, 0), {}, kUnsupported},
       {"8-bit true colour", Tga(2, 1, 1, 8, 0), {}, kUnsupported},
       {"map of 300", Tga(1, 1, 1, 8, 0, {}, 24, 300), {}, kUnsupported},
       {"map of 12-bit entries", Tga(1, 1, 1, 8, 0, {0, 0, 0}, 12, 1), {}, kUnsupported},
       {"65535 squared", Tga(2, 65535, 65535, 32, 8), {}, RASTER_ERR_INVALID_SIZE},
       {"runs past the end", Tga(10, 30000, 20000, 24, 0), {}, RASTER_ERR_READ},
       {"map past the end", Tga(2, 1, 1, 24, 0, {}, 32, 65535), {}, RASTER_ERR_READ}});
}

// Colour maps of up to 256 entries are taken, longer ones refused; pixel
// data one byte short of the picture is refused.
TEST(TgaRead, MapLengthLimitAndShortData) {
  Bytes map;  // entry i: blue i, green 255 - i, red 7
  for (int i = 0; i < 257; ++i) map.insert(map.end(), {uint8_t(i), uint8_t(255 - i), 7});
  const Bytes map256(map.begin(), map.end() - 3), indices{0, 255, 1};
  const Bytes mapped = Tga(1, 3, 1, 8, 0, Cat({map256, indices}), 24, 256);
  const Bytes raw = Tga(2, 2, 1, 24, 0, {1, 2, 3, 4, 5, 6});
  const int kRead = RASTER_ERR_READ;
  ExpectHandMadeFiles(
      ReadTGAMemory,
      {{"map of 256", mapped, {7, 255, 0, 7, 0, 255, 7, 254, 1}},
       {"map of 257", Tga(1, 3, 1, 8, 0, Cat({map, indices}), 24, 257), {},
        RASTER_ERR_UNSUPPORTED_OPTION},
       {"map of 256, one byte short", Bytes(mapped.begin(), mapped.end() - 1), {}, kRead},
       {"true colour", raw, {3, 2, 1, 6, 5, 4}},
       {"true colour, one byte short", Bytes(raw.begin(), raw.end() - 1), {}, kRead}});
}

}  // namespace
