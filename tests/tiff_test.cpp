// TIFF files: files made by libtiff's tools, ImageMagick and Pillow read with
// their pixels and options, ours read back by them with the tags we mean,
// hand-made variants decoded, and truncated or hand-made ones refused.
#include "image/tiff.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

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
  Bytes file = Cat({{'I', 'I', 42, 0, 0, 0, 0, 0}, data}), ifd;
  PutLe(ifd, uint32_t(tags.size()), 2);
  for (const Tag &t : tags) {
    Bytes value;
    for (uint32_t v : t.values) PutLe(value, t.tag == 273 ? v + 8 : v, t.type == 3 ? 2 : 4);
    PutLe(ifd, t.tag, 2), PutLe(ifd, t.type, 2), PutLe(ifd, uint32_t(t.values.size()), 4);
    Bytes &to = value.size() > 4 ? file : ifd;
    if (value.size() > 4) PutLe(ifd, uint32_t(file.size()), 4);
    value.resize(std::max<size_t>(value.size(), 4));
    to.insert(to.end(), value.begin(), value.end());
  }
  PutLe(ifd, 0, 4);
  Bytes at;
  PutLe(at, uint32_t(file.size()), 4);
  return Cat({Patched(file, 4, at), ifd});
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
  const std::string im = std::string(kConvert) + " %i ";
  const uint32_t rgb = 1u << 24;
  // Layouts our writer does not make (it is read back below): fax strips,
  // separate planes, 16-bit samples, grey with alpha. tiffcp's other
  // compressions differ only inside libtiff; the options test reads them.
  ExpectToolFilesRead(Read, {{Tiffcp("-c g4", im + "-monochrome -depth 1 tif:" + kT), 2, 1},
                             {Tiffcp("-p separate"), rgb, 24},
                             {Tiffcp("-p separate", im + "-alpha set tif:" + kT), rgb, 32},
                             {im + "-depth 16 tif:%o", rgb, 24},
                             {Pillow(".convert('LA').save(%o, 'TIFF')"), 0, 32}});
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

const Tag kUnassociated{338, 3, {2}};

TEST(TiffRead, HandMadeSampleLayoutsAndMaps) {
  ExpectHandMadeFiles(
      ReadMemory,
      {{"bilevel without sample tags",
        Strip(0, 1, 1, 9, 1, {0xA5, 0x80}, {{258, 3, {}}, {277, 3, {}}}),
        GreyToRgb({0, 255, 0, 255, 255, 0, 255, 0, 0})},
       {"16 bits up to 256, beyond it capped",
        Strip(1, 16, 1, 3, 1, Wide({256, 255, 65535}), {{281, 3, {256}}}),
        GreyToRgb({128, 127, 255})},
       {"16 bits to 4095 shifted by 4, beyond it capped",
        Strip(1, 16, 1, 4, 1, Wide({4079, 4095, 4096, 65535}), {{281, 3, {4095}}}),
        GreyToRgb({254, 255, 255, 255})},
       {"one separate plane", Strip(1, 8, 1, 2, 1, {7, 9}, {{284, 3, {2}}}), GreyToRgb({7, 9})},
       {"1-bit RGB and mask planes",
        Strip(2, 1, 4, 2, 1, {0x80, 0, 0x40, 0x80}, Planes(4, 1, {kUnassociated})),
        {255, 0, 0, 255, 127, 127, 127, 0}},
       {"associated alpha",
        Strip(2, 8, 4, 2, 1, {100, 50, 0, 128, 200, 0, 0, 128}, {{338, 3, {1}}}),
        {199, 100, 0, 128, 255, 0, 0, 128}},
       {"unassociated alpha", Strip(2, 8, 4, 1, 1, {100, 50, 0, 128}, {kUnassociated}),
        {100, 50, 0, 128}},
       {"white-zero grey and alpha", Strip(0, 8, 2, 1, 1, {55, 128}, {kUnassociated}),
        {200, 200, 200, 128}},
       {"map of value x 256 (Pillow's)",
        Strip(3, 1, 1, 2, 1, {0x40}, {{320, 3, {0xFF00, 0x8000, 0, 0x8000, 0, 0}}}),
        {255, 0, 0, 128, 128, 0}},
       {"map of bytes", Strip(3, 1, 1, 2, 1, {0x40}, {{320, 3, {255, 7, 1, 8, 2, 9}}}),
        {255, 1, 2, 7, 8, 9}},
       {"G4 strip cut short",  // 3 black rows, 1 white
        Strip(0, 1, 1, 8, 6, {0x26, 0xA2, 0xF8, 0x80},
              {{259, 3, {4}}, {273, 4, {0, 3}}, {279, 4, {3, 1}}, {278, 4, {3}}}),
        Cat({GreyToRgb(Bytes(24, 0)), GreyToRgb(Bytes(24, 255))})}});
}

