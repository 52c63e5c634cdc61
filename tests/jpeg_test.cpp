// JPEG files: files made by Pillow, ImageMagick and cjpeg read as Pillow
// decodes them; ours byte for byte cjpeg's at the same settings; CMYK,
// truncated, foreign and absurd files refused cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>

#include "image/jpeg.h"
#include "raster_test_util.h"

namespace {

using namespace tsltest;

// libjpeg decodes, so what differs is the colour spaces, progressive and
// arithmetic-coded scans, and restart markers.
TEST(JpegRead, FilesOfPillowImageMagickAndCjpegAsPillowDecodesThem) {
  const std::string pil = ".save(%o, 'JPEG'", rgb = std::string(kConvert) + " %i ";
  ExpectToolFilesRead(ReadJPEG, {{Pillow(pil + ")"), 1u << 24, 24, true},
                                 {Pillow(pil + ")"), 0, 8, true},
                                 {rgb + "-interlace JPEG jpg:%o", 1u << 24, 24, true},
                                 {"cjpeg -grayscale %i > %o", 1u << 24, 8, true},
                                 {"cjpeg -rgb -restart 1 %i > %o", 1u << 24, 24, true},
                                 {"cjpeg -arithmetic %i > %o", 1u << 24, 24, true}});
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
  if (!NeedPillow() || !NeedTool("cjpeg")) GTEST_SKIP() << "tools missing";
  TempDir dir;
  const std::string ppm = dir.File("c.ppm"), pgm = dir.File("g.pgm"), out = dir.File("o.jpg");
  WritePpmInterleaved(ppm, RidgePicture(24, 17, false).data(), 24, 17);
  WritePgm(pgm, RidgePicture(24, 17, true).data(), 24, 17);
  // A premature end is refused (libjpeg alone would fill the rest with
  // grey), right to a missing end-of-image marker.
  ASSERT_EQ(RunTool(Pillow(".save(%o, 'JPEG')"), ppm, out), 0);
  testing::internal::CaptureStderr();  // libjpeg's line for each prefix
  ExpectEveryTruncationFails(ReadFile(out), ReadJPEGMemory);
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(RunTool("cjpeg %i > %o", pgm, out), 0);
  // The scan holds 17 rows, the frame declares 34: the data ends at the
  // end-of-image marker before the picture does.
  Bytes taller = ReadFile(out);
  taller[FrameSizeAt(taller) + 1] = 34;
  // 20000 x 20000 from a few hundred bytes of arithmetic-coded data, which
  // libjpeg would pad with zeros without a warning.
  ASSERT_EQ(RunTool("cjpeg -arithmetic %i > %o", pgm, out), 0);
  Bytes huge = ReadFile(out);
  huge = Patched(huge, FrameSizeAt(huge), {0x4E, 0x20, 0x4E, 0x20});
  ASSERT_EQ(RunTool(Pillow(".convert('CMYK').save(%o, 'JPEG')"), ppm, out), 0);
  const int kFormat = RASTER_ERR_INVALID_FORMAT;
  ExpectHandMadeFiles(
      ReadJPEGMemory,
      {{"CMYK", ReadFile(out), {}, RASTER_ERR_UNSUPPORTED_OPTION},
       {"a PNG", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 0}, {}, kFormat},
       {"scan shorter than the frame", taller, {}, kFormat},
       {"more samples than the data can hold", huge, {}, kFormat}});
}

// A refused file is explained by libjpeg's own line on the standard error
// stream; a defect libjpeg only warns about is read without a word.
TEST(JpegRead, LibjpegsRefusalsArePrintedItsWarningsAreNot) {
  TempDir dir;
  const std::string path = dir.File("w.jpg");
  Record picture(0);
  RandomRecord(picture, 16, 8, 24);
  ASSERT_EQ(WriteJPEG(path.c_str(), picture.img, 90), RASTER_OK);
  const Bytes good = ReadFile(path);
  Bytes extraneous = good;  // two stray bytes between SOI and the next marker
  extraneous.insert(extraneous.begin() + 2, {0, 0});
  const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 0};
  const struct { const char *what; Bytes file; int code; const char *message; } cases[] = {
      {"a PNG", png, RASTER_ERR_INVALID_FORMAT, "Not a JPEG file: starts with 0x89 0x50\n"},
      {"cut short", Bytes(good.begin(), good.end() - 40), RASTER_ERR_INVALID_FORMAT,
       "Premature end of JPEG file\n"},
      {"extraneous bytes before a marker", extraneous, RASTER_OK, ""}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Record r(0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReadJPEGMemory(c.file.data(), c.file.size(), &r), c.code);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
  }
}

