// TGA files: files made by Pillow and netpbm read with identical pixels (and
// colour maps in blue, green, red order), ours read back by them, the four
// pixel orders, and hostile files refused cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "image/tga.h"
#include "raster_test_util.h"

namespace {

using namespace tsl;
using namespace tsltest;

Bytes Header(uint8_t type, uint8_t map_type, uint16_t map_len, uint8_t map_bits, uint16_t w,
             uint16_t h, uint8_t depth, uint8_t desc) {
  return Bytes{0, map_type, type, 0, 0, static_cast<uint8_t>(map_len),
               static_cast<uint8_t>(map_len >> 8), map_bits, 0, 0, 0, 0,
               static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(h),
               static_cast<uint8_t>(h >> 8), depth, desc};
}

void Append(Bytes &b, std::initializer_list<uint8_t> more) { b.insert(b.end(), more); }

int ReadMem(const Bytes &file, RasterImage *image) {
  return ReadTGAMemory(file.data(), file.size(), image);
}

TEST(TgaRead, PillowModesCompressionAndOrientation) {
  TSL_NEED_TOOL("/usr/bin/python3");
  TempDir dir;
  const struct { const char *mode; unsigned channels, bpp; } modes[] = {
      {"L", 1, 8}, {"P", 1, 8}, {"RGB", 3, 24}, {"RGBA", 4, 32}};
  for (const auto &m : modes)
    for (const char *args : {"", "compression='tga_rle'", "orientation=1",
                             "compression='tga_rle', orientation=1"}) {
      const uint32_t w = 37, h = 9;
      // Long runs of equal pixels so that run packets cross row ends.
      Bytes raw = RandomBytes(m.channels * w * h, w + m.bpp, 4);
      for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(raw[i] * 60 + (i / 97));
      std::string path = dir.File(std::string(m.mode) + ".tga");
      PillowWrite(path, m.mode, w, h, raw, args);
      Record r;
      ASSERT_EQ(ReadTGA(path.c_str(), &r), RASTER_OK) << m.mode << " " << args;
      EXPECT_EQ(r->bits_per_pixel, m.bpp);
      EXPECT_EQ(TopFirstRgb(r.img, true), PillowPixels(path, m.channels == 4))
          << m.mode << " " << args;
    }
}

TEST(TgaRead, NetpbmColourMappedGreyAndTrueColour) {
  TSL_NEED_TOOL("pamtotga");
  TempDir dir;
  const uint32_t w = 21, h = 8;
  Bytes rgb(3 * w * h);
  Rng rng(3);
  for (size_t i = 0; i < w * h; ++i) {
    uint32_t c = rng.Below(40) * 2654435761u;  // at most 40 colours
    rgb[3 * i] = static_cast<uint8_t>(c >> 16), rgb[3 * i + 1] = static_cast<uint8_t>(c >> 8),
    rgb[3 * i + 2] = static_cast<uint8_t>(c);
  }
  Bytes grey = RandomBytes(w * h, 4), grey_rgb;
  for (uint8_t v : grey) grey_rgb.insert(grey_rgb.end(), {v, v, v});
  std::string ppm = dir.File("in.ppm"), pgm = dir.File("in.pgm"), tga = dir.File("n.tga");
  WritePpmInterleaved(ppm, rgb.data(), w, h);
  WritePgm(pgm, grey.data(), w, h);
  const struct { const char *opts; const std::string *in; const Bytes *expect; unsigned bpp; } cases[] = {
      {"-cmap", &ppm, &rgb, 8}, {"-cmap -norle", &ppm, &rgb, 8}, {"-rgb", &ppm, &rgb, 24},
      {"-rgb -norle", &ppm, &rgb, 24}, {"-mono", &pgm, &grey_rgb, 8}, {"-mono -norle", &pgm, &grey_rgb, 8}};
  for (const auto &c : cases) {
    ASSERT_EQ(tsltest::Run(std::string("pamtotga ") + c.opts + " " + Quote(*c.in) + " > " +
                           Quote(tga) + " 2>/dev/null"), 0) << c.opts;
    Record r;
    ASSERT_EQ(ReadTGA(tga.c_str(), &r), RASTER_OK) << c.opts;
    EXPECT_EQ(r->bits_per_pixel, c.bpp) << c.opts;
    EXPECT_EQ(TopFirstRgb(r.img), *c.expect) << c.opts;
  }
}

TEST(TgaRead, FourPixelOrders) {
  // A 2 x 2 picture stored in file order p0 p1 p2 p3.
  const uint8_t px[4][3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}};
  // Record row 0 is the bottom; each case lists which file pixel lands at
  // (row 0, x 0), (row 0, x 1), (row 1, x 0), (row 1, x 1).
  const struct { uint8_t desc; int at[4]; } cases[] = {
      {0x00, {0, 1, 2, 3}}, {0x20, {2, 3, 0, 1}}, {0x10, {1, 0, 3, 2}}, {0x30, {3, 2, 1, 0}}};
  for (const auto &c : cases) {
    Bytes f = Header(2, 0, 0, 0, 2, 2, 24, c.desc);
    for (const auto &p : px) f.insert(f.end(), p, p + 3);
    Record r(0);
    ASSERT_EQ(ReadMem(f, &r), RASTER_OK);
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(0, std::memcmp(r->bits + 6 * (i / 2) + 3 * (i % 2), px[c.at[i]], 3))
          << "descriptor " << int(c.desc) << " position " << i;
  }
}