// A map is 16-bit as soon as one of its first n values of any colour is
// 256 or more; values past n do not count.
TEST(TiffRead, ColourMapWidthFromItsFirstEntries) {
  for (int colour = 0; colour < 3; ++colour) {
    SCOPED_TRACE("colour " + std::to_string(colour));
    uint16_t map[3][3] = {{0, 255, 255}, {0, 255, 255}, {0, 255, 255}};
    EXPECT_EQ(checkcmap(3, map[0], map[1], map[2]), 8);
    map[colour][2] = 256;
    EXPECT_EQ(checkcmap(3, map[0], map[1], map[2]), 16) << "256 as the last entry";
    EXPECT_EQ(checkcmap(2, map[0], map[1], map[2]), 8) << "256 past the first n";
  }
}

uint32_t Le(const Bytes &b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + i];
  return v;
}

// `file` (one directory of our Tiff's making) with a copy of the `bytes`
// bytes that the entry of `tag` points at appended and pointed at instead,
// then its last `cut` bytes dropped.
Bytes MovedToTheEnd(Bytes file, uint16_t tag, size_t bytes, size_t cut) {
  const size_t ifd = Le(file, 4, 4);
  for (size_t e = ifd + 2; e < ifd + 2 + 12 * Le(file, ifd, 2); e += 12) {
    if (Le(file, e, 2) != tag) continue;
    const size_t from = Le(file, e + 8, 4);
    Bytes at;
    PutLe(at, uint32_t(file.size()), 4);
    file = Cat({Patched(file, e + 8, at), Bytes(file.begin() + from, file.begin() + from + bytes)});
  }
  file.resize(file.size() - cut);
  return file;
}

// libtiff drops a colour map it cannot read whole and turns an 8-bit
// palette file into grey: the file is cut or damaged, not grey.
TEST(TiffRead, PaletteWhoseMapIsCutShortRefused) {
  std::vector<uint32_t> map(768, 0x8000);
  for (uint32_t i = 0; i < 256; ++i) map[i] = i * 257, map[256 + i] = (255 - i) * 257;
  const Bytes file = Strip(3, 8, 1, 2, 1, {1, 254}, {{320, 3, map}});
  ExpectHandMadeFiles(ReadMemory,
                      {{"map ending at the file's last byte", MovedToTheEnd(file, 320, 1536, 0),
                        {1, 254, 128, 254, 1, 128}},
                       {"map one byte past the file's end", MovedToTheEnd(file, 320, 1536, 1), {},
                        RASTER_ERR_READ},
                       {"no map", Strip(3, 8, 1, 2, 1, {1, 254}), {}, RASTER_ERR_READ}});
}

// Fax data hold at least one bit per row, whatever the width: a file of n
// bytes holds at most 8n + 7 rows.
TEST(TiffRead, FaxRowsBoundedByTheFileSize) {
  const auto g4 = [](uint32_t rows) {  // 8 white rows, then the data end
    return Strip(0, 1, 1, 16, rows, {0xFF}, {{259, 3, {4}}});
  };
  const uint32_t most = 8 * uint32_t(g4(1).size()) + 7;
  ExpectHandMadeFiles(ReadMemory, {{"8n + 7 rows", g4(most), Bytes(size_t{48} * most, 255)},
                                   {"8n + 8 rows", g4(most + 1), {}, RASTER_ERR_READ}});
}

Bytes Repeated(const Bytes &pixel, size_t n) {
  Bytes all;
  while (n-- > 0) all.insert(all.end(), pixel.begin(), pixel.end());
  return all;
}

// Red, green, blue and mask planes of 1 bit, 7 rows in one G4 strip each
// (seven rows of clear bits in a byte: every pixel the mask's transparent
// grey), or in strips of a row that the file does not hold.
Bytes G4Planes(uint32_t w, bool past_end = false) {
  const uint32_t strips = past_end ? 28 : 4;
  Tag offsets{273, 4, {}}, counts{279, 4, std::vector<uint32_t>(strips, 1)};
  for (uint32_t s = 0; s < strips; ++s) offsets.values.push_back(past_end ? 1000 + s : s);
  return Strip(2, 1, 4, w, 7, {0xFE, 0xFE, 0xFE, 0xFE},
               {{259, 3, {4}}, {284, 3, {2}}, {278, 4, {past_end ? 1u : 7u}}, kUnassociated,
                offsets, counts});
}

