#include "api/netpbm.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tessaly.h"

using namespace std::string_literals;
using tsltest::Bytes;

namespace {

using Decoder = int (*)(const unsigned char *, int, unsigned char **, int *, int *);
using Encoder = int (*)(const unsigned char *, int, int, unsigned char **, int *);
// Indexed by the magic digit less '4': PBM, PGM, PPM.
const Decoder kDecoders[] = {PBM_decode_stream, PGM_decode_stream, PPM_decode_stream};
const Encoder kEncoders[] = {tsl::PBM_encode_stream, tsl::PGM_encode_stream,
                             tsl::PPM_encode_stream};

struct Decoded { int rc = 0, width = -7, height = -7; Bytes planar; };

Decoded Decode(Decoder decode, const Bytes &stream) {
  Decoded d;
  unsigned char *out = nullptr;
  d.rc = decode(stream.data(), static_cast<int>(stream.size()), &out, &d.width, &d.height);
  if (d.rc == 0) d.planar.assign(out, out + 3 * static_cast<size_t>(d.width) * d.height);
  std::free(out);
  return d;
}

Bytes Encode(Encoder encode, const Bytes &planar, int width, int height) {
  unsigned char *out = nullptr;
  int length = 0;
  EXPECT_EQ(encode(planar.data(), width, height, &out, &length), 0);
  Bytes stream(out, out + length);
  std::free(out);
  return stream;
}

// One plane three times: '#' black, '.' white, anything else the byte itself.
Bytes GreyPlanar(const std::string &pattern) {
  Bytes planar;
  for (int p = 0; p < 3; ++p)
    for (char c : pattern) planar.push_back(c == '#' ? 0 : c == '.' ? 255 : c);
  return planar;
}

// Comment lines where GIMP and the netpbm tools put them (after the magic,
// between the sizes, before the maximum value), digits in them included, and
// runs of any white space between the items, with what each stream decodes
// to: PBM pixels ('#' black, '.' white) and PGM bytes once, the PPM planes
// one after the other. One white-space byte follows the last token; the
// pixels start after it, even with white space or a '#'. A '#' glued to an
// item starts a comment there, which after the last item stands for that
// byte; Pillow joins the item to what follows such a comment, so only
// netpbm judges those rows.
const struct { std::string stream; int width, height; const char *plane; bool netpbm_only = false; }
    kCommented[] = {
    {"P5\n3  2\n255\nabcdef", 3, 2, "abcdef"},
    {"P5\n3 2\n\n255\nabcdef", 3, 2, "abcdef"},
    {"P5\n3\t2\n255\nabcdef", 3, 2, "abcdef"},
    {"P5\r\n3 \t2 \r\n# c\n\t\n255\r\nabcde", 3, 2, "\nabcde"},
    {"P5\n3\v\f2\f\v255\nabcdef", 3, 2, "abcdef"},
    {"P4\n8 \n\n 2\n\n#", 8, 2, "....#.#...#...##"},  // 0x0A 0x23
    {"P5\n# Created by GIMP version 2.10.34 PNM plug-in\n3 2\n255\nabcdef", 3, 2, "abcdef"},
    {"P5\n# 12 34\n3\n# 5 6\n2\n# 7 8\n# 9\n255\nabcdef", 3, 2, "abcdef"},
    {"P6 1 # 4 5\n1 # 6\n255\nxyz", 1, 1, "xyz"},
    {"P4\n# 1\n9\n# 22\n2\n\x80\x00\xFF\x80"s, 9, 2, "#........#########"},
    {"P5\n3 2\n255\n#bcdef", 3, 2, "#bcdef"},
    {"P4\n8 1\n#", 8, 1, "..#...##"},  // 0x23
    // Comments ended by a carriage return alone, as old Macintosh files have them.
    {"P6\r# made on a classic Mac\r2 1\r255\rabcdef", 2, 1, "adbecf"},
    {"P5\n3\r# 4\r2\r255\rabcdef", 3, 2, "abcdef"},
    {"P5\n3 2\r# 9\r255\rabcdef", 3, 2, "abcdef"},
    {"P4\r# 1\r9\r# 22\r2\r\x80\x00\xFF\x80"s, 9, 2, "#........#########"},
    {"P5 2#c 3\n1 255 AB", 2, 1, "AB", true},
    {"P6\n1 1# 9\n255\nABC", 1, 1, "ABC", true},
    {"P6\n1 1\n255#\tz\nABC", 1, 1, "ABC", true},
    {"P4\n8 1# x\n\x0f"s, 8, 1, "....####", true},
};

}  // namespace

