#include "api/jpeg2000.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "support/test_support.h"
#include "tessaly.h"

using tsltest::Bytes;
using tsltest::TempDir;

namespace {

struct Decoded {
  int rc = 0;
  int width = -7, height = -7;
  Bytes planar;
};

Decoded Decode(const Bytes &stream, const char *format) {
  Decoded d;
  unsigned char *out = nullptr;
  d.rc = JPEG2000_decode_stream(stream.data(), static_cast<int>(stream.size()), &out, &d.width,
                                &d.height, format);
  if (d.rc == 0) d.planar.assign(out, out + 3 * static_cast<size_t>(d.width) * d.height);
  std::free(out);
  return d;
}

Bytes Encode(const Bytes &planar, int width, int height, const char *format) {
  unsigned char *out = nullptr;
  int length = 0;
  EXPECT_EQ(JPEG2000_encode_stream(planar.data(), width, height, &out, &length, format), 0);
  Bytes stream(out, out + length);
  std::free(out);
  return stream;
}

Bytes ToInterleaved(const Bytes &planar) {
  size_t n = planar.size() / 3;
  Bytes rgb(planar.size());
  for (size_t i = 0; i < n; ++i)
    for (size_t c = 0; c < 3; ++c) rgb[3 * i + c] = planar[c * n + i];
  return rgb;
}

Bytes GreyToPlanar(const Bytes &grey) {
  Bytes planar;
  for (int c = 0; c < 3; ++c) planar.insert(planar.end(), grey.begin(), grey.end());
  return planar;
}

// Smooth colour content, so a lossy rate keeps a high PSNR.
Bytes ColourImage(int width, int height) {
  Bytes planar;
  for (uint64_t seed : {1, 2, 3}) {
    Bytes plane = tsltest::RidgeImage(width, height, seed);
    planar.insert(planar.end(), plane.begin(), plane.end());
  }
  return planar;
}

uint32_t Be32(const Bytes &b, size_t at) {
  return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}
void PutBe32(Bytes *b, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) (*b)[at + k] = static_cast<uint8_t>(v >> (24 - 8 * k));
}

// A JP2 file with the payload of its colour ("colr") box replaced.
Bytes WithColour(const Bytes &jp2, const Bytes &colr_payload) {
  for (size_t at = 0; at + 8 <= jp2.size();) {
    uint32_t len = Be32(jp2, at);
    if (std::memcmp(&jp2[at + 4], "jp2h", 4) == 0) {
      for (size_t in = at + 8; in + 8 <= at + len;) {
        uint32_t inner = Be32(jp2, in);
        if (std::memcmp(&jp2[in + 4], "colr", 4) == 0) {
          Bytes out(jp2.begin(), jp2.begin() + in + 8);
          out.insert(out.end(), colr_payload.begin(), colr_payload.end());
          out.insert(out.end(), jp2.begin() + in + inner, jp2.end());
          PutBe32(&out, in, static_cast<uint32_t>(8 + colr_payload.size()));
          PutBe32(&out, at, static_cast<uint32_t>(len - inner + 8 + colr_payload.size()));
          return out;
        }
        in += inner;
      }
    }
    at += len;
  }
  ADD_FAILURE() << "no colour box";
  return jp2;
}

Bytes IccColour(const char *space) {
  Bytes payload = {2, 0, 0};
  Bytes profile(128, 0);
  PutBe32(&profile, 0, 128);
  std::memcpy(&profile[16], space, 4);
  std::memcpy(&profile[36], "acsp", 4);
  payload.insert(payload.end(), profile.begin(), profile.end());
  return payload;
}

class Jpeg2000Tools : public testing::Test {
 protected:
  void SetUp() override {
    if (!tsltest::NeedTool("opj_compress") || !tsltest::NeedTool("opj_decompress"))
      GTEST_SKIP() << "OpenJPEG tools missing";
  }
  // Compresses a file with opj_compress and returns the stream.
  Bytes Compress(const std::string &in, const std::string &out, const std::string &options) {
    std::string log;
    EXPECT_EQ(tsltest::Run("opj_compress -i '" + dir_.File(in) + "' -o '" + dir_.File(out) + "' " +
                               options + " 2>&1",
                           &log),
              0)
        << log;
    return tsltest::ReadFile(dir_.File(out));
  }
  TempDir dir_;
};

}  // namespace

