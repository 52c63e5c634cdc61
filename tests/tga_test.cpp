// TGA files: files made by Pillow and netpbm read with identical pixels (and
// colour maps in blue, green, red order), ours read back by them, the four
// pixel orders, and hostile files refused cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "image/tga.h"
#include "raster_test_util.h"

namespace {

using namespace tsl;
using namespace tsltest;

// An 18-byte header followed by `body`.
Bytes Tga(uint8_t type, uint8_t map_type, uint16_t map_len, uint8_t map_bits, uint16_t w,
          uint16_t h, uint8_t depth, uint8_t desc, std::initializer_list<uint8_t> body = {}) {
  Bytes f{0, map_type, type, 0, 0, uint8_t(map_len), uint8_t(map_len >> 8), map_bits, 0, 0, 0, 0,
          uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), depth, desc};
  f.insert(f.end(), body);
  return f;
}

int ReadMem(const Bytes &file, RasterImage *image) {
  return ReadTGAMemory(file.data(), file.size(), image);
}

TEST(TgaRead, FilesOfPillowAndNetpbm) {
  TSL_NEED_TOOL("/usr/bin/python3");
  TSL_NEED_TOOL("pamtotga");
  ExpectPillowFilesRead(ReadTGA, "tga", {{"L", 1, 8}, {"P", 1, 8}, {"RGB", 3, 24}, {"RGBA", 4, 32}},
                        {"", "compression='tga_rle'", "orientation=1",
                         "compression='tga_rle', orientation=1"});
  ExpectToolFilesRead(ReadTGA, {{"pamtotga -cmap %i > %o", 40, 8},
                                {"pamtotga -cmap -norle %i > %o", 40, 8},
                                {"pamtotga -rgb %i > %o", 1u << 24, 24},
                                {"pamtotga -rgb -norle %i > %o", 1u << 24, 24},
                                {"pamtotga -mono %i > %o", 0, 8},
                                {"pamtotga -mono -norle %i > %o", 0, 8}});
}

// Hand-made files and the top-first RGB(A) they hold.
TEST(TgaRead, OrdersDepthsRunsAndColourMaps) {
  const struct { const char *what; Bytes file; Bytes rgb; } cases[] = {
      // A 2 x 2 picture in file order 1 2 3 4 under each pixel order.
      {"bottom-left", Tga(3, 0, 0, 0, 2, 2, 8, 0x00, {1, 2, 3, 4}), GreyToRgb({3, 4, 1, 2})},
      {"top-left", Tga(3, 0, 0, 0, 2, 2, 8, 0x20, {1, 2, 3, 4}), GreyToRgb({1, 2, 3, 4})},
      {"bottom-right", Tga(3, 0, 0, 0, 2, 2, 8, 0x10, {1, 2, 3, 4}), GreyToRgb({4, 3, 2, 1})},
      {"top-right", Tga(3, 0, 0, 0, 2, 2, 8, 0x30, {1, 2, 3, 4}), GreyToRgb({2, 1, 4, 3})},
      // 32 bits without alpha bits read as 24; with them as 32.
      {"32 no alpha", Tga(2, 0, 0, 0, 2, 1, 32, 0, {1, 2, 3, 4, 5, 6, 7, 8}), {3, 2, 1, 7, 6, 5}},
      {"32 alpha", Tga(2, 0, 0, 0, 2, 1, 32, 8, {1, 2, 3, 4, 5, 6, 7, 8}),
       {3, 2, 1, 4, 7, 6, 5, 8}},
      {"32 rle", Tga(10, 0, 0, 0, 3, 1, 32, 0, {0x82, 1, 2, 3, 4}), {3, 2, 1, 3, 2, 1, 3, 2, 1}},
      {"15 bits", Tga(2, 0, 0, 0, 2, 1, 15, 0, {0xFF, 0x7F, 0x1F, 0}), {248, 248, 248, 0, 0, 248}},
      // A run longer than the picture is cut at its last pixel.
      {"long run", Tga(11, 0, 0, 0, 2, 2, 8, 0, {0xFF, 77}), GreyToRgb({77, 77, 77, 77})},
      // Colour maps of 24, 16 and 32 bits, stored blue, green, red.
      {"map 24", Tga(1, 1, 2, 24, 2, 1, 8, 0, {10, 20, 30, 40, 50, 60, 1, 0}),
       {60, 50, 40, 30, 20, 10}},
      {"map 16", Tga(1, 1, 1, 16, 1, 1, 8, 0, {0x1F, 0, 0}), {0, 0, 248}},
      {"map 32", Tga(1, 1, 1, 32, 1, 1, 8, 0, {10, 20, 30, 99, 0}), {30, 20, 10}},
      // Maps in a true-colour file, or of 8-bit entries, skipped by size.
      {"map skipped", Tga(2, 1, 3, 24, 1, 1, 24, 0, {9, 9, 9, 9, 9, 9, 9, 9, 9, 1, 2, 3}),
       {3, 2, 1}},
      {"grey map", Tga(3, 1, 3, 8, 2, 1, 8, 0, {9, 9, 9, 2, 1}), GreyToRgb({2, 1})},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Record r(0);
    ASSERT_EQ(ReadMem(c.file, &r), RASTER_OK);
    EXPECT_EQ(TopFirstRgb(r.img, true), c.rgb);
  }
  Record odd;  // a colour map of 8-bit entries is skipped, not used
  ASSERT_EQ(ReadMem(Tga(1, 1, 3, 8, 2, 1, 8, 0, {9, 9, 9, 2, 1}), &odd), RASTER_OK);
  EXPECT_EQ(Bytes(odd->bits, odd->bits + 2), (Bytes{2, 1}));
}

