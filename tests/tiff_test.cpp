// TIFF files: files made by libtiff's tools, ImageMagick and Pillow read with
// their pixels and options, ours read back by them with the tags we mean,
// hand-made variants decoded or refused, and hostile files refused cleanly.
#include "image/tiff.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>

#include "raster_test_util.h"

namespace {

using namespace tsltest;

RasterError Read(const char *path, RasterImage *r) { return ReadTIFF(path, r, nullptr); }
RasterError ReadMemory(const uint8_t *data, size_t n, RasterImage *r) {
  return ReadTIFFMemory(data, n, r, nullptr);
}
RasterError Write(const char *path, RasterImage r) { return WriteTIFF(path, r, nullptr); }

// A little-endian TIFF: `data`, then one directory of SHORT (3) or LONG (4)
// entries; StripOffsets (273) count from the data's first byte.
struct Tag { uint16_t tag, type; std::vector<uint32_t> values; };
Bytes Tiff(std::vector<Tag> tags, const Bytes &data) {
  std::sort(tags.begin(), tags.end(), [](const Tag &a, const Tag &b) { return a.tag < b.tag; });
  const auto put = [](Bytes &b, size_t v, size_t n) {
    for (size_t i = 0; i < n; ++i) b.push_back(uint8_t(v >> 8 * i));
  };
  Bytes file = {'I', 'I', 42, 0, 0, 0, 0, 0}, ifd;
  file.insert(file.end(), data.begin(), data.end());
  put(ifd, tags.size(), 2);
  for (const Tag &t : tags) {
    Bytes value;
    for (uint32_t v : t.values) put(value, t.tag == 273 ? v + 8 : v, t.type == 3 ? 2 : 4);
    put(ifd, t.tag, 2), put(ifd, t.type, 2), put(ifd, t.values.size(), 4);
    Bytes &to = value.size() > 4 ? file : ifd;
    if (value.size() > 4) put(ifd, file.size(), 4);
    value.resize(std::max<size_t>(value.size(), 4));
    to.insert(to.end(), value.begin(), value.end());
  }
  put(ifd, 0, 4);
  const size_t at = file.size();
  for (int i = 0; i < 4; ++i) file[4 + i] = uint8_t(at >> 8 * i);
  file.insert(file.end(), ifd.begin(), ifd.end());
  return file;
}

// One strip of `w` x `h` pixels with the usual tags; `more` adds tags or
// replaces them, and a tag without values is left out.
Bytes Strip(uint16_t photometric, uint16_t bits, uint16_t samples, uint32_t w, uint32_t h,
            const Bytes &data, std::vector<Tag> more = {}) {
  std::vector<Tag> tags = {
      {256, 4, {w}},       {257, 4, {h}},           {258, 3, std::vector<uint32_t>(samples, bits)},
      {259, 3, {1}},       {262, 3, {photometric}}, {273, 4, {0}},
      {277, 3, {samples}}, {278, 4, {h}},           {279, 4, {uint32_t(data.size())}}};
  for (const Tag &m : more) {
    tags.erase(
        std::remove_if(tags.begin(), tags.end(), [&](const Tag &t) { return t.tag == m.tag; }),
        tags.end());
    if (!m.values.empty()) tags.push_back(m);
  }
  return Tiff(tags, data);
}

// A shell line: `make` writes a TIFF from %i into the scratch file kT,
// tiffcp rewrites it into %o with `options`.
const std::string kT = "${t:=$(mktemp)}";
std::string Tiffcp(const std::string &options,
                   const std::string &make = "pnmtotiff -truecolor %i 2>/dev/null >" + kT) {
  return make + " && tiffcp " + options + " $t %o; s=$?; rm -f $t; exit $s";
}

TEST(TiffRead, FilesOfLibtiffToolsImageMagickAndPillow) {
  const std::string im = std::string(kConvert) + " %i ",
                    mono = im + "-monochrome -depth 1 tif:" + kT,
                    white = "-define quantum:polarity=min-is-white ";
  const uint32_t rgb = 1u << 24;
  ExpectToolFilesRead(
      Read, {{Tiffcp("-c none"), rgb, 24}, {Tiffcp("-c lzw"), 0, 8}, {Tiffcp("-c zip"), rgb, 24},
             {Tiffcp("-c packbits"), 0, 8}, {Tiffcp("-c g3", mono), 2, 1},
             {Tiffcp("-c g4", mono), 2, 1}, {Tiffcp("-p separate"), rgb, 24},
             {Tiffcp("-p separate", im + "-alpha set tif:" + kT), rgb, 32},
             {im + "-depth 16 tif:%o", rgb, 24}, {im + "-depth 16 tif:%o", 0, 8},
             {im + "-monochrome -depth 1 tif:%o", 2, 1},
             {im + white + "-monochrome -depth 1 tif:%o", 2, 1},
             {im + "-alpha set tif:%o", rgb, 32},
             {Pillow(".convert('LA').save(%o, 'TIFF')"), 0, 32},
             {Pillow(".convert('RGBA').save(%o, 'TIFF')"), rgb, 32},
             {Tiffcp("-p separate", Pillow(".convert('LA').save('" + kT + "', 'TIFF')")), 0, 32}});
}

// Files of tools whose samples the record cannot hold as they are.
TEST(TiffRead, ToolFilesOfTilesInkPlanesAndAlphaWithoutRecordLayoutRefused) {
  if (!NeedTool(kConvert) || !NeedTool(kPython) || !NeedTool("tiffcp"))
    GTEST_SKIP() << "tools missing";
  TempDir dir;
  const std::string ppm = dir.File("in.ppm"), out = dir.File("out.tif");
  const Bytes px = RidgeImage(3 * 20, 4);
  WritePpmInterleaved(ppm, px.data(), 20, 4);
  const std::string im = std::string(kConvert) + " " + ppm + " ";
  const std::string pillow =
      std::string(kPython) + " -c \"from PIL import Image; Image.open('" + ppm + "')";
  for (const std::string &command :
       {im + "-define tiff:tile-geometry=16x16 " + out,
        im + "-colorspace gray -alpha set -depth 16 " + out,
        pillow + ".convert('PA').save('" + out + "')\"",
        pillow + ".convert('CMYK').save('" + out + "')\" && tiffcp -p separate " + out + " " + out +
            "2 && mv " + out + "2 " + out}) {
    SCOPED_TRACE(command);
    ASSERT_EQ(tsltest::Run(command), 0);
    Record r;
    ExpectRefused(Read(out.c_str(), &r), r, RASTER_ERR_UNSUPPORTED_OPTION);
  }
}

// Colour maps of value x 257 (ImageMagick) and x 256 (Pillow) read with the
// colours Pillow decodes, at the depth ImageMagick picks for the colours.
TEST(TiffRead, PaletteFilesOfImageMagickAndPillow) {
  if (!NeedTool(kConvert) || !NeedTool(kPython)) GTEST_SKIP() << "ImageMagick or Pillow missing";
  TempDir dir;
  const std::string ppm = dir.File("in.ppm"), out = dir.File("out.tif");
  for (uint32_t colours : {2u, 4u, 16u, 40u})
    for (bool pillow : {false, true}) {
      SCOPED_TRACE(std::to_string(colours) +
                   (pillow ? " colours, Pillow" : " colours, ImageMagick"));
      Bytes px;
      for (uint32_t k = 0; k < 19 * 4; ++k)
        for (uint32_t c = 0; c < 3; ++c)
          px.push_back(uint8_t((k % colours) * (37 + 50 * c) + 9 * c));
      WritePpmInterleaved(ppm, px.data(), 19, 4);
      ASSERT_EQ(
          tsltest::Run(pillow ? std::string(kPython) + " -c \"from PIL import Image; Image.open('" +
                                    ppm + "').quantize(256).save('" + out + "')\""
                              : std::string(kConvert) + " " + ppm + " -type palette " + out),
          0);
      Record r;
      const int code = Read(out.c_str(), &r);
      if (colours == 4 && !pillow) {  // two bits per pixel: no record depth
        ExpectRefused(code, r, RASTER_ERR_UNSUPPORTED_OPTION);
        continue;
      }
      ASSERT_EQ(code, RASTER_OK);
      EXPECT_EQ(r->bits_per_pixel, pillow ? 8 : colours == 2 ? 1 : colours == 16 ? 4 : 8);
      EXPECT_EQ(TopFirstRgb(r.img), PillowPixels(out));
      EXPECT_EQ(TopFirstRgb(r.img), px);
    }
}

Bytes operator+(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// 16-bit samples in host order, as libtiff hands them over.
Bytes Wide(std::initializer_list<uint16_t> samples) {
  Bytes b(2 * samples.size());
  std::memcpy(b.data(), samples.begin(), b.size());
  return b;
}

// Separate planes of `bytes` each, one row per strip, and `more` tags.
std::vector<Tag> Planes(uint32_t n, uint32_t bytes, std::vector<Tag> more = {}) {
  Tag offsets{273, 4, {}}, counts{279, 4, std::vector<uint32_t>(n, bytes)};
  for (uint32_t p = 0; p < n; ++p) offsets.values.push_back(p * bytes);
  more.insert(more.end(), {{284, 3, {2}}, {278, 4, {1}}, offsets, counts});
  return more;
}

// Hand-made files read as the top-first RGB (RGBA with `alpha`) they hold.
TEST(TiffRead, HandMadeSampleLayoutsAndMaps) {
  const Tag unassoc{338, 3, {2}};
  const struct { const char *what; Bytes file, rgb; bool alpha = false; } cases[] = {
      {"bilevel without sample tags",
       Strip(0, 1, 1, 9, 1, {0xA5, 0x80}, {{258, 3, {}}, {277, 3, {}}}),
       GreyToRgb({0, 255, 0, 255, 255, 0, 255, 0, 0})},
      {"16 bits up to 4095", Strip(1, 16, 1, 3, 1, Wide({4095, 16, 65535}), {{281, 3, {4095}}}),
       GreyToRgb({255, 1, 255})},
      {"16 bits up to 256", Strip(1, 16, 1, 2, 1, Wide({256, 255}), {{281, 3, {256}}}),
       GreyToRgb({128, 127})},
      {"one separate plane", Strip(1, 8, 1, 2, 1, {7, 9}, {{284, 3, {2}}}), GreyToRgb({7, 9})},
      {"1-bit RGB planes", Strip(2, 1, 3, 2, 1, {0x80, 0, 0x40}, Planes(3, 1)),
       {255, 0, 0, 0, 0, 255}},
      {"1-bit RGB and mask planes",
       Strip(2, 1, 4, 2, 1, {0x80, 0, 0x40, 0x80}, Planes(4, 1, {unassoc})),
       {255, 0, 0, 255, 127, 127, 127, 0}, true},
      {"associated alpha",
       Strip(2, 8, 4, 2, 1, {100, 50, 0, 128, 200, 0, 0, 128}, {{338, 3, {1}}}),
       {199, 100, 0, 128, 255, 0, 0, 128}, true},
      {"unassociated alpha", Strip(2, 8, 4, 1, 1, {100, 50, 0, 128}, {unassoc}), {100, 50, 0, 128},
       true},
      {"white-zero grey and alpha", Strip(0, 8, 2, 1, 1, {55, 128}, {unassoc}),
       {200, 200, 200, 128}, true},
      {"map of value x 256",
       Strip(3, 1, 1, 2, 1, {0x40}, {{320, 3, {0xFF00, 0x8000, 0, 0x8000, 0, 0}}}),
       {255, 0, 0, 128, 128, 0}},
      {"map of bytes", Strip(3, 1, 1, 2, 1, {0x40}, {{320, 3, {255, 7, 1, 8, 2, 9}}}),
       {255, 1, 2, 7, 8, 9}},
      {"G4 strip cut short",  // 3 black rows, 1 white
       Strip(0, 1, 1, 8, 6, {0x26, 0xA2, 0xF8, 0x80},
             {{259, 3, {4}}, {273, 4, {0, 3}}, {279, 4, {3, 1}}, {278, 4, {3}}}),
       GreyToRgb(Bytes(24, 0)) + GreyToRgb(Bytes(24, 255))}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Record r;
    ASSERT_EQ(ReadMemory(c.file.data(), c.file.size(), &r), RASTER_OK);
    EXPECT_EQ(TopFirstRgb(r.img, c.alpha), c.rgb);
  }
}

// Hand-made files whose samples the record cannot hold, or whose data
// cannot fill what they declare.
TEST(TiffRead, HandMadeLayoutsRefused) {
  const int kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION;
  const struct { const char *what; Bytes file; int code; } cases[] = {
      {"16-bit RGB planes", Strip(2, 16, 3, 1, 1, Wide({1, 2, 3}), Planes(3, 2)), kUnsupported},
      {"33 samples", Strip(1, 8, 33, 1, 1, Bytes(33)), kUnsupported},
      {"2-bit grey", Strip(1, 2, 1, 4, 1, {0x1B}), kUnsupported},
      {"32-bit grey", Strip(1, 32, 1, 1, 1, Bytes(4)), kUnsupported},
      {"RGB of one sample", Strip(2, 8, 1, 1, 1, {1}), kUnsupported},
      {"palette and alpha",
       Strip(3, 8, 2, 1, 1, {1, 2}, {{338, 3, {2}}, {320, 3, std::vector<uint32_t>(768)}}),
       kUnsupported},
      {"CMYK", Strip(5, 8, 4, 1, 1, {1, 2, 3, 4}), kUnsupported},
      {"YCbCr", Strip(6, 8, 3, 1, 1, {1, 2, 3}), kUnsupported},
      {"ICC Lab", Strip(9, 8, 3, 1, 1, {1, 2, 3}), kUnsupported},
      {"ITU Lab", Strip(10, 8, 3, 1, 1, {1, 2, 3}), kUnsupported},
      {"no photometric", Strip(1, 8, 1, 1, 1, {1}, {{262, 3, {}}}), kUnsupported},
      {"40000 squared in 4 bytes", Strip(1, 8, 1, 40000, 40000, {1, 2, 3, 4}), RASTER_ERR_READ},
      {"PackBits short of its rows", Strip(1, 8, 1, 2, 3, {1, 2, 3}, {{259, 3, {32773}}}),
       RASTER_ERR_READ}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Record r;
    ExpectRefused(ReadMemory(c.file.data(), c.file.size(), &r), r, c.code);
  }
}

// Options a read reports for files tiffcp and tiffset make from a grey
// picture, over a record of 77s; or the code refusing them, though they
// read without options.
TEST(TiffRead, OptionsOfCompressionsPredictorsAndOrientations) {
  TSL_NEED_TOOL("pnmtotiff");
  TSL_NEED_TOOL("tiffset");
  TempDir dir;
  const std::string pgm = dir.File("g.pgm"), base = dir.File("base.tif"), out = dir.File("o.tif");
  const Bytes grey = RidgeImage(16, 9);
  WritePgm(pgm, grey.data(), 16, 9);
  ASSERT_EQ(tsltest::Run("pnmtotiff " + Quote(pgm) + " > " + Quote(base) + " 2>/dev/null"), 0);
  // Adobe Deflate (tiffcp's zip) has no code and leaves the field.
  const struct { std::string tiffcp, tiffset; TIFFOptions expect; int code = 0; } cases[] = {
      {"-c none", "", {0, 1, 0, 0}}, {"-c lzw", "", {4, 1, 0, 2}},
      {"-c lzw", "-s 317 1", {4, 1, 0, 1}}, {"-c zip", "", {77, 1, 0, 0}},
      {"-c packbits", "-s 274 4", {9, 1, 1, 0}}, {"-c none", "-s 262 0", {0, 0, 0, 0}},
      {"-c none", "-s 274 3", {}, RASTER_ERR_UNSUPPORTED_OPTION},
      {"-c jpeg", "", {}, RASTER_ERR_UNSUPPORTED_OPTION}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.tiffcp + " " + c.tiffset);
    const std::string set = c.tiffset.empty() ? "" : " && tiffset " + c.tiffset + " " + Quote(out);
    ASSERT_EQ(tsltest::Run("tiffcp " + c.tiffcp + " " + Quote(base) + " " + Quote(out) + set), 0);
    Record r, plain;
    TIFFOptions o{77, 77, 77, 77};
    const int code = ReadTIFF(out.c_str(), &r, &o);
    if (c.code != RASTER_OK) ExpectRefused(code, r, c.code);
    EXPECT_EQ(Read(out.c_str(), &plain), RASTER_OK) << "without options";
    if (c.code != RASTER_OK) continue;
    ASSERT_EQ(code, RASTER_OK);
    EXPECT_EQ(o.compression, c.expect.compression);
    EXPECT_EQ(o.photometric, c.expect.photometric);
    EXPECT_EQ(o.orientation, c.expect.orientation);
    EXPECT_EQ(o.predictor, c.expect.predictor);
    Bytes shown = grey;  // white-zero shows the stored levels inverted
    for (uint8_t &v : shown) v = o.photometric == 0 ? uint8_t(255 - v) : v;
    EXPECT_EQ(TopFirstRgb(r.img), GreyToRgb(shown));
  }
}

TEST(TiffWrite, ReadBackByPillowNetpbmAndOurselves) {
  // tifftopnm premultiplies alpha, as libtiff's RGBA reading does.
  ExpectWrittenFilesReadAlike(Write, Read, "tif", "tifftopnm", {1, 4, 8, 16, 24, 32}, true, 0, 32);
}

// Tags of our files as tiffdump lists them, with the pixels Pillow and we
// read back; compressions libtiff cannot encode refused without a file.
TEST(TiffWrite, TagsOfGreyPalettesAlphaOrientationAndCompressions) {
  if (!NeedTool("tiffdump") || !NeedTool(kPython)) GTEST_SKIP() << "tiffdump or Pillow missing";
  TempDir dir;
  const std::string path = dir.File("o.tif");
  const std::string photo = "Photometric (262) SHORT (3) 1<", map = "Colormap (320) SHORT (3) ",
                    packed = "Compression (259) SHORT (3) 1<",
                    turned = "Orientation (274) SHORT (3) 1<";
  // `ramp` 1 rising, -1 falling, 2 rising in the first two entries only.
  const struct { const char *what; unsigned bpp; uint16_t entries; int ramp; TIFFOptions o;
                 std::vector<std::string> tags; } cases[] = {
      {"rising ramp", 8, 256, 1, {}, {photo + "1>"}},
      {"falling ramp", 4, 16, -1, {}, {photo + "0>"}},
      {"one grey entry", 8, 1, 1, {}, {photo + "3>", map + "768<0 0 0 "}},
      {"ramp only at 0 and 1", 4, 16, 2, {}, {photo + "3>", map + "48<0 4369 "}},
      {"alpha, bottom-left", 32, 0, 0, {0, 0, 1, 0},
       {"ExtraSamples (338) SHORT (3) 1<2>", turned + "4>"}},
      {"1 bit asking for LZW", 1, 2, 1, {4, 0, 0, 0}, {packed + "32773>", photo + "1>"}},
      {"Deflate, no orientation", 24, 0, 0, {13, 0, 9, 0}, {packed + "32946>"}},
      {"PixarLog", 16, 0, 0, {12, 0, 0, 0}, {packed + "32909>"}},
      {"PackBits", 8, 256, 0, {9, 0, 0, 0}, {packed + "32773>", turned + "1>"}}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Record r(0);
    RandomRecord(r, 7, 3, c.bpp, c.ramp == 2);  // grey, but a ramp only at its start
    if (c.entries) r->palette_size = c.entries;
    const unsigned level = c.bpp <= 8 ? 255 / ((1u << c.bpp) - 1) : 0;
    for (unsigned i = 0; c.ramp && i < c.entries; ++i)
      if (c.ramp != 2 || i < 2)
        std::memset(r->palette + 3 * i, c.ramp < 0 ? 255 - level * i : level * i, 3);
    if (c.entries == 1) std::memset(r->bits, 0, r->scan_width * 3);
    ASSERT_EQ(WriteTIFF(path.c_str(), r.img, &c.o), RASTER_OK);
    std::string dump;
    tsltest::Run("tiffdump " + Quote(path), &dump);
    for (const std::string &tag : c.tags)
      EXPECT_NE(dump.find(tag), std::string::npos) << tag << " in\n" << dump;
    EXPECT_EQ(dump.find("Orientation") == std::string::npos, c.o.orientation > 1);
    EXPECT_EQ(dump.find("Colormap") == std::string::npos,
              dump.find(photo + "3>") == std::string::npos);
    EXPECT_NE(dump.find("RowsPerStrip (278) SHORT (3) 1<1>"), std::string::npos);
    EXPECT_NE(dump.find("PlanarConfig (284) SHORT (3) 1<1>"), std::string::npos);
    Record back;
    ASSERT_EQ(Read(path.c_str(), &back), RASTER_OK);
    EXPECT_EQ(TopFirstRgb(back.img, true), TopFirstRgb(r.img, true));
    // Pillow turns a bottom-left picture over and has no PixarLog decoder.
    if (c.o.orientation != 1 && c.o.compression != TIFF_COMPRESS_PIXAR_LOG) {
      EXPECT_EQ(PillowPixels(path, c.bpp == 32), TopFirstRgb(r.img, true));
    }
  }
  for (uint32_t code : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 10u, 11u, 14u, 15u, 16u}) {
    SCOPED_TRACE("compression " + std::to_string(code));
    Record r;
    RandomRecord(r, 7, 3, code == 16 ? 4 : 8);  // PixarLog takes 8 bits only
    TIFFOptions o{code == 16 ? 12 : code, 0, 0, 0};
    const std::string refused = dir.File(std::to_string(code));
    EXPECT_EQ(WriteTIFF(refused.c_str(), r.img, &o), RASTER_ERR_UNSUPPORTED_OPTION);
    EXPECT_FALSE(std::ifstream(refused).good()) << "no file when refused";
  }
}