TEST(NetpbmDecode, WhiteSpaceRunsAndCommentLinesBeforeEachHeaderTokenAreSkipped) {
  for (const auto &c : kCommented) {
    SCOPED_TRACE(c.stream);
    Decoded d = Decode(kDecoders[c.stream[1] - '4'], Bytes(c.stream.begin(), c.stream.end()));
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.width, c.width);
    EXPECT_EQ(d.height, c.height);
    const std::string plane = c.plane;
    Bytes want;
    for (int p = 0; p < (c.stream[1] == '6' ? 1 : 3); ++p)
      want.insert(want.end(), plane.begin(), plane.end());
    if (c.stream[1] == '4') want = GreyPlanar(plane);
    EXPECT_EQ(d.planar, want);
  }
}

TEST(NetpbmTools, HeaderSpacingAndCommentsReadAsNetpbmAndPillowReadThem) {
  if (!tsltest::NeedTools({"ppmtoppm", tsltest::kPython})) GTEST_SKIP() << "tools missing";
  tsltest::TempDir dir;
  const std::string netpbm = "ppmtoppm < made.pnm > back.ppm",
                    pillow = tsltest::kPython + " -c \"from PIL import Image; "
                             "Image.open('made.pnm').convert('RGB').save('back.ppm')\""s;
  for (const auto &c : kCommented) {
    tsltest::WriteFile(dir.File("made.pnm"), c.stream);
    // netpbm takes vertical tabs and form feeds only as the one byte after a
    // number, not in runs; Pillow takes them anywhere.
    for (const std::string &tool : {pillow, netpbm}) {
      if (tool == netpbm && c.stream.find_first_of("\v\f") != std::string::npos) continue;
      if (tool == pillow && c.netpbm_only) continue;
      SCOPED_TRACE(tool + " on " + c.stream);
      ASSERT_EQ(tsltest::Run("cd '" + dir.path() + "' && " + tool), 0);
      int width = 0, height = 0, channels = 0;
      Bytes back;
      ASSERT_TRUE(tsltest::ReadPnm(dir.File("back.ppm"), &width, &height, &channels, &back));
      Decoded d = Decode(kDecoders[c.stream[1] - '4'], Bytes(c.stream.begin(), c.stream.end()));
      ASSERT_EQ(d.rc, 0);
      EXPECT_EQ(d.width, width);
      EXPECT_EQ(d.height, height);
      EXPECT_EQ(tsltest::ToInterleaved(d.planar), back);
    }
  }
}

TEST(NetpbmTools, NetpbmAndOurEncodersAgreeOnEveryStream) {
  if (!tsltest::NeedTools({"pamditherbw", "ppmtoppm"})) GTEST_SKIP() << "tools missing";
  tsltest::TempDir dir;
  tsltest::WritePgm(dir.File("ridge.pgm"), tsltest::RidgeImage(37, 21).data(), 37, 21);
  const Bytes colour = tsltest::RidgeImage(29, 3 * 7, 3);
  for (int k = 0; k < 3; ++k)
    tsltest::WriteFile(dir.File("o" + std::to_string(k)), Encode(kEncoders[k], colour, 29, 7));
  // Every raw stream, ours included, reads in our decoders as netpbm reads it.
  for (const char *command : {"pamditherbw -fs ridge.pgm | pamtopnm", "pgmmake 0.3 7 4",
                              "ppmmake rgb:10/20/30 5 3", "cat o0", "cat o1", "cat o2"}) {
    SCOPED_TRACE(command);
    ASSERT_EQ(tsltest::Run("cd '" + dir.path() + "' && " + command +
                           " > made.pnm && ppmtoppm < made.pnm > back.ppm"), 0);
    int width = 0, height = 0, channels = 0;
    Bytes netpbm, stream = tsltest::ReadFile(dir.File("made.pnm"));
    ASSERT_TRUE(tsltest::ReadPnm(dir.File("back.ppm"), &width, &height, &channels, &netpbm));
    Decoded d = Decode(kDecoders[stream[1] - '4'], stream);
    ASSERT_EQ(d.rc, 0);
    ASSERT_EQ(d.width, width);
    ASSERT_EQ(d.height, height);
    EXPECT_EQ(tsltest::ToInterleaved(d.planar), netpbm);
  }
}