TEST(TgaWrite, ReadBackByNetpbmAndPillow) {
  TSL_NEED_TOOL("tgatoppm");
  TSL_NEED_TOOL("/usr/bin/python3");
  ExpectWrittenFilesReadAlike(WriteTGA, ReadTGA, "tga", "tgatoppm", {1, 4, 8, 24, 32}, true);
}

TEST(TgaWrite, GreyShortcutOnlyForTheExactRampAndBlueGreenRedMaps) {
  TempDir dir;
  const std::string path = dir.File("g.tga");
  Record g(0);
  MakeRecord(g, 3, 2, 8);
  g.Row(0)[0] = 17;
  // A reversed grey palette is grey but not the ramp: it goes out as a map.
  for (bool ramp : {true, false}) {
    for (int i = 0; i < 256; ++i) std::memset(g->palette + 3 * i, ramp ? i : 255 - i, 3);
    Record back;
    ASSERT_EQ(WriteTGA(path.c_str(), g.img), RASTER_OK);
    EXPECT_EQ(ReadFile(path).size(), ramp ? 18u + 6 : 18u + 768 + 6);
    ASSERT_EQ(ReadTGA(path.c_str(), &back), RASTER_OK);
    EXPECT_EQ(TopFirstRgb(back.img), TopFirstRgb(g.img));
  }
  // A 1-bit record, exact bytes: type 1, 8-bit pixels, a two-entry map
  // written blue, green, red.
  Record bw(1);
  MakeRecord(bw, 9, 1, 1);
  std::memcpy(bw->palette + 4, "\1\2\3", 3);
  bw->bits[0] = 0x81;
  ASSERT_EQ(WriteTGA(path.c_str(), bw.img), RASTER_OK);
  EXPECT_EQ(ReadFile(path),
            Tga(1, 1, 2, 24, 9, 1, 8, 0x20, {0, 0, 0, 1, 2, 3, 1, 0, 0, 0, 0, 0, 0, 1, 0}));
}

TEST(TgaWrite, RefusesSidesBeyondSixteenBits) { ExpectSidesLimitedTo16Bits(WriteTGA); }

TEST(TgaHostile, TruncationsAndBadFields) {
  Record src(1);
  MakeRecord(src, 5, 3, 8, 20);
  std::memset(src->palette, 0x33, 80);
  TempDir dir;
  const std::string path = dir.File("t.tga");
  ASSERT_EQ(WriteTGA(path.c_str(), src.img), RASTER_OK);
  ExpectEveryTruncationFails(ReadFile(path), ReadTGAMemory);
  ExpectEveryTruncationFails(
      Tga(10, 0, 0, 0, 3, 2, 24, 0, {0x81, 1, 2, 3, 0x03, 4, 5, 6, 7, 8, 9, 1, 2, 3, 4, 5, 6}),
      ReadTGAMemory);

  const int kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION, kSize = RASTER_ERR_INVALID_SIZE;
  const struct { Bytes file; int code; } cases[] = {
      {Tga(0, 0, 0, 0, 1, 1, 8, 0), kUnsupported}, {Tga(4, 0, 0, 0, 1, 1, 8, 0), kUnsupported},
      {Tga(12, 0, 0, 0, 1, 1, 8, 0), kUnsupported}, {Tga(32, 0, 0, 0, 1, 1, 8, 0), kUnsupported},
      {Tga(2, 0, 0, 0, 1, 1, 7, 0), kUnsupported}, {Tga(2, 0, 0, 0, 1, 1, 8, 0), kUnsupported},
      {Tga(1, 1, 300, 24, 1, 1, 8, 0), kUnsupported}, {Tga(1, 1, 2, 24, 1, 1, 16, 0), kUnsupported},
      {Tga(1, 1, 65535, 8, 1, 1, 8, 0), kUnsupported}, {Tga(2, 0, 0, 0, 0, 5, 24, 0), kSize},
      {Tga(2, 0, 0, 0, 5, 0, 24, 0), kSize}, {Tga(2, 0, 0, 0, 65535, 65535, 32, 8), kSize},
      {Tga(2, 0, 0, 0, 30000, 20000, 24, 0), RASTER_ERR_READ},
      {Tga(10, 0, 0, 0, 30000, 20000, 24, 0), RASTER_ERR_READ},
      {Tga(2, 1, 65535, 32, 1, 1, 24, 0), RASTER_ERR_READ},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    Record r;
    ExpectRefused(ReadMem(cases[i].file, &r), r, cases[i].code);
  }
}

}  // namespace