// The planes with a mask read as 32-bit direct colour, at most 2^31 - 1
// bytes: 76,695,844 pixels by 7 rows. Wider pictures are refused by their
// size, before their strips are looked at; the widest still goes on to them.
TEST(TiffRead, PlanesTooWideForDirectColourRefusedBySize) {
  ExpectHandMadeFiles(
      ReadMemory,
      {{"1000 wide", G4Planes(1000), Repeated({127, 127, 127, 0}, 1000 * 7)},
       {"100,663,333 wide", G4Planes(100663333), {}, RASTER_ERR_INVALID_SIZE},
       {"76,695,845 wide", G4Planes(76695845), {}, RASTER_ERR_INVALID_SIZE},
       {"76,695,844 wide, strips past the end", G4Planes(76695844, true), {}, RASTER_ERR_READ}});
}

// Without StripByteCounts libtiff sizes a compressed strip by what the
// file holds past its directory: the size the memory source reports.
TEST(TiffRead, StripWithoutByteCountsSizedByTheFile) {
  const Bytes packbits = {7, 1, 2, 3, 4, 5, 6, 7, 8};
  const Bytes file = Strip(1, 8, 1, 4, 2, packbits, {{259, 3, {32773}}, {279, 4, {}}});
  ExpectHandMadeFiles(ReadMemory, {{"strip at the file's end", MovedToTheEnd(file, 273, 9, 0),
                                    GreyToRgb({1, 2, 3, 4, 5, 6, 7, 8})}});
}

int g_global_reports = 0;
void CountGlobalReport(const char *, const char *, va_list) { ++g_global_reports; }

// Truncations, samples the record cannot hold as they are, and data that
// cannot fill what the file declares. libtiff reports through each handle's
// own handlers: nothing reaches the process-wide ones a host application
// may have set.
TEST(TiffRead, TruncatedAndHandMadeLayoutsRefusedSilently) {
  const TIFFErrorHandler error = TIFFSetErrorHandler(CountGlobalReport);
  const TIFFErrorHandler warning = TIFFSetWarningHandler(CountGlobalReport);
  Record src;  // a file of libtiff's making
  RandomRecord(src, 5, 4, 4);
  TempDir dir;
  const std::string path = dir.File("t.tif");
  ASSERT_EQ(Write(path.c_str(), src.img), RASTER_OK);
  ExpectEveryTruncationFails(ReadFile(path), ReadMemory);
  const int kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION;
  const std::vector<Tag> tiles = {{322, 4, {16}}, {323, 4, {16}}, {324, 4, {8}}, {325, 4, {256}},
                                  {273, 4, {}},   {278, 4, {}},   {279, 4, {}}};
  ExpectHandMadeFiles(
      ReadMemory,
      {{"16-bit RGB planes", Strip(2, 16, 3, 1, 1, Wide({1, 2, 3}), Planes(3, 2)), {},
        kUnsupported},
       {"33 samples", Strip(1, 8, 33, 1, 1, Bytes(33)), {}, kUnsupported},
       {"2-bit grey", Strip(1, 2, 1, 4, 1, {0x1B}), {}, kUnsupported},
       {"16-bit grey and alpha", Strip(1, 16, 2, 1, 1, Wide({1, 2}), {kUnassociated}), {},
        kUnsupported},
       {"palette and alpha",
        Strip(3, 8, 2, 1, 1, {1, 2}, {kUnassociated, {320, 3, std::vector<uint32_t>(768)}}), {},
        kUnsupported},
       {"CMYK planes", Strip(5, 8, 4, 1, 1, {1, 2, 3, 4}, Planes(4, 1)), {}, kUnsupported},
       {"tiles", Strip(1, 8, 1, 16, 16, Bytes(256), tiles), {}, kUnsupported},
       {"no photometric", Strip(1, 8, 1, 1, 1, {1}, {{262, 3, {}}}), {}, kUnsupported},
       {"grey and alpha, both samples extra",
        Strip(1, 8, 2, 1, 1, {1, 2}, {{338, 3, {2, 2}}}), {}, kUnsupported},
       // libtiff refuses the directory itself: the open fails.
       {"grey and alpha, three extra samples of two",
        Strip(1, 8, 2, 1, 1, {1, 2}, {{338, 3, {2, 2, 2}}}), {}, RASTER_ERR_MEMORY},
       {"40000 squared in 4 bytes", Strip(1, 8, 1, 40000, 40000, {1, 2, 3, 4}), {},
        RASTER_ERR_READ},
       {"PackBits short of its rows", Strip(1, 8, 1, 2, 3, {1, 2, 3}, {{259, 3, {32773}}}), {},
        RASTER_ERR_READ}});
  EXPECT_EQ(g_global_reports, 0);
  TIFFSetErrorHandler(error);
  TIFFSetWarningHandler(warning);
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
      {"-c lzw", "", {4, 1, 0, 2}},
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
  }
}

