#include "api/jpeg2000.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "support/test_support.h"
#include "tessaly.h"

using tsltest::Bytes;
using tsltest::ToInterleaved;

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

// Planes of smooth content, so a lossy rate keeps a high PSNR.
Bytes Planar(int w, int h) {
  Bytes planar;
  for (int seed : {1, 2, 3}) {
    const Bytes plane = tsltest::RidgeImage(w, h, seed);
    planar.insert(planar.end(), plane.begin(), plane.end());
  }
  return planar;
}

// Runs an OpenJPEG tool in the folder and returns its messages.
std::string Opj(const tsltest::TempDir &dir, const std::string &args) {
  std::string log;
  EXPECT_EQ(tsltest::Run("cd '" + dir.path() + "' && opj_" + args + " 2>&1", &log), 0) << log;
  return log;
}

void Put16(Bytes *b, uint32_t v) {
  b->push_back(static_cast<uint8_t>(v >> 8));
  b->push_back(static_cast<uint8_t>(v));
}
void Put32(Bytes *b, uint32_t v) {
  Put16(b, v >> 16);
  Put16(b, v & 0xFFFF);
}

// A bare code stream as its markers show it: SOC; a SIZ segment for one
// 8-bit component with the image and tile grids given (tile grid offset 0);
// one empty tile-part (SOT with its 14 bytes, SOD) for each tile number
// listed; EOC.
Bytes CodeStream(uint32_t xsiz, uint32_t ysiz, uint32_t xosiz, uint32_t yosiz, uint32_t xtsiz,
                 uint32_t ytsiz, const std::vector<uint32_t> &parts) {
  Bytes b;
  Put16(&b, 0xFF4F);
  Put16(&b, 0xFF51);
  Put16(&b, 41);
  Put16(&b, 0);
  for (uint32_t v : {xsiz, ysiz, xosiz, yosiz, xtsiz, ytsiz, 0u, 0u}) Put32(&b, v);
  Put16(&b, 1);
  for (uint8_t v : {7, 1, 1}) b.push_back(v);
  for (uint32_t tile : parts) {
    Put16(&b, 0xFF90);
    Put16(&b, 10);
    Put16(&b, tile);
    Put32(&b, 14);
    Put16(&b, 0x0001);  // part 0 of 1
    Put16(&b, 0xFF93);
  }
  Put16(&b, 0xFFD9);
  return b;
}

tsl::Jpeg2000Layout Scan(const Bytes &stream, bool *ok) {
  tsl::Jpeg2000Layout layout;
  *ok = tsl::ScanJpeg2000(stream.data(), stream.size(), false, &layout);
  return layout;
}

}  // namespace