TEST_F(Jpeg2000Tools, LosslessStreamsDecodeToTheExactPixels) {
  const int w = 45, h = 31;
  Bytes colour = ColourImage(w, h);
  tsltest::Rng rng(4);
  for (auto &b : colour) b = static_cast<uint8_t>(b ^ (rng.Below(4)));
  Bytes grey = tsltest::RidgeImage(w, h, 9);
  tsltest::WritePpmInterleaved(dir_.File("c.ppm"), ToInterleaved(colour).data(), w, h);
  tsltest::WritePgm(dir_.File("g.pgm"), grey.data(), w, h);
  struct Case {
    const char *in, *out, *format;
    const Bytes expected;
  } cases[] = {{"c.ppm", "c.jp2", "jp2", colour},
               {"c.ppm", "c.j2k", "jpc", colour},
               {"g.pgm", "g.jp2", "jp2", GreyToPlanar(grey)},
               {"g.pgm", "g.j2k", "jpc", GreyToPlanar(grey)}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.out);
    Decoded d = Decode(Compress(c.in, c.out, "-n 3"), c.format);
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.width, w);
    EXPECT_EQ(d.height, h);
    EXPECT_EQ(d.planar, c.expected);
  }
  // The wrong container name is refused, not guessed.
  EXPECT_EQ(Decode(tsltest::ReadFile(dir_.File("c.jp2")), "jpc").rc, -1);
  EXPECT_EQ(Decode(tsltest::ReadFile(dir_.File("c.j2k")), "jp2").rc, -1);
}

TEST_F(Jpeg2000Tools, OffsetsAndSubsamplingAreRefusedAfterTheSizeIsSet) {
  const int w = 40, h = 32;
  Bytes colour = ColourImage(w, h);
  tsltest::WritePpmInterleaved(dir_.File("c.ppm"), ToInterleaved(colour).data(), w, h);
  Decoded offset = Decode(Compress("c.ppm", "o.jp2", "-n 3 -d 8,4"), "jp2");
  EXPECT_EQ(offset.rc, -1);
  EXPECT_EQ(offset.width, w);
  EXPECT_EQ(offset.height, h);
  Decoded sub = Decode(Compress("c.ppm", "s.j2k", "-n 3 -s 2,2"), "jpc");
  EXPECT_EQ(sub.rc, -1);
}

TEST_F(Jpeg2000Tools, DeepAndShallowSamplesScaleToFullRange) {
  const int w = 40, h = 24;
  const size_t n = static_cast<size_t>(w) * h;
  Bytes deep = {'P', '5', '\n', '4', '0', ' ', '2', '4', '\n', '6', '5', '5', '3', '5', '\n'};
  Bytes expect16, raw1, expect1, raw4, expect4;
  for (size_t i = 0; i < n; ++i) {
    unsigned v = static_cast<unsigned>(i * 2113 % 65536);
    deep.push_back(static_cast<uint8_t>(v >> 8));
    deep.push_back(static_cast<uint8_t>(v));
    expect16.push_back(static_cast<uint8_t>(v >> 8));
    raw1.push_back(static_cast<uint8_t>(i / 3 % 2));
    expect1.push_back(i / 3 % 2 ? 255 : 0);
    raw4.push_back(static_cast<uint8_t>(i % 16));
    expect4.push_back(static_cast<uint8_t>(i % 16 * 17));
  }
  tsltest::WriteFile(dir_.File("d.pgm"), deep);
  tsltest::WriteFile(dir_.File("b1.raw"), raw1);
  tsltest::WriteFile(dir_.File("b4.raw"), raw4);
  EXPECT_EQ(Decode(Compress("d.pgm", "d.j2k", "-n 3"), "jpc").planar, GreyToPlanar(expect16));
  EXPECT_EQ(Decode(Compress("b1.raw", "b1.j2k", "-n 3 -F 40,24,1,1,u"), "jpc").planar,
            GreyToPlanar(expect1));
  EXPECT_EQ(Decode(Compress("b4.raw", "b4.jp2", "-n 3 -F 40,24,1,4,u"), "jp2").planar,
            GreyToPlanar(expect4));
}