TEST(NetpbmEncode, HandVectorsAndBadArguments) {
  // Truncated mean of the planes for PGM, below 128 black for PBM, zero fill bits.
  Bytes planar = GreyPlanar("\x7f\x80......#");
  planar[20] = 200;  // mean (255+255+200)/3 = 236
  const std::string head = "\n# Created by Halvorin Tessaly\n9 1\n";
  const Bytes pbm = Encode(kEncoders[0], planar, 9, 1), pgm = Encode(kEncoders[1], planar, 9, 1);
  EXPECT_EQ(std::string(pbm.begin(), pbm.end()), "P4" + head + "\x80\x80"s);
  EXPECT_EQ(std::string(pgm.begin(), pgm.end()),
            "P5" + head + "255\n\x7f\x80\xec\xff\xff\xff\xff\xff\x00"s);
  unsigned char *out = nullptr;
  int length = 5;
  for (Encoder e : kEncoders) {
    EXPECT_EQ(e(planar.data(), 0, 1, &out, &length), -1);
    EXPECT_EQ(e(nullptr, 1, 1, &out, &length), -1);
    EXPECT_EQ(e(planar.data(), 65536, 65536, &out, &length), -1);  // stream beyond int
  }
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(length, 5);
}

TEST(NetpbmDecode, HeaderFormsRefusalsOwnershipAndTruncation) {
  // Each stream goes to all three decoders: the one of its magic gives the
  // result shown, the others refuse it and store nothing.
  const struct { std::string stream; int rc, width, height; const char *plane; } cases[] = {
      {"P4\n# one\n#two\n16 2\n\xF0\x0F\x00\xFF"s, 0, 16, 2, "####........####........########"},
      {"P5 3 2 255 abcdef", 0, 3, 2, "abcdef"},                        // single blanks
      {"P4\n10 2\n\xFF\xFF\x00\x3F"s, 0, 10, 2, "##########.........."},  // fill columns dropped
      {"P4\n0 2000000000\n", 0, 0, 2000000000, ""},  // no row walk
      {"P5\n3 -2\n255\nabcdef", -1, -7, -7, ""},
      {"P5\n99999999999 1\n255\nx", -1, -7, -7, ""},
      {"P6\n65535 65535\n255\nabc", -1, -7, -7, ""},
      // Sizes up to INT_MAX are taken; one more overflows an int.
      {"P4\n2147483647 0\n", 0, 2147483647, 0, ""},
      {"P4\n2147483648 0\n", -1, -7, -7, ""},
      {"P5\n0 2147483647\n255\n", 0, 0, 2147483647, ""},
      {"P5\n0 2147483648\n255\n", -1, -7, -7, ""},
      // Sizes padded with zeros past 128 characters are read whole.
      {"P5\n" + std::string(129, '0') + "2 1\n255\nab", 0, 2, 1, "ab"},
      {"P5\n2 " + std::string(300, '0') + "1\n255\nab", 0, 2, 1, "ab"},
      // Samples are single bytes up to a maximum value of 255, not scaled by
      // it; above, each would take two bytes, which are not read.
      {"P5\n2 1\n255\nab", 0, 2, 1, "ab"},
      {"P5\n2 1\n1\nab", 0, 2, 1, "ab"},
      {"P6\n1 1\n255\nzzz", 0, 1, 1, "z"},
      {"P5\n2 1\n256\nabcd", -1, -7, -7, ""},
      {"P6\n1 1\n256\nabcdef", -1, -7, -7, ""},
      // White space and comments to the end where a token should stand.
      {"P5\n0 0\n \t\r\n# 255\n", -1, -7, -7, ""},
      {"P4\n0\n\n# 0\n  ", -1, -7, -7, ""},
      {"P6\n0 0" + std::string(1 << 22, ' '), -1, -7, -7, ""},  // in one pass
  };
  for (const auto &c : cases)
    for (int k = 0; k < 3; ++k) {
      SCOPED_TRACE(c.stream + " to decoder " + std::to_string(k));
      const bool own = c.stream[1] == '4' + k;
      Decoded d = Decode(kDecoders[k], Bytes(c.stream.begin(), c.stream.end()));
      EXPECT_EQ(d.rc, own ? c.rc : -1);
      EXPECT_EQ(d.width, own ? c.width : -7);
      EXPECT_EQ(d.height, own ? c.height : -7);
      if (own && *c.plane) {
        EXPECT_EQ(d.planar, GreyPlanar(c.plane));
      }
    }
  // A held buffer is released when a decode succeeds and kept when it fails
  // (a leak or double free shows under the sanitizer build).
  const unsigned char ok[] = "P6\n1 1\n255\nxyz";
  unsigned char *out = static_cast<unsigned char *>(std::malloc(40));
  int w = 0, h = 0;
  ASSERT_EQ(PPM_decode_stream(ok, 14, &out, &w, &h), 0);
  EXPECT_EQ(Bytes(out, out + 3), Bytes({'x', 'y', 'z'}));
  unsigned char *kept = out;
  EXPECT_EQ(PPM_decode_stream(ok, 13, &out, &w, &h), -1);
  EXPECT_EQ(out, kept);
  std::free(out);

  // Every truncation ends cleanly; short pixel data is refused.
  const Bytes planar = tsltest::RidgeImage(13, 3 * 5, 11);
  for (int k = 0; k < 3; ++k) {
    const Bytes stream = Encode(kEncoders[k], planar, 13, 5);
    // Exact-size copies, so the sanitizer build catches a read past the end.
    for (size_t cut = 0; cut < stream.size(); ++cut) {
      const int rc = Decode(kDecoders[k], Bytes(stream.begin(), stream.begin() + cut)).rc;
      if (cut > 33) {  // cut in the sizes or later; before them, an empty image
        EXPECT_EQ(rc, -1) << cut;
      }
    }
  }
}

