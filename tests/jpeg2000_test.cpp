#include "api/jpeg2000.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "support/test_support.h"
#include "tessaly.h"

using tsltest::Bytes;

namespace {

struct Decoded {
  int rc = 0, width = -7, height = -7;
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

Bytes Interleaved(const Bytes &planar) {
  Bytes rgb(planar.size());
  const size_t n = planar.size() / 3;
  for (size_t i = 0; i < planar.size(); ++i) rgb[i % n * 3 + i / n] = planar[i];
  return rgb;
}

Bytes Concat(std::initializer_list<Bytes> planes) {
  Bytes planar;
  for (const Bytes &p : planes) planar.insert(planar.end(), p.begin(), p.end());
  return planar;
}
Bytes Grey3(const Bytes &grey) { return Concat({grey, grey, grey}); }
// Three planes of smooth content, so a lossy rate keeps a high PSNR.
Bytes Planar(int w, int h) {
  using tsltest::RidgeImage;
  return Concat({RidgeImage(w, h, 1), RidgeImage(w, h, 2), RidgeImage(w, h, 3)});
}

uint32_t Be32(const Bytes &b, size_t at) {
  return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}
void PutBe32(Bytes *b, size_t at, size_t v) {
  for (int k = 0; k < 4; ++k) (*b)[at + k] = static_cast<uint8_t>(v >> (24 - 8 * k));
}

// A JP2 file with the payload of its colour box (inside the header box)
// replaced: an enumerated space {1, 0, 0, 0, 0, 0, n} or an ICC profile.
Bytes WithColour(Bytes jp2, const Bytes &payload) {
  auto box = [&jp2](const char *type) {
    return static_cast<size_t>(std::search(jp2.begin(), jp2.end(), type, type + 4) - jp2.begin()) -
           4;
  };
  const size_t header = box("jp2h"), colr = box("colr"), old = Be32(jp2, colr);
  jp2.erase(jp2.begin() + colr + 8, jp2.begin() + colr + old);
  jp2.insert(jp2.begin() + colr + 8, payload.begin(), payload.end());
  PutBe32(&jp2, colr, 8 + payload.size());
  PutBe32(&jp2, header, Be32(jp2, header) - old + 8 + payload.size());
  return jp2;
}
Bytes Icc(const char *space) {
  Bytes payload = {2, 0, 0, 0, 0, 0, 128};  // method 2, then a 128-byte profile
  payload.resize(3 + 128);
  std::memcpy(&payload[3 + 16], space, 4);
  std::memcpy(&payload[3 + 36], "acsp", 4);
  return payload;
}

// Runs an OpenJPEG tool in the folder; false (its output logged) on failure.
bool Opj(const tsltest::TempDir &dir, const std::string &args, std::string *out = nullptr) {
  std::string log;
  const int rc = tsltest::Run("cd '" + dir.path() + "' && opj_" + args + " 2>&1", &log);
  if (rc != 0) ADD_FAILURE() << log;
  if (out) *out = log;
  return rc == 0;
}

}  // namespace

TEST(Jpeg2000Tools, OpenJpegStreamsDecodeExactlyOrAreRefused) {
  TSL_NEED_TOOL("opj_compress");
  tsltest::TempDir dir;
  const int w = 40, h = 24;
  Bytes colour = Planar(w, h), grey = tsltest::RidgeImage(w, h, 9);
  tsltest::Rng rng(4);
  for (auto &b : colour) b = static_cast<uint8_t>(b ^ rng.Below(4));
  tsltest::WritePpmInterleaved(dir.File("c.ppm"), Interleaved(colour).data(), w, h);
  tsltest::WritePgm(dir.File("g.pgm"), grey.data(), w, h);
  const Bytes refused;
  struct Case {
    std::string in, out, options;
    const char *format;
    Bytes expected, colour_box = {};
  };
  std::vector<Case> cases = {
      {"c.ppm", "c.jp2", "", "jp2", colour},
      {"c.ppm", "c.j2k", "", "jpc", colour},
      {"g.pgm", "g.jp2", "", "jp2", Grey3(grey)},
      {"g.pgm", "g.j2k", "", "jpc", Grey3(grey)},
      {"c.ppm", "c.jp2", "", "jpc", refused},        // wrong container name:
      {"c.ppm", "c.j2k", "", "jp2", refused},        // refused, not guessed
      {"c.ppm", "o.jp2", "-d 8,4", "jp2", refused},  // image offset
      {"c.ppm", "s.j2k", "-s 2,2", "jpc", refused},  // subsampled components
      // Colour spaces we do not convert are refused; an ICC profile counts
      // by its class when that matches the components.
      {"c.ppm", "c.jp2", "", "jp2", refused, {1, 0, 0, 0, 0, 0, 18}},  // sYCC
      {"c.ppm", "c.jp2", "", "jp2", refused, {1, 0, 0, 0, 0, 0, 12}},  // CMYK
      {"c.ppm", "c.jp2", "", "jp2", colour, Icc("RGB ")},
      {"c.ppm", "c.jp2", "", "jp2", refused, Icc("CMYK")},
      {"g.pgm", "g.jp2", "", "jp2", Grey3(grey), Icc("GRAY")},
      {"g.pgm", "g.jp2", "", "jp2", refused, Icc("RGB ")},
  };
  // Deeper samples keep their top 8 bits, shallower ones stretch to 0..255.
  for (unsigned bits : {1, 4, 16}) {
    Bytes raw, expected;
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
      const unsigned v = static_cast<unsigned>(i * 2113 % (1u << bits));
      if (bits == 16) raw.push_back(static_cast<uint8_t>(v >> 8));
      raw.push_back(static_cast<uint8_t>(v));
      expected.push_back(static_cast<uint8_t>(bits == 16 ? v >> 8 : v * 255 / ((1u << bits) - 1)));
    }
    const std::string name = "b" + std::to_string(bits);
    tsltest::WriteFile(dir.File(name + ".raw"), raw);
    cases.push_back({name + ".raw", name + ".j2k", "-F 40,24,1," + std::to_string(bits) + ",u",
                     "jpc", Grey3(expected)});
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case &c = cases[i];
    SCOPED_TRACE("case " + std::to_string(i) + ": " + c.out + " as " + c.format);
    ASSERT_TRUE(Opj(dir, "compress -n 3 -i " + c.in + " -o " + c.out + " " + c.options));
    Bytes stream = tsltest::ReadFile(dir.File(c.out));
    Decoded d = Decode(c.colour_box.empty() ? stream : WithColour(stream, c.colour_box), c.format);
    EXPECT_EQ(d.rc, c.expected.empty() ? -1 : 0);
    EXPECT_EQ(d.planar, c.expected);
    // The offset image is refused only after its size is stored.
    EXPECT_TRUE(c.options != "-d 8,4" || (d.width == w && d.height == h)) << d.width << "x"
                                                                         << d.height;
  }
}

