// SGI image files: files made by ImageMagick (run-length and verbatim) and
// Pillow read with identical pixels, ours read back by Pillow and netpbm,
// and hostile headers, tables and runs refused cleanly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/sgi.h"
#include "raster_test_util.h"

namespace {

using namespace tsltest;

void AppendBe32(Bytes &b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}
// 512 bytes: magic, storage, 1 byte per channel, dimension, x, y, z.
Bytes SgiHeader(uint8_t storage, uint8_t dimension, uint8_t x, uint8_t y, uint8_t z) {
  Bytes h{1, 218, storage, 1, 0, dimension, 0, x, 0, y, 0, z};
  h.resize(512);
  return h;
}

// A run-length file of one channel whose rows hold the given encoded bytes.
Bytes RleFile(uint8_t width, const std::vector<Bytes> &rows) {
  Bytes f = SgiHeader(1, 2, width, static_cast<uint8_t>(rows.size()), 1), data;
  for (const Bytes &r : rows) {
    AppendBe32(f, static_cast<uint32_t>(512 + 8 * rows.size() + data.size()));
    data.insert(data.end(), r.begin(), r.end());
  }
  for (const Bytes &r : rows) AppendBe32(f, static_cast<uint32_t>(r.size()));
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

TEST(SgiRead, FilesOfImageMagickAndPillow) {
  TSL_NEED_TOOL("convert-im6.q16");
  TSL_NEED_TOOL("/usr/bin/python3");
  // ImageMagick writes run-length rows unless told otherwise.
  const std::string im = std::string(kConvert) + " %i ";
  ExpectToolFilesRead(ReadRGB, {{im + "sgi:%o", 1u << 24, 24},
                                {im + "-compress None sgi:%o", 0, 8},
                                {im + "-alpha set sgi:%o", 1u << 24, 32},
                                {Pillow(".save(%o, 'SGI')"), 0, 8},
                                {Pillow(".convert('RGBA').save(%o, 'SGI')"), 1u << 24, 32}});
}

TEST(SgiWrite, ReadBackByPillowNetpbmAndOurselvesAndSides) {
  TSL_NEED_TOOL("/usr/bin/python3");
  TSL_NEED_TOOL("sgitopnm");
  ExpectWrittenFilesReadAlike(WriteRGB, ReadRGB, "rgb", "sgitopnm", {1, 4, 8, 16, 24, 32}, true, 0,
                              32);  // sgitopnm takes no fourth channel
  ExpectSidesLimitedTo16Bits(WriteRGB);
}

TEST(SgiHostile, RunsTruncationsTablesAndHeaders) {
  Bytes one = SgiHeader(0, 1, 3, 20, 1);  // one dimension: one row, the height ignored
  one.insert(one.end(), 60, 7);
  Record r1, r;
  ASSERT_EQ(ReadRGBMemory(one.data(), one.size(), &r1), RASTER_OK);
  EXPECT_EQ(TopFirstRgb(r1.img), GreyToRgb({7, 7, 7}));
  // Literal 2, a run of 3 and a zero-count repeat that skips a byte.
  const Bytes good = RleFile(5, {{0x82, 5, 6, 0x03, 9, 0x00, 1, 0x00}, {0x05, 4, 0}});
  ASSERT_EQ(ReadRGBMemory(good.data(), good.size(), &r), RASTER_OK);
  EXPECT_EQ(Bytes(r->bits, r->bits + 5), (Bytes{5, 6, 9, 9, 9}));
  ExpectEveryTruncationFails(good, ReadRGBMemory);

  auto patched = [&good](size_t at, uint8_t value) {
    Bytes b(good);
    b[at] = value;
    return b;
  };
  const int kCorrupt = RASTER_ERR_CORRUPT_FILE, kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION;
  const struct { const char *what; Bytes file; int code; } cases[] = {
      // Rows that end without 0, run past the row or past their data.
      {"no end", RleFile(4, {{0x82, 1, 2, 5}}), kUnsupported},
      {"run cut", RleFile(4, {{0x02, 1}}), kUnsupported},
      {"runs past row", RleFile(4, {{0x03, 1, 0x02, 1, 0}}), kCorrupt},
      {"literal past data", RleFile(4, {{0x83, 1, 0}}), kCorrupt},
      {"start far away", patched(512, 0x7F), RASTER_ERR_READ},
      {"length past end", patched(512 + 8 + 3, 0xFF), RASTER_ERR_READ},
      {"magic", patched(1, 0), kUnsupported}, {"colour map", patched(107, 1), kUnsupported},
      {"2-byte channels", patched(3, 2), kUnsupported},
      {"2 channels", patched(11, 2), RASTER_ERR_INVALID_BPP},
      {"width 0", patched(7, 0), RASTER_ERR_INVALID_SIZE}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Record bad;
    ExpectRefused(ReadRGBMemory(c.file.data(), c.file.size(), &bad), bad, c.code);
  }
}

}  // namespace
