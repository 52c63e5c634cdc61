// BMP files: files made by Pillow, netpbm and ImageMagick read with identical
// pixels, ours read back by them, and hostile headers refused cleanly.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "image/bmp.h"
#include "raster_test_util.h"

namespace {

using namespace tsl;
using namespace tsltest;

void SetLe32(Bytes &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
int ReadMem(const Bytes &file, RasterImage *image) {
  return ReadBMPMemory(file.data(), file.size(), image);
}

TEST(BmpRead, FilesOfPillowNetpbmAndImageMagick) {
  TSL_NEED_TOOL("/usr/bin/python3");
  TSL_NEED_TOOL("ppmtobmp");
  TSL_NEED_TOOL("convert-im6.q16");
  ExpectPillowFilesRead(ReadBMP, "bmp", {{"1", 1, 1}, {"L", 1, 8}, {"P", 1, 8}, {"RGB", 3, 24}});
  const std::string im = std::string(kConvert) + " %i ";
  // ImageMagick's default BMP has the 124-byte header; BMP3 the 40-byte one.
  ExpectToolFilesRead(ReadBMP, {{"ppmtobmp -bpp 1 %i > %o", 2, 1},
                                {"ppmtobmp -bpp 4 %i > %o", 16, 4},
                                {"ppmtobmp -bpp 8 %i > %o", 256, 8},
                                {"ppmtobmp -bpp 24 %i > %o", 1u << 24, 24},
                                {im + "bmp:%o", 1u << 24, 24}, {im + "BMP3:%o", 1u << 24, 24}});
}

TEST(BmpWrite, ReadBackByPillowNetpbmAndOurselves) {
  TSL_NEED_TOOL("/usr/bin/python3");
  TSL_NEED_TOOL("bmptopnm");
  // 32 bits go out as 24 without alpha; 5-5-5 words are ours to read.
  ExpectWrittenFilesReadAlike(WriteBMP, ReadBMP, "bmp", "bmptopnm", {1, 4, 8, 16, 24, 32}, false,
                              16, 16);
}

TEST(BmpWrite, RefusesBadRecordsBeforeCreatingTheFile) {
  TempDir dir;
  const std::string path = dir.File("bad.bmp");
  Record empty, pal(0);
  MakeRecord(pal, 2, 2, 8);
  pal->bytes_per_palette_entry = 2;
  for (RasterImage *bad : {&empty, &pal})
    EXPECT_EQ(WriteBMP(path.c_str(), *bad), RASTER_ERR_INVALID_IMAGE);
  EXPECT_EQ(GetLastRasterError(), RASTER_ERR_INVALID_IMAGE);
  EXPECT_FALSE(std::ifstream(path).good()) << "no file is created";
  pal->bytes_per_palette_entry = 3;
  EXPECT_EQ(WriteBMP(dir.File("no/such/dir.bmp").c_str(), pal.img), RASTER_ERR_OPEN_FILE);
}

TEST(BmpRead, TopFirstRowsTruncationsAndAbsurdFields) {
  Record src;
  RandomRecord(src, 5, 4, 8, 1);
  src->palette_size = 3;
  TempDir dir;
  const std::string path = dir.File("t.bmp");
  ASSERT_EQ(WriteBMP(path.c_str(), src.img), RASTER_OK);
  const Bytes good = ReadFile(path);
  ExpectEveryTruncationFails(good, ReadBMPMemory);

  // The same file stored top row first, as a negative height says.
  Bytes flipped(good.begin(), good.begin() + 66);
  for (size_t k = 4; k-- > 0;) flipped.insert(flipped.end(), &good[66 + 8 * k], &good[74 + 8 * k]);
  SetLe32(flipped, 22, static_cast<uint32_t>(-4));
  Record top;
  ASSERT_EQ(ReadMem(flipped, &top), RASTER_OK);
  EXPECT_EQ(TopFirstRgb(top.img), TopFirstRgb(src.img));

  constexpr int kFullPalette = -1;  // read, with a palette of 256 entries
  const int kSize = RASTER_ERR_INVALID_SIZE, kRead = RASTER_ERR_READ, kBpp = RASTER_ERR_INVALID_BPP,
            kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION;
  const struct { size_t at; uint32_t value; int code; } patches[] = {
      {18, 0x80000001u, kSize}, {18, 0, kSize}, {18, 0xFFFFFFFFu, kSize},  // widths
      {18, 0x7FFFFFFFu, kSize}, {22, 0, kSize}, {22, 0x80000000u, kSize},  // and heights
      {22, 0x7FFFFFFFu, kSize}, {22, 100000, kRead},  // more rows than the file holds
      {14, 0xFFFFFFFFu, kRead}, {14, 12, kUnsupported},  // header size: huge, OS/2
      {10, 0xFFFFFFF0u, kRead}, {30, 3, kUnsupported},   // pixels past the end, bit fields
      {30, 1, kUnsupported}, {30, 2, kUnsupported},      // run-length 8 and 4
      {26, 0x00020001u, kBpp}, {26, 0x01180001u, kBpp},  // 2 and 280 bits per pixel
      {0, 0x4D41, kUnsupported},                         // "AM"
      {46, 0xFFFFFFFFu, kFullPalette}, {46, 65536 + 16, kFullPalette}, {46, 0, kFullPalette},
  };
  for (const auto &p : patches) {
    SCOPED_TRACE("offset " + std::to_string(p.at) + " value " + std::to_string(p.value));
    Bytes bad(good);
    SetLe32(bad, p.at, p.value);
    Record r;
    if (p.code != kFullPalette) {
      ExpectRefused(ReadMem(bad, &r), r, p.code);
      continue;
    }
    bad.insert(bad.begin() + 66, 253 * 4, 0);  // room for a full palette
    SetLe32(bad, 10, 54 + 1024);
    ASSERT_EQ(ReadMem(bad, &r), RASTER_OK);
    EXPECT_EQ(r->palette_size, 256);
  }
  Record none;
  ExpectRefused(ReadBMP(dir.File("missing.bmp").c_str(), &none), none, RASTER_ERR_OPEN_FILE);
  EXPECT_EQ(ReadBMP(path.c_str(), nullptr), RASTER_ERR_INVALID_IMAGE);
}

}  // namespace