TEST(TgaRead, DepthsAlphaAndRunsCutAtTheEnd) {
  // 32 bits without alpha bits read as 24, the fourth byte dropped, raw or
  // run-length alike; with them as 32.
  for (uint8_t type : {2, 10})
    for (uint8_t desc : {0x20, 0x28}) {
      Bytes f = Header(type, 0, 0, 0, 3, 1, 32, desc);
      if (type == 10)
        Append(f, {0x82, 1, 2, 3, 4});  // one run of 3 pixels
      else
        Append(f, {1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4});
      Record r(0);
      ASSERT_EQ(ReadMem(f, &r), RASTER_OK);
      const unsigned keep = desc == 0x28 ? 4 : 3;
      EXPECT_EQ(r->bits_per_pixel, 8 * keep);
      for (int x = 0; x < 3; ++x) EXPECT_EQ(0, std::memcmp(r->bits + keep * x, "\1\2\3\4", keep));
    }
  // 15 bits read as a 16-bit record.
  Bytes f15 = Header(2, 0, 0, 0, 1, 1, 15, 0);
  Append(f15, {0xFF, 0x7F});
  Record r15;
  ASSERT_EQ(ReadMem(f15, &r15), RASTER_OK);
  EXPECT_EQ(r15->bits_per_pixel, 16);
  // A run longer than the picture is cut at its last pixel.
  Bytes run = Header(11, 0, 0, 0, 2, 2, 8, 0);
  Append(run, {0xFF, 77});
  Record rr;
  ASSERT_EQ(ReadMem(run, &rr), RASTER_OK);
  EXPECT_EQ(rr->bits[0], 77);
  EXPECT_EQ(rr->bits[rr->scan_width + 1], 77);
  EXPECT_EQ(rr->palette[4 * 200], 200) << "grey images read with the ramp";
}