// Files with two-byte samples, as netpbm and ImageMagick write them: their
// bytes cannot be read as one-byte samples, so the decoders refuse them and
// leave their outputs as they were.
TEST(NetpbmTools, TwoByteSamplesOfNetpbmAndImageMagickAreRefused) {
  if (!tsltest::NeedTools({"pamdepth", "pgmmake", "ppmmake", tsltest::kConvert}))
    GTEST_SKIP() << "tools missing";
  tsltest::TempDir dir;
  const std::string convert = tsltest::kConvert;
  for (const std::string &command : std::vector<std::string>{
           "pgmmake 0.3 7 4 | pamdepth 65535", "pgmmake 0.3 7 4 | pamdepth 1023",
        "ppmmake rgb:10/20/30 5 3 | pamdepth 65535", "ppmmake rgb:10/20/30 5 3 | pamdepth 1023",
        "pgmmake 0.3 7 4 | " + convert + " - -depth 16 pgm:-",
        "ppmmake rgb:10/20/30 5 3 | " + convert + " - -depth 16 ppm:-"}) {
    SCOPED_TRACE(command);
    const std::string path = dir.File("made.pnm");
    ASSERT_EQ(tsltest::Run("(" + command + ") > '" + path + "'"), 0);
    const Bytes stream = tsltest::ReadFile(path);
    ASSERT_GT(stream.size(), 2u);
    unsigned char *held = static_cast<unsigned char *>(std::malloc(1)), *out = held;
    int width = -7, height = -7;
    EXPECT_EQ(kDecoders[stream[1] - '4'](stream.data(), static_cast<int>(stream.size()), &out,
                                         &width, &height),
              -1);
    EXPECT_EQ(out, held);
    EXPECT_EQ(width, -7);
    EXPECT_EQ(height, -7);
    std::free(out);
  }
  // The file read takes the decoder's code and hands out no picture.
  const std::string pgm = dir.File("deep.pgm");
  ASSERT_EQ(tsltest::Run("pgmmake 0.3 7 4 | pamdepth 65535 > '" + pgm + "'"), 0);
  unsigned char *data = nullptr;
  int width = -7, height = -7;
  EXPECT_EQ(ReadImageFromFile(pgm.c_str(), &width, &height, &data), -1);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(width, 0);  EXPECT_EQ(height, 0);
}
