#include "api/netpbm.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>

#include "support/test_support.h"
#include "tessaly.h"

using namespace std::string_literals;
using tsltest::Bytes;

namespace {

using Decoder = int (*)(const unsigned char *, int, unsigned char **, int *, int *);
using Encoder = int (*)(const unsigned char *, int, int, unsigned char **, int *);

struct Decoded {
  int rc = 0;
  int width = -7, height = -7;
  Bytes planar;
};

// Each decode reads an exact-size copy, so the sanitizer build catches any
// read past the end.
Decoded Decode(Decoder decode, const Bytes &stream) {
  Decoded d;
  unsigned char *out = nullptr;
  d.rc = decode(stream.data(), static_cast<int>(stream.size()), &out, &d.width, &d.height);
  if (d.rc == 0) d.planar.assign(out, out + 3 * static_cast<size_t>(d.width) * d.height);
  std::free(out);
  return d;
}
Decoded Decode(Decoder decode, const std::string &s) { return Decode(decode, Bytes(s.begin(), s.end())); }

Bytes Encode(Encoder encode, const Bytes &planar, int width, int height) {
  unsigned char *out = nullptr;
  int length = 0;
  EXPECT_EQ(encode(planar.data(), width, height, &out, &length), 0);
  Bytes stream(out, out + length);
  std::free(out);
  return stream;
}

// Any netpbm file as netpbm itself reads it, in planar RGB.
Bytes NetpbmPlanar(const std::string &path, int *width, int *height) {
  std::string text, magic;
  EXPECT_EQ(tsltest::Run("ppmtoppm < '" + path + "' | pnmtoplainpnm", &text), 0);
  std::istringstream in(text);
  int maxval = 0;
  in >> magic >> *width >> *height >> maxval;
  EXPECT_EQ(maxval, 255);
  const size_t n = static_cast<size_t>(*width) * *height;
  Bytes planar(3 * n);
  for (size_t i = 0, v = 0; i < 3 * n && in >> v; ++i) planar[i % 3 * n + i / 3] = static_cast<uint8_t>(v);
  return planar;
}

// One plane repeated three times; in the pattern '#' is black, '.' white and
// anything else the byte itself.
Bytes GreyPlanar(const std::string &pattern) {
  Bytes planar;
  for (int p = 0; p < 3; ++p)
    for (char c : pattern) planar.push_back(c == '#' ? 0 : c == '.' ? 255 : static_cast<uint8_t>(c));
  return planar;
}

}  // namespace

TEST(NetpbmTools, FilesFromNetpbmAndPillowDecodeAsNetpbmReadsThem) {
  TSL_NEED_TOOL("pamditherbw");
  TSL_NEED_TOOL("pnmtoplainpnm");
  TSL_NEED_TOOL("ppmtoppm");
  tsltest::TempDir dir;
  tsltest::WritePgm(dir.File("ridge.pgm"), tsltest::RidgeImage(37, 21).data(), 37, 21);
  std::string log;
  ASSERT_EQ(tsltest::RunPython("from PIL import Image\n"
                               "im = Image.frombytes('RGB', (23, 11), bytes(i * 37 % 256 for i in range(759)))\n"
                               "for mode, name in (('RGB', 'ppm'), ('L', 'pgm'), ('1', 'pbm')):\n"
                               "    im.convert(mode).save('" + dir.path() + "/pil.' + name)\n",
                               &log),
            0)
      << log;
  const struct {
    const char *command;
    Decoder decode;
  } cases[] = {
      {"pbmmake -gray 13 5", PBM_decode_stream},
      {"pamditherbw -fs ridge.pgm | pamtopnm", PBM_decode_stream},
      {"cat pil.pbm", PBM_decode_stream},
      {"pgmmake 0.3 7 4", PGM_decode_stream},
      {"pgmnoise 19 6", PGM_decode_stream},
      {"cat pil.pgm", PGM_decode_stream},
      {"ppmmake rgb:10/20/30 5 3", PPM_decode_stream},
      {"ppmpat -g2 -color=rgb:ff/00/00,rgb:00/80/ff 17 9", PPM_decode_stream},
      {"cat pil.ppm", PPM_decode_stream},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.command);
    ASSERT_EQ(tsltest::Run("cd '" + dir.path() + "' && " + c.command + " > made.pnm"), 0);
    int w = 0, h = 0;
    Bytes expected = NetpbmPlanar(dir.File("made.pnm"), &w, &h);
    Decoded d = Decode(c.decode, tsltest::ReadFile(dir.File("made.pnm")));
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.width, w);
    EXPECT_EQ(d.height, h);
    EXPECT_EQ(d.planar, expected);
  }
}