TEST(TgaRead, ColourMapsAreBlueGreenRedAndForeignOnesSkipped) {
  // Colour-mapped, 24-bit entries (blue, green, red), 16-bit entries and
  // 32-bit entries.
  Bytes f24 = Header(1, 1, 2, 24, 2, 1, 8, 0);
  Append(f24, {10, 20, 30, 40, 50, 60, 1, 0});
  Bytes f16 = Header(1, 1, 1, 16, 1, 1, 8, 0);
  Append(f16, {0x1F, 0x00, 0});  // pure blue in 5-5-5
  Bytes f32 = Header(1, 1, 1, 32, 1, 1, 8, 0);
  Append(f32, {10, 20, 30, 99, 0});
  Record r24(1), r16(1), r32(1);
  ASSERT_EQ(ReadMem(f24, &r24), RASTER_OK);
  ASSERT_EQ(ReadMem(f16, &r16), RASTER_OK);
  ASSERT_EQ(ReadMem(f32, &r32), RASTER_OK);
  EXPECT_EQ(TopFirstRgb(r24.img), (Bytes{60, 50, 40, 30, 20, 10}));
  EXPECT_EQ(TopFirstRgb(r16.img), (Bytes{0, 0, 248}));
  EXPECT_EQ(TopFirstRgb(r32.img), (Bytes{30, 20, 10}));

  // A colour map in a true-colour file, and one with 8-bit entries, are
  // skipped by their size so the pixels are found where they are.
  Bytes tc = Header(2, 1, 3, 24, 1, 1, 24, 0);
  Append(tc, {9, 9, 9, 9, 9, 9, 9, 9, 9, 1, 2, 3});
  Bytes odd = Header(1, 1, 3, 8, 2, 1, 8, 0);
  Append(odd, {9, 9, 9, 2, 1});
  Record rtc, rodd;
  ASSERT_EQ(ReadMem(tc, &rtc), RASTER_OK);
  EXPECT_EQ(TopFirstRgb(rtc.img), (Bytes{3, 2, 1}));
  ASSERT_EQ(ReadMem(odd, &rodd), RASTER_OK);
  EXPECT_EQ(rodd->bits[0], 2);
  EXPECT_EQ(rodd->bits[1], 1);
}

TEST(TgaWrite, ReadBackByNetpbmAndPillow) {
  TSL_NEED_TOOL("tgatoppm");
  TSL_NEED_TOOL("/usr/bin/python3");
  TempDir dir;
  std::string path = dir.File("o.tga");
  for (unsigned bpp : {1u, 4u, 8u, 24u, 32u})
    for (uint32_t w : {1u, 7u, 16u}) {
      Record r(1);
      MakeRecord(r, w, 5, bpp);
      Bytes px = RandomBytes(static_cast<size_t>(r->scan_width) * 5, bpp + w);
      std::memcpy(r->bits, px.data(), px.size());
      if (r->palette) {
        Bytes pal = RandomBytes(4u * r->palette_size, w);
        std::memcpy(r->palette, pal.data(), pal.size());
      }
      ASSERT_EQ(WriteTGA(path.c_str(), r.img), RASTER_OK);
      Bytes expect = TopFirstRgb(r.img);
      EXPECT_EQ(NetpbmPixels("tgatoppm " + Quote(path)), expect) << bpp << " bits, width " << w;
      EXPECT_EQ(PillowPixels(path, bpp == 32), TopFirstRgb(r.img, true)) << bpp << " bits, width " << w;
    }
}

TEST(TgaWrite, GreyShortcutOnlyForTheExactRamp) {
  TempDir dir;
  std::string path = dir.File("g.tga");
  Record ramp(0);
  MakeRecord(ramp, 3, 2, 8);
  for (int i = 0; i < 256; ++i) std::memset(ramp->palette + 3 * i, i, 3);
  ramp.Row(0)[0] = 17;
  ASSERT_EQ(WriteTGA(path.c_str(), ramp.img), RASTER_OK);
  Bytes f = ReadFile(path);
  EXPECT_EQ(f[2], 3);
  EXPECT_EQ(f[1], 0);
  EXPECT_EQ(f.size(), 18u + 6);

  // A reversed grey palette is grey but not the ramp: it goes out through
  // its colours.
  for (int i = 0; i < 256; ++i) std::memset(ramp->palette + 3 * i, 255 - i, 3);
  ASSERT_EQ(WriteTGA(path.c_str(), ramp.img), RASTER_OK);
  f = ReadFile(path);
  EXPECT_EQ(f[2], 1);
  Record back;
  ASSERT_EQ(ReadTGA(path.c_str(), &back), RASTER_OK);
  EXPECT_EQ(TopFirstRgb(back.img), TopFirstRgb(ramp.img));

  // A black and white 1-bit record: type 1, depth 8, two map entries.
  Record bw(1);
  MakeRecord(bw, 9, 1, 1);
  std::memset(bw->palette + 4, 255, 3);
  bw->bits[0] = 0x81;
  ASSERT_EQ(WriteTGA(path.c_str(), bw.img), RASTER_OK);
  f = ReadFile(path);
  const uint8_t head[] = {0, 1, 1, 0, 0, 2, 0, 24, 0, 0, 0, 0, 9, 0, 1, 0, 8, 0x20};
  EXPECT_EQ(0, std::memcmp(f.data(), head, 18));
  ASSERT_EQ(f.size(), 18u + 6 + 9);
  EXPECT_EQ(0, std::memcmp(&f[18], "\0\0\0\377\377\377", 6));
  EXPECT_EQ(0, std::memcmp(&f[24], "\1\0\0\0\0\0\0\1\0", 9));
}

