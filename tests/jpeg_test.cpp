// JPEG files: files made by Pillow, ImageMagick and cjpeg read as Pillow
// decodes them; ours byte for byte cjpeg's at the same settings; CMYK,
// truncated, foreign and absurd files refused cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "image/jpeg.h"
#include "raster_test_util.h"

namespace {

using namespace tsltest;

TEST(JpegRead, FilesOfPillowImageMagickAndCjpegAsPillowDecodesThem) {
  const std::string pil = ".save(%o, 'JPEG'", im = std::string(kConvert) + " %i ";
  ExpectToolFilesReadAsPillow(
      ReadJPEG, {{Pillow(pil + ")"), false, 24},
                 {Pillow(pil + ", quality=95, progressive=True)"), false, 24},
                 {Pillow(pil + ", subsampling=0)"), false, 24},
                 {Pillow(pil + ")"), true, 8},
                 {im + "jpg:%o", false, 24},
                 {im + "-interlace JPEG jpg:%o", false, 24},
                 {im + "jpg:%o", true, 8},
                 {"cjpeg -progressive %i > %o", false, 24},
                 {"cjpeg -grayscale %i > %o", false, 8},
                 {"cjpeg -progressive %i > %o", true, 8},
                 {"cjpeg -rgb -restart 1 %i > %o", false, 24},
                 {"cjpeg -arithmetic %i > %o", false, 24}});
}

// Position of the first frame header's height field (baseline or
// arithmetic-coded).
size_t FrameSizeAt(const Bytes &jpeg) {
  for (size_t i = 0; i + 9 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC9)) return i + 5;
  ADD_FAILURE() << "no frame header";
  return 0;
}

TEST(JpegRead, CmykTruncationsForeignAndAbsurdFiles) {
  if (!NeedTool(kPython) || !NeedTool("cjpeg")) GTEST_SKIP() << "tools missing";
  TempDir dir;
  const std::string ppm = dir.File("c.ppm"), pgm = dir.File("g.pgm"), out = dir.File("o.jpg");
  WritePpmInterleaved(ppm, RidgePicture(24, 17, false).data(), 24, 17);
  WritePgm(pgm, RidgePicture(24, 17, true).data(), 24, 17);
  // A premature end is refused (libjpeg alone would fill the rest with
  // grey), right to a missing end-of-image marker.
  for (const std::string &command :
       {Pillow(".save(%o, 'JPEG')"), std::string("cjpeg %i > %o"), std::string("cjpeg -progressive %i > %o")}) {
    SCOPED_TRACE(command);
    std::string c = command;
    c.replace(c.find("%i"), 2, Quote(ppm)).replace(c.find("%o"), 2, Quote(out));
    ASSERT_EQ(tsltest::Run(c), 0);
    ExpectEveryTruncationFails(ReadFile(out), ReadJPEGMemory);
  }
  ASSERT_EQ(tsltest::Run("cjpeg " + Quote(pgm) + " > " + Quote(out)), 0);
  const Bytes grey = ReadFile(out);
  // The scan holds 17 rows, the frame declares 34: the data ends at the
  // end-of-image marker before the picture does.
  Bytes taller(grey);
  taller[FrameSizeAt(taller) + 1] = 34;
  // 20000 x 20000 from a few hundred bytes of arithmetic-coded data, which
  // libjpeg would pad with zeros without a warning.
  ASSERT_EQ(tsltest::Run("cjpeg -arithmetic " + Quote(pgm) + " > " + Quote(out)), 0);
  Bytes huge = ReadFile(out);
  const size_t at = FrameSizeAt(huge);
  huge[at] = huge[at + 2] = 0x4E, huge[at + 1] = huge[at + 3] = 0x20;
  std::string cmyk = Pillow(".convert('CMYK').save(%o, 'JPEG')");
  cmyk.replace(cmyk.find("%i"), 2, Quote(ppm)).replace(cmyk.find("%o"), 2, Quote(out));
  ASSERT_EQ(tsltest::Run(cmyk), 0);
  const Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 0};
  const struct { const char *what; Bytes file; int code; } cases[] = {
      {"CMYK", ReadFile(out), RASTER_ERR_UNSUPPORTED_OPTION},
      {"a PNG", png, RASTER_ERR_INVALID_FORMAT},
      {"empty", {}, RASTER_ERR_INVALID_FORMAT},
      {"scan shorter than the frame", taller, RASTER_ERR_INVALID_FORMAT},
      {"more samples than the data can hold", huge, RASTER_ERR_INVALID_FORMAT},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Record r;
    ExpectRefused(ReadJPEGMemory(c.file.data(), c.file.size(), &r), r, c.code);
  }
  Record none;
  ExpectRefused(ReadJPEG(dir.File("missing.jpg").c_str(), &none), none, RASTER_ERR_OPEN_FILE);
  ExpectRefused(ReadJPEGMemory(grey.data(), grey.size(), nullptr), none, RASTER_ERR_INVALID_IMAGE);
}