TEST(NetpbmTools, EncoderOutputReadsBackInNetpbm) {
  TSL_NEED_TOOL("pamfile");
  TSL_NEED_TOOL("pnmtoplainpnm");
  TSL_NEED_TOOL("ppmtoppm");
  tsltest::TempDir dir;
  const int w = 29, h = 7;
  const size_t n = static_cast<size_t>(w) * h;
  Bytes planar = tsltest::RidgeImage(w, 3 * h, 3), grey(3 * n), black_white(3 * n);
  for (size_t i = 0; i < n; ++i) {
    uint8_t mean = static_cast<uint8_t>((planar[i] + planar[n + i] + planar[2 * n + i]) / 3);
    for (int p = 0; p < 3; ++p) {
      grey[p * n + i] = mean;
      black_white[p * n + i] = mean < 128 ? 0 : 255;
    }
  }
  const struct {
    Encoder encode;
    Decoder decode;
    const char *kind;
    const Bytes &expected;
  } cases[] = {
      {tsl::PBM_encode_stream, PBM_decode_stream, "PBM raw, 29 by 7", black_white},
      {tsl::PGM_encode_stream, PGM_decode_stream, "PGM raw, 29 by 7  maxval 255", grey},
      {tsl::PPM_encode_stream, PPM_decode_stream, "PPM raw, 29 by 7  maxval 255", planar},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.kind);
    Bytes stream = Encode(c.encode, planar, w, h);
    EXPECT_EQ(std::string(stream.begin() + 2, stream.begin() + 35), "\n# Created by Halvorin Tessaly\n29");
    const std::string path = dir.File("ours.pnm");
    tsltest::WriteFile(path, stream);
    std::string info;
    ASSERT_EQ(tsltest::Run("pamfile '" + path + "'", &info), 0);
    EXPECT_NE(info.find(c.kind), std::string::npos) << info;
    int pw = 0, ph = 0;
    EXPECT_EQ(NetpbmPlanar(path, &pw, &ph), c.expected);
    EXPECT_EQ(Decode(c.decode, stream).planar, c.expected);
  }
}

TEST(NetpbmEncode, FillBitsAreZeroAndBadArgumentsRefused) {
  Bytes planar = GreyPlanar("........#");
  planar[0] = 200;  // mean (200+255+255)/3 = 236: white
  Bytes pbm = Encode(tsl::PBM_encode_stream, planar, 9, 1);
  EXPECT_EQ(std::string(pbm.begin(), pbm.end()), "P4\n# Created by Halvorin Tessaly\n9 1\n\x00\x80"s);

  unsigned char *out = nullptr;
  int length = 5;
  for (Encoder e : {tsl::PBM_encode_stream, tsl::PGM_encode_stream, tsl::PPM_encode_stream}) {
    EXPECT_EQ(e(planar.data(), 0, 1, &out, &length), -1);
    EXPECT_EQ(e(planar.data(), 1, -1, &out, &length), -1);
    EXPECT_EQ(e(nullptr, 1, 1, &out, &length), -1);
    EXPECT_EQ(e(planar.data(), 1, 1, nullptr, &length), -1);
    EXPECT_EQ(e(planar.data(), 65536, 65536, &out, &length), -1);  // stream beyond int
  }
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(length, 5);
}

