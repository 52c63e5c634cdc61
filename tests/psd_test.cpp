// Photoshop documents: ImageMagick's grey, indexed and RGB(A) files, raw and
// PackBits, with and without alpha, read with the pixels they were made
// from; hand-made documents read or refused as they should be.
#include <gtest/gtest.h>

#include "image/psd.h"
#include "raster_test_util.h"

namespace {

using namespace tsltest;

TEST(PsdRead, FilesOfImageMagick) {
  const std::string im = std::string(kConvert) + " %i ", raw = "-compress None psd:%o",
                    rle = "-compress RLE psd:%o";
  // Grey pictures with alpha keep their first channel. (ImageMagick's
  // indexed files with alpha lack the alpha rows: it cannot read them back.)
  ExpectToolFilesRead(ReadPSD, {{im + raw, 0, 8},
                                {im + rle, 0, 8},
                                {im + "-type Palette " + raw, 40, 8},
                                {im + "-type Palette " + rle, 40, 8},
                                {im + raw, 1u << 24, 24},
                                {im + rle, 1u << 24, 24},
                                {im + "-type GrayscaleAlpha " + rle, 0, 8}});
}

TEST(PsdRead, AlphaAsPillowReadsIt) {
  if (!NeedTool(kConvert) || !NeedTool(kPython)) GTEST_SKIP() << "ImageMagick or Pillow missing";
  TempDir dir;
  const std::string in = dir.File("in.ppm"), out = dir.File("o.psd");
  const Bytes px = ColourPicture(19, 6, 40);
  WritePpmInterleaved(in, px.data(), 19, 6);
  for (const char *compress : {"RLE", "None"}) {
    // The picture's own grey becomes its alpha.
    ASSERT_EQ(tsltest::Run(std::string(kConvert) + " " + Quote(in) +
                           " \\( +clone -colorspace gray \\) -alpha off -compose CopyOpacity"
                           " -composite -compress " + compress + " " + Quote(out)),
              0);
    Record r;
    ASSERT_EQ(ReadPSD(out.c_str(), &r), RASTER_OK);
    EXPECT_EQ(TopFirstRgb(r.img, true), PillowPixels(out, true)) << compress;
  }
}

// A document of `channels` x h x w at 8 bits in `mode`, with colour data,
// empty resources and layers, and `compression` then `body`.
Bytes Psd(unsigned channels, uint32_t h, uint32_t w, unsigned mode, const Bytes &colour_data,
          unsigned compression, const Bytes &body) {
  Bytes f{'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
  PutBe(f, channels, 2), PutBe(f, h, 4), PutBe(f, w, 4), PutBe(f, 8, 2), PutBe(f, mode, 2);
  PutBe(f, uint32_t(colour_data.size()), 4);
  f.insert(f.end(), colour_data.begin(), colour_data.end());
  PutBe(f, 0, 4), PutBe(f, 0, 4), PutBe(f, compression, 2);
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

Bytes Patched(Bytes f, size_t at, std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) f[at++] = b;
  return f;
}

TEST(PsdRead, HandMadeRunsAndRefusals) {
  // 2 x 2 grey: row 0 is a no-op (-128) and a literal of 2, row 1 a repeat.
  const Bytes rows{0, 4, 0, 2, 0x80, 0x01, 5, 6, 0xFF, 9};
  const Bytes grey = Psd(1, 2, 2, 1, {}, 1, rows);
  // Rows of 6 and 2 bytes: row 0 as above, then two more bytes.
  const Bytes row0{0, 6, 0, 2, 0x80, 1, 5, 6};
  Bytes table(768);
  table[1] = 255, table[256 + 1] = 7, table[512 + 1] = 9;  // entry 1: red 255, green 7, blue 9
  const int kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION, kCorrupt = RASTER_ERR_CORRUPT_FILE;
  const struct { const char *what; Bytes file; Bytes rgb; int code = RASTER_OK; } cases[] = {
      {"runs", grey, GreyToRgb({5, 6, 9, 9})},
      {"compression 2 read as runs", Patched(grey, 38, {0, 2}), GreyToRgb({5, 6, 9, 9})},
      {"indexed", Psd(1, 1, 2, 2, table, 0, {1, 0}), {255, 7, 9, 0, 0, 0}},
      {"RGB, a literal per channel", Psd(3, 1, 1, 3, {}, 1, {0, 2, 0, 2, 0, 2, 0, 1, 0, 2, 0, 3}),
       {1, 2, 3}},
      {"literal past the row", Patched(grey, 45, {2}), {}, kCorrupt},
      {"row with a literal past it", Psd(1, 2, 2, 1, {}, 1, Cat({row0, {0, 9, 0xFF, 4}})), {},
       kCorrupt},
      {"row with a repeat past it", Psd(1, 2, 2, 1, {}, 1, Cat({row0, {0xFF, 9, 0xFF, 4}})),
       GreyToRgb({5, 6, 4, 4})},
      {"indexed with alpha", Psd(2, 1, 2, 2, table, 1, {0, 3, 0, 2, 1, 1, 0, 0xFF, 0x80}),
       {255, 7, 9, 0, 0, 0}},
      {"row ends early", Patched(grey, 41, {3}), {}, kCorrupt},
      {"width beyond what a row holds", Patched(grey, 21, {200}), {}, kCorrupt},
      {"signature", Patched(grey, 0, {'7'}), {}, kCorrupt},
      {"version 2", Patched(grey, 5, {2}), {}, kCorrupt},
      {"16 bits", Patched(grey, 23, {16}), {}, kUnsupported},
      {"5 channels", Patched(grey, 13, {5}), {}, kUnsupported},
      {"CMYK", Patched(grey, 25, {4}), {}, kUnsupported},
      {"mode 6", Patched(grey, 25, {6}), {}, kUnsupported},
      {"RGB of 2 channels", Psd(2, 1, 1, 3, {}, 1, {0, 2, 0, 2, 0, 1, 0, 2}), {}, kUnsupported},
      {"colour data for grey", Psd(1, 1, 1, 1, {0}, 0, {1}), {}, kUnsupported},
      {"short colour table", Psd(1, 1, 1, 2, Bytes(767), 0, {1}), {}, kCorrupt},
      {"40000 squared, no rows", Psd(1, 40000, 40000, 1, {}, 0, {1}), {}, RASTER_ERR_READ},
      {"width 0", Psd(1, 1, 0, 1, {}, 0, {}), {}, RASTER_ERR_INVALID_SIZE}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Record r;
    const int code = ReadPSDMemory(c.file.data(), c.file.size(), &r);
    if (c.code == RASTER_OK && code == RASTER_OK) EXPECT_EQ(TopFirstRgb(r.img), c.rgb);
    else ExpectRefused(code, r, c.code);
  }
  ExpectEveryTruncationFails(grey, ReadPSDMemory);
  Record none;
  ExpectRefused(ReadPSD("any.psd", nullptr), none, RASTER_ERR_INVALID_IMAGE);
  ExpectEveryTruncationFails(Psd(4, 2, 2, 3, {}, 0, Bytes(16, 3)), ReadPSDMemory);
}

}  // namespace