// Every prefix of our file and every byte of it set to 0, 0x7F or 0xFF:
// a code or pixels, never a crash, leak or stray access.
int g_global_reports = 0;
void CountGlobalReport(const char *, const char *, va_list) { ++g_global_reports; }

TEST(TiffRead, TruncatedAndCorruptedFiles) {
  // libtiff reports through each handle's own handlers: nothing reaches the
  // process-wide ones a host application may have set.
  const TIFFErrorHandler error = TIFFSetErrorHandler(CountGlobalReport);
  const TIFFErrorHandler warning = TIFFSetWarningHandler(CountGlobalReport);
  Record src;
  RandomRecord(src, 5, 4, 4);
  TempDir dir;
  const std::string path = dir.File("t.tif");
  ASSERT_EQ(Write(path.c_str(), src.img), RASTER_OK);
  const Bytes good = ReadFile(path);
  ExpectEveryTruncationFails(good, ReadMemory);
  for (size_t at = 0; at < good.size(); ++at)
    for (uint8_t v : {0x00, 0x7F, 0xFF}) {
      Bytes bad(good);
      bad[at] = v;
      Record r;
      const int code = ReadMemory(bad.data(), bad.size(), &r);
      if (code != RASTER_OK) ExpectRefused(code, r, code);
    }
  Record none;
  ExpectRefused(Read(dir.File("missing.tif").c_str(), &none), none, RASTER_ERR_OPEN_FILE);
  ExpectRefused(ReadMemory(good.data(), good.size(), nullptr), none, RASTER_ERR_INVALID_IMAGE);
  EXPECT_EQ(g_global_reports, 0);
  TIFFSetErrorHandler(error);
  TIFFSetWarningHandler(warning);
}

}  // namespace
