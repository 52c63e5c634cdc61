// ReadImageFromFile and SaveImageToFile: every format through the interface,
// judged by outside software, with the settings they change and their codes.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <tuple>

#include "api/image_file.h"
#include "api/planar.h"
#include "raster_test_util.h"
#include "tessaly.h"

using namespace tsltest;

namespace {

constexpr int W = 97, H = 81;  // odd: padded raster rows; WSQ needs 65 or more

struct Got {
  int code, width = -7, height = -7;
  unsigned char *data = nullptr;
  Bytes rgb;  // interleaved
};
Got ReadImage(const std::string &path) {
  Got g;
  g.code = ReadImageFromFile(path.c_str(), &g.width, &g.height, &g.data);
  if (g.code == 1) g.rgb = ToInterleaved(Bytes(g.data, g.data + size_t{3} * g.width * g.height));
  return g;
}

// A netpbm file a tool wrote as interleaved RGB.
Bytes PnmPixels(const std::string &path) {
  int w, h, channels;
  Bytes px;
  if (!ReadPnm(path, &w, &h, &channels, &px)) return {};
  return channels == 1 ? GreyToRgb(px) : px;
}

// Ours, decoded by the WSQ decoder, as interleaved RGB.
Bytes WsqPixels(const std::string &path) {
  const Bytes s = ReadFile(path);
  unsigned char *grey = nullptr;
  int w, h, p;
  if (WSQ_decode_stream(s.data(), int(s.size()), &grey, &w, &h, &p, nullptr) != 1) return {};
  Bytes px(grey, grey + size_t(w) * h);
  std::free(grey);
  return GreyToRgb(px);
}

TEST(SaveImageToFile, EveryFormatAsOutsideToolsDecodeIt) {
  if (!NeedTools({kPython, "ppmtoppm", "opj_decompress"})) GTEST_SKIP() << "tools missing";
  TempDir dir;
  const Bytes rgb = RidgePicture(W, H, false), planar = ToPlanar(rgb);
  Bytes grey, bilevel;
  for (size_t i = 0; i < size_t{W} * H; ++i) {
    grey.push_back(uint8_t((rgb[3 * i] + rgb[3 * i + 1] + rgb[3 * i + 2]) / 3));
    bilevel.push_back(grey.back() < 128 ? 0 : 255);
  }
  // Format code, name, decoder ("" Pillow), pixels expected, PSNR floor (0:
  // identical).
  const struct { int format; const char *name, *decoder; const Bytes &expect; double floor; }
  cases[] = {
      {1, "s.wsq", "wsq", grey, 30},     {2, "s.bmp", "", rgb, 0},
      {3, "s.tif", "", rgb, 0},          {4, "s.png", "", rgb, 0},
      {5, "s.jpg", "", rgb, 28},         {6, "s.rgb", "", rgb, 0},
      {7, "s.tga", "", rgb, 0},          {8, "s.jp2", "opj_decompress -i %i -o %o", rgb, 30},
      {9, "s.jpc", "opj_decompress -i %i -o %o", rgb, 30},
      {10, "s.pbm", "ppmtoppm < %i > %o", bilevel, 0},
      {11, "s.pgm", "ppmtoppm < %i > %o", grey, 0}, {12, "s.ppm", "ppmtoppm < %i > %o", rgb, 0},
  };
  const std::string pnm = dir.File("tool.ppm");
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(c.name), decoder = c.decoder;
    ASSERT_EQ(SaveImageToFile(path.c_str(), c.format, W, H, planar.data()), 1);
    Bytes tool;
    if (decoder == "wsq") tool = WsqPixels(path);
    else if (decoder.empty()) tool = PillowPixels(path);
    else if (RunTool(decoder, path, pnm) == 0) tool = PnmPixels(pnm);
    const Bytes expect = c.expect.size() == rgb.size() ? c.expect : GreyToRgb(c.expect);
    ASSERT_EQ(tool.size(), expect.size()) << "the tool cannot read it";
    if (c.floor == 0) EXPECT_EQ(tool, expect);
    else EXPECT_GT(Psnr(tool, expect), c.floor);
    EXPECT_EQ(ReadImage(path).rgb, tool) << "read back as the tool decodes it";
  }
}

