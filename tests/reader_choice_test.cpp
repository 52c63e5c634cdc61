// Reader choice by extension and the unpacked-array helpers.
#include "image/reader_choice.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "image/bmp.h"
#include "raster_test_util.h"

using namespace tsltest;

namespace {

TEST(ReaderChoice, KeyIsUpToThreeLettersAfterTheLastDotInAnyCase) {
  TempDir dir;
  Record pic;
  RandomRecord(pic, 5, 3, 24);
  ASSERT_EQ(WriteBMP(dir.File("c.bmp").c_str(), pic.img), RASTER_OK);
  ASSERT_EQ(WriteTIFF(dir.File("c.tif").c_str(), pic.img, nullptr), RASTER_OK);
  ASSERT_EQ(mkdir(dir.File("images.old").c_str(), 0700), 0);
  // Name, the file its content comes from, the code expected.
  const struct { const char *name, *content; int code; } cases[] = {
      {"a.bMp", "c.bmp", RASTER_OK},
      {"a.tiff", "c.tif", RASTER_OK},
      {"a.jpeg", "c.bmp", RASTER_ERR_UNSUPPORTED_EXTENSION},
      {"a.", "c.bmp", RASTER_ERR_UNSUPPORTED_EXTENSION},
      {"images.old/scan", "c.bmp", RASTER_ERR_UNSUPPORTED_EXTENSION},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir.File(c.name), ReadFile(dir.File(c.content)));
    Record r;
    EXPECT_EQ(GetDataFromFile(dir.File(c.name).c_str(), &r, nullptr), c.code);
    EXPECT_EQ(GetLastRasterError(), c.code);
  }
  Record r;
  SetLastRasterError(RASTER_ERR_READ);
  EXPECT_EQ(GetDataFromFile("no_dot_anywhere", &r, nullptr), RASTER_ERR_UNSUPPORTED_OPTION);
  EXPECT_EQ(GetLastRasterError(), RASTER_OK) << "a name without '.' is not stored";
}

// Pixel k of a smooth picture, channel c: JPEG keeps it close.
uint8_t Smooth(size_t k, unsigned c) { return uint8_t(40 + 25 * c + 3 * (k % 7) + 9 * (k / 7)); }

TEST(UnpackedArrays, EveryWriterRoundTripsInEveryOrderSwitch) {
  TempDir dir;
  const int w = 7, h = 3;
  for (const char *ext : {"tif", "png", "jpg", "bmp", "rgb", "tga"})
    for (uint8_t bpp : {3, 4}) {
      Bytes in(size_t{bpp} * w * h);
      for (size_t i = 0; i < in.size(); ++i) in[i] = Smooth(i / bpp, i % bpp);
      const bool lossy = ext[1] == 'p', keeps_alpha = bpp == 4 && !lossy && ext[0] != 'b';
      for (int save : {0, 1, 2})
        for (int get : {0, 1, 2}) {
          SCOPED_TRACE(std::string(ext) + " bpp " + std::to_string(bpp) + " save " +
                       std::to_string(save) + " get " + std::to_string(get));
          const std::string path = dir.File(std::string("u.") + ext);
          ASSERT_EQ(SaveUnpackedArray(path.c_str(), bpp, w, h, in.data(), save), RASTER_OK);
          uint32_t gw = 0, gh = 0;
          unsigned char *out = nullptr;
          ASSERT_EQ(GetUnpackedArray(path.c_str(), &gw, &gh, &out, get), RASTER_OK);
          EXPECT_EQ(gw, uint32_t{w});
          EXPECT_EQ(gh, uint32_t{h});
          // Save switch 1: the array is blue, green, red; get switch 0: the
          // output is red, green, blue.
          Bytes expect, got(out, out + 4 * w * h);
          std::free(out);
          for (size_t k = 0; k < size_t{w} * h; ++k) {
            const uint8_t *p = &in[bpp * k];
            const uint8_t r = save == 1 ? p[2] : p[0], b = save == 1 ? p[0] : p[2];
            expect.insert(expect.end(), {get == 0 ? r : b, p[1], get == 0 ? b : r,
                                         keeps_alpha ? p[3] : uint8_t{255}});
          }
          if (lossy)
            EXPECT_GT(Psnr(got, expect), 35);
          else
            EXPECT_EQ(got, expect);
        }
    }
}

TEST(UnpackedArrays, BmpPixelsAsPillowSeesThem) {
  TSL_NEED_PILLOW();
  TempDir dir;
  const Bytes in = {1, 2, 3, 4, 5, 6};  // two pixels, one row
  const std::string path = dir.File("p.bmp");
  ASSERT_EQ(SaveUnpackedArray(path.c_str(), 3, 2, 1, in.data(), 0), RASTER_OK);
  EXPECT_EQ(PillowPixels(path), in) << "switch 0: the array is red, green, blue";
  ASSERT_EQ(SaveUnpackedArray(path.c_str(), 3, 2, 1, in.data(), 1), RASTER_OK);
  EXPECT_EQ(PillowPixels(path), (Bytes{3, 2, 1, 6, 5, 4})) << "switch 1: blue, green, red";
}

