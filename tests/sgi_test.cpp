// SGI image files: files made by ImageMagick (run-length and verbatim) and
// Pillow read with identical pixels, ours read back by Pillow and netpbm,
// and hostile headers, tables and runs refused cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "image/sgi.h"
#include "raster_test_util.h"

namespace {

using namespace tsltest;

// The 512-byte header of a run-length file, 1 byte per sample.
Bytes RleHeader(uint16_t width, uint16_t height, uint16_t channels) {
  Bytes f{1, 218, 1, 1, 0, uint8_t(channels == 1 ? 2 : 3)};
  PutBe(f, width, 2), PutBe(f, height, 2), PutBe(f, channels, 2);
  f.resize(512);
  return f;
}

// A run-length file of one channel whose rows hold the given encoded bytes.
Bytes RleFile(uint16_t width, const std::vector<Bytes> &rows) {
  Bytes f = RleHeader(width, uint16_t(rows.size()), 1), data;
  for (const Bytes &r : rows) {
    PutBe(f, uint32_t(512 + 8 * rows.size() + data.size()), 4);
    data.insert(data.end(), r.begin(), r.end());
  }
  for (const Bytes &r : rows) PutBe(f, uint32_t(r.size()), 4);
  return Cat({f, data});
}

// The runs of `n` samples: repeats of 3 or more equal samples, literals
// between them, each at most 127 long; no closing 0.
Bytes Runs(const uint8_t *p, size_t n) {
  Bytes out;
  const auto three_equal = [&](size_t i) {
    return i + 2 < n && p[i] == p[i + 1] && p[i] == p[i + 2];
  };
  for (size_t i = 0; i < n;) {
    size_t k = 1;
    if (three_equal(i)) {
      while (i + k < n && k < 127 && p[i + k] == p[i]) ++k;
      out.insert(out.end(), {uint8_t(k), p[i]});
    } else {
      while (i + k < n && k < 127 && !three_equal(i + k)) ++k;
      out.push_back(uint8_t(0x80 | k));
      out.insert(out.end(), p + i, p + i + k);
    }
    i += k;
  }
  return out;
}

// Planes (bottom row first) laid out as GIMP's aggressive run-length files
// are: a row equal to one already stored points at that one's bytes, and
// the 0 after a row's runs lies outside the length of every other row.
Bytes GimpRleFile(uint16_t w, uint16_t h, uint16_t z, const Bytes &planes) {
  const size_t n = size_t{h} * z;
  Bytes f = RleHeader(w, h, z), lengths, data;
  std::vector<Bytes> stored;
  std::vector<uint32_t> at, length;
  for (size_t i = 0; i < n; ++i) {
    const Bytes runs = Runs(planes.data() + i * w, w);
    const size_t same = std::find(stored.begin(), stored.end(), runs) - stored.begin();
    if (same == stored.size()) {
      stored.push_back(runs);
      at.push_back(uint32_t(512 + 8 * n + data.size()));
      length.push_back(uint32_t(runs.size() + same % 2));
      data.insert(data.end(), runs.begin(), runs.end());
      data.push_back(0);
    }
    PutBe(f, at[same], 4), PutBe(lengths, length[same], 4);
  }
  return Cat({f, lengths, data});
}

// Planes of flat and noisy stretches of 1 to 300 samples; the second row
// of each plane repeats the first.
Bytes StretchPlanes(uint32_t w, uint32_t h, uint32_t z) {
  Rng rng(w * 10 + z);
  Bytes planes;
  while (planes.size() < size_t{w} * h * z) {
    const uint32_t n = 1 + rng.Below(300);
    const bool flat = rng.Below(2) == 0;
    const uint8_t v = uint8_t(rng.Next());
    for (uint32_t k = 0; k < n; ++k) planes.push_back(flat ? v : uint8_t(rng.Next() >> 9));
  }
  planes.resize(size_t{w} * h * z);
  for (uint32_t p = 0; h > 1 && p < z; ++p)
    std::copy_n(planes.begin() + size_t{p} * h * w, w, planes.begin() + (size_t{p} * h + 1) * w);
  return planes;
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

// GIMP ends some run-length rows with the run that fills the width, no 0
// after it; Pillow reads them.
TEST(SgiRead, RowsEndingWithTheRunThatFillsTheWidthAsPillowReadsThem) {
  TSL_NEED_PILLOW();
  TempDir dir;
  const std::string path = dir.File("gimp.rgb");
  for (uint16_t z : {1, 3, 4})
    for (uint16_t w : {1, 128, 1000}) {
      SCOPED_TRACE(std::to_string(z) + " channels, width " + std::to_string(w));
      ExpectReadAsPillowReadsIt(ReadRGBMemory, path, GimpRleFile(w, 3, z, StretchPlanes(w, 3, z)),
                                z == 4);
    }
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
       {"filled, no end", RleFile(4, {{0x82, 1, 2, 0x02, 5}}), GreyToRgb({1, 2, 5, 5})},
       {"no end", RleFile(4, {{0x82, 1, 2, 5}}), {}, kUnsupported},
       {"short, no end", RleFile(4, {{0x82, 1, 2, 0x01, 5}}), {}, kUnsupported},
       {"filled, then a run", RleFile(4, {{0x04, 1, 0x01, 2}}), {}, kCorrupt},
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
