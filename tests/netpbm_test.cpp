#include "api/netpbm.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "support/test_support.h"
#include "tessaly.h"

using tsltest::Bytes;
using tsltest::TempDir;

namespace {

using Decoder = int (*)(const unsigned char *, int, unsigned char **, int *, int *);
using Encoder = int (*)(const unsigned char *, int, int, unsigned char **, int *);

struct Decoded {
  int rc = 0;
  int width = -7, height = -7;
  Bytes planar;
};

Decoded Decode(Decoder decode, const Bytes &stream) {
  Decoded d;
  unsigned char *out = nullptr;
  d.rc = decode(stream.data(), static_cast<int>(stream.size()), &out, &d.width, &d.height);
  if (d.rc == 0) d.planar.assign(out, out + 3 * static_cast<size_t>(d.width) * d.height);
  std::free(out);
  return d;
}

Decoded Decode(Decoder decode, const std::string &stream) {
  return Decode(decode, Bytes(stream.begin(), stream.end()));
}

void ExpectSizes(Decoder decode, const std::string &stream, int width, int height) {
  SCOPED_TRACE(stream);
  Decoded d = Decode(decode, stream);
  EXPECT_EQ(d.rc, 0);
  EXPECT_EQ(d.width, width);
  EXPECT_EQ(d.height, height);
}

Bytes Encode(Encoder encode, const Bytes &planar, int width, int height) {
  unsigned char *out = nullptr;
  int length = 0;
  EXPECT_EQ(encode(planar.data(), width, height, &out, &length), 0);
  Bytes stream(out, out + length);
  std::free(out);
  return stream;
}

// Plain (text) form of any netpbm file, as netpbm itself reads it: samples
// scaled to 0..255 planar RGB, PBM 1 as black (0).
Bytes PlainPlanar(const std::string &path, int *width, int *height) {
  std::string text;
  EXPECT_EQ(tsltest::Run("pnmtoplainpnm '" + path + "'", &text), 0);
  std::istringstream in(text);
  std::string magic;
  int maxval = 1;
  in >> magic >> *width >> *height;
  if (magic != "P1") in >> maxval;
  size_t n = static_cast<size_t>(*width) * *height;
  int channels = magic == "P3" ? 3 : 1;
  Bytes planar(3 * n);
  for (size_t i = 0; i < n; ++i) {
    for (int c = 0; c < channels; ++c) {
      int v = 0;
      if (magic == "P1") {
        char bit;
        in >> bit;
        v = bit == '1' ? 0 : 255;
      } else {
        in >> v;
        v = v * 255 / maxval;
      }
      for (int p = 0; p < 3; ++p)
        if (channels == 1 || p == c) planar[p * n + i] = static_cast<uint8_t>(v);
    }
  }
  return planar;
}

Bytes RandomPlanar(int width, int height, uint64_t seed) {
  tsltest::Rng rng(seed);
  Bytes planar(3 * static_cast<size_t>(width) * height);
  for (auto &b : planar) b = static_cast<uint8_t>(rng.Below(256));
  return planar;
}

}  // namespace

TEST(NetpbmTools, FilesFromNetpbmDecodeExactly) {
  TSL_NEED_TOOL("pbmmake");
  TSL_NEED_TOOL("pamditherbw");
  TSL_NEED_TOOL("pnmtoplainpnm");
  TempDir dir;
  tsltest::WritePgm(dir.File("ridge.pgm"), tsltest::RidgeImage(37, 21).data(), 37, 21);
  struct Case {
    const char *command;
    Decoder decode;
  } cases[] = {
      {"pbmmake -gray 13 5", PBM_decode_stream},
      {"pamditherbw -fs ridge.pgm | pamtopnm", PBM_decode_stream},
      {"pgmmake 0.3 7 4", PGM_decode_stream},
      {"pgmnoise 19 6", PGM_decode_stream},
      {"ppmmake rgb:10/20/30 5 3", PPM_decode_stream},
      {"ppmpat -g2 -color=rgb:ff/00/00,rgb:00/80/ff 17 9", PPM_decode_stream},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.command);
    std::string path = dir.File("made.pnm");
    ASSERT_EQ(tsltest::Run("cd '" + dir.path() + "' && " + c.command + " > made.pnm"), 0);
    int w = 0, h = 0;
    Bytes expected = PlainPlanar(path, &w, &h);
    Decoded d = Decode(c.decode, tsltest::ReadFile(path));
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.width, w);
    EXPECT_EQ(d.height, h);
    EXPECT_EQ(d.planar, expected);
  }
}