TEST(UnpackedArrays, SavesRefused) {
  TempDir dir;
  const Bytes in(64, 9);
  const std::string gif = dir.File("x.gif"), bmp = dir.File("x.bmp");
  EXPECT_EQ(SaveUnpackedArray(gif.c_str(), 3, 2, 2, in.data(), 0),
            RASTER_ERR_UNSUPPORTED_EXTENSION);
  EXPECT_EQ(SaveUnpackedArray(dir.File("x").c_str(), 3, 2, 2, in.data(), 0),
            RASTER_ERR_UNSUPPORTED_EXTENSION);
  EXPECT_EQ(SaveUnpackedArray(bmp.c_str(), 2, 2, 2, in.data(), 0), RASTER_ERR_INVALID_BPP);
  EXPECT_FALSE(std::ifstream(bmp).good()) << "no file from a refused save";
}

TEST(UnpackedArrays, CreateRGBAArrayPalettesWordsAndTheBufferItReplaces) {
  Record pal(0);
  MakeRecord(pal, 5, 1, 8, 4);
  for (unsigned i = 0; i < 4; ++i) SetPaletteEntry(&pal, i, uint8_t(10 * i), 1, 2);
  const uint8_t index[5] = {3, 0, 3, 200, 1};  // 200: no entry, black
  std::memcpy(pal->bits, index, 5);
  pal->transparency_index = 3;
  uint32_t w, h;
  unsigned char *out = static_cast<unsigned char *>(std::malloc(8));  // given up
  ASSERT_EQ(CreateRGBAArray(pal.img, &w, &h, &out, 0), RASTER_OK);
  EXPECT_EQ(Bytes(out, out + 20), (Bytes{30, 1, 2, 0, 0, 1, 2, 255, 30, 1, 2, 0, 0, 0, 0, 255,
                                         10, 1, 2, 255}));

  Record words(0);
  MakeRecord(words, 1, 1, 16);
  words->bits[0] = 0x1F, words->bits[1] = 0x7C;  // blue 31, red 31
  ASSERT_EQ(CreateRGBAArray(words.img, &w, &h, &out, 2), RASTER_OK);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes{248, 0, 248, 255}));

  pal->bits_per_pixel = 24;  // a palette at 24 bits is no depth it handles
  EXPECT_EQ(CreateRGBAArray(pal.img, &w, &h, &out, 0), RASTER_ERR_INVALID_BPP);
  EXPECT_EQ(out, nullptr) << "a failure releases the incoming buffer";
}

// The palette holds 4 entries but counts 3: index 3 has no entry and must
// not take the colour stored after the counted ones. Index 0 is a
// transparent index like any other.
TEST(UnpackedArrays, IndexEqualToThePaletteSizeIsBlackAndIndexZeroCanBeTransparent) {
  Record pal(0);
  MakeRecord(pal, 3, 1, 8, 4);
  for (unsigned i = 0; i < 4; ++i) SetPaletteEntry(&pal, i, uint8_t(10 + i), 1, 2);
  pal->palette_size = 3;
  const uint8_t index[3] = {0, 2, 3};
  std::memcpy(pal->bits, index, 3);
  pal->transparency_index = 0;
  uint32_t w, h;
  unsigned char *out = nullptr;
  ASSERT_EQ(CreateRGBAArray(pal.img, &w, &h, &out, 0), RASTER_OK);
  EXPECT_EQ(Bytes(out, out + 12), (Bytes{10, 1, 2, 0, 12, 1, 2, 255, 0, 0, 0, 255}));
  std::free(out);
}

TEST(InfoHeader, CreateBmiHandsOutTheBuiltHeader) {
  const BitmapInfoHeader h = CreateBMI(3, 2, 3, 1);
  EXPECT_EQ(h.header_size, 40u);
  EXPECT_EQ(h.width, 3);
  EXPECT_EQ(h.height, 2);
  EXPECT_EQ(h.bit_count, 4);
  EXPECT_EQ(h.compression, 1u);
  EXPECT_EQ(h.image_size, 8u);
  EXPECT_EQ(h.colors_used, 16u);
}

// PCX rows are stored with an even byte count: wider than the unpadded
// rows of GetUnpackedArray's record at odd widths.
TEST(UnpackedArrays, PcxLinesWiderThanTheRecordRow) {
  TSL_NEED_PILLOW();
  TempDir dir;
  const std::string path = dir.File("w.pcx");
  ASSERT_EQ(RunPython("from PIL import Image\nImage.frombytes('L', (17, 3), "
                      "bytes(range(0, 255, 5))).save('" + path + "')\n"), 0);
  uint32_t w, h;
  unsigned char *out = nullptr;
  ASSERT_EQ(GetUnpackedArray(path.c_str(), &w, &h, &out, 0), RASTER_OK);
  Bytes got;  // top row first, as Pillow gives it
  for (uint32_t y = h; y-- > 0;) got.insert(got.end(), out + 4 * w * y, out + 4 * w * (y + 1));
  std::free(out);
  EXPECT_EQ(got, PillowPixels(path, true));
}

}  // namespace