TEST(TiffWrite, ReadBackByPillowNetpbmAndOurselves) {
  // tifftopnm premultiplies alpha, as libtiff's RGBA reading does.
  ExpectWrittenFilesReadAlike(Write, Read, "tif", "tifftopnm", {1, 4, 8, 16, 24, 32}, true, 0, 32);
}

// libtiff puts the directory at an even offset: the byte it skips after
// an odd-sized strip, never written, reads as 0. (glibc is asked to fill
// new blocks with 0x5A, so that memory left as it came does not pass.)
TEST(TiffWrite, ByteSkippedBeforeTheDirectoryIsZero) {
  TempDir dir;
  const std::string path = dir.File("o.tif");
  Record r;  // a strip of 9 bytes from offset 8
  MakeRecord(r, 3, 1, 24);
  std::memset(r->bits, 0xA5, 9);
#ifdef __GLIBC__
  mallopt(M_PERTURB, 0xA5);
#endif
  const int code = Write(path.c_str(), r.img);
#ifdef __GLIBC__
  mallopt(M_PERTURB, 0);
#endif
  ASSERT_EQ(code, RASTER_OK);
  const Bytes file = ReadFile(path);
  ASSERT_EQ(Le(file, 4, 4), 18u) << "directory offset";
  EXPECT_EQ(file[16], 0xA5) << "last byte of the strip";
  EXPECT_EQ(file[17], 0) << "byte skipped";
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
      {"falling ramp, PackBits", 4, 16, -1, {9, 0, 0, 0},
       {photo + "0>", packed + "32773>", turned + "1>"}},
      {"one grey entry", 8, 1, 1, {}, {photo + "3>", map + "768<0 0 0 "}},
      {"ramp only at 0 and 1", 4, 16, 2, {}, {photo + "3>", map + "48<0 4369 "}},
      {"alpha, bottom-left", 32, 0, 0, {0, 0, 1, 0},
       {"ExtraSamples (338) SHORT (3) 1<2>", turned + "4>"}},
      {"1 bit asking for LZW", 1, 2, 1, {4, 0, 0, 0}, {packed + "32773>", photo + "1>"}},
      {"Deflate, no orientation", 24, 0, 0, {13, 0, 9, 0}, {packed + "32946>"}},
      {"PixarLog", 16, 0, 0, {12, 0, 0, 0}, {packed + "32909>"}}};
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
    Record back;
    ASSERT_EQ(Read(path.c_str(), &back), RASTER_OK);
    EXPECT_EQ(TopFirstRgb(back.img, true), TopFirstRgb(r.img, true));
    // Pillow turns a bottom-left picture over and has no PixarLog decoder.
    if (c.o.orientation != 1 && c.o.compression != TIFF_COMPRESS_PIXAR_LOG) {
      EXPECT_EQ(PillowPixels(path, c.bpp == 32), TopFirstRgb(r.img, true));
    }
  }
  // NeXT: libtiff only decodes it; LZW stays refused; PixarLog takes 8 bits only.
  const struct { uint32_t compression; unsigned bpp; } refused[] = {{7, 8}, {4, 8}, {12, 4}};
  for (const auto &c : refused) {
    SCOPED_TRACE("compression " + std::to_string(c.compression));
    Record r;
    RandomRecord(r, 7, 3, c.bpp);
    TIFFOptions o{c.compression, 0, 0, 0};
    const std::string no_file = dir.File(std::to_string(c.compression));
    EXPECT_EQ(WriteTIFF(no_file.c_str(), r.img, &o), RASTER_ERR_UNSUPPORTED_OPTION);
    EXPECT_FALSE(std::ifstream(no_file).good()) << "no file when refused";
  }
}

}  // namespace
