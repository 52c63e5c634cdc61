// BMP files: files made by Pillow, netpbm and ImageMagick read with identical
// pixels, ours read back by them, and hostile headers refused cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "image/bmp.h"
#include "raster_test_util.h"

namespace {

using namespace tsl;
using namespace tsltest;

uint32_t Le32(const Bytes &b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void SetLe32(Bytes &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

int ReadMem(const Bytes &file, RasterImage *image) {
  return ReadBMPMemory(file.data(), file.size(), image);
}

// A record of `bpp` with random pixels and, at 8 bits or fewer, a random
// colour palette.
void RandomRecord(Record &r, uint32_t w, uint32_t h, unsigned bpp, uint64_t seed) {
  MakeRecord(r, w, h, bpp);
  Bytes px = RandomBytes(static_cast<size_t>(r->scan_width) * h, seed);
  std::memcpy(r->bits, px.data(), px.size());
  if (r->palette) {
    Bytes pal = RandomBytes(static_cast<size_t>(r->palette_size) * r->bytes_per_palette_entry, seed + 1);
    std::memcpy(r->palette, pal.data(), pal.size());
    for (unsigned i = 0; r->bytes_per_palette_entry == 4 && i < r->palette_size; ++i)
      r->palette[4 * i + 3] = 0;
  }
}

TEST(BmpRead, PillowModes) {
  TSL_NEED_TOOL("/usr/bin/python3");
  TempDir dir;
  const struct { const char *mode; unsigned bpp; } modes[] = {
      {"1", 1}, {"L", 8}, {"P", 8}, {"RGB", 24}};
  const uint32_t sizes[][2] = {{1, 1}, {7, 5}, {33, 17}};
  for (const auto &m : modes)
    for (const auto &s : sizes) {
      const uint32_t w = s[0], h = s[1];
      size_t raw = std::string(m.mode) == "1"   ? (w + 7) / 8 * h
                   : std::string(m.mode) == "RGB" ? 3 * w * h
                                                  : w * h;
      std::string path = dir.File(std::string(m.mode) + std::to_string(w) + ".bmp");
      PillowWrite(path, m.mode, w, h, RandomBytes(raw, w * 31 + h));
      for (int layout : {0, 1}) {
        Record r(layout);
        ASSERT_EQ(ReadBMP(path.c_str(), &r), RASTER_OK) << path;
        EXPECT_EQ(r->bits_per_pixel, m.bpp);
        EXPECT_EQ(TopFirstRgb(r.img), PillowPixels(path)) << path << " layout " << layout;
      }
    }
}

TEST(BmpRead, NetpbmDepths) {
  TSL_NEED_TOOL("ppmtobmp");
  TempDir dir;
  const uint32_t w = 13, h = 6;
  for (unsigned bpp : {1u, 4u, 8u, 24u}) {
    // Pixels drawn from at most 1 << bpp colours.
    const unsigned colours = bpp == 24 ? 256 : 1u << bpp;
    Bytes rgb(3 * w * h);
    Rng rng(bpp);
    for (size_t i = 0; i < w * h; ++i) {
      uint32_t c = bpp == 24 ? static_cast<uint32_t>(rng.Next()) : rng.Below(colours) * 2654435761u;
      if (bpp == 1) c = c & 1 ? 0xFFFFFF : 0;
      rgb[3 * i] = static_cast<uint8_t>(c >> 16), rgb[3 * i + 1] = static_cast<uint8_t>(c >> 8),
      rgb[3 * i + 2] = static_cast<uint8_t>(c);
    }
    std::string ppm = dir.File("in.ppm"), bmp = dir.File("n" + std::to_string(bpp) + ".bmp");
    WritePpmInterleaved(ppm, rgb.data(), w, h);
    ASSERT_EQ(tsltest::Run("ppmtobmp -bpp " + std::to_string(bpp) + " " + Quote(ppm) + " > " + Quote(bmp) +
                  " 2>/dev/null"), 0);
    Record r;
    ASSERT_EQ(ReadBMP(bmp.c_str(), &r), RASTER_OK);
    EXPECT_EQ(r->bits_per_pixel, bpp);
    EXPECT_EQ(TopFirstRgb(r.img), rgb) << bpp << " bits";
  }
}

TEST(BmpRead, ImageMagickLongHeadersAndTopFirstRows) {
  TSL_NEED_TOOL("convert-im6.q16");
  TempDir dir;
  const uint32_t w = 11, h = 7;
  Bytes rgb = RandomBytes(3 * w * h, 5);
  std::string ppm = dir.File("in.ppm");
  WritePpmInterleaved(ppm, rgb.data(), w, h);
  for (std::string fmt : {"", "BMP3:"}) {
    std::string bmp = dir.File("im.bmp");
    ASSERT_EQ(tsltest::Run(std::string(kConvert) + " " + Quote(ppm) + " " + fmt + Quote(bmp)), 0);
    Bytes file = ReadFile(bmp);
    EXPECT_EQ(Le32(file, 14), fmt.empty() ? 124u : 40u);
    Record r;
    ASSERT_EQ(ReadBMP(bmp.c_str(), &r), RASTER_OK) << fmt;
    EXPECT_EQ(TopFirstRgb(r.img), rgb) << fmt;

    // The same file stored top row first, as a negative height says.
    const uint32_t offset = Le32(file, 10), row = (3 * w + 3) / 4 * 4;
    Bytes flipped(file.begin(), file.begin() + offset);
    for (uint32_t k = 0; k < h; ++k)
      flipped.insert(flipped.end(), file.begin() + offset + (h - 1 - k) * row,
                     file.begin() + offset + (h - k) * row);
    SetLe32(flipped, 22, static_cast<uint32_t>(-static_cast<int32_t>(h)));
    Record top;
    ASSERT_EQ(ReadMem(flipped, &top), RASTER_OK);
    EXPECT_EQ(top->height, h);
    EXPECT_EQ(TopFirstRgb(top.img), rgb);
  }
}

TEST(BmpRead, PaletteCountFromColoursUsed) {
  Record src;
  RandomRecord(src, 6, 2, 8, 3);
  TempDir dir;
  std::string path = dir.File("p.bmp");
  src->palette_size = 16;  // written with a 16-entry palette
  ASSERT_EQ(WriteBMP(path.c_str(), src.img), RASTER_OK);
  Bytes file = ReadFile(path);
  EXPECT_EQ(Le32(file, 46), 16u);
  EXPECT_EQ(Le32(file, 10), 54u + 64u);
  Record r;
  ASSERT_EQ(ReadMem(file, &r), RASTER_OK);
  EXPECT_EQ(r->palette_size, 16);

  // Colours used 0 means a full palette; a count beyond 1 << depth is cut.
  for (uint32_t used : {0u, 0xFFFFFFFFu, 65536u + 16u}) {
    Bytes big(file);
    SetLe32(big, 46, used);
    big.insert(big.begin() + 118, 240 * 4, 0);
    SetLe32(big, 10, 54 + 1024);
    Record r2;
    ASSERT_EQ(ReadMem(big, &r2), RASTER_OK) << used;
    EXPECT_EQ(r2->palette_size, 256);
  }
}

TEST(BmpWrite, ReadBackByPillowAndNetpbm) {
  TSL_NEED_TOOL("/usr/bin/python3");
  TSL_NEED_TOOL("bmptopnm");
  TempDir dir;
  for (unsigned bpp : {1u, 4u, 8u, 24u, 32u})
    for (int layout : {0, 1})
      for (uint32_t w : {1u, 5u, 17u}) {
        Record r(layout);
        RandomRecord(r, w, 3, bpp, bpp * 100 + w);
        std::string path = dir.File("o.bmp");
        ASSERT_EQ(WriteBMP(path.c_str(), r.img), RASTER_OK);
        Bytes expect = TopFirstRgb(r.img);
        EXPECT_EQ(PillowPixels(path), expect) << bpp << " bits, width " << w;
        EXPECT_EQ(NetpbmPixels("bmptopnm " + Quote(path)), expect) << bpp << " bits, width " << w;
      }
}

TEST(BmpWrite, HeaderFieldsAndDepths) {
  TempDir dir;
  std::string path = dir.File("h.bmp");
  // 3-byte entries go out as 4-byte ones with a zero reserved byte.
  Record pal(0);
  RandomRecord(pal, 3, 2, 4, 9);
  ASSERT_EQ(pal->bytes_per_palette_entry, 3);
  ASSERT_EQ(WriteBMP(path.c_str(), pal.img), RASTER_OK);
  Bytes f = ReadFile(path);
  ASSERT_EQ(f.size(), 54u + 64u + 2 * 4);
  EXPECT_EQ(Le32(f, 10), 54u + 4 * 16);
  EXPECT_EQ(Le32(f, 2), f.size());
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(0, std::memcmp(&f[54 + 4 * i], pal->palette + 3 * i, 3));
    EXPECT_EQ(f[54 + 4 * i + 3], 0);
  }

  // 32 bits are written as 24 without alpha; 16 bits as 16.
  Record rgba(1), back(1);
  RandomRecord(rgba, 1, 2, 32, 4);
  ASSERT_EQ(WriteBMP(path.c_str(), rgba.img), RASTER_OK);
  f = ReadFile(path);
  EXPECT_EQ(f[28], 24);
  EXPECT_EQ(f.size(), 54u + 2 * 4);
  ASSERT_EQ(ReadBMP(path.c_str(), &back), RASTER_OK);
  EXPECT_EQ(back->bits_per_pixel, 24);
  EXPECT_EQ(TopFirstRgb(back.img), TopFirstRgb(rgba.img));

  Record words(0), back16(0);
  RandomRecord(words, 5, 3, 16, 6);
  ASSERT_EQ(WriteBMP(path.c_str(), words.img), RASTER_OK);
  ASSERT_EQ(ReadBMP(path.c_str(), &back16), RASTER_OK);
  ASSERT_EQ(back16->bits_per_pixel, 16);
  EXPECT_EQ(0, std::memcmp(back16->bits, words->bits, 10 * 3));
}

TEST(BmpWrite, RefusesBadRecordsBeforeCreatingTheFile) {
  TempDir dir;
  std::string path = dir.File("bad.bmp");
  Record empty;
  EXPECT_EQ(WriteBMP(path.c_str(), empty.img), RASTER_ERR_INVALID_IMAGE);
  EXPECT_EQ(GetLastRasterError(), RASTER_ERR_INVALID_IMAGE);
  Record pal(0);
  MakeRecord(pal, 2, 2, 8);
  pal->bytes_per_palette_entry = 2;
  EXPECT_EQ(WriteBMP(path.c_str(), pal.img), RASTER_ERR_INVALID_IMAGE);
  EXPECT_TRUE(ReadFile(path).empty());
  pal->bytes_per_palette_entry = 3;
  EXPECT_EQ(WriteBMP(dir.File("no/such/dir.bmp").c_str(), pal.img), RASTER_ERR_OPEN_FILE);
  EXPECT_EQ(WriteBMP(path.c_str(), pal.img), RASTER_OK);
  EXPECT_EQ(GetLastRasterError(), RASTER_OK);
}

TEST(BmpRead, RefusesCompressionAndForeignHeaders) {
  TSL_NEED_TOOL("convert-im6.q16");
  TempDir dir;
  std::string rle = dir.File("rle.bmp");
  ASSERT_EQ(tsltest::Run(std::string(kConvert) + " -size 9x4 gradient:red-blue -colors 16 -type palette "
                "-compress RLE BMP3:" + Quote(rle)), 0);
  Bytes f = ReadFile(rle);
  ASSERT_NE(Le32(f, 30), 0u) << "ImageMagick wrote it uncompressed";
  Record r;
  EXPECT_EQ(ReadBMP(rle.c_str(), &r), RASTER_ERR_UNSUPPORTED_OPTION);
  EXPECT_EQ(r->bits, nullptr);

  Record ok;
  RandomRecord(ok, 4, 4, 24, 2);
  std::string path = dir.File("ok.bmp");
  ASSERT_EQ(WriteBMP(path.c_str(), ok.img), RASTER_OK);
  Bytes good = ReadFile(path);
  Bytes bitfields(good), os2(good), type(good);
  SetLe32(bitfields, 30, 3);
  SetLe32(os2, 14, 12);
  type[1] = 'A';
  for (const Bytes *b : {&bitfields, &os2, &type}) {
    Record x;
    EXPECT_EQ(ReadMem(*b, &x), RASTER_ERR_UNSUPPORTED_OPTION);
  }
  Record none;
  EXPECT_EQ(ReadBMP(dir.File("missing.bmp").c_str(), &none), RASTER_ERR_OPEN_FILE);
  EXPECT_EQ(ReadBMP(path.c_str(), nullptr), RASTER_ERR_INVALID_IMAGE);
}

TEST(BmpHostile, TruncationsAndAbsurdFields) {
  Record src;
  RandomRecord(src, 5, 4, 8, 1);
  src->palette_size = 3;
  TempDir dir;
  std::string path = dir.File("t.bmp");
  ASSERT_EQ(WriteBMP(path.c_str(), src.img), RASTER_OK);
  const Bytes good = ReadFile(path);
  ExpectEveryTruncationFails(good, ReadBMPMemory);

  struct Patch { size_t at; uint32_t value; int code; };
  const Patch patches[] = {
      {18, 0x80000001u, RASTER_ERR_INVALID_SIZE},   // width -2147483647
      {18, 0, RASTER_ERR_INVALID_SIZE},             // width 0
      {18, 0xFFFFFFFFu, RASTER_ERR_INVALID_SIZE},   // width -1
      {18, 0x7FFFFFFFu, RASTER_ERR_INVALID_SIZE},   // rows too long
      {22, 0, RASTER_ERR_INVALID_SIZE},             // height 0
      {22, 0x80000000u, RASTER_ERR_INVALID_SIZE},   // height -2^31
      {22, 0x7FFFFFFFu, RASTER_ERR_INVALID_SIZE},
      {22, 100000, RASTER_ERR_READ},                // more rows than the file holds
      {14, 0xFFFFFFFFu, RASTER_ERR_READ},           // header size past the end
      {10, 0xFFFFFFF0u, RASTER_ERR_READ},           // pixel data past the end
      {26, 0x00020001u, RASTER_ERR_INVALID_BPP},    // 2 bits per pixel
      {26, 0x01180001u, RASTER_ERR_INVALID_BPP},    // 280 bits per pixel
  };
  for (const Patch &p : patches) {
    Bytes bad(good);
    SetLe32(bad, p.at, p.value);
    Record r;
    EXPECT_EQ(ReadMem(bad, &r), p.code) << "offset " << p.at << " value " << p.value;
    EXPECT_EQ(r->bits, nullptr);
  }
}

}  // namespace