TEST(NetpbmTools, FilesFromPillowDecodeExactly) {
  TempDir dir;
  std::string out;
  ASSERT_EQ(tsltest::RunPython("from PIL import Image\n"
                               "import random\n"
                               "random.seed(5)\n"
                               "im = Image.new('RGB', (23, 11))\n"
                               "im.putdata([tuple(random.randrange(256) for _ in range(3))"
                               " for _ in range(23 * 11)])\n"
                               "d = '" + dir.path() + "/'\n"
                               "im.save(d + 'c.ppm')\n"
                               "im.convert('L').save(d + 'g.pgm')\n"
                               "im.convert('1').save(d + 'b.pbm')\n"
                               "for name, m in (('c', im), ('g', im.convert('L').convert('RGB')),"
                               " ('b', im.convert('1').convert('RGB'))):\n"
                               "    open(d + name + '.raw', 'wb').write("
                               "b''.join(m.getchannel(c).tobytes() for c in 'RGB'))\n",
                               &out),
            0)
      << out;
  struct Case {
    const char *name;
    Decoder decode;
  } cases[] = {{"c.ppm", PPM_decode_stream}, {"g.pgm", PGM_decode_stream}, {"b.pbm", PBM_decode_stream}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Decoded d = Decode(c.decode, tsltest::ReadFile(dir.File(c.name)));
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.width, 23);
    EXPECT_EQ(d.height, 11);
    EXPECT_EQ(d.planar, tsltest::ReadFile(dir.File(std::string(1, c.name[0]) + ".raw")));
  }
}

TEST(NetpbmTools, EncoderOutputReadsBackInNetpbm) {
  TSL_NEED_TOOL("pamfile");
  TSL_NEED_TOOL("pnmtoplainpnm");
  TempDir dir;
  const int w = 29, h = 7;
  Bytes planar = RandomPlanar(w, h, 3);
  const size_t n = static_cast<size_t>(w) * h;
  Bytes grey(3 * n), black_white(3 * n);
  for (size_t i = 0; i < n; ++i) {
    uint8_t mean = static_cast<uint8_t>((planar[i] + planar[n + i] + planar[2 * n + i]) / 3);
    for (int p = 0; p < 3; ++p) {
      grey[p * n + i] = mean;
      black_white[p * n + i] = mean < 128 ? 0 : 255;
    }
  }
  struct Case {
    Encoder encode;
    Decoder decode;
    const char *kind;
    const Bytes &expected;
  } cases[] = {
      {tsl::PBM_encode_stream, PBM_decode_stream, "PBM raw, 29 by 7", black_white},
      {tsl::PGM_encode_stream, PGM_decode_stream, "PGM raw, 29 by 7  maxval 255", grey},
      {tsl::PPM_encode_stream, PPM_decode_stream, "PPM raw, 29 by 7  maxval 255", planar},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.kind);
    Bytes stream = Encode(c.encode, planar, w, h);
    std::string text(stream.begin(), stream.end());
    EXPECT_EQ(text.substr(2, 33), "\n# Created by Halvorin Tessaly\n29");
    std::string path = dir.File("ours.pnm");
    tsltest::WriteFile(path, stream);
    std::string info;
    ASSERT_EQ(tsltest::Run("pamfile '" + path + "'", &info), 0);
    EXPECT_NE(info.find(c.kind), std::string::npos) << info;
    int pw = 0, ph = 0;
    EXPECT_EQ(PlainPlanar(path, &pw, &ph), c.expected);
    Decoded back = Decode(c.decode, stream);
    ASSERT_EQ(back.rc, 0);
    EXPECT_EQ(back.planar, c.expected);
  }
}

TEST(NetpbmEncode, HeadersAndPackedBitsAreExact) {
  Bytes planar(3 * 9, 255);
  planar[8] = planar[9 + 8] = planar[18 + 8] = 0;  // ninth pixel black
  planar[0] = 200;  // mean (200+255+255)/3 = 236: white
  // The seven fill bits after the ninth pixel are 0, so output repeats.
  const std::string pbm = "P4\n# Created by Halvorin Tessaly\n9 1\n";
  Bytes expected(pbm.begin(), pbm.end());
  expected.push_back(0x00);
  expected.push_back(0x80);
  EXPECT_EQ(Encode(tsl::PBM_encode_stream, planar, 9, 1), expected);
  Bytes big(3 * 640 * 480, 9);
  Bytes pgm = Encode(tsl::PGM_encode_stream, big, 640, 480);
  const std::string head = "P5\n# Created by Halvorin Tessaly\n640 480\n255\n";
  ASSERT_EQ(pgm.size(), head.size() + 640 * 480);
  EXPECT_EQ(std::string(pgm.begin(), pgm.begin() + head.size()), head);
}

TEST(NetpbmEncode, RefusesWhatCannotBeEncoded) {
  Bytes one(3, 0);
  unsigned char *out = nullptr;
  int length = 5;
  for (Encoder e : {tsl::PBM_encode_stream, tsl::PGM_encode_stream, tsl::PPM_encode_stream}) {
    EXPECT_EQ(e(one.data(), 0, 1, &out, &length), -1);
    EXPECT_EQ(e(one.data(), 1, -1, &out, &length), -1);
    EXPECT_EQ(e(nullptr, 1, 1, &out, &length), -1);
    EXPECT_EQ(e(one.data(), 1, 1, nullptr, &length), -1);
    EXPECT_EQ(e(one.data(), 65536, 65536, &out, &length), -1);  // stream beyond int
  }
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(length, 5);
}