TEST(Jpeg2000Scan, AnImageOfNoColumnsOrRowsIsRefused) {
  bool ok = false;
  // The image area starts at the offset: an offset equal to the size
  // leaves nothing, one less leaves one column or row.
  Scan(CodeStream(5, 4, 5, 0, 8, 8, {0}), &ok);
  EXPECT_FALSE(ok);
  const tsl::Jpeg2000Layout one_column = Scan(CodeStream(6, 4, 5, 0, 8, 8, {0}), &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(one_column.width, 1u);
  Scan(CodeStream(4, 3, 0, 3, 8, 8, {0}), &ok);
  EXPECT_FALSE(ok);
  const tsl::Jpeg2000Layout one_row = Scan(CodeStream(4, 4, 0, 3, 8, 8, {0}), &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(one_row.height, 1u);
}

TEST(Jpeg2000Scan, TilesCountOnceAndOnlyWithANumberBelowTheTileCount) {
  // Three columns of one-pixel tiles: tiles 0, 1 and 2.
  const struct { std::vector<uint32_t> parts; uint32_t present; } cases[] = {
      {{0, 1, 2}, 3},
      {{0, 3, 1, 2}, 1},  // no tile 3: the walk ends there
      {{2, 2, 2}, 1},     // one tile in three parts
      {{0, 0, 1}, 2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.parts));
    bool ok = false;
    const tsl::Jpeg2000Layout layout = Scan(CodeStream(3, 1, 0, 0, 1, 1, c.parts), &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(layout.tiles, 3u);
    EXPECT_EQ(layout.tiles_present, c.present);
  }
}

TEST(Jpeg2000Encode, RateOptionIsOneUpTo2500Pixels) {
  EXPECT_EQ(tsl::Jpeg2000RateOption(50, 50), "rate=1");
  EXPECT_EQ(tsl::Jpeg2000RateOption(41, 61), "rate=0.481496");  // 2501 pixels
  EXPECT_EQ(tsl::Jpeg2000RateOption(51, 50), "rate=0.480784");
}

TEST(Jpeg2000Tools, OpenJpegStreamsDecodeExactlyOrAreRefused) {
  TSL_NEED_TOOL("opj_compress");
  tsltest::TempDir dir;
  const int w = 40, h = 24, n = w * h;
  Bytes colour = Planar(w, h), none;
  tsltest::WritePpmInterleaved(dir.File("c.ppm"), ToInterleaved(colour).data(), w, h);
  // A colour space we do not convert (sYCC, set in the colour box) is refused.
  struct Case { std::string in, out, options, format; Bytes expected; uint8_t space = 0; };
  std::vector<Case> cases = {
      {"c.ppm", "c.jp2", "", "jp2", colour},
      {"c.ppm", "t.jp2", "-t 16,16", "jp2", colour},  // tile-parts are walked whole
      {"c.ppm", "t.j2k", "-t 16,16", "jpc", colour},
      {"c.ppm", "c.j2k", "", "jp2", none},        // wrong container name: refused, not guessed
      {"c.ppm", "o.jp2", "-d 8,4", "jp2", none},  // image offset
      {"c.ppm", "s.j2k", "-s 2,2", "jpc", none},  // subsampled components
      {"c.ppm", "c.jp2", "", "jp2", none, 18}};
  // Grey: deeper samples keep their top 8 bits, shallower ones stretch to
  // 0..255.
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
    EXPECT_EQ(d.rc, c.expected.empty() ? -1 : 0);
    EXPECT_EQ(d.planar, c.expected);
    if (c.options == "-d 8,4") {  // refused after the size is stored
      EXPECT_EQ(d.width, w);
      EXPECT_EQ(d.height, h);
    }
  }
}

TEST(Jpeg2000Tools, OurStreamsDecodeInOpenJpegNearTheTargetSize) {
  TSL_NEED_TOOL("opj_decompress");
  tsltest::TempDir dir;
  // A lossy picture, and one pixel: the fewest resolution levels there are.
  for (const auto &[cw, ch, format, file] :
       {std::make_tuple(320, 240, "jp2", "a.jp2"), std::make_tuple(1, 1, "jpc", "c.j2k")}) {
    SCOPED_TRACE(file);
    const Bytes planar = Planar(cw, ch), stream = Encode(planar, cw, ch, format);
    tsltest::WriteFile(dir.File(file), stream);
    Opj(dir, std::string("decompress -i ") + file + " -o back.ppm");
    int w = 0, h = 0, channels = 0;
    Bytes back;
    ASSERT_TRUE(tsltest::ReadPnm(dir.File("back.ppm"), &w, &h, &channels, &back));
    EXPECT_EQ(w, cw);
    EXPECT_EQ(h, ch);
    EXPECT_EQ(channels, 3);
    EXPECT_EQ(ToInterleaved(Decode(stream, format).planar), back);
    if (cw * ch <= 2500) {
      EXPECT_EQ(back, ToInterleaved(planar));  // small images are coded losslessly
    } else {
      EXPECT_GT(tsltest::Psnr(back, ToInterleaved(planar)), 38.0);  // 41 dB with OpenJPEG 2.5
      const double target = std::stod(tsl::Jpeg2000RateOption(cw, ch).substr(5)) * planar.size();
      EXPECT_GT(stream.size(), target * 0.90);
      EXPECT_LT(stream.size(), target * 1.03);
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
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(w, -7);
  EXPECT_EQ(h, -7);
  EXPECT_EQ(length, -7);
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

// A box the codec does not know is skipped over; one longer than the
// codec's read-ahead (1 MiB) is skipped in the source itself, past bytes
// never read.
TEST(Jpeg2000Api, AJp2FileWithABoxLongerThanTheReadAheadDecodes) {
  const Bytes planar = Planar(16, 9), plain = Encode(planar, 16, 9, "jp2");
  // Signature box (12 bytes), then the file type box; the new box follows.
  ASSERT_GT(plain.size(), 20u);
  const size_t at = 12 + (size_t{plain[12]} << 24 | plain[13] << 16 | plain[14] << 8 | plain[15]);
  const uint32_t box = 8 + 3 * (1u << 19);  // 1.5 MiB of contents
  Bytes stream(plain.begin(), plain.begin() + static_cast<long>(at));
  Put32(&stream, box);
  for (char c : std::string("free")) stream.push_back(static_cast<uint8_t>(c));
  stream.resize(stream.size() + box - 8, 0xA5);
  stream.insert(stream.end(), plain.begin() + static_cast<long>(at), plain.end());
  const Decoded d = Decode(stream, "jp2");
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.width, 16);
  EXPECT_EQ(d.height, 9);
  EXPECT_EQ(d.planar, planar);
}

// Streams whose data cannot fill what their header declares are refused,
// width and height untouched.
TEST(Jpeg2000Hostile, HugeTileLessAndTruncatedImagesAreRefused) {
  // A code stream whose SIZ marker claims 60000 x 60000 is refused from the header alone.
  Bytes huge = Encode(Planar(8, 8), 8, 8, "jpc");
  for (size_t field : {10u, 14u, 26u, 30u}) {
    huge[field] = 0xEA;
    huge[field + 1] = 0x60;
  }
  EXPECT_EQ(Decode(huge, "jpc").rc, -1);
  // Ours with its height raised to 1703966: every tile but the first is
  // missing, refused before the codec sets the tiles up.
  Bytes raised = Encode(Planar(40, 30), 40, 30, "jpc");
  const uint32_t height = 1703966;
  for (size_t i = 0; i < 4; ++i) raised[12 + i] = static_cast<uint8_t>(height >> (24 - 8 * i));
  const Decoded d = Decode(raised, "jpc");
  EXPECT_EQ(d.rc, -1);
  EXPECT_EQ(d.height, -7);
  for (const char *format : {"jp2", "jpc"}) {
    SCOPED_TRACE(format);
    const Bytes stream = Encode(Planar(24, 20), 24, 20, format);
    // Exact-size copies, so the sanitizer build catches a read past the end.
    // Every cut into the tile data is refused; only the end marker may go.
    for (size_t cut = 1; cut + 2 < stream.size(); ++cut)
      EXPECT_EQ(Decode(Bytes(stream.begin(), stream.begin() + cut), format).rc, -1) << cut;
  }
}