TEST_F(Jpeg2000Tools, OurStreamsDecodeInOpenJpegNearTheTargetSize) {
  TSL_NEED_TOOL("opj_dump");
  struct Case {
    int w, h;
    const char *format, *ext;
  } cases[] = {{320, 240, "jp2", "jp2"}, {257, 181, "jpc", "j2k"}, {40, 30, "jp2", "jp2"},
               {1, 1, "jpc", "j2k"},     {3, 200, "jp2", "jp2"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " " + c.format);
    Bytes planar = ColourImage(c.w, c.h);
    Bytes stream = Encode(planar, c.w, c.h, c.format);
    std::string path = dir_.File(std::string("ours.") + c.ext);
    tsltest::WriteFile(path, stream);
    std::string log;
    ASSERT_EQ(tsltest::Run("opj_decompress -i '" + path + "' -o '" + dir_.File("back.ppm") +
                               "' 2>&1",
                           &log),
              0)
        << log;
    int w = 0, h = 0, channels = 0;
    Bytes back;
    ASSERT_TRUE(tsltest::ReadPnm(dir_.File("back.ppm"), &w, &h, &channels, &back));
    EXPECT_EQ(w, c.w);
    EXPECT_EQ(h, c.h);
    EXPECT_EQ(channels, 3);
    size_t raw = 3 * static_cast<size_t>(c.w) * c.h;
    if (c.w * c.h <= 2500) {
      EXPECT_EQ(back, ToInterleaved(planar));  // rate 1: coded losslessly
    } else {
      double psnr = tsltest::Psnr(back, ToInterleaved(planar));
      EXPECT_GT(psnr, 38.0);  // about 41 dB with OpenJPEG 2.5
      double rate = std::stod(tsl::Jpeg2000RateOption(c.w, c.h).substr(5));
      double target = rate * raw;
      EXPECT_LT(stream.size(), target * 1.03);
      EXPECT_GT(stream.size(), target * 0.90);
      RecordProperty(std::string("psnr_") + c.format, std::to_string(psnr));
    }
    Decoded ours = Decode(stream, c.format);
    ASSERT_EQ(ours.rc, 0);
    EXPECT_EQ(ToInterleaved(ours.planar), back);

    std::string dump;
    ASSERT_EQ(tsltest::Run("opj_dump -i '" + path + "' 2>/dev/null", &dump), 0);
    EXPECT_NE(dump.find("numcomps=3"), std::string::npos) << dump;
    size_t eight = 0, unsigned_ = 0;
    for (size_t at = 0; (at = dump.find("prec=8\n", at)) != std::string::npos; ++at) ++eight;
    for (size_t at = 0; (at = dump.find("sgnd=0\n", at)) != std::string::npos; ++at) ++unsigned_;
    EXPECT_EQ(eight, 3u);
    EXPECT_EQ(unsigned_, 3u);
  }
}

TEST_F(Jpeg2000Tools, ColourSpacesAndIccProfilesDecideAcceptance) {
  const int w = 40, h = 32;
  Bytes colour = ColourImage(w, h);
  Bytes grey = tsltest::RidgeImage(w, h);
  tsltest::WritePpmInterleaved(dir_.File("c.ppm"), ToInterleaved(colour).data(), w, h);
  tsltest::WritePgm(dir_.File("g.pgm"), grey.data(), w, h);
  Bytes rgb = Compress("c.ppm", "c.jp2", "-n 3");
  Bytes gry = Compress("g.pgm", "g.jp2", "-n 3");
  ASSERT_EQ(Decode(rgb, "jp2").planar, colour);

  EXPECT_EQ(Decode(WithColour(rgb, {1, 0, 0, 0, 0, 0, 18}), "jp2").rc, -1);  // sYCC
  EXPECT_EQ(Decode(WithColour(rgb, {1, 0, 0, 0, 0, 0, 12}), "jp2").rc, -1);  // CMYK
  EXPECT_EQ(Decode(WithColour(rgb, IccColour("RGB ")), "jp2").planar, colour);
  EXPECT_EQ(Decode(WithColour(rgb, IccColour("CMYK")), "jp2").rc, -1);
  EXPECT_EQ(Decode(WithColour(gry, IccColour("GRAY")), "jp2").planar, GreyToPlanar(grey));
  EXPECT_EQ(Decode(WithColour(gry, IccColour("RGB ")), "jp2").rc, -1);  // one component
}

TEST(Jpeg2000Rate, OptionTextFollowsTheImageSize) {
  EXPECT_EQ(tsl::Jpeg2000RateOption(50, 50), "rate=1");
  EXPECT_EQ(tsl::Jpeg2000RateOption(1, 1), "rate=1");
  EXPECT_EQ(tsl::Jpeg2000RateOption(51, 50), "rate=0.480784");
  EXPECT_EQ(tsl::Jpeg2000RateOption(4000, 3000), "rate=0.444452");
}