TEST(NetpbmHeader, CommentsSeparatorsAndOddSizes) {
  // Two comments before the sizes; the data start after the line.
  Decoded d = Decode(PBM_decode_stream, std::string("P4\n# one\n#two\n16 2\n\xF0\x0F\x00\xFF", 19 + 4));
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.width, 16);
  EXPECT_EQ(d.height, 2);
  EXPECT_EQ(d.planar[0], 0);
  EXPECT_EQ(d.planar[4], 255);
  EXPECT_EQ(d.planar[16], 255);
  EXPECT_EQ(d.planar[31], 0);

  // Single blanks as the only separators.
  d = Decode(PGM_decode_stream, std::string("P5 3 2 255 abcdef"));
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.planar, Bytes({'a', 'b', 'c', 'd', 'e', 'f', 'a', 'b', 'c', 'd', 'e', 'f', 'a', 'b',
                             'c', 'd', 'e', 'f'}));

  // Width 10: two bytes a row, the fill columns dropped.
  d = Decode(PBM_decode_stream, std::string("P4\n10 2\n\xFF\xFF\x00\x3F", 12));
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(Bytes(d.planar.begin(), d.planar.begin() + 20),
            Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255}));

  ExpectSizes(PPM_decode_stream, "P6\n900 0\n255\n", 900, 0);
  // Width 0 keeps the header's height; no sizes at all is an empty image.
  ExpectSizes(PGM_decode_stream, "P5\n0 4\n255\n", 0, 4);
  ExpectSizes(PBM_decode_stream, "P4\n0 2000000000\n", 0, 2000000000);  // no row walk
  ExpectSizes(PPM_decode_stream, "P6\n# only a comment\n  \r\n", 0, 0);
  // Two blanks make the height token empty: height 0.
  ExpectSizes(PGM_decode_stream, "P5\n3  2\n255\n", 3, 0);
}

TEST(NetpbmHeader, WrongMagicShortStreamsAndBadSizesAreRefused) {
  unsigned char *out = nullptr;
  int w = -7, h = -7;
  const struct {
    Decoder decode;
    std::string stream;
  } refused[] = {
      {PBM_decode_stream, "P5\n1 1\n255\n\x01"},
      {PPM_decode_stream, "Q6\n1 1\n255\nabc"},
      {PPM_decode_stream, "P3\n1 1\n255\n1 2 3"},
      {PGM_decode_stream, "P5"},
      {PGM_decode_stream, "P5\n3 -2\n255\nabcdef"},
      {PGM_decode_stream, "P5\n99999999999 1\n255\nx"},
      {PPM_decode_stream, "P6\n65535 65535\n255\nabc"},
      {PBM_decode_stream, "P4\n100000 100000\n\xff"},
      {PGM_decode_stream, "P5\n3 2\n255\nabcde"},  // one byte short
      {PPM_decode_stream, "P6\n2 1\n255\nabcde"},
      {PBM_decode_stream, "P4\n9 2\n\x01\x02\x03"},
  };
  for (const auto &r : refused) {
    SCOPED_TRACE(r.stream);
    EXPECT_EQ(r.decode(reinterpret_cast<const unsigned char *>(r.stream.data()),
                       static_cast<int>(r.stream.size()), &out, &w, &h),
              -1);
  }
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(w, -7);
  EXPECT_EQ(h, -7);
  const unsigned char ok[] = "P5\n1 1\n255\nz";
  EXPECT_EQ(PGM_decode_stream(nullptr, 12, &out, &w, &h), -1);
  EXPECT_EQ(PGM_decode_stream(ok, -1, &out, &w, &h), -1);
  EXPECT_EQ(PGM_decode_stream(ok, 12, nullptr, &w, &h), -1);
}

TEST(NetpbmDecode, HeldBufferIsReleasedOnSuccessOnly) {
  // Under the sanitizer build a missed release shows up as a leak, a wrong
  // one as a double free.
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
  Bytes planar = RandomPlanar(13, 5, 11);
  struct Pair {
    Encoder encode;
    Decoder decode;
  } pairs[] = {{tsl::PBM_encode_stream, PBM_decode_stream},
               {tsl::PGM_encode_stream, PGM_decode_stream},
               {tsl::PPM_encode_stream, PPM_decode_stream}};
  tsltest::Rng rng(99);
  for (const Pair &p : pairs) {
    Bytes stream = Encode(p.encode, planar, 13, 5);
    for (size_t cut = 0; cut < stream.size(); ++cut) {
      // Each decode gets its own exact-size copy so reading past the end
      // is caught by the sanitizer.
      Bytes part(stream.begin(), stream.begin() + cut);
      Decoded d = Decode(p.decode, part);
      if (cut > 40) {
        EXPECT_EQ(d.rc, -1) << cut;
      }
    }
    for (int round = 0; round < 300; ++round) {
      Bytes bad = stream;
      for (int k = 0; k < 3; ++k) bad[rng.Below(48)] = static_cast<uint8_t>(rng.Below(256));
      Decoded d = Decode(p.decode, bad);
      EXPECT_TRUE(d.rc == 0 || d.rc == -1);
    }
  }
}
