// SGI image files: files made by ImageMagick (run-length and verbatim) and
// Pillow read with identical pixels, ours read back by Pillow and netpbm,
// and hostile headers, tables and runs refused cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "image/sgi.h"
#include "raster_test_util.h"

namespace {

using namespace tsl;
using namespace tsltest;

void PutBe16(Bytes &b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}
void AppendBe32(Bytes &b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

Bytes SgiHeader(uint8_t storage, uint16_t dimension, uint16_t x, uint16_t y, uint16_t z) {
  Bytes h(512, 0);
  PutBe16(h, 0, 474);
  h[2] = storage;
  h[3] = 1;
  PutBe16(h, 4, dimension);
  PutBe16(h, 6, x);
  PutBe16(h, 8, y);
  PutBe16(h, 10, z);
  return h;
}

// A run-length file of one channel whose rows hold the given encoded bytes.
Bytes RleFile(uint16_t width, const std::vector<Bytes> &rows) {
  Bytes f = SgiHeader(1, 2, width, static_cast<uint16_t>(rows.size()), 1);
  uint32_t at = 512 + 8 * static_cast<uint32_t>(rows.size());
  for (const Bytes &r : rows) {
    AppendBe32(f, at);
    at += static_cast<uint32_t>(r.size());
  }
  for (const Bytes &r : rows) AppendBe32(f, static_cast<uint32_t>(r.size()));
  for (const Bytes &r : rows) f.insert(f.end(), r.begin(), r.end());
  return f;
}

int ReadMem(const Bytes &file, RasterImage *image) {
  return ReadRGBMemory(file.data(), file.size(), image);
}

TEST(SgiRead, ImageMagickRunLengthAndVerbatim) {
  TSL_NEED_TOOL("convert-im6.q16");
  TempDir dir;
  const uint32_t w = 19, h = 6;
  // Runs of equal bytes as well as noise, so both packet kinds occur.
  Bytes rgb = RandomBytes(3 * w * h, 8);
  for (size_t i = 0; i < rgb.size() / 2; ++i) rgb[i] = static_cast<uint8_t>(i / 20);
  Bytes grey = RandomBytes(w * h, 9), grey_rgb;
  for (uint8_t v : grey) grey_rgb.insert(grey_rgb.end(), {v, v, v});
  std::string ppm = dir.File("in.ppm"), pgm = dir.File("in.pgm"), sgi = dir.File("o.sgi");
  WritePpmInterleaved(ppm, rgb.data(), w, h);
  WritePgm(pgm, grey.data(), w, h);
  const struct { const std::string *in; const Bytes *expect; const char *opts; } cases[] = {
      {&ppm, &rgb, ""}, {&ppm, &rgb, "-compress None"}, {&pgm, &grey_rgb, ""},
      {&pgm, &grey_rgb, "-compress None"}, {&ppm, &rgb, "-alpha set"}};
  for (const auto &c : cases) {
    ASSERT_EQ(tsltest::Run(std::string(kConvert) + " " + Quote(*c.in) + " " + c.opts + " sgi:" +
                           Quote(sgi)), 0);
    Bytes file = ReadFile(sgi);
    ASSERT_GT(file.size(), 512u);
    EXPECT_EQ(file[2], std::string(c.opts).find("None") == std::string::npos ? 1 : 0) << c.opts;
    Record r;
    ASSERT_EQ(ReadRGB(sgi.c_str(), &r), RASTER_OK) << c.opts;
    EXPECT_EQ(r->bits_per_pixel, 8u * (file[11])) << c.opts;
    EXPECT_EQ(TopFirstRgb(r.img), *c.expect) << c.opts;
    if (r->bits_per_pixel == 32) {
      EXPECT_EQ(r->bits[3], 255) << "opaque alpha in byte 3";
    }
  }
}

TEST(SgiRead, PillowModes) {
  TSL_NEED_TOOL("/usr/bin/python3");
  TempDir dir;
  const struct { const char *mode; unsigned channels; } modes[] = {{"L", 1}, {"RGB", 3}, {"RGBA", 4}};
  for (const auto &m : modes)
    for (uint32_t w : {1u, 10u, 33u}) {
      std::string path = dir.File(std::string(m.mode) + ".rgb");
      PillowWrite(path, m.mode, w, 4, RandomBytes(m.channels * w * 4, w + m.channels),
                  "format='SGI'");
      Record r;
      ASSERT_EQ(ReadRGB(path.c_str(), &r), RASTER_OK) << m.mode;
      EXPECT_EQ(r->bits_per_pixel, 8 * m.channels);
      EXPECT_EQ(TopFirstRgb(r.img, true), PillowPixels(path, m.channels == 4)) << m.mode << " " << w;
    }
}

TEST(SgiWrite, ReadBackByPillowAndNetpbm) {
  TSL_NEED_TOOL("/usr/bin/python3");
  TSL_NEED_TOOL("sgitopnm");
  TempDir dir;
  std::string path = dir.File("o.rgb");
  for (unsigned bpp : {1u, 4u, 8u, 16u, 24u, 32u})
    for (bool grey : {false, true}) {
      if (grey && bpp > 8) continue;
      Record r(1);
      MakeRecord(r, 7, 3, bpp);
      Bytes px = RandomBytes(static_cast<size_t>(r->scan_width) * 3, bpp);
      std::memcpy(r->bits, px.data(), px.size());
      for (unsigned i = 0; i < r->palette_size; ++i) {
        Bytes c = RandomBytes(3, i + bpp);
        std::memcpy(r->palette + 4 * i, c.data(), 3);
        if (grey) std::memset(r->palette + 4 * i, c[0], 3);
      }
      ASSERT_EQ(WriteRGB(path.c_str(), r.img), RASTER_OK);
      Bytes f = ReadFile(path);
      const unsigned z = grey ? 1 : bpp == 32 ? 4 : 3;
      EXPECT_EQ(f.size(), 512u + 7 * 3 * z);
      EXPECT_EQ(f[11], z);
      EXPECT_EQ(f[5], grey ? 2 : 3);
      EXPECT_EQ(PillowPixels(path, z == 4), TopFirstRgb(r.img, true)) << bpp << (grey ? " grey" : "");
      if (z != 4) {
        EXPECT_EQ(NetpbmPixels("sgitopnm " + Quote(path)), TopFirstRgb(r.img)) << bpp;
      }

      // Read back: the same picture (grey palettes as the identity ramp).
      Record back;
      ASSERT_EQ(ReadRGB(path.c_str(), &back), RASTER_OK);
      EXPECT_EQ(TopFirstRgb(back.img, true), TopFirstRgb(r.img, true));
    }
}

TEST(SgiWrite, NameFieldAndSizeLimit) {
  TempDir dir;
  std::string name = dir.File(std::string(100 - dir.path().size() - 1, 'n'));
  ASSERT_EQ(name.size(), 100u);
  Record r(0);
  MakeRecord(r, 65535, 1, 24);
  ASSERT_EQ(WriteRGB(name.c_str(), r.img), RASTER_OK);
  Bytes f = ReadFile(name);
  EXPECT_EQ(0, std::memcmp(&f[24], name.data(), 79));
  EXPECT_EQ(f[24 + 79], 0);

  std::string wide = dir.File("wide.rgb");
  Record big(0);
  MakeRecord(big, 1, 65536, 8);
  EXPECT_EQ(WriteRGB(wide.c_str(), big.img), RASTER_ERR_INVALID_SIZE);
  EXPECT_EQ(GetLastRasterError(), RASTER_ERR_INVALID_SIZE);
  EXPECT_FALSE(std::ifstream(wide).good()) << "no file is created";
}

TEST(SgiRead, OneDimensionalAndRunLengthRows) {
  Bytes one = SgiHeader(0, 1, 3, 20, 1);
  one.insert(one.end(), 60, 7);
  Record r1;
  ASSERT_EQ(ReadMem(one, &r1), RASTER_OK);
  EXPECT_EQ(r1->height, 1u);
  EXPECT_EQ(r1->palette[4 * 9], 9) << "identity grey palette";

  // Literal 2, a run of 3 and a zero-count repeat that skips a byte.
  Bytes row = {0x82, 5, 6, 0x03, 9, 0x00, 1, 0x00};
  Record r;
  ASSERT_EQ(ReadMem(RleFile(5, {row}), &r), RASTER_OK);
  EXPECT_EQ(0, std::memcmp(r->bits, "\5\6\11\11\11", 5));
}

TEST(SgiHostile, TruncationsTablesAndRuns) {
  Record src(0);
  MakeRecord(src, 4, 3, 24);
  TempDir dir;
  std::string path = dir.File("t.rgb");
  ASSERT_EQ(WriteRGB(path.c_str(), src.img), RASTER_OK);
  ExpectEveryTruncationFails(ReadFile(path), ReadRGBMemory);
  const Bytes good = RleFile(4, {{0x84, 1, 2, 3, 4, 0}, {0x04, 9, 0}});
  ExpectEveryTruncationFails(good, ReadRGBMemory);

  // Rows that end without 0, run past the row or past their data.
  const struct { Bytes row; int code; } rows[] = {
      {{0x82, 1, 2, 5}, RASTER_ERR_UNSUPPORTED_OPTION},
      {{}, RASTER_ERR_UNSUPPORTED_OPTION},
      {{0x02, 1}, RASTER_ERR_UNSUPPORTED_OPTION},
      {{0x05, 1, 0}, RASTER_ERR_CORRUPT_FILE},
      {{0x03, 1, 0x02, 1, 0}, RASTER_ERR_CORRUPT_FILE},
      {{0xFF, 1, 0}, RASTER_ERR_CORRUPT_FILE},
      {{0x83, 1, 0}, RASTER_ERR_CORRUPT_FILE},
  };
  for (const auto &c : rows) {
    Record r;
    EXPECT_EQ(ReadMem(RleFile(4, {c.row}), &r), c.code) << c.row.size();
    EXPECT_EQ(r->bits, nullptr);
  }

  // Tables that point outside the file.
  Bytes far = good, longer = good;
  far[512] = 0x7F;
  longer[512 + 8 + 3] = 0xFF;
  // Header fields.
  Bytes magic = good, cmap = good, deep = good, two = good, five = good, narrow = good;
  magic[1] = 0;
  cmap[107] = 1;
  deep[3] = 2;
  PutBe16(two, 10, 2);
  PutBe16(five, 10, 5);
  PutBe16(narrow, 6, 0);
  const struct { const Bytes *file; int code; } cases[] = {
      {&far, RASTER_ERR_READ}, {&longer, RASTER_ERR_READ},
      {&magic, RASTER_ERR_UNSUPPORTED_OPTION}, {&cmap, RASTER_ERR_UNSUPPORTED_OPTION},
      {&deep, RASTER_ERR_UNSUPPORTED_OPTION}, {&two, RASTER_ERR_INVALID_BPP},
      {&five, RASTER_ERR_INVALID_BPP}, {&narrow, RASTER_ERR_INVALID_SIZE}};
  int n = 0;
  for (const auto &c : cases) {
    Record r;
    EXPECT_EQ(ReadMem(*c.file, &r), c.code) << "case " << n++;
    EXPECT_EQ(r->bits, nullptr);
  }
}

}  // namespace
