#include "api/jpeg2000.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "support/test_support.h"
#include "tessaly.h"

using tsltest::Bytes;

namespace {

struct Decoded { int rc = 0, width = -7, height = -7; Bytes planar; };

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

// Planes of smooth content, so a lossy rate keeps a high PSNR.
Bytes Planar(int w, int h, std::vector<int> seeds = {1, 2, 3}) {
  Bytes planar;
  for (int seed : seeds) for (uint8_t v : tsltest::RidgeImage(w, h, seed)) planar.push_back(v);
  return planar;
}

// Runs an OpenJPEG tool in the folder and returns its messages.
std::string Opj(const tsltest::TempDir &dir, const std::string &args) {
  std::string log;
  EXPECT_EQ(tsltest::Run("cd '" + dir.path() + "' && opj_" + args + " 2>&1", &log), 0) << log;
  return log;
}

}  // namespace

TEST(Jpeg2000Tools, OpenJpegStreamsDecodeExactlyOrAreRefused) {
  TSL_NEED_TOOL("opj_compress");
  tsltest::TempDir dir;
  const int w = 40, h = 24, n = w * h;
  Bytes colour = Planar(w, h), grey = Planar(w, h, {9, 9, 9}), none;
  tsltest::WritePpmInterleaved(dir.File("c.ppm"), Interleaved(colour).data(), w, h);
  tsltest::WritePgm(dir.File("g.pgm"), grey.data(), w, h);
  // A colour space we do not convert (sYCC, set in the colour box) is refused.
  struct Case { std::string in, out, options, format; Bytes expected; uint8_t space = 0; };
  std::vector<Case> cases = {
      {"c.ppm", "c.jp2", "", "jp2", colour},
      {"g.pgm", "g.j2k", "", "jpc", grey},
      {"c.ppm", "c.j2k", "", "jp2", none},        // wrong container name: refused, not guessed
      {"c.ppm", "o.jp2", "-d 8,4", "jp2", none},  // image offset
      {"c.ppm", "s.j2k", "-s 2,2", "jpc", none},  // subsampled components
      {"c.ppm", "c.jp2", "", "jp2", none, 18}};
  // Deeper samples keep their top 8 bits, shallower ones stretch to 0..255.
  for (unsigned bits : {1, 16}) {
    Bytes raw, expected;
    for (unsigned i = 0, v = 0; i < 3 * n; ++i, v = i % n * 2113 % (1u << bits)) {
      if (i < n && bits == 16) raw.push_back(static_cast<uint8_t>(v >> 8));
      if (i < n) raw.push_back(static_cast<uint8_t>(v));
      expected.push_back(static_cast<uint8_t>(bits == 16 ? v >> 8 : v * 255));
    }
    const std::string b = std::to_string(bits);
    tsltest::WriteFile(dir.File(b + ".raw"), raw);
    cases.push_back({b + ".raw", b + ".j2k", "-F 40,24,1," + b + ",u", "jpc", expected});
  }
  for (const Case &c : cases) {
    SCOPED_TRACE(c.out + " " + c.options + " as " + c.format);
    Opj(dir, "compress -n 3 -i " + c.in + " -o " + c.out + " " + c.options);
    Bytes s = tsltest::ReadFile(dir.File(c.out));
    if (c.space) s[std::string(s.begin(), s.end()).find("colr") + 10] = c.space;
    Decoded d = Decode(s, c.format.c_str());
    EXPECT_EQ(std::tie(d.rc, d.planar), std::make_tuple(c.expected.empty() ? -1 : 0, c.expected));
    EXPECT_TRUE(c.options != "-d 8,4" || (d.width == w && d.height == h));  // size kept
  }
}