// Arithmetic-coded data that end early are padded with zeros without a
// warning, so only the bound on samples per byte of file refuses a frame
// far larger than its scan: past 2^24 samples, at most 4096 per byte.
TEST(JpegRead, SamplesBoundedByTheFileSize) {
  TSL_NEED_TOOL("cjpeg");
  TempDir dir;
  const std::string pgm = dir.File("g.pgm"), ppm = dir.File("c.ppm"), out = dir.File("o.jpg");
  WritePgm(pgm, RidgePicture(24, 17, true).data(), 24, 17);
  WritePpmInterleaved(ppm, RidgePicture(24, 17, false).data(), 24, 17);
  ASSERT_EQ(RunTool("cjpeg -arithmetic %i > %o", pgm, out), 0);
  const Bytes grey = ReadFile(out);
  ASSERT_EQ(RunTool("cjpeg -arithmetic %i > %o", ppm, out), 0);
  const Bytes colour = ReadFile(out);
  ASSERT_LT(std::max(grey.size(), colour.size()), 4097u);
  // A file with its frame resized to width x height, padded to `bytes`.
  const auto framed = [&](const Bytes &file, uint16_t width, uint16_t height, size_t bytes) {
    Bytes f = Patched(file, FrameSizeAt(file), {uint8_t(height >> 8), uint8_t(height),
                                                uint8_t(width >> 8), uint8_t(width)});
    f.resize(std::max(bytes, f.size()), 0);
    return f;
  };
  const struct { const char *what; Bytes file; int code; } cases[] = {
      {"2^24 samples from a few bytes", framed(grey, 4096, 4096, 0), RASTER_OK},
      {"2^24 + 1 samples from a few bytes", framed(grey, 24929, 673, 0),
       RASTER_ERR_INVALID_FORMAT},
      {"3 x 4096 x 1366 colour samples from a few bytes", framed(colour, 4096, 1366, 0),
       RASTER_ERR_INVALID_FORMAT},
      // 4097 x 4097 = 4096 x 4098 + 1
      {"4096 samples per byte and a rest", framed(grey, 4097, 4097, 4098), RASTER_OK},
      {"more than 4096 per byte", framed(grey, 4097, 4097, 4097), RASTER_ERR_INVALID_FORMAT}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Record r(0);
    EXPECT_EQ(ReadJPEGMemory(c.file.data(), c.file.size(), &r), c.code);
  }
}

// Our file for each record and cjpeg's for the same pixels (grey levels
// for the grey ramp): libjpeg's defaults on both sides, so the bytes must
// agree.
TEST(JpegWrite, BytesOfCjpegForEachRecordAndQuality) {
  TSL_NEED_TOOL("cjpeg");
  TempDir dir;
  const std::string ours = dir.File("o.jpg"), pnm = dir.File("in.pnm"), ref = dir.File("ref.jpg");
  enum Palette { kColours, kGreyRamp, kGreyNotRamp };
  const struct { const char *what; unsigned bpp; Palette palette; int quality;
                 std::string options; } cases[] = {
      {"grey ramp", 8, kGreyRamp, 100, "-quality 100"},
      {"colour palette", 8, kColours, 100, "-quality 100"},
      {"grey palette not the ramp", 8, kGreyNotRamp, 100, "-quality 100"},
      {"32 bits, alpha dropped", 32, kColours, 100, "-quality 100"},
      {"16 bits", 16, kColours, 100, "-quality 100"},
      {"quality 5, baseline tables", 24, kColours, 5, "-quality 5 -baseline"},
      {"quality 0 as 1", 24, kColours, 0, "-quality 1 -baseline"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Record r(0);
    RandomRecord(r, 37, 19, c.bpp, c.palette == kGreyNotRamp);
    for (unsigned i = 0; c.palette == kGreyRamp && i < r->palette_size; ++i)
      std::memset(r->palette + 3 * i, int(i), 3);
    ASSERT_EQ(WriteJPEG(ours.c_str(), r.img, c.quality), RASTER_OK);
    const Bytes rgb = TopFirstRgb(r.img);
    Bytes grey;
    for (size_t i = 0; i < rgb.size(); i += 3) grey.push_back(rgb[i]);
    if (c.palette == kGreyRamp) WritePgm(pnm, grey.data(), 37, 19);
    else WritePpmInterleaved(pnm, rgb.data(), 37, 19);
    ASSERT_EQ(RunTool("cjpeg " + c.options + " %i > %o", pnm, ref), 0);
    EXPECT_EQ(ReadFile(ours), ReadFile(ref)) << "differs from cjpeg " << c.options;
  }
}

// The writer passes libjpeg's output on in blocks of 16 KiB: a noisy
// picture several blocks long is still cjpeg's byte for byte.
TEST(JpegWrite, FileOfSeveralOutputBlocksIsCjpegs) {
  TSL_NEED_TOOL("cjpeg");
  TempDir dir;
  const std::string ours = dir.File("o.jpg"), ppm = dir.File("in.ppm"), ref = dir.File("ref.jpg");
  Record r(0);
  RandomRecord(r, 200, 150, 24);
  ASSERT_EQ(WriteJPEG(ours.c_str(), r.img, 100), RASTER_OK);
  WritePpmInterleaved(ppm, TopFirstRgb(r.img).data(), 200, 150);
  ASSERT_EQ(RunTool("cjpeg -quality 100 %i > %o", ppm, ref), 0);
  const Bytes file = ReadFile(ours);
  ASSERT_GT(file.size(), 3u * 16384) << "several blocks and a partial one";
  EXPECT_EQ(file, ReadFile(ref));
}

// Only libjpeg's refusals print, its own line.
TEST(JpegWrite, RefusedRecordsLeaveNoFile) {
  TempDir dir;
  const std::string path = dir.File("no.jpg");
  const struct { const char *what; uint32_t width; unsigned bpp; int code;
                 const char *message; } cases[] = {
      {"1 bit", 8, 1, RASTER_ERR_INVALID_BPP, ""},
      // libjpeg refuses it after the 24-bit copy is made; the copy goes too.
      {"16 bits, too wide for JPEG", 65501, 16, RASTER_ERR_INVALID_FORMAT,
       "Maximum supported image dimension is 65500 pixels\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Record r;
    MakeRecord(r, c.width, 1, c.bpp);
    testing::internal::CaptureStderr();
    EXPECT_EQ(WriteJPEG(path.c_str(), r.img, 100), c.code);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
    EXPECT_EQ(GetLastRasterError(), c.code);
    EXPECT_FALSE(std::ifstream(path).good());
  }
}

}  // namespace