// The WSQ save codes at the stored bit rate: each file is the stream the
// encoder makes at that rate, and the higher rate makes the larger file.
TEST(SaveImageToFile, WsqCodesAtTheStoredBitRate) {
  TempDir dir;
  const Bytes grey = RidgeImage(W, H), planar = ToPlanar(GreyToRgb(grey));
  WriteWSQ_comment("");
  WriteWSQ_ppi(500);
  Bytes files[2];
  const double rates[2] = {0.75, 2.25};
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(rates[k]);
    WriteWSQ_bitrate(rates[k]);
    const std::string path = dir.File("rate.wsq");
    ASSERT_EQ(SaveImageToFile(path.c_str(), 1, W, H, planar.data()), 1);
    files[k] = ReadFile(path);
    unsigned char *stream = nullptr;
    int length = 0;
    ASSERT_EQ(WSQ_encode_stream(grey.data(), W, H, rates[k], 500, "", &stream, &length), 1);
    EXPECT_EQ(files[k], Bytes(stream, stream + length));
    std::free(stream);
  }
  EXPECT_GT(files[1].size(), files[0].size());
  // A stored rate that is not positive is the encoder's refusal: no file.
  WriteWSQ_bitrate(0.0);
  const std::string refused = dir.File("zero.wsq");
  EXPECT_EQ(SaveImageToFile(refused.c_str(), 1, W, H, planar.data()), -16);
  EXPECT_FALSE(std::ifstream(refused).good());
  WriteWSQ_bitrate(0.75);
}

// The WSQ save's grey, sixteen pixels at a time and one by one.
TEST(SaveImageToFile, GreyIsTheTruncatedMeanOfThePlanes) {
  Rng rng(3);
  Bytes planes(3 * 35), grey(35);
  for (uint8_t &v : planes) v = rng.Next() & 1 ? 255 : uint8_t(rng.Next());
  tsl::MeanOfPlanes(&planes[0], &planes[35], &planes[70], 35, grey.data());
  for (size_t i = 0; i < 35; ++i)
    EXPECT_EQ(grey[i], (planes[i] + planes[35 + i] + planes[70 + i]) / 3) << i;
}

// A save cut short by a size limit must leave no half-written file a later
// read takes for a picture, yet keep a file the caller had under the name.
TEST(SaveImageToFile, FailedWriteRemovesTheFileOnlyWhenItCreatedIt) {
  TempDir dir;
  const Bytes planar = ToPlanar(GreyToRgb(RidgeImage(200, 150)));
  const char *const kExtension[] = {".wsq", ".bmp", ".tif", ".png", ".jpg", ".rgb",
                                    ".tga", ".jp2", ".jpc", ".pbm", ".pgm", ".ppm"};
  const auto name = [&](const char *kind, int format) {
    return dir.File(kind + std::to_string(format) + kExtension[format - 1]);
  };
  for (int format = 1; format <= 12; ++format) WriteFile(name("stood", format), std::string("old"));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {  // exits 0 when every save fails with its format's code
    std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
    const rlimit limit = {1000, 1000};
    bool failed = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    for (int format = 1; format <= 12; ++format)
      for (const char *kind : {"fresh", "stood"})
        failed &= SaveImageToFile(name(kind, format).c_str(), format, 200, 150, planar.data()) ==
                  (format >= 2 && format <= 7 ? tsl::kFileRasterWriteFailed : -3);
    _exit(failed ? 0 : 1);
  }
  int status = -1;
  waitpid(child, &status, 0);
  ASSERT_EQ(status, 0) << "a save under the limit did not fail with its code";
  for (int format = 1; format <= 12; ++format) {
    SCOPED_TRACE("format " + std::to_string(format));
    EXPECT_FALSE(std::ifstream(name("fresh", format)).good()) << "a half-written file is left";
    EXPECT_TRUE(std::ifstream(name("stood", format)).good()) << "the file that stood is removed";
  }
}

