// BMP files: files made by Pillow, netpbm and ImageMagick read with identical
// pixels, ours read back by them, and hostile headers refused cleanly.
#include <gtest/gtest.h>

#include <string>

#include "image/bmp.h"
#include "raster_test_util.h"

namespace {

using namespace tsl;
using namespace tsltest;

Bytes Le32(uint32_t v) {
  Bytes b;
  PutLe(b, v, 4);
  return b;
}

TEST(BmpRead, FilesOfPillowNetpbmAndImageMagick) {
  // ImageMagick's default BMP has the 124-byte header, the others the
  // 40-byte one.
  ExpectToolFilesRead(ReadBMP, {{Pillow(".convert('1', dither=0).save(%o, 'BMP')"), 2, 1},
                                {"ppmtobmp -bpp 4 %i > %o", 16, 4},
                                {std::string(kConvert) + " %i bmp:%o", 1u << 24, 24}});
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
  const auto le32 = [](uint32_t v) {
    Bytes b;
    PutLe(b, v, 4);
    return b;
  };
  const int kSize = RASTER_ERR_INVALID_SIZE, kRead = RASTER_ERR_READ,
            kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION;
  ExpectHandMadeFiles(
      ReadBMPMemory,
      {{"top row first", Patched(flipped, 22, le32(uint32_t(-4))), TopFirstRgb(src.img)},
       {"height of -2^31", Patched(good, 22, le32(0x80000000u)), {}, kSize},
       {"rows past the end", Patched(good, 22, le32(100000)), {}, kRead},
       {"header past the end", Patched(good, 14, le32(0xFFFFFFFFu)), {}, kRead},
       {"OS/2 header", Patched(good, 14, le32(12)), {}, kUnsupported},
       {"compressed", Patched(good, 30, le32(1)), {}, kUnsupported},
       {"\"AM\"", Patched(good, 0, {'A', 'M'}), {}, kUnsupported},
       {"2 bits", Patched(good, 28, {2}), {}, RASTER_ERR_INVALID_BPP}});
}

// Pixel data is read from the offset the file header gives, past a gap
// after the palette, and must lie wholly in the file. A file row padded
// past the record row (one pixel of 24 bits: 4 bytes against 3 in packed
// rows) gives the record only the record row, in either row order.
TEST(BmpRead, PixelDataAtItsOffsetAndOnlyRecordRowsCopied) {
  Record src, column;
  RandomRecord(src, 5, 4, 8);
  src->palette_size = 3;
  RandomRecord(column, 1, 3, 24);
  TempDir dir;
  const std::string path = dir.File("t.bmp"), one = dir.File("c.bmp");
  ASSERT_EQ(WriteBMP(path.c_str(), src.img), RASTER_OK);
  ASSERT_EQ(WriteBMP(one.c_str(), column.img), RASTER_OK);
  Bytes gap = ReadFile(path);  // pixel data from byte 66 to the end
  gap.insert(gap.begin() + 66, 5, 0x55);
  Bytes bottom_first = ReadFile(one);
  for (size_t k = 0; k < 3; ++k) bottom_first[54 + 4 * k + 3] = 0xEE;
  Bytes top_first(bottom_first.begin(), bottom_first.begin() + 54);
  for (size_t k = 3; k-- > 0;)
    top_first.insert(top_first.end(), &bottom_first[54 + 4 * k], &bottom_first[58 + 4 * k]);
  ExpectHandMadeFiles(
      ReadBMPMemory,
      {{"data after a gap", Patched(gap, 10, Le32(71)), TopFirstRgb(src.img)},
       {"data one byte further", Patched(gap, 10, Le32(72)), {}, RASTER_ERR_READ},
       {"padded rows, bottom first", bottom_first, TopFirstRgb(column.img)},
       {"padded rows, top first", Patched(top_first, 22, Le32(uint32_t(-3))),
        TopFirstRgb(column.img)}});
}

}  // namespace
