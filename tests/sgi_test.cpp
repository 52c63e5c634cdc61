// SGI image files: files made by ImageMagick (run-length and verbatim) and
// Pillow read with identical pixels, ours read back by Pillow and netpbm,
// and hostile headers, tables and runs refused cleanly.
#include <gtest/gtest.h>

#include <vector>

#include "image/sgi.h"
#include "raster_test_util.h"

namespace {

using namespace tsltest;

// A run-length file of one channel, 1 byte per sample, whose rows hold the
// given encoded bytes.
Bytes RleFile(uint8_t width, const std::vector<Bytes> &rows) {
  Bytes f{1, 218, 1, 1, 0, 2, 0, width, 0, static_cast<uint8_t>(rows.size()), 0, 1}, data;
  f.resize(512);
  for (const Bytes &r : rows) {
    PutBe(f, uint32_t(512 + 8 * rows.size() + data.size()), 4);
    data.insert(data.end(), r.begin(), r.end());
  }
  for (const Bytes &r : rows) PutBe(f, uint32_t(r.size()), 4);
  return Cat({f, data});
}

// A verbatim file of the given dimension and sizes; its planes hold
// 100 c + 10 r + x at column x of row r of channel c.
Bytes VerbatimFile(uint8_t dimension, uint8_t x, uint8_t y, uint8_t z) {
  Bytes f{1, 218, 0, 1, 0, dimension, 0, x, 0, y, 0, z};
  f.resize(512);
  for (int c = 0; c < z; ++c)
    for (int r = 0; r < y; ++r)
      for (int i = 0; i < x; ++i) f.push_back(uint8_t(100 * c + 10 * r + i));
  return f;
}

TEST(SgiRead, FilesOfImageMagickAndPillow) {
  // ImageMagick writes run-length rows unless told otherwise; verbatim ones,
  // as ours, are read back below.
  const std::string im = std::string(kConvert) + " %i ";
  ExpectToolFilesRead(ReadRGB, {{im + "sgi:%o", 1u << 24, 24},
                                {im + "-alpha set sgi:%o", 1u << 24, 32},
                                {Pillow(".save(%o, 'SGI')"), 0, 8}});
}

TEST(SgiWrite, ReadBackByPillowNetpbmAndOurselvesAndSides) {
  ExpectWrittenFilesReadAlike(WriteRGB, ReadRGB, "rgb", "sgitopnm", {1, 4, 8, 16, 24, 32}, true, 0,
                              32);  // sgitopnm takes no fourth channel
  ExpectSidesLimitedTo16Bits(WriteRGB);
}

TEST(SgiRead, HandMadeRunsTablesAndHeaders) {
  // Literal 2, a run of 3 and a zero-count repeat that skips a byte; the
  // bottom row first.
  const std::vector<Bytes> rows{{0x82, 5, 6, 0x03, 9, 0x00, 1, 0x00}, {0x05, 4, 0}};
  const Bytes good = RleFile(5, rows);
  ExpectEveryTruncationFails(good, ReadRGBMemory);
  const int kCorrupt = RASTER_ERR_CORRUPT_FILE, kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION;
  ExpectHandMadeFiles(
      ReadRGBMemory,
      {{"runs", good, GreyToRgb({4, 4, 4, 4, 4, 5, 6, 9, 9, 9})},
       // Rows that end without 0, run past the row or past their data.
       {"no end", RleFile(4, {{0x82, 1, 2, 5}}), {}, kUnsupported},
       {"runs past row", RleFile(4, {{0x03, 1, 0x02, 1, 0}}), {}, kCorrupt},
       {"literal past data", RleFile(4, {{0x83, 1, 0}}), {}, kCorrupt},
       {"row start far away", Patched(good, 512, {0x7F}), {}, RASTER_ERR_READ},
       {"magic", Patched(good, 1, {0}), {}, kUnsupported},
       {"colour map", Patched(good, 107, {1}), {}, kUnsupported},
       {"2 channels", Patched(good, 11, {2}), {}, RASTER_ERR_INVALID_BPP},
       {"width 0", Patched(good, 7, {0}), {}, RASTER_ERR_INVALID_SIZE}});
}

// A one-dimensional file is a single row whatever its y size, but its
// planes are still laid out by that size; a y size of 0 stands for 1.
TEST(SgiRead, OneDimensionalFileIsOneRow) {
  ExpectHandMadeFiles(
      ReadRGBMemory,
      {{"y size 3", VerbatimFile(1, 2, 3, 3), {0, 100, 200, 1, 101, 201}},
       {"y size 0", Patched(VerbatimFile(1, 2, 1, 3), 9, {0}), {0, 100, 200, 1, 101, 201}},
       {"two dimensions", VerbatimFile(2, 1, 2, 3), {10, 110, 210, 0, 100, 200}}});
}

}  // namespace