TEST(NetpbmDecode, HeaderFormsSizesAndRefusals) {
  const struct {
    Decoder decode;
    std::string stream;
    int rc, width, height;
    const char *plane;
  } cases[] = {
      // Comments before the sizes; the data start after the line.
      {PBM_decode_stream, "P4\n# one\n#two\n16 2\n\xF0\x0F\x00\xFF"s, 0, 16, 2,
       "####........####........########"},
      {PGM_decode_stream, "P5 3 2 255 abcdef", 0, 3, 2, "abcdef"},  // single blanks
      {PBM_decode_stream, "P4\n10 2\n\xFF\xFF\x00\x3F"s, 0, 10, 2, "##########.........."},
      {PPM_decode_stream, "P6\n900 0\n255\n", 0, 900, 0, ""},
      {PGM_decode_stream, "P5\n0 4\n255\n", 0, 0, 4, ""},
      {PBM_decode_stream, "P4\n0 2000000000\n", 0, 0, 2000000000, ""},  // no row walk
      {PPM_decode_stream, "P6\n# only a comment\n  \r\n", 0, 0, 0, ""},
      {PGM_decode_stream, "P5\n3  2\n255\n", 0, 3, 0, ""},  // second blank: empty height
      {PBM_decode_stream, "P5\n1 1\n255\n\x01", -1, -7, -7, ""},
      {PPM_decode_stream, "Q6\n1 1\n255\nabc", -1, -7, -7, ""},
      {PPM_decode_stream, "P3\n1 1\n255\n1 2 3", -1, -7, -7, ""},
      {PGM_decode_stream, "P5", -1, -7, -7, ""},
      {PGM_decode_stream, "P5\n3 -2\n255\nabcdef", -1, -7, -7, ""},
      {PGM_decode_stream, "P5\n99999999999 1\n255\nx", -1, -7, -7, ""},
      {PPM_decode_stream, "P6\n65535 65535\n255\nabc", -1, -7, -7, ""},
      {PBM_decode_stream, "P4\n100000 100000\n\xff", -1, -7, -7, ""},
      {PGM_decode_stream, "P5\n3 2\n255\nabcde", -1, -7, -7, ""},  // one byte short
      {PPM_decode_stream, "P6\n2 1\n255\nabcde", -1, -7, -7, ""},
      {PBM_decode_stream, "P4\n9 2\n\x01\x02\x03", -1, -7, -7, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.stream);
    Decoded d = Decode(c.decode, c.stream);
    EXPECT_EQ(d.rc, c.rc);
    EXPECT_EQ(d.width, c.width);
    EXPECT_EQ(d.height, c.height);
    if (*c.plane) {
      EXPECT_EQ(d.planar, GreyPlanar(c.plane));
    }
  }
  unsigned char *out = nullptr;
  int w = -7, h = -7;
  const unsigned char ok[] = "P5\n1 1\n255\nz";
  EXPECT_EQ(PGM_decode_stream(nullptr, 12, &out, &w, &h), -1);
  EXPECT_EQ(PGM_decode_stream(ok, -1, &out, &w, &h), -1);
  EXPECT_EQ(PGM_decode_stream(ok, 12, nullptr, &w, &h), -1);
  EXPECT_EQ(out, nullptr);
}

TEST(NetpbmDecode, HeldBufferIsReleasedOnSuccessOnly) {
  // Under the sanitizer build a missed release shows as a leak, a wrong one
  // as a double free.
  const unsigned char ok[] = "P6\n1 1\n255\nxyz";
  unsigned char *out = static_cast<unsigned char *>(std::malloc(40));
  int w = 0, h = 0;
  ASSERT_EQ(PPM_decode_stream(ok, 14, &out, &w, &h), 0);
  EXPECT_EQ(Bytes(out, out + 3), Bytes({'x', 'y', 'z'}));
  unsigned char *kept = out;
  EXPECT_EQ(PPM_decode_stream(ok, 13, &out, &w, &h), -1);
  EXPECT_EQ(out, kept);
  std::free(out);
}

TEST(NetpbmDecode, EveryTruncationAndCorruptionEndsCleanly) {
  Bytes planar = tsltest::RidgeImage(13, 3 * 5, 11);
  tsltest::Rng rng(99);
  for (auto [encode, decode] : {std::pair<Encoder, Decoder>{tsl::PBM_encode_stream, PBM_decode_stream},
                                {tsl::PGM_encode_stream, PGM_decode_stream},
                                {tsl::PPM_encode_stream, PPM_decode_stream}}) {
    Bytes stream = Encode(encode, planar, 13, 5);
    for (size_t cut = 0; cut < stream.size(); ++cut) {
      Decoded d = Decode(decode, Bytes(stream.begin(), stream.begin() + cut));
      if (cut > 40) {
        EXPECT_EQ(d.rc, -1) << cut;  // past the header: short pixel data
      }
    }
    for (int round = 0; round < 300; ++round) {
      Bytes bad = stream;
      for (int k = 0; k < 3; ++k) bad[rng.Below(48)] = static_cast<uint8_t>(rng.Below(256));
      int rc = Decode(decode, bad).rc;
      EXPECT_TRUE(rc == 0 || rc == -1) << rc;
    }
  }
}