// Our file for a record, and cjpeg's for the same pixels (the record's
// colours, or grey levels `grey`) with `options`: libjpeg's defaults on
// both sides, so the bytes must agree.
void ExpectBytesOfCjpeg(const RasterImage &image, int quality, const std::string &options,
                        bool grey) {
  TempDir dir;
  const std::string ours = dir.File("ours.jpg"), pnm = dir.File("in.pnm"), ref = dir.File("ref.jpg");
  ASSERT_EQ(WriteJPEG(ours.c_str(), image, quality), RASTER_OK);
  Bytes rgb = TopFirstRgb(image);
  if (grey) {
    for (size_t i = 0; i < rgb.size() / 3; ++i) rgb[i] = rgb[3 * i];
    rgb.resize(rgb.size() / 3);
  }
  (grey ? WritePgm : WritePpmInterleaved)(pnm, rgb.data(), int(image.width), int(image.height));
  ASSERT_EQ(Run("cjpeg " + options + " " + Quote(pnm) + " > " + Quote(ref)), 0);
  EXPECT_EQ(ReadFile(ours), ReadFile(ref)) << "differs from cjpeg " << options;
}

TEST(JpegWrite, BytesOfCjpegForEachRecordAndQuality) {
  TSL_NEED_TOOL("cjpeg");
  const struct { const char *what; unsigned bpp; int quality; const char *options; bool grey; } cases[] = {
      {"grey ramp", 8, 100, "-quality 100", true},
      {"colour palette", 8, 100, "-quality 100", false},
      {"grey palette not the ramp", 8, 100, "-quality 100", false},
      {"24 bits", 24, 100, "-quality 100", false},
      {"32 bits, alpha dropped", 32, 100, "-quality 100", false},
      {"16 bits", 16, 100, "-quality 100", false},
      {"quality 75", 24, 75, "-quality 75", false},
      {"quality 5, baseline tables", 24, 5, "-quality 5 -baseline", false},
      {"quality 0 as 1", 24, 0, "-quality 1 -baseline", false},
      {"quality 1000 as 100", 24, 1000, "-quality 100", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Record r(0);
    RandomRecord(r, 37, 19, c.bpp, c.what == std::string("grey palette not the ramp"));
    if (c.grey)
      for (unsigned i = 0; i < r->palette_size; ++i) std::memset(r->palette + 3 * i, int(i), 3);
    const Bytes before(r->bits, r->bits + size_t{r->scan_width} * r->height);
    ExpectBytesOfCjpeg(r.img, c.quality, c.options, c.grey);
    EXPECT_EQ(r->bits_per_pixel, c.bpp);
    EXPECT_EQ(Bytes(r->bits, r->bits + size_t{r->scan_width} * r->height), before);
  }
}

TEST(JpegWrite, RefusedRecordsLeaveNoFile) {
  TempDir dir;
  const std::string path = dir.File("no.jpg");
  const struct { const char *what; uint32_t width; unsigned bpp; int code; } cases[] = {
      {"1 bit", 8, 1, RASTER_ERR_INVALID_BPP},
      {"4 bits", 8, 4, RASTER_ERR_INVALID_BPP},
      // libjpeg refuses it after the 24-bit copy is made; the copy goes too.
      {"16 bits, too wide for JPEG", 65501, 16, RASTER_ERR_INVALID_FORMAT},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Record r;
    MakeRecord(r, c.width, 1, c.bpp);
    EXPECT_EQ(WriteJPEG(path.c_str(), r.img, 100), c.code);
    EXPECT_EQ(GetLastRasterError(), c.code);
    EXPECT_FALSE(std::ifstream(path).good());
  }
}

}  // namespace
