// BMP files: files made by Pillow, netpbm and ImageMagick read with identical
// pixels, ours read back by them, and hostile headers refused cleanly.
#include <gtest/gtest.h>

#include <string>

#include "image/bmp.h"
#include "raster_test_util.h"

namespace {

using namespace tsl;
using namespace tsltest;

void SetLe32(Bytes &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(BmpRead, FilesOfPillowNetpbmAndImageMagick) {
  const std::string im = std::string(kConvert) + " %i ";
  // ImageMagick's default BMP has the 124-byte header; BMP3 the 40-byte one.
  const std::string ppm = "ppmtobmp -bpp ";
  ExpectToolFilesRead(ReadBMP, {{Pillow(".convert('1', dither=0).save(%o, 'BMP')"), 2, 1},
                                {Pillow(".save(%o, 'BMP')"), 0, 8},
                                {Pillow(".save(%o, 'BMP')"), 1u << 24, 24},
                                {Pillow(".quantize(256).save(%o, 'BMP')"), 40, 8},
                                {ppm + "1 %i > %o", 2, 1}, {ppm + "4 %i > %o", 16, 4},
                                {ppm + "8 %i > %o", 256, 8}, {ppm + "24 %i > %o", 1u << 24, 24},
                                {im + "bmp:%o", 1u << 24, 24}, {im + "BMP3:%o", 1u << 24, 24}});
}

TEST(BmpWrite, ReadBackByPillowNetpbmAndOurselves) {
  // 32 bits go out as 24 without alpha; 5-5-5 words are ours to read.
  ExpectWrittenFilesReadAlike(WriteBMP, ReadBMP, "bmp", "bmptopnm", {1, 4, 8, 16, 24, 32}, false,
                              16, 16);
}

TEST(BmpRead, TopFirstRowsTruncationsAndAbsurdFields) {
  Record src;
  RandomRecord(src, 5, 4, 8);
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
  ASSERT_EQ(ReadBMPMemory(flipped.data(), flipped.size(), &top), RASTER_OK);
  EXPECT_EQ(TopFirstRgb(top.img), TopFirstRgb(src.img));

  const int kSize = RASTER_ERR_INVALID_SIZE, kRead = RASTER_ERR_READ,
            kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION;
  const struct { size_t at; uint32_t value; int code; } patches[] = {
      {18, 0x80000001u, kSize}, {18, 0, kSize}, {22, 0x80000000u, kSize}, {22, 100000, kRead},
      {14, 0xFFFFFFFFu, kRead}, {14, 12, kUnsupported}, {10, 0xFFFFFFF0u, kRead},  // OS/2 header
      {30, 3, kUnsupported}, {30, 1, kUnsupported}, {0, 0x4D41, kUnsupported},  // "AM"
      {26, 0x00020001u, RASTER_ERR_INVALID_BPP}};
  for (const auto &p : patches) {
    SCOPED_TRACE("offset " + std::to_string(p.at) + " value " + std::to_string(p.value));
    Bytes bad(good);
    SetLe32(bad, p.at, p.value);
    Record r;
    ExpectRefused(ReadBMPMemory(bad.data(), bad.size(), &r), r, p.code);
  }
  Record none;
  ExpectRefused(ReadBMP(dir.File("missing.bmp").c_str(), &none), none, RASTER_ERR_OPEN_FILE);
}

}  // namespace
