// PNG files: files made by Pillow and ImageMagick read with identical
// pixels, hand-made chunk combinations (transparency, background, depths)
// read as the layer maps them, ours read back by Pillow and netpbm, and
// hostile files refused cleanly.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/png.h"
#include "raster_test_util.h"

namespace {

using namespace tsltest;

// One chunk: length, type, data and CRC.
Bytes Chunk(const char *type, const Bytes &data) {
  Bytes c;
  c.reserve(12 + data.size());
  PutBe(c, uint32_t(data.size()), 4);
  c.insert(c.end(), type, type + 4);
  c.insert(c.end(), data.begin(), data.end());
  PutBe(c, uint32_t(crc32(0, &c[4], uInt(data.size() + 4))), 4);
  return c;
}

Bytes Be16s(std::initializer_list<unsigned> values) {
  Bytes b;
  for (unsigned v : values) PutBe(b, v, 2);
  return b;
}

// A whole file: IHDR, `chunks`, one IDAT holding `rows` (each behind a
// filter byte 0), IEND.
Bytes Png(uint32_t w, uint32_t h, uint8_t depth, uint8_t colour, const std::vector<Bytes> &rows,
          const Bytes &chunks = {}) {
  Bytes ihdr, raw, packed(compressBound(1 << 16));
  PutBe(ihdr, w, 4), PutBe(ihdr, h, 4);
  ihdr.insert(ihdr.end(), {depth, colour, 0, 0, 0});
  for (const Bytes &r : rows) raw = Cat({raw, {0}, r});
  uLongf n = packed.size();
  EXPECT_EQ(compress(packed.data(), &n, raw.data(), raw.size()), Z_OK);
  packed.resize(n);
  return Cat({{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, Chunk("IHDR", ihdr), chunks,
              Chunk("IDAT", packed), Chunk("IEND", {})});
}

enum : uint8_t { kGrey = 0, kRgb = 2, kPalette = 3 };

TEST(PngRead, FilesOfPillowAndImageMagick) {
  const std::string png = ".save(%o, 'PNG'", im = std::string(kConvert) + " %i ";
  // A palette of 4 colours goes out at 2 bits; a one-entry tRNS of alpha 0
  // keeps the depth, a longer one expands to 32 bits. ImageMagick's grey of
  // 2 bits is compared with Pillow's decoding, as it quantizes the levels.
  ExpectToolFilesRead(
      ReadPNG, {{Pillow(".convert('1', dither=0)" + png + ")"), 2, 1},
                {Pillow(".convert('LA')" + png + ")"), 0, 32},
                {Pillow(".quantize(4)" + png + ", transparency=0)"), 4, 4},
                {Pillow(".quantize(16)" + png + ", transparency=bytes([255, 0, 128]))"), 16, 32},
                {im + "-depth 16 -define png:bit-depth=16 png:%o", 1u << 24, 24},
                {im + "-interlace PNG PNG24:%o", 1u << 24, 24},
                {im + "-depth 2 -define png:bit-depth=2 png:%o", 0, 4, true}});
}

// Hand-made chunk combinations: the depth, top-first RGB (RGBA for 32 bits
// and a transparent index) and transparent index they read with.
TEST(PngRead, TransparencyBackgroundAndDepthMapping) {
  const Bytes plte = Chunk("PLTE", {10, 20, 30, 40, 50, 60}),
              plte4 = Chunk("PLTE", {10, 20, 30, 40, 50, 60, 70, 80, 90, 1, 2, 3}),
              bkgd_rgb = Chunk("bKGD", Be16s({200, 100, 50}));
  const struct {
    const char *what;
    Bytes file;
    unsigned bpp;
    Bytes pixels;
    int transparent = -1;
  } cases[] = {
      {"grey 16 by high byte", Png(2, 1, 16, kGrey, {{0x12, 0x34, 0xAB, 0xCD}}), 8,
       GreyToRgb({0x12, 0xAB})},
      {"grey 2 of width 5 widened", Png(5, 2, 2, kGrey, {{0x1B, 0xC0}, {0xE4, 0x40}}), 4,
       GreyToRgb({0, 85, 170, 255, 255, 255, 170, 85, 0, 85})},
      {"palette, one tRNS alpha 0",
       Png(2, 1, 8, kPalette, {{0, 1}}, Cat({plte, Chunk("tRNS", {0})})), 8,
       {10, 20, 30, 0, 40, 50, 60, 255}, 0},
      {"palette, one tRNS alpha 128",
       Png(2, 1, 8, kPalette, {{0, 1}}, Cat({plte, Chunk("tRNS", {128})})), 32,
       {10, 20, 30, 128, 40, 50, 60, 255}},
      {"palette, one tRNS and bKGD: entry 0 blended",
       Png(2, 1, 8, kPalette, {{0, 1}}, Cat({plte, Chunk("tRNS", {128}), Chunk("bKGD", {1})})),
       8, {25, 35, 45, 40, 50, 60}},
      {"palette of 2 bits, three tRNS entries",
       Png(4, 1, 2, kPalette, {{0x1B}}, Cat({plte4, Chunk("tRNS", {0, 64, 128})})), 32,
       {10, 20, 30, 0, 40, 50, 60, 64, 70, 80, 90, 128, 1, 2, 3, 255}},
      {"RGB tRNS colour shown as bKGD",
       Png(2, 1, 8, kRgb, {{1, 2, 3, 4, 5, 6}}, Cat({Chunk("tRNS", Be16s({1, 2, 3})), bkgd_rgb})),
       24, {200, 100, 50, 4, 5, 6}},
      {"RGB 16 tRNS matched on whole samples, bKGD by high bytes",
       Png(3, 1, 16, kRgb, {Be16s({0x102, 0x203, 0x304, 0x1AA, 0x2BB, 0x3CC, 0x1FF, 0x200, 0x3FF})},
           Cat({Chunk("tRNS", Be16s({0x1AA, 0x2BB, 0x3CC})),
                Chunk("bKGD", Be16s({0xC8FF, 0x6400, 0x3201}))})),
       24, {1, 2, 3, 200, 100, 50, 1, 2, 3}},
      {"grey 4 bKGD scaled at the tRNS level",
       Png(2, 1, 4, kGrey, {{0x56}}, Cat({Chunk("tRNS", Be16s({5})), Chunk("bKGD", Be16s({3}))})),
       4, GreyToRgb({51, 102})},
      {"grey 16 tRNS level matched on whole samples as colour, bKGD by high byte",
       Png(3, 1, 16, kGrey, {Be16s({0x5FF, 0x500, 0x600})},
           Cat({Chunk("tRNS", Be16s({0x500})), Chunk("bKGD", Be16s({0x33AA}))})),
       24, GreyToRgb({5, 0x33, 6})},
      // The tRNS level picks the ramp entry that shows the background; one
      // past the ramp picks none.
      {"grey 8 tRNS level 255, the last entry",
       Png(2, 1, 8, kGrey, {{255, 7}},
           Cat({Chunk("tRNS", Be16s({255})), Chunk("bKGD", Be16s({9}))})),
       8, GreyToRgb({9, 7})},
      {"grey 8 tRNS level 256, past the ramp",
       Png(2, 1, 8, kGrey, {{255, 7}},
           Cat({Chunk("tRNS", Be16s({256})), Chunk("bKGD", Be16s({9}))})),
       8, GreyToRgb({255, 7})},
      {"grey 2 tRNS level 3, the last entry",
       Png(2, 1, 2, kGrey, {{0xC0}}, Cat({Chunk("tRNS", Be16s({3})), Chunk("bKGD", Be16s({1}))})),
       4, GreyToRgb({85, 0})},
      {"grey 2 tRNS level 4, past the ramp",
       Png(2, 1, 2, kGrey, {{0xC0}}, Cat({Chunk("tRNS", Be16s({4})), Chunk("bKGD", Be16s({1}))})),
       4, GreyToRgb({255, 0})},
      {"grey tRNS without bKGD opaque", Png(1, 1, 8, kGrey, {{7}}, Chunk("tRNS", Be16s({7}))), 8,
       GreyToRgb({7})},
      {"bKGD without tRNS changes nothing", Png(1, 1, 8, kRgb, {{1, 2, 3}}, bkgd_rgb), 24,
       {1, 2, 3}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    for (int layout : {0, 1}) {
      Record r(layout);
      ASSERT_EQ(ReadPNGMemory(c.file.data(), c.file.size(), &r), RASTER_OK);
      EXPECT_EQ(r->bits_per_pixel, c.bpp);
      EXPECT_EQ(r->transparency_index, c.transparent);
      EXPECT_EQ(TopFirstRgb(r.img, true), c.pixels);
      if (r->bits_per_pixel <= 8) {
        EXPECT_EQ(r->bytes_per_palette_entry, layout ? 4 : 3);
      }
    }
  }
}

// netpbm's 16-bit files with a tRNS key and bKGD, plain and interlaced: only
// pixels equal to the key in all 16 bits show the background, so a keyed
// grey file reads as colour (its key and a neighbour share one 8-bit level).
TEST(PngRead, SixteenBitKeyMatchesWholeSamplesOnly) {
  if (!NeedTool("pnmtopng")) GTEST_SKIP() << "pnmtopng missing";
  TempDir dir;
  const std::string pnm = dir.File("k.pnm"), png = dir.File("k.png");
  const std::string rgb = "P6 2 1 65535\n", grey = "P5 2 2 65535\n";
  const struct { const char *what; Bytes pnm; const char *options; Bytes pixels; } cases[] = {
      {"RGB",
       Cat({Bytes(rgb.begin(), rgb.end()),
            Be16s({0x1200, 0x3400, 0x5600, 0x12FF, 0x34FF, 0x56FF})}),
       "-transparent =rgb:1200/3400/5600 -background rgb:ffff/0000/0000", {255, 0, 0, 18, 52, 86}},
      {"grey", Cat({Bytes(grey.begin(), grey.end()), Be16s({0x1200, 0x12FF, 0x3400, 0x1200})}),
       "-transparent =rgb:1200/1200/1200 -background rgb:abcd/abcd/abcd",
       GreyToRgb({171, 18, 52, 171})}};
  for (const auto &c : cases)
    for (const char *interlace : {"", "-interlace "}) {
      SCOPED_TRACE(std::string(c.what) + " " + interlace);
      WriteFile(pnm, c.pnm);
      ASSERT_EQ(tsltest::Run("pnmtopng " + std::string(interlace) + c.options + " " +
                             Quote(pnm) + " > " + Quote(png) + " 2>/dev/null"), 0);
      for (int layout : {0, 1}) {
        Record r(layout);
        ASSERT_EQ(ReadPNG(png.c_str(), &r), RASTER_OK);
        EXPECT_EQ(r->bits_per_pixel, 24);
        EXPECT_EQ(TopFirstRgb(r.img), c.pixels);
      }
    }
}

TEST(PngRead, TruncationsForeignFilesAndAbsurdSizes) {
  const Bytes good = Png(3, 2, 8, kRgb, {Bytes(9, 7), Bytes(9, 8)}, Chunk("tEXt", {'a', 0, 'b'}));
  ExpectEveryTruncationFails(good, ReadPNGMemory);
  const int kFormat = RASTER_ERR_INVALID_FORMAT;
  ExpectHandMadeFiles(ReadPNGMemory,
                      {{"not a PNG", Patched(good, 1, {'Q'}), {}, RASTER_ERR_UNSUPPORTED_OPTION},
                       {"depth 3, refused by libpng", Png(1, 1, 3, kGrey, {{0}}), {}, kFormat},
                       {"more rows than the data can hold",
                        Png(100000, 100000, 8, kGrey, {Bytes(100)}), {}, kFormat}});
}

TEST(PngWrite, ReadBackByPillowNetpbmAndOurselves) {
  ExpectWrittenFilesReadAlike(WritePNG, ReadPNG, "png", "pngtopnm", {1, 4, 8, 16, 24, 32}, true);
}

// The colour type chosen for a record's palette: grey only where grey
// samples of the file's depth show the palette's own levels.
TEST(PngWrite, GreyOnlyForTheRampOfTheDepth) {
  TempDir dir;
  const std::string path = dir.File("g.png");
  // No levels: the rising ramp of the depth.
  const struct { const char *what; unsigned bpp; Bytes levels; uint8_t colour; } cases[] = {
      {"8-bit ramp", 8, {}, kGrey},
      {"1-bit ramp", 1, {}, kGrey},
      {"1-bit white, black", 1, {255, 0}, kPalette},
      {"1-bit identity", 1, {0, 1}, kPalette}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Record r;
    RandomRecord(r, 9, 2, c.bpp);
    for (unsigned i = 0; i < r->palette_size; ++i) {
      const unsigned level = c.levels.empty() ? i * 255 / (r->palette_size - 1) : c.levels[i];
      std::memset(r->palette + 4 * i, int(level), 3);
    }
    ASSERT_EQ(WritePNG(path.c_str(), r.img), RASTER_OK);
    const Bytes file = ReadFile(path);
    EXPECT_EQ(file[24], c.bpp) << "bit depth";
    EXPECT_EQ(file[25], c.colour) << "colour type";
    EXPECT_EQ(PillowPixels(path), TopFirstRgb(r.img));
  }
}

TEST(PngWrite, LeavesTheCallersRecordAndWritesPalettesItCanIndex) {
  TempDir dir;
  const std::string path = dir.File("w.png");
  Record r;  // 5-5-5 words go out through a copy
  RandomRecord(r, 5, 3, 16);
  const Bytes before(r->bits, r->bits + r->scan_width * 3);
  const uint8_t *bits = r->bits;
  ASSERT_EQ(WritePNG(path.c_str(), r.img), RASTER_OK);
  EXPECT_EQ(r->bits_per_pixel, 16);
  EXPECT_EQ(r->bits, bits);
  EXPECT_EQ(Bytes(r->bits, r->bits + r->scan_width * 3), before);
  // A 1-bit record carrying more entries than its pixels can index.
  Record wide(0);
  RandomRecord(wide, 10, 2, 1);
  wide->palette_size = 200;
  wide->palette = static_cast<uint8_t *>(std::realloc(wide->palette, 600));
  std::memset(wide->palette + 6, 0, 594);
  ASSERT_EQ(WritePNG(path.c_str(), wide.img), RASTER_OK);
  EXPECT_EQ(PillowPixels(path), TopFirstRgb(wide.img));
}

}  // namespace
