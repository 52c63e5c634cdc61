// SGI image files: files made by ImageMagick (run-length and verbatim) and
// Pillow read with identical pixels, ours read back by Pillow and netpbm,
// and hostile headers, tables and runs refused cleanly.
#include <gtest/gtest.h>

#include <vector>

#include "image/sgi.h"
#include "raster_test_util.h"

namespace {

using namespace tsltest;

void AppendBe32(Bytes &b, size_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}
// A run-length file of one channel, 1 byte per sample, whose rows hold the
// given encoded bytes; one byte of it set to `value` when `at` is nonzero.
Bytes RleFile(uint8_t width, const std::vector<Bytes> &rows, size_t at = 0, uint8_t value = 0) {
  Bytes f{1, 218, 1, 1, 0, 2, 0, width, 0, static_cast<uint8_t>(rows.size()), 0, 1}, data;
  f.resize(512);
  for (const Bytes &r : rows) {
    AppendBe32(f, 512 + 8 * rows.size() + data.size());
    data.insert(data.end(), r.begin(), r.end());
  }
  for (const Bytes &r : rows) AppendBe32(f, r.size());
  f.insert(f.end(), data.begin(), data.end());
  if (at) f[at] = value;
  return f;
}

TEST(SgiRead, FilesOfImageMagickAndPillow) {
  // ImageMagick writes run-length rows unless told otherwise.
  const std::string im = std::string(kConvert) + " %i ";
  ExpectToolFilesRead(ReadRGB, {{im + "sgi:%o", 1u << 24, 24},
                                {im + "-compress None sgi:%o", 0, 8},
                                {im + "-alpha set sgi:%o", 1u << 24, 32},
                                {Pillow(".save(%o, 'SGI')"), 0, 8},
                                {Pillow(".convert('RGBA').save(%o, 'SGI')"), 1u << 24, 32}});
}

TEST(SgiWrite, ReadBackByPillowNetpbmAndOurselvesAndSides) {
  ExpectWrittenFilesReadAlike(WriteRGB, ReadRGB, "rgb", "sgitopnm", {1, 4, 8, 16, 24, 32}, true, 0,
                              32);  // sgitopnm takes no fourth channel
  ExpectSidesLimitedTo16Bits(WriteRGB);
}

TEST(SgiHostile, RunsTruncationsTablesAndHeaders) {
  // Literal 2, a run of 3 and a zero-count repeat that skips a byte.
  const std::vector<Bytes> rows{{0x82, 5, 6, 0x03, 9, 0x00, 1, 0x00}, {0x05, 4, 0}};
  const Bytes good = RleFile(5, rows);
  Record r;
  ASSERT_EQ(ReadRGBMemory(good.data(), good.size(), &r), RASTER_OK);
  EXPECT_EQ(Bytes(r->bits, r->bits + 5), (Bytes{5, 6, 9, 9, 9}));
  ExpectEveryTruncationFails(good, ReadRGBMemory);
  const int kCorrupt = RASTER_ERR_CORRUPT_FILE, kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION;
  const struct { const char *what; Bytes file; int code; } cases[] = {
      // Rows that end without 0, run past the row or past their data.
      {"no end", RleFile(4, {{0x82, 1, 2, 5}}), kUnsupported},
      {"run cut", RleFile(4, {{0x02, 1}}), kUnsupported},
      {"runs past row", RleFile(4, {{0x03, 1, 0x02, 1, 0}}), kCorrupt},
      {"literal past data", RleFile(4, {{0x83, 1, 0}}), kCorrupt},
      {"start far away", RleFile(5, rows, 512, 0x7F), RASTER_ERR_READ},
      {"length past end", RleFile(5, rows, 512 + 8 + 3, 0xFF), RASTER_ERR_READ},
      {"magic", RleFile(5, rows, 1, 0), kUnsupported},
      {"colour map", RleFile(5, rows, 107, 1), kUnsupported},
      {"2 channels", RleFile(5, rows, 11, 2), RASTER_ERR_INVALID_BPP},
      {"width 0", RleFile(5, rows, 7, 0), RASTER_ERR_INVALID_SIZE}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Record bad;
    ExpectRefused(ReadRGBMemory(c.file.data(), c.file.size(), &bad), bad, c.code);
  }
}

}  // namespace