TEST(Jpeg2000Tools, OurStreamsDecodeInOpenJpegNearTheTargetSize) {
  TSL_NEED_TOOL("opj_decompress");
  TSL_NEED_TOOL("opj_dump");
  tsltest::TempDir dir;
  for (const auto &[cw, ch, format, file] :
       {std::make_tuple(320, 240, "jp2", "a.jp2"), std::make_tuple(257, 181, "jpc", "b.j2k"),
        std::make_tuple(1, 1, "jpc", "c.j2k"), std::make_tuple(3, 200, "jp2", "d.jp2")}) {
    SCOPED_TRACE(file);
    const Bytes planar = Planar(cw, ch), stream = Encode(planar, cw, ch, format);
    tsltest::WriteFile(dir.File(file), stream);
    Opj(dir, std::string("decompress -i ") + file + " -o back.ppm");
    int w = 0, h = 0, channels = 0;
    Bytes back;
    ASSERT_TRUE(tsltest::ReadPnm(dir.File("back.ppm"), &w, &h, &channels, &back));
    EXPECT_EQ(std::tie(w, h, channels), std::make_tuple(cw, ch, 3));
    EXPECT_EQ(Interleaved(Decode(stream, format).planar), back);
    if (cw * ch <= 2500) {
      EXPECT_EQ(back, Interleaved(planar));  // small images are coded losslessly
    } else {
      EXPECT_GT(tsltest::Psnr(back, Interleaved(planar)), 38.0);  // 41 dB with OpenJPEG 2.5
      const double target = std::stod(tsl::Jpeg2000RateOption(cw, ch).substr(5)) * planar.size();
      EXPECT_TRUE(stream.size() > target * 0.90 && stream.size() < target * 1.03) << target;
    }
    const std::string dump = Opj(dir, std::string("dump -i ") + file);
    for (const char *field : {"numcomps=3\n", "prec=8\n", "sgnd=0\n"}) {
      size_t count = 0;
      for (size_t at = 0; (at = dump.find(field, at)) != std::string::npos; ++at) ++count;
      EXPECT_EQ(count, *field == 'n' ? 1u : 3u) << field << dump;
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
                 JPEG2000_decode_stream(s, n, &out, &w, &h, "png"),
                 JPEG2000_encode_stream(nullptr, 8, 8, &out, &length, "jp2"),
                 JPEG2000_encode_stream(p, 8, 8, &out, &length, nullptr)})
    EXPECT_EQ(rc, -1);
  EXPECT_EQ(std::make_tuple(out, w, h, length), std::make_tuple(nullptr, -7, -7, -7));
  // The encoder leaves a held pointer to its owner and records what it hands
  // out; the decoder releases a held buffer when it succeeds and keeps it
  // when it fails (a leak or double free shows under the sanitizer build).
  unsigned char *held = static_cast<unsigned char *>(std::malloc(10));
  out = held;
  ASSERT_EQ(JPEG2000_encode_stream(p, 16, 9, &out, &length, "jp2"), 0);
  EXPECT_EQ(tsl::g_jpeg2000.jasper_jp2_image_buffer, out);
  std::free(out);
  ASSERT_EQ(JPEG2000_decode_stream(s, n, &held, &w, &h, "jp2"), 0);
  EXPECT_EQ(Bytes(held, held + planar.size()), planar);
  unsigned char *kept = held;
  EXPECT_EQ(JPEG2000_decode_stream(s, n / 2, &held, &w, &h, "jp2"), -1);
  EXPECT_EQ(held, kept);
  std::free(held);
}