TEST(Jpeg2000Api, BadArgumentsAreRefused) {
  Bytes planar = ColourImage(8, 8);
  Bytes stream = Encode(planar, 8, 8, "jpc");
  unsigned char *out = nullptr;
  int w = -7, h = -7, length = -7;
  int n = static_cast<int>(stream.size());
  EXPECT_EQ(JPEG2000_decode_stream(nullptr, n, &out, &w, &h, "jpc"), -1);
  EXPECT_EQ(JPEG2000_decode_stream(stream.data(), n, &out, &w, &h, nullptr), -1);
  EXPECT_EQ(JPEG2000_decode_stream(stream.data(), 0, &out, &w, &h, "jpc"), -1);
  EXPECT_EQ(JPEG2000_decode_stream(stream.data(), -5, &out, &w, &h, "jpc"), -1);
  EXPECT_EQ(JPEG2000_decode_stream(stream.data(), n, &out, &w, &h, "png"), -1);
  EXPECT_EQ(JPEG2000_decode_stream(stream.data(), n, &out, &w, &h, "JPC"), -1);
  EXPECT_EQ(JPEG2000_encode_stream(nullptr, 8, 8, &out, &length, "jp2"), -1);
  EXPECT_EQ(JPEG2000_encode_stream(planar.data(), 0, 8, &out, &length, "jp2"), -1);
  EXPECT_EQ(JPEG2000_encode_stream(planar.data(), 8, -1, &out, &length, "jp2"), -1);
  EXPECT_EQ(JPEG2000_encode_stream(planar.data(), 8, 8, &out, &length, "bmp"), -1);
  EXPECT_EQ(JPEG2000_encode_stream(planar.data(), 8, 8, &out, &length, nullptr), -1);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(w, -7);
  EXPECT_EQ(length, -7);
}

TEST(Jpeg2000Api, BufferOwnership) {
  Bytes planar = ColourImage(16, 9);
  // The encoder leaves a held pointer alone (the caller still owns it) and
  // records what it handed out.
  unsigned char *held = static_cast<unsigned char *>(std::malloc(10));
  unsigned char *out = held;
  int length = 0;
  ASSERT_EQ(JPEG2000_encode_stream(planar.data(), 16, 9, &out, &length, "jp2"), 0);
  EXPECT_NE(out, held);
  EXPECT_EQ(tsl::g_jpeg2000.jasper_jp2_image_buffer, out);
  EXPECT_EQ(tsl::g_jpeg2000.jpeg_2000_initialized, 1);
  std::free(held);
  Bytes stream(out, out + length);
  std::free(out);

  // The decoder releases a held buffer when it succeeds (a leak or double
  // free shows under the sanitizer build), and keeps it when it fails.
  unsigned char *image = static_cast<unsigned char *>(std::malloc(10));
  int w = 0, h = 0;
  ASSERT_EQ(JPEG2000_decode_stream(stream.data(), length, &image, &w, &h, "jp2"), 0);
  EXPECT_EQ(Bytes(image, image + 3 * 16 * 9), planar);
  unsigned char *kept = image;
  EXPECT_EQ(JPEG2000_decode_stream(stream.data(), length / 2, &image, &w, &h, "jp2"), -1);
  EXPECT_EQ(image, kept);
  std::free(image);
}

TEST(Jpeg2000Hostile, OversizedHeaderIsRefusedBeforeDecoding) {
  Bytes stream = Encode(ColourImage(8, 8), 8, 8, "jpc");
  // SIZ follows SOC: marker, length, capabilities, then the grid and tile
  // sizes.
  ASSERT_EQ(stream[2], 0xFF);
  ASSERT_EQ(stream[3], 0x51);
  for (size_t field : {8u, 12u, 24u, 28u}) PutBe32(&stream, field, 60000);
  EXPECT_EQ(Decode(stream, "jpc").rc, -1);
}

TEST(Jpeg2000Api, HugeImageIsRefusedBeforeItsPixelsAreRead) {
  // Any read of these pixels would fault: the size alone must decide.
  const int w = 10000, h = 9000;
  size_t bytes = 3 * static_cast<size_t>(w) * h;
  void *pixels = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(pixels, MAP_FAILED);
  unsigned char *out = nullptr;
  int length = -7;
  EXPECT_EQ(JPEG2000_encode_stream(static_cast<unsigned char *>(pixels), w, h, &out, &length, "jp2"),
            -1);
  EXPECT_EQ(out, nullptr);
  munmap(pixels, bytes);
}

TEST(Jpeg2000Hostile, TruncationsAndCorruptionsEndCleanly) {
  Bytes planar = ColourImage(24, 20);
  tsltest::Rng rng(12);
  for (const char *format : {"jp2", "jpc"}) {
    SCOPED_TRACE(format);
    Bytes stream = Encode(planar, 24, 20, format);
    for (size_t cut = 1; cut < stream.size(); cut += 3) {
      Bytes part(stream.begin(), stream.begin() + cut);  // exact size for the sanitizer
      Decoded d = Decode(part, format);
      EXPECT_TRUE(d.rc == 0 || d.rc == -1);
    }
    for (int round = 0; round < 400; ++round) {
      Bytes bad = stream;
      int hits = 1 + static_cast<int>(rng.Below(4));
      for (int k = 0; k < hits; ++k)
        bad[rng.Below(static_cast<uint32_t>(bad.size()))] = static_cast<uint8_t>(rng.Below(256));
      Decoded d = Decode(bad, format);
      EXPECT_TRUE(d.rc == 0 || d.rc == -1);
    }
  }
}