TEST(Jpeg2000Tools, OurStreamsDecodeInOpenJpegNearTheTargetSize) {
  TSL_NEED_TOOL("opj_decompress");
  TSL_NEED_TOOL("opj_dump");
  tsltest::TempDir dir;
  const struct {
    int w, h;
    const char *format, *file;
  } cases[] = {{320, 240, "jp2", "ours.jp2"}, {257, 181, "jpc", "ours.j2k"},
               {40, 30, "jp2", "ours.jp2"},   {1, 1, "jpc", "ours.j2k"},
               {3, 200, "jp2", "ours.jp2"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " " + c.format);
    const Bytes planar = Planar(c.w, c.h), stream = Encode(planar, c.w, c.h, c.format);
    tsltest::WriteFile(dir.File(c.file), stream);
    ASSERT_TRUE(Opj(dir, std::string("decompress -i ") + c.file + " -o back.ppm"));
    int w = 0, h = 0, channels = 0;
    Bytes back;
    ASSERT_TRUE(tsltest::ReadPnm(dir.File("back.ppm"), &w, &h, &channels, &back));
    EXPECT_EQ(std::make_tuple(w, h, channels), std::make_tuple(c.w, c.h, 3));
    EXPECT_EQ(Interleaved(Decode(stream, c.format).planar), back);
    if (c.w * c.h <= 2500) {
      EXPECT_EQ(back, Interleaved(planar));  // small images are coded losslessly
    } else {
      const double psnr = tsltest::Psnr(back, Interleaved(planar));
      EXPECT_GT(psnr, 38.0);  // about 41 dB with OpenJPEG 2.5
      RecordProperty(std::string("psnr_") + c.format, std::to_string(psnr));
      const double target = std::stod(tsl::Jpeg2000RateOption(c.w, c.h).substr(5)) * planar.size();
      EXPECT_LT(stream.size(), target * 1.03);
      EXPECT_GT(stream.size(), target * 0.90);
    }
    std::string dump;
    ASSERT_TRUE(Opj(dir, std::string("dump -i ") + c.file, &dump));
    EXPECT_NE(dump.find("numcomps=3"), std::string::npos) << dump;
    for (const char *field : {"prec=8\n", "sgnd=0\n"}) {
      size_t count = 0;
      for (size_t at = 0; (at = dump.find(field, at)) != std::string::npos; ++at) ++count;
      EXPECT_EQ(count, 3u) << field;
    }
  }
}