void Put32(Bytes *s, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) (*s)[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// A fuzzer's code stream: 40 x 589848 pixels in tiles of 40 x 24, one
// tile-part of two bytes.
Bytes FuzzedTiles() {
  Bytes s = {0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x29, 0x00, 0x00, 0x00, 0x00, 0x00, 0x28, 0x00,
             0x09, 0x00, 0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
             0x00, 0x28, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
             0x00, 0x00, 0x01, 0x0F, 0x01, 0x01, 0xFF, 0x52, 0x00, 0x0C, 0x00, 0x00, 0x00,
             0x01, 0x00, 0x01, 0x04, 0x04, 0x00, 0x01, 0xFF, 0x5C, 0x00, 0x07, 0x40, 0x80,
             0x88, 0x88, 0x90, 0xFF, 0x64, 0x00, 0x25, 0x00, 0x01};
  const std::string text = "Created by OpenJPEG version 2.5.0";
  s.insert(s.end(), text.begin(), text.end());
  s.insert(s.end(), {0xFF, 0x90, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x01,
                     0xFF, 0x93, 0x80, 0x80, 0xFF, 0xD9});
  return s;
}

// Code streams that declare tiles they do not carry are refused before the
// codec sets the tiles up, width and height untouched: ours with its height
// raised (every tile but the first missing), the fuzzer's, and the fuzzer's
// raised to 12000 x 12700.
TEST(Jpeg2000Hostile, MissingTilesAreRefused) {
  Bytes raised = Encode(Planar(40, 30), 40, 30, "jpc");
  Put32(&raised, 12, 1703966);
  const Decoded d = Decode(raised, "jpc");
  EXPECT_EQ(d.rc, -1);
  EXPECT_EQ(d.height, -7);
  EXPECT_EQ(Decode(FuzzedTiles(), "jpc").rc, -1);
  Bytes wide = FuzzedTiles();
  Put32(&wide, 8, 12000);
  Put32(&wide, 12, 12700);
  Put32(&wide, 24, 12000);
  EXPECT_EQ(Decode(wide, "jpc").rc, -1);
}

// OpenJPEG's tiled streams decode exactly; without one of their tile-parts
// they are refused.
TEST(Jpeg2000Tools, TiledStreamsDecodeUnlessATileIsMissing) {
  TSL_NEED_TOOL("opj_compress");
  tsltest::TempDir dir;
  const Bytes colour = Planar(40, 24);
  tsltest::WritePpmInterleaved(dir.File("c.ppm"), Interleaved(colour).data(), 40, 24);
  for (const char *file : {"t.jp2", "t.j2k"}) {
    Opj(dir, std::string("compress -n 2 -t 16,16 -i c.ppm -o ") + file);
    const Bytes s = tsltest::ReadFile(dir.File(file));
    EXPECT_EQ(Decode(s, file[4] == '2' ? "jp2" : "jpc").planar, colour) << file;
  }
  Bytes s = tsltest::ReadFile(dir.File("t.j2k"));
  const uint8_t kSot[] = {0xFF, 0x90, 0x00, 0x0A};
  const auto first = std::search(s.begin(), s.end(), kSot, kSot + 4);
  const auto second = std::search(first + 1, s.end(), kSot, kSot + 4);
  ASSERT_NE(second, s.end());
  s.erase(first, second);
  EXPECT_EQ(Decode(s, "jpc").rc, -1);
}

TEST(Jpeg2000Hostile, HugeTruncatedAndCorruptedImagesEndCleanly) {
  // A code stream whose SIZ marker claims 60000 x 60000 is refused from the header alone.
  Bytes huge = Encode(Planar(8, 8), 8, 8, "jpc");
  for (size_t field : {10u, 14u, 26u, 30u}) huge[field] = 0xEA, huge[field + 1] = 0x60;
  EXPECT_EQ(Decode(huge, "jpc").rc, -1);
  tsltest::Rng rng(12);
  for (const char *format : {"jp2", "jpc"}) {
    SCOPED_TRACE(format);
    const Bytes stream = Encode(Planar(24, 20), 24, 20, format);
    // Exact-size copies, so the sanitizer build catches a read past the end.
    // Every cut into the tile data is refused; only the end marker may go.
    for (size_t cut = 1; cut + 2 < stream.size(); ++cut)
      EXPECT_EQ(Decode(Bytes(stream.begin(), stream.begin() + cut), format).rc, -1) << cut;
    for (int round = 0; round < 400; ++round) {
      Bytes bad = stream;
      for (uint32_t k = 0, hits = 1 + rng.Below(4); k < hits; ++k)
        bad[rng.Below(static_cast<uint32_t>(bad.size()))] = static_cast<uint8_t>(rng.Below(256));
      const int rc = Decode(bad, format).rc;
      EXPECT_TRUE(rc == 0 || rc == -1) << rc;
    }
  }
}