TEST(TgaWrite, RefusesSidesBeyondSixteenBits) {
  TempDir dir;
  std::string path = dir.File("wide.tga");
  Record wide(0);
  MakeRecord(wide, 65536, 1, 24);
  EXPECT_EQ(WriteTGA(path.c_str(), wide.img), RASTER_ERR_INVALID_SIZE);
  EXPECT_EQ(GetLastRasterError(), RASTER_ERR_INVALID_SIZE);
  EXPECT_FALSE(std::ifstream(path).good()) << "no file is created";
  Record ok(0);
  MakeRecord(ok, 65535, 1, 24);
  EXPECT_EQ(WriteTGA(path.c_str(), ok.img), RASTER_OK);
}

TEST(TgaHostile, TruncationsAndBadFields) {
  Record src(1);
  MakeRecord(src, 5, 3, 8, 20);
  std::memset(src->palette, 0x33, 80);
  TempDir dir;
  std::string path = dir.File("t.tga");
  ASSERT_EQ(WriteTGA(path.c_str(), src.img), RASTER_OK);
  ExpectEveryTruncationFails(ReadFile(path), ReadTGAMemory);
  Bytes rle = Header(10, 0, 0, 0, 3, 2, 24, 0);
  Append(rle, {0x81, 1, 2, 3, 0x03, 4, 5, 6, 7, 8, 9, 1, 2, 3, 4, 5, 6});
  ExpectEveryTruncationFails(rle, ReadTGAMemory);

  const struct { Bytes file; int code; } cases[] = {
      {Header(0, 0, 0, 0, 1, 1, 8, 0), RASTER_ERR_UNSUPPORTED_OPTION},
      {Header(4, 0, 0, 0, 1, 1, 8, 0), RASTER_ERR_UNSUPPORTED_OPTION},
      {Header(12, 0, 0, 0, 1, 1, 8, 0), RASTER_ERR_UNSUPPORTED_OPTION},
      {Header(32, 0, 0, 0, 1, 1, 8, 0), RASTER_ERR_UNSUPPORTED_OPTION},
      {Header(2, 0, 0, 0, 1, 1, 7, 0), RASTER_ERR_UNSUPPORTED_OPTION},
      {Header(1, 1, 300, 24, 1, 1, 8, 0), RASTER_ERR_UNSUPPORTED_OPTION},
      {Header(1, 1, 2, 24, 1, 1, 16, 0), RASTER_ERR_UNSUPPORTED_OPTION},
      {Header(2, 0, 0, 0, 1, 1, 8, 0), RASTER_ERR_UNSUPPORTED_OPTION},
      {Header(2, 0, 0, 0, 0, 5, 24, 0), RASTER_ERR_INVALID_SIZE},
      {Header(2, 0, 0, 0, 5, 0, 24, 0), RASTER_ERR_INVALID_SIZE},
      {Header(2, 0, 0, 0, 65535, 65535, 32, 8), RASTER_ERR_INVALID_SIZE},
      {Header(2, 0, 0, 0, 30000, 20000, 24, 0), RASTER_ERR_READ},
      {Header(10, 0, 0, 0, 30000, 20000, 24, 0), RASTER_ERR_READ},
      {Header(1, 1, 65535, 8, 1, 1, 8, 0), RASTER_ERR_UNSUPPORTED_OPTION},
      {Header(2, 1, 65535, 32, 1, 1, 24, 0), RASTER_ERR_READ},
  };
  for (const auto &c : cases) {
    Record r;
    EXPECT_EQ(ReadMem(c.file, &r), c.code) << "type " << int(c.file[2]);
    EXPECT_EQ(r->bits, nullptr);
  }
}

}  // namespace