TEST(ReadImageFromFile, FilesOfOutsideToolsAsTheToolsDecodeThem) {
  if (!NeedTools({kPython, kConvert, "cjpeg", "ppmtotga", "pnmquant", "ppmtoilbm", "ilbmtoppm",
                  "opj_compress", "opj_decompress", "pgmtopbm"}))
    GTEST_SKIP() << "tools missing";
  TempDir dir;
  const std::string in = dir.File("in.ppm"), ref = dir.File("ref.ppm");
  WritePpmInterleaved(in, RidgePicture(W, H, false).data(), W, H);
  const char *source = std::getenv("TESSALY_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  const std::string fli = Quote(std::string(source) + "/fuzz/corpus/cel_read_fuzz/fli_brun64.fli");
  // Name, command making it from %i, command decoding it to a netpbm %o
  // ("": Pillow's decode is the reference).
  const struct { const char *name; std::string make, decode; } cases[] = {
      {"t.bmp", std::string(kConvert) + " %i %o", ""},
      {"grey.bmp", Pillow(".convert('L').save(%o)"), ""},
      {"t.tif", std::string(kConvert) + " %i -compress lzw %o", ""},
      {"t.png", Pillow(".save(%o)"), ""},
      {"alpha.png", Pillow(".convert('RGBA').save(%o)"), ""},
      {"clear.png", Pillow(".convert('P').save(%o, transparency=3)"), ""},
      {"t.jpg", "cjpeg %i > %o", ""},
      {"t.tga", "ppmtotga -rgb %i > %o", ""},
      {"t.rgb", Pillow(".save(%o, 'SGI')"), ""},
      {"t.gif", std::string(kConvert) + " %i %o", ""},
      {"t.psd", std::string(kConvert) + " %i %o", ""},
      {"t.pcx", Pillow(".save(%o)"), ""},
      {"t.iff", "pnmquant 64 %i | ppmtoilbm -fixplanes 8 > %o", "ilbmtoppm %i > %o"},
      {"t.cel", "cp " + fli + " %o", ""},
      {"t.pbm", "ppmtopgm %i | pgmtopbm > %o", ""},
      {"t.pgm", "ppmtopgm %i > %o", ""},
      {"t.ppm", "ppmtoppm < %i > %o", ""},
      {"t.jp2", "opj_compress -i %i -o %o", "opj_decompress -i %i -o %o"},
      {"t.jpc", "opj_compress -i %i -o %o -r 20", "opj_decompress -i %i -o %o"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(c.name);
    ASSERT_EQ(RunTool(c.make, in, path), 0) << c.make;
    Bytes tool;
    if (c.decode.empty()) tool = PillowPixels(path);
    else if (RunTool(c.decode, path, ref) == 0) tool = PnmPixels(ref);
    ASSERT_FALSE(tool.empty()) << "the tool cannot read it";
    EXPECT_EQ(ReadImage(path).rgb, tool);
  }
}

// Type-8 data has no outside tool: the library's own data, read as its
// Type-8 readers read it. (WSQ: see the save sweep.)
TEST(ReadImageFromFile, Type8DataAsTheType8ReadersReadIt) {
  TempDir dir;
  const Bytes grey = RidgeImage(W, H);
  unsigned char *stream = nullptr;
  int length = 0;
  const int w = 16, h = 2;  // the uncompressed reader's whole bytes
  for (int compression : {0, 1}) {
    SCOPED_TRACE(compression);
    const auto make = compression ? CreateNISTType8CompressedBinaryFieldfromImage
                                  : CreateNISTType8UncompressedBinaryFieldfromImage;
    stream = nullptr;  // the writers release what it holds
    ASSERT_EQ(make(grey.data(), w, h, &stream, &length), 1);
    const Bytes data(stream, stream + length);
    std::free(stream);
    WriteFile(dir.File("t.bin"), data);
    const auto read = compression ? CreateImageFromNISTType8CompressedBinaryField
                                  : CreateImageFromNISTType8UncompressedBinaryField;
    const unsigned char *image = read(data.data(), length, w, h);
    ASSERT_NE(image, nullptr);
    const Bytes expect = GreyToRgb(Bytes(image, image + w * h));
    WriteType8CompressionWidthHeight(w, h, compression);
    EXPECT_EQ(ReadImage(dir.File("t.bin")).rgb, expect);
  }
}

// Group 4 data that decodes no whole row at the stored sizes is refused with
// nothing handed out, although the exported reader still gives its white
// picture; data that decodes a row or more gives those rows and a warning.
TEST(ReadImageFromFile, Type8Group4DataThatDecodesNoRowIsRefused) {
  TempDir dir;
  const int w = 16, h = 10;
  const std::string path = dir.File("t.bin");
  WriteType8CompressionWidthHeight(w, h, 1);
  const struct { const char *what; Bytes data; } none[] = {
      {"empty file", {}}, {"end of block alone", {0x00, 0x10, 0x01}}};
  for (const auto &c : none) {
    SCOPED_TRACE(c.what);
    WriteFile(path, c.data);
    const Got g = ReadImage(path);
    EXPECT_EQ(g.code, tsl::kFileType8Failed);
    EXPECT_EQ(g.width, 0);
    EXPECT_EQ(g.height, 0);
    EXPECT_EQ(g.data, nullptr);
    const unsigned char nothing = 0, *data = c.data.empty() ? &nothing : c.data.data();
    const unsigned char *white =
        CreateImageFromNISTType8CompressedBinaryField(data, int(c.data.size()), w, h);
    ASSERT_NE(white, nullptr);
    EXPECT_EQ(Bytes(white, white + w * h), Bytes(w * h, 255));
  }

  // A black first row codes to 21 bits; the ridges below need more than the
  // 3 left in three bytes.
  Bytes grey = RidgeImage(w, h);
  std::fill(grey.begin(), grey.begin() + w, 0);
  unsigned char *stream = nullptr;
  int length = 0;
  ASSERT_EQ(CreateNISTType8CompressedBinaryFieldfromImage(grey.data(), w, h, &stream, &length), 1);
  const Bytes cut(stream, stream + 3);
  std::free(stream);
  WriteFile(path, cut);
  const unsigned char *image = CreateImageFromNISTType8CompressedBinaryField(cut.data(), 3, w, h);
  ASSERT_NE(image, nullptr);
  const Bytes expect = GreyToRgb(Bytes(image, image + w * h));
  testing::internal::CaptureStderr();
  const Got one_row = ReadImage(path);
  const std::string warning = testing::internal::GetCapturedStderr();
  EXPECT_EQ(one_row.code, 1);
  EXPECT_EQ(one_row.rgb, expect);
  EXPECT_NE(warning.find("after 1 of 10 rows"), std::string::npos) << warning;
}

// Uncompressed data too short for one row is refused the same way; data
// short of the stored layout (601 bytes at 100 x 50) reads with a warning.
TEST(ReadImageFromFile, Type8UncompressedDataShorterThanARowIsRefused) {
  TempDir dir;
  const std::string path = dir.File("t.bin");
  WriteType8CompressionWidthHeight(100, 50, 0);
  const struct { size_t length; int code; bool warns; } cases[] = {
      {0, tsl::kFileType8Failed, false}, {12, tsl::kFileType8Failed, false},
      {13, 1, true}, {600, 1, true}, {601, 1, false}, {650, 1, false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.length);
    WriteFile(path, Bytes(c.length, 0xFF));
    testing::internal::CaptureStderr();
    const Got g = ReadImage(path);
    const std::string warning = testing::internal::GetCapturedStderr();
    EXPECT_EQ(g.code, c.code);
    EXPECT_EQ(g.width, c.code == 1 ? 100 : 0);
    EXPECT_EQ(g.data != nullptr, c.code == 1);
    EXPECT_EQ(warning.find("WARNING") != std::string::npos, c.warns) << warning;
  }
}

// The stream without its comment segments, which follow SOI in ours.
Bytes WithoutComments(const Bytes &s) {
  size_t i = 2;
  while (s[i] == 0xFF && s[i + 1] == 0xA8) i += 2 + (s[i + 2] << 8 | s[i + 3]);
  Bytes out = s;
  out.erase(out.begin() + 2, out.begin() + long(i));
  return out;
}

TEST(ReadImageFromFile, WsqReadStoresCommentAndPpiAndResultsLastPerPath) {
  TempDir dir;
  const Bytes planar = ToPlanar(GreyToRgb(RidgeImage(W, H)));
  const std::string a = dir.File("a.wsq"), b = dir.File("b.pgm"), c = dir.File("c.WSQ2");
  WriteWSQ_comment(nullptr);
  ASSERT_EQ(SaveImageToFile(a.c_str(), 1, W, H, planar.data()), 1);
  ASSERT_NE(ReadWSQ_comment(), nullptr);
  EXPECT_STREQ(ReadWSQ_comment(), "") << "a save stores an empty comment when none is";
  WriteWSQ_comment("abc");
  WriteWSQ_ppi(333);
  ASSERT_EQ(SaveImageToFile(c.c_str(), 1, W, H, planar.data()), 1);
  ASSERT_EQ(SaveImageToFile(b.c_str(), 11, W, H, planar.data()), 1);
  WriteWSQ_comment("other");
  WriteWSQ_ppi(1);

  ASSERT_EQ(ReadImage(c).code, 1);
  EXPECT_STREQ(ReadWSQ_comment(), "abc");
  EXPECT_EQ(ReadWSQ_ppi(), 333);
  WriteFile(a, WithoutComments(ReadFile(a)));
  const Got first = ReadImage(a), pgm = ReadImage(b);
  EXPECT_EQ(first.code, 1);
  EXPECT_STREQ(ReadWSQ_comment(), "abc") << "a file without comments keeps the stored one";
  EXPECT_EQ(ReadWSQ_ppi(), -1) << "no NISTCOM PPI";
  const Got third = ReadImage(c);
  EXPECT_EQ(third.code, 1);
  EXPECT_EQ(Bytes(pgm.data, pgm.data + 3 * W * H), planar) << "the PGM result outlives a WSQ read";
}

// tiffinfo's line for a tag.
std::string TiffLine(const std::string &path, const std::string &tag) {
  std::string info;
  tsltest::Run("tiffinfo " + Quote(path) + " 2>/dev/null", &info);
  const size_t at = info.find(tag);
  return at == std::string::npos ? "" : info.substr(at, info.find('\n', at) - at);
}

TEST(TiffSettings, ReadOptionsGoToTheNextSaveOnlyAfterAWholeRead) {
  if (!NeedTools({"tiffcp", "tiffset", "tiffinfo", kConvert})) GTEST_SKIP() << "tools missing";
  TempDir dir;
  const Bytes planar = ToPlanar(RidgePicture(W, H, false));
  const std::string base = dir.File("base.tif"), packed = dir.File("p.tif"),
                    g4 = dir.File("g4.tif"), out = dir.File("out.tif");
  WriteTIFFcompression(0);
  ASSERT_EQ(SaveImageToFile(base.c_str(), 3, W, H, planar.data()), 1);
  ASSERT_EQ(tsltest::Run("tiffcp -c packbits " + Quote(base) + " " + Quote(packed) +
                         " && tiffset -s 274 4 " + Quote(packed) + " && " + kConvert + " " +
                         Quote(base) + " -monochrome -compress group4 " + Quote(g4)),
            0);
  ASSERT_EQ(ReadImage(packed).code, 1);
  EXPECT_EQ(ReadTIFFcompression(), 2);
  ASSERT_EQ(SaveImageToFile(out.c_str(), 3, W, H, planar.data()), 1);
  EXPECT_EQ(TiffLine(out, "Compression Scheme"), "Compression Scheme: PackBits");
  EXPECT_EQ(TiffLine(out, "Orientation"), "Orientation: row 0 bottom, col 0 lhs");

  Bytes cut = ReadFile(packed);
  cut.resize(cut.size() / 2);
  WriteFile(dir.File("cut.tif"), cut);
  EXPECT_EQ(ReadImage(dir.File("cut.tif")).code, tsl::kFileRasterReadFailed);
  EXPECT_EQ(ReadImage(dir.File("missing.tif")).code, tsl::kFileRasterReadFailed);
  EXPECT_EQ(ReadTIFFcompression(), 2) << "failed reads keep the stored options";

  ASSERT_EQ(ReadImage(g4).code, 1);
  EXPECT_EQ(ReadTIFFcompression_internal(), 3);
  ASSERT_EQ(SaveImageToFile(out.c_str(), 3, W, H, planar.data()), 1) << "Group 4 cannot code RGB";
  EXPECT_EQ(TiffLine(out, "Compression Scheme"), "Compression Scheme: None");
  EXPECT_EQ(ReadTIFFcompression_internal(), 3) << "the stored setting stays";
}

TEST(FileFunctions, NamesGetTheFormatsExtensionUnlessTheyHaveIt) {
  TempDir dir;
  const Bytes planar = ToPlanar(GreyToRgb(RidgeImage(W, H)));
  const struct { int format; const char *name, *stored; } cases[] = {
      {1, "plain", "plain.wsq"}, {3, "a.tiff", "a.tiff"}, {5, "b.jpeg", "b.jpeg.jpg"},
      {2, "c.BMP", "c.BMP"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(SaveImageToFile(dir.File(c.name).c_str(), c.format, W, H, planar.data()), 1);
    EXPECT_EQ(ReadImage(dir.File(c.stored)).code, 1);
  }
}

TEST(FileFunctions, RefusalsAndTheirCodes) {
  TempDir dir;
  const Bytes planar(3 * 70000, 50);
  const auto save = [&](const std::string &name, int format, int w, int h) {
    return SaveImageToFile(dir.File(name).c_str(), format, w, h, planar.data());
  };
  Got untouched = ReadImage("no_dot_anywhere");
  EXPECT_EQ(untouched.code, 8);
  EXPECT_EQ(untouched.width, -7) << "outputs untouched";
  for (const char *name : {"m.wsq", "m.pgm", "m.bin"}) {
    WriteType8CompressionWidthHeight(16, 2, 0);
    const Got g = ReadImage(dir.File(name));
    EXPECT_EQ(g.code, -2) << name;
    EXPECT_EQ(g.width, 0) << name;
  }
  ASSERT_EQ(save("x", 2, 5, 5), 1);  // stored as x.bmp
  WriteFile(dir.File("x.xyz"), ReadFile(dir.File("x.bmp")));
  for (const char *name : {"m.bmp", "x.xyz"})
    EXPECT_EQ(ReadImage(dir.File(name)).code, tsl::kFileRasterReadFailed) << name;

  WriteFile(dir.File("empty.pgm"), std::string("P5\n0 0\n255\n"));
  EXPECT_EQ(ReadImage(dir.File("empty.pgm")).code, tsl::kFileBadSize);
  WriteFile(dir.File("t.bin"), Bytes(4, 0));
  for (auto sizes : {std::make_tuple(-16, -2, 0), std::make_tuple(0, 5, 0)}) {
    WriteType8CompressionWidthHeight(std::get<0>(sizes), std::get<1>(sizes), std::get<2>(sizes));
    EXPECT_EQ(ReadImage(dir.File("t.bin")).code, tsl::kFileBadSize);
  }
  WriteType8CompressionWidthHeight(16, 2, 2);
  EXPECT_EQ(ReadImage(dir.File("t.bin")).code, tsl::kFileType8Failed) << "compression 2";

  for (int format : {0, 13}) EXPECT_EQ(save("f.wsq", format, 5, 5), 0);
  EXPECT_FALSE(std::ifstream(dir.File("f.wsq")).good()) << "no file for a bad format code";
  EXPECT_EQ(save("z.pgm", 11, 0, 5), tsl::kFileBadSize);
  EXPECT_EQ(save("z.pgm", 11, -1, -3), tsl::kFileBadSize);
  EXPECT_EQ(save("z.pgm", 11, 30000, 30000), tsl::kFileBadSize) << "planes above INT_MAX";
  EXPECT_EQ(save("none/z.pgm", 11, 5, 5), -2) << "no such folder";
  EXPECT_EQ(save("wide.tga", 7, 70000, 1), tsl::kFileRasterWriteFailed);
  EXPECT_EQ(tsl::GetLastRasterError(), tsl::RASTER_ERR_INVALID_SIZE);
  EXPECT_FALSE(std::ifstream(dir.File("wide.tga")).good());
  EXPECT_EQ(save(std::string(4091 - dir.path().size(), 'n'), 1, 5, 5), tsl::kFileBadArgument)
      << "4096 characters with .wsq";

  int w, h;
  unsigned char *data;
  EXPECT_EQ(ReadImageFromFile(nullptr, &w, &h, &data), tsl::kFileBadArgument);
  EXPECT_EQ(ReadImageFromFile("a.bmp", &w, nullptr, &data), tsl::kFileBadArgument);
  EXPECT_EQ(ReadImageFromFile("a.bmp", &w, &h, nullptr), tsl::kFileBadArgument);
  EXPECT_EQ(SaveImageToFile(nullptr, 2, 5, 5, planar.data()), tsl::kFileBadArgument);
  EXPECT_EQ(SaveImageToFile("a.bmp", 2, 5, 5, nullptr), tsl::kFileBadArgument);
}

}  // namespace