TEST(Jpeg2000Api, BadArgumentsAndBufferOwnership) {
  const Bytes planar = Planar(16, 9), stream = Encode(planar, 16, 9, "jp2");
  const int n = static_cast<int>(stream.size());
  const unsigned char *s = stream.data(), *p = planar.data();
  unsigned char *out = nullptr;
  int w = -7, h = -7, length = -7;
  for (int rc : {JPEG2000_decode_stream(nullptr, n, &out, &w, &h, "jp2"),
                 JPEG2000_decode_stream(s, n, &out, &w, &h, nullptr),
                 JPEG2000_decode_stream(s, 0, &out, &w, &h, "jp2"),
                 JPEG2000_decode_stream(s, -5, &out, &w, &h, "jp2"),
                 JPEG2000_decode_stream(s, n, &out, &w, &h, "png"),
                 JPEG2000_encode_stream(nullptr, 8, 8, &out, &length, "jp2"),
                 JPEG2000_encode_stream(p, 0, 8, &out, &length, "jp2"),
                 JPEG2000_encode_stream(p, 8, -1, &out, &length, "jp2"),
                 JPEG2000_encode_stream(p, 8, 8, &out, &length, "bmp"),
                 JPEG2000_encode_stream(p, 8, 8, &out, &length, nullptr)})
    EXPECT_EQ(rc, -1);
  EXPECT_EQ(std::make_tuple(out, w, h, length), std::make_tuple(nullptr, -7, -7, -7));

  // The encoder leaves a held pointer to its owner and records what it hands
  // out; the decoder releases a held buffer when it succeeds and keeps it
  // when it fails (a leak or double free shows under the sanitizer build).
  unsigned char *held = static_cast<unsigned char *>(std::malloc(10));
  out = held;
  ASSERT_EQ(JPEG2000_encode_stream(p, 16, 9, &out, &length, "jp2"), 0);
  EXPECT_NE(out, held);
  EXPECT_EQ(tsl::g_jpeg2000.jasper_jp2_image_buffer, out);
  EXPECT_EQ(tsl::g_jpeg2000.jpeg_2000_initialized, 1);
  std::free(out);
  ASSERT_EQ(JPEG2000_decode_stream(s, n, &held, &w, &h, "jp2"), 0);
  EXPECT_EQ(Bytes(held, held + planar.size()), planar);
  unsigned char *kept = held;
  EXPECT_EQ(JPEG2000_decode_stream(s, n / 2, &held, &w, &h, "jp2"), -1);
  EXPECT_EQ(held, kept);
  std::free(held);
}

TEST(Jpeg2000Hostile, HugeTruncatedAndCorruptedImagesEndCleanly) {
  // Any read of these pixels would fault: the size alone must refuse them.
  const size_t bytes = 3 * size_t{10000} * 9000;
  void *pixels =
      mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(pixels, MAP_FAILED);
  unsigned char *out = nullptr;
  int length = 0;
  EXPECT_EQ(JPEG2000_encode_stream(static_cast<unsigned char *>(pixels), 10000, 9000, &out, &length,
                                   "jp2"),
            -1);
  EXPECT_EQ(out, nullptr);
  munmap(pixels, bytes);

  // A code stream whose grid and tile sizes (after SOC, the SIZ marker and
  // its length and capabilities) claim 60000 x 60000 is refused from its
  // header alone.
  Bytes huge = Encode(Planar(8, 8), 8, 8, "jpc");
  ASSERT_EQ(Be32(huge, 0), 0xFF4FFF51u);
  for (size_t field : {8u, 12u, 24u, 28u}) PutBe32(&huge, field, 60000);
  EXPECT_EQ(Decode(huge, "jpc").rc, -1);

  const Bytes planar = Planar(24, 20);
  tsltest::Rng rng(12);
  for (const char *format : {"jp2", "jpc"}) {
    SCOPED_TRACE(format);
    const Bytes stream = Encode(planar, 24, 20, format);
    // Exact-size copies, so the sanitizer build catches a read past the end.
    for (size_t cut = 1; cut < stream.size(); cut += 3) {
      const int rc = Decode(Bytes(stream.begin(), stream.begin() + cut), format).rc;
      EXPECT_TRUE(rc == 0 || rc == -1) << cut;
    }
    for (int round = 0; round < 400; ++round) {
      Bytes bad = stream;
      for (uint32_t k = 0, hits = 1 + rng.Below(4); k < hits; ++k)
        bad[rng.Below(static_cast<uint32_t>(bad.size()))] = static_cast<uint8_t>(rng.Below(256));
      const int rc = Decode(bad, format).rc;
      EXPECT_TRUE(rc == 0 || rc == -1) << rc;
    }
  }
}
