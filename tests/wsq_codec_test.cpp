// WSQ encoder and decoder through the exported stream functions: quality,
// stream layout, byte stability, the decoder's state rules and hostile input.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cfenv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tessaly.h"
#include "wsq/codec.h"
#include "wsq/stream_io.h"
#include "wsq/tables.h"
#include "wsq/wavelet.h"

namespace {

using tsltest::Bytes;

// ---- Helpers -----------------------------------------------------------------

Bytes Encode(const Bytes &px, int w, int h, double rate, int ppi = 500,
             const char *comment = nullptr, int *code = nullptr) {
  unsigned char *out = nullptr;
  int len = 0;
  int ret = WSQ_encode_stream(px.data(), w, h, rate, ppi, comment, &out, &len);
  if (code) *code = ret;
  if (ret != 1) return {};
  Bytes s(out, out + len);
  free(out);
  return s;
}

struct Decoded {
  int code = 0;
  Bytes px;
  int w = -5, h = -5, ppi = -5;
  std::string comment;
  bool has_comment = false;
};

Decoded Decode(const Bytes &s) {
  Decoded d;
  unsigned char *out = reinterpret_cast<unsigned char *>(1);  // must be overwritten
  char *comment = nullptr;
  d.code = WSQ_decode_stream(s.data(), static_cast<int>(s.size()), &out, &d.w, &d.h, &d.ppi,
                             &comment);
  if (d.code == 1) {
    d.px.assign(out, out + static_cast<size_t>(d.w) * d.h);
    free(out);
  } else {
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(d.w, 0);
    EXPECT_EQ(d.h, 0);
    EXPECT_EQ(d.ppi, -1);
  }
  if (comment) {
    d.has_comment = true;
    d.comment = comment;
    free(comment);
  }
  return d;
}

// One marker segment of a stream; for SOB, `data` is the entropy-coded bytes
// that follow the header.
struct Segment {
  uint16_t marker;
  size_t offset;  // of the marker
  Bytes body;     // after the length field
  Bytes data;
};

unsigned U16(const uint8_t *p) { return (p[0] << 8) | p[1]; }

// Walks a stream as its layout is documented; fails the test on anything else.
std::vector<Segment> Walk(const Bytes &s) {
  std::vector<Segment> out;
  size_t i = 0;
  while (i + 2 <= s.size()) {
    Segment seg{static_cast<uint16_t>(U16(&s[i])), i, {}, {}};
    i += 2;
    if (seg.marker != tsl::SOI_WSQ && seg.marker != tsl::EOI_WSQ) {
      const size_t len = i + 2 <= s.size() ? U16(&s[i]) : 0;
      if (len < 2 || i + len > s.size()) {
        ADD_FAILURE() << "bad segment length at " << i;
        break;
      }
      seg.body.assign(s.begin() + i + 2, s.begin() + i + len);
      i += len;
    }
    if (seg.marker == tsl::SOB_WSQ) {
      // Coded bytes up to the next marker; 0xFF 0x00 pairs are data.
      while (i < s.size()) {
        if (s[i] == 0xFF) {
          if (i + 1 >= s.size() || s[i + 1] != 0x00) break;
          seg.data.push_back(0xFF);
          seg.data.push_back(0x00);
          i += 2;
        } else {
          seg.data.push_back(s[i++]);
        }
      }
    }
    out.push_back(seg);
    if (seg.marker == tsl::EOI_WSQ) break;
  }
  EXPECT_EQ(i, s.size()) << "bytes after EOI";
  return out;
}

std::vector<uint16_t> Markers(const std::vector<Segment> &segs) {
  std::vector<uint16_t> m;
  for (const Segment &s : segs) m.push_back(s.marker);
  return m;
}

std::string Text(const Bytes &b) { return std::string(b.begin(), b.end()); }

// A copy of the stream without the segments of one marker (all of them).
Bytes Without(const Bytes &s, uint16_t marker) {
  Bytes out;
  const std::vector<Segment> segs = Walk(s);
  for (size_t k = 0; k < segs.size(); ++k) {
    const size_t end = k + 1 < segs.size() ? segs[k + 1].offset : s.size();
    if (segs[k].marker != marker) out.insert(out.end(), s.begin() + segs[k].offset, s.begin() + end);
  }
  return out;
}

size_t CodedBytes(const Bytes &s) {
  size_t n = 0;
  for (const Segment &seg : Walk(s))
    if (seg.marker == tsl::SOB_WSQ) n += seg.data.size();
  return n;
}

Bytes Flat(int w, int h, uint8_t v) { return Bytes(static_cast<size_t>(w) * h, v); }

// ---- Quality -------------------------------------------------------------------

// The shared ridge recipe with faint noise (+-3 instead of +-15).
Bytes FaintRidges(int width, int height) {
  Bytes img(static_cast<size_t>(width) * height);
  tsltest::Rng rng(7);
  const double cx = width * 0.5, cy = height * 0.55;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double dx = x - cx, dy = (y - cy) * 1.2;
      double r = std::sqrt(dx * dx + dy * dy);
      double period = 8.0 + 2.0 * std::sin(0.01 * (x + 2 * y));
      double v = 128 + 90 * std::sin(2 * M_PI * r / period + 0.3 * std::sin(0.05 * x)) +
                 static_cast<double>(rng.Below(7)) - 3;
      img[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
  }
  return img;
}

struct Quality {
  double psnr;
  double coded_bpp;  // entropy-coded bytes only, headers left out
};

Quality RoundTrip(const Bytes &px, int w, int h, double rate) {
  Bytes s = Encode(px, w, h, rate);
  EXPECT_FALSE(s.empty());
  Decoded d = Decode(s);
  EXPECT_EQ(d.code, 1);
  EXPECT_EQ(d.w, w);
  EXPECT_EQ(d.h, h);
  EXPECT_EQ(d.ppi, 500);
  if (d.code != 1) return {0, 0};
  return {tsltest::Psnr(px, d.px), 8.0 * CodedBytes(s) / (static_cast<double>(w) * h)};
}

// Thresholds calibrated once from measured values (in the comments), about
// 1 dB below them. WSQ never codes the first level's diagonal quarter
// (subbands 60 to 63), so the +-15 noise of the shared ridge images caps
// their PSNR near 34.7 dB at any rate; the faint-noise ridges show the
// codec's quality at 2.25.
TEST(WsqRoundTrip, RidgeImagesKeepTheirQuality) {
  struct Case {
    int w, h;
  };
  for (Case c : {Case{65, 65}, {65, 80}, {80, 71}, {77, 200}, {257, 131}, {333, 412},
                 {500, 500}}) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    Bytes px = tsltest::RidgeImage(c.w, c.h, c.w * 3 + c.h);
    double last = 0;
    for (double rate : {0.75, 1.5, 2.25}) {
      const Quality q = RoundTrip(px, c.w, c.h, rate);
      EXPECT_GT(q.psnr, last) << rate;  // rises with the rate
      last = q.psnr;
      if (rate == 0.75) {
        EXPECT_GE(q.psnr, 23.5);  // measured 24.6 (500x500) to 27.9
      }
      if (rate == 2.25) {
        EXPECT_GE(q.psnr, 28.5);  // measured 29.6 (65x65) to 32.6
      }
    }
  }
  Bytes faint = FaintRidges(500, 500);
  EXPECT_GE(RoundTrip(faint, 500, 500, 0.75).psnr, 25.2);  // measured 26.2
  EXPECT_GE(RoundTrip(faint, 500, 500, 2.25).psnr, 35.8);  // measured 36.9
}

// The requested rate steers the coded size. On these ridges the coder stays
// below it: 0.38, 0.83 and 1.68 coded bits per pixel at 0.75, 1.5 and 2.25
// for 500x500 (the bin-width model expects busier, fingerprint-like
// statistics), so the bound below the rate is 55%, above it 40%.
TEST(WsqRoundTrip, CodedBitsFollowTheRate) {
  for (int side : {256, 500}) {
    Bytes px = tsltest::RidgeImage(side, side, side);
    for (double rate : {0.75, 1.5, 2.25}) {
      const Quality q = RoundTrip(px, side, side, rate);
      EXPECT_GE(q.coded_bpp, 0.45 * rate) << side << " " << rate;
      EXPECT_LE(q.coded_bpp, 1.4 * rate) << side << " " << rate;
    }
  }
}

TEST(WsqRoundTrip, ConstantImageGivesThePredictableStream) {
  Bytes px = Flat(120, 97, 201);
  Bytes s = Encode(px, 120, 97, 0.75);
  std::vector<Segment> segs = Walk(s);
  ASSERT_EQ(Markers(segs),
            (std::vector<uint16_t>{0xFFA0, 0xFFA8, 0xFFA4, 0xFFA5, 0xFFA2, 0xFFA6, 0xFFA3,
                                   0xFFA6, 0xFFA3, 0xFFA3, 0xFFA1}));
  // All widths zero: bin centre then 64 x four zero fields.
  const Bytes &dqt = segs[3].body;
  ASSERT_EQ(dqt.size(), 387u);
  for (size_t i = 3; i < dqt.size(); ++i) ASSERT_EQ(dqt[i], 0) << i;
  for (int k : {5, 7}) {
    ASSERT_EQ(segs[k].body.size(), 17u);  // id and 16 zero counts, no values
    for (size_t i = 1; i < 17; ++i) EXPECT_EQ(segs[k].body[i], 0);
  }
  for (int k : {6, 8, 9}) EXPECT_TRUE(segs[k].data.empty());
  Decoded d = Decode(s);
  ASSERT_EQ(d.code, 1);
  EXPECT_EQ(d.px, px);
}

// ---- Layout --------------------------------------------------------------------

TEST(WsqLayout, SegmentsLengthsAndNistcomText) {
  Bytes px = tsltest::RidgeImage(500, 400);
  Bytes s = Encode(px, 500, 400, 0.75, 500);
  ASSERT_GE(s.size(), 4u);
  EXPECT_EQ(s[0], 0xFF);
  EXPECT_EQ(s[1], 0xA0);
  EXPECT_EQ(s[2], 0xFF);
  EXPECT_EQ(s[3], 0xA8);
  std::vector<Segment> segs = Walk(s);
  ASSERT_EQ(Markers(segs),
            (std::vector<uint16_t>{0xFFA0, 0xFFA8, 0xFFA4, 0xFFA5, 0xFFA2, 0xFFA6, 0xFFA3,
                                   0xFFA6, 0xFFA3, 0xFFA3, 0xFFA1}));
  EXPECT_EQ(segs[2].body.size(), 56u);   // DTT length 58
  EXPECT_EQ(segs[3].body.size(), 387u);  // DQT length 389
  EXPECT_EQ(segs[4].body.size(), 15u);   // SOF length 17
  EXPECT_EQ(Text(segs[1].body),
            "NIST_COM 9\nPIX_WIDTH 500\nPIX_HEIGHT 400\nPIX_DEPTH 8\nPPI 500\nLOSSY 1\n"
            "COLORSPACE GRAY\nCOMPRESSION WSQ\nWSQ_BITRATE 0.750000");
  // Frame header: black 0, white 255, height, width, encoder 2.
  const Bytes &sof = segs[4].body;
  EXPECT_EQ(sof[0], 0);
  EXPECT_EQ(sof[1], 255);
  EXPECT_EQ(U16(&sof[2]), 400u);
  EXPECT_EQ(U16(&sof[4]), 500u);
  EXPECT_EQ(sof[12], 2);
  EXPECT_EQ(U16(&sof[13]), tsl::kSoftwareImplementationNumber);
  // Block headers name tables 0, 1, 1; DHT ids 0 and 1.
  EXPECT_EQ(segs[5].body[0], 0);
  EXPECT_EQ(segs[6].body[0], 0);
  EXPECT_EQ(segs[7].body[0], 1);
  EXPECT_EQ(segs[8].body[0], 1);
  EXPECT_EQ(segs[9].body[0], 1);
}

// The transform table carries the standard analysis filters: 9 low-pass and
// 7 high-pass taps, each half from the centre out as sign, scale, magnitude.
TEST(WsqLayout, TransformTableHoldsThe97AnalysisFilters) {
  Bytes s = Encode(tsltest::RidgeImage(100, 100), 100, 100, 0.75);
  std::vector<Segment> segs = Walk(s);
  const Bytes &dtt = segs[2].body;
  ASSERT_EQ(dtt[0], 9);
  ASSERT_EQ(dtt[1], 7);
  auto tap = [&](int entry) {
    const uint8_t *p = &dtt[2 + 6 * entry];
    double v = (static_cast<uint32_t>(p[2]) << 24 | p[3] << 16 | p[4] << 8 | p[5]) /
               std::pow(10.0, p[1]);
    return p[0] ? -v : v;
  };
  // The taps as published; the stream holds their single-precision values
  // to about seven digits.
  const double lo[5] = {0.8526986837, 0.3774028420, -0.1106244028, -0.0238494650, 0.0378284566};
  const double hi[4] = {0.7884855866, -0.4180922806, -0.0406894162, 0.0645388812};
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(tap(i), lo[i], 2e-7) << i;
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(tap(5 + i), hi[i], 2e-7) << i;
}

TEST(WsqLayout, CommentRules) {
  Bytes px = tsltest::RidgeImage(90, 90);
  auto coms = [&](const char *comment) {
    std::vector<Bytes> out;
    for (const Segment &seg : Walk(Encode(px, 90, 90, 0.75, 333, comment)))
      if (seg.marker == tsl::COM_WSQ) out.push_back(seg.body);
    return out;
  };
  EXPECT_EQ(coms(nullptr).size(), 1u);
  std::vector<Bytes> other = coms("scanned at desk 4");
  ASSERT_EQ(other.size(), 2u);
  EXPECT_EQ(Text(other[1]), "scanned at desk 4");
  std::vector<Bytes> empty = coms("");
  ASSERT_EQ(empty.size(), 2u);
  EXPECT_TRUE(empty[1].empty());
  std::vector<Bytes> merged = coms("NIST_COM 2\nPPI 300");
  ASSERT_EQ(merged.size(), 1u);
  EXPECT_EQ(Text(merged[0]),
            "NIST_COM 9\nPPI 333\nPIX_WIDTH 90\nPIX_HEIGHT 90\nPIX_DEPTH 8\nLOSSY 1\n"
            "COLORSPACE GRAY\nCOMPRESSION WSQ\nWSQ_BITRATE 0.750000");

  // The decoder hands back the last comment before the first block.
  Decoded d = Decode(Encode(px, 90, 90, 0.75, 333, "scanned at desk 4"));
  EXPECT_EQ(d.comment, "scanned at desk 4");
  EXPECT_EQ(d.ppi, 333);
  d = Decode(Encode(px, 90, 90, 0.75, 333, nullptr));
  EXPECT_EQ(d.comment.substr(0, 11), "NIST_COM 9\n");
}

TEST(WsqLayout, DecodeCommentPointerOwnership) {
  Bytes px = tsltest::RidgeImage(90, 90);
  Bytes two = Encode(px, 90, 90, 0.75, 500, "second");
  unsigned char *out = nullptr;
  int w, h, ppi;
  char *comment = strdup("the caller's old buffer");  // released by the call
  ASSERT_EQ(WSQ_decode_stream(two.data(), static_cast<int>(two.size()), &out, &w, &h, &ppi,
                              &comment),
            1);
  EXPECT_STREQ(comment, "second");
  free(comment);
  free(out);
  // Without comment segments the pointer keeps what was passed.
  Bytes none = Without(two, tsl::COM_WSQ);
  char keep[] = "mine";
  comment = keep;
  ASSERT_EQ(WSQ_decode_stream(none.data(), static_cast<int>(none.size()), &out, &w, &h, &ppi,
                              &comment),
            1);
  EXPECT_EQ(comment, keep);
  EXPECT_EQ(ppi, -1);
  free(out);
}

// ---- Byte stability --------------------------------------------------------------

// SHA-256 of this encoder's output for three fixed inputs, taken once from
// the finished encoder (they also depend on the C library's log and pow): a
// change means the bytes drifted, which files and peers would notice.
TEST(WsqStability, GoldenDigests) {
  EXPECT_EQ(tsltest::Sha256Hex(Encode(tsltest::RidgeImage(500, 400), 500, 400, 0.75)),
            "76bf984541c105bca227fa1d7a368f872820ecc89445bcf0f6519b5da48ec38d");
  EXPECT_EQ(tsltest::Sha256Hex(Encode(tsltest::RidgeImage(333, 257, 9), 333, 257, 2.25, 1000,
                                      "golden")),
            "50d2027e417f9eff6a0a186ce5abac411cb4ece9dba5e486233eb2a4fbfe2e3e");
  EXPECT_EQ(tsltest::Sha256Hex(Encode(tsltest::RidgeImage(65, 80, 3), 65, 80, 1.5)),
            "aad126f68d1a88addb16738322ef476f3dc0914a43292390426540a533b895d3");
}

TEST(WsqStability, SameBytesAfterOtherWorkAndAcrossProcesses) {
  Bytes px = tsltest::RidgeImage(211, 173, 5);
  const Bytes first = Encode(px, 211, 173, 0.75, 500, "x");
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(Encode(px, 211, 173, 0.75, 500, "x"), first);

  // After decoding a different stream and a header-only read.
  Bytes other = Encode(tsltest::RidgeImage(300, 90, 8), 300, 90, 2.0);
  ASSERT_EQ(Decode(other).code, 1);
  EXPECT_EQ(Encode(px, 211, 173, 0.75, 500, "x"), first);
  int w, h, ppi;
  char *comment = nullptr;
  ASSERT_EQ(Fast_WSQ_decode_stream(other.data(), static_cast<int>(other.size()), &w, &h, &ppi,
                                   &comment),
            1);
  free(comment);
  EXPECT_EQ(Encode(px, 211, 173, 0.75, 500, "x"), first);

  // Under a locale with a decimal comma and another rounding mode.
  const char *loc = setlocale(LC_ALL, "de_DE.UTF-8");
  const int old_round = fegetround();
  fesetround(FE_UPWARD);
  const Bytes in_other_env = Encode(px, 211, 173, 0.75, 500, "x");
  fesetround(old_round);
  setlocale(LC_ALL, "C");
  EXPECT_EQ(in_other_env, first) << (loc ? "de_DE" : "no de_DE locale");

  // In a fresh process.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(fds[0]);
    Bytes again = Encode(px, 211, 173, 0.75, 500, "x");
    std::string hex = tsltest::Sha256Hex(again);
    ssize_t n = write(fds[1], hex.data(), hex.size());
    _exit(n == static_cast<ssize_t>(hex.size()) ? 0 : 1);
  }
  close(fds[1]);
  char buf[65] = {};
  ssize_t got = 0;
  while (got < 64) {
    ssize_t n = read(fds[0], buf + got, 64 - got);
    if (n <= 0) break;
    got += n;
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(std::string(buf), tsltest::Sha256Hex(first));
}

TEST(WsqStability, DepthArgumentHasNoEffect) {
  Bytes px = tsltest::RidgeImage(100, 120);
  std::vector<Bytes> streams;
  for (int d : {1, 8, 16}) {
    uint8_t *out = nullptr;
    int len = 0;
    ASSERT_EQ(tsl::wsq_encode_mem(&out, &len, 0.75f, px.data(), 100, 120, d, 500, nullptr), 0);
    streams.emplace_back(out, out + len);
    free(out);
  }
  EXPECT_EQ(streams[0], streams[1]);
  EXPECT_EQ(streams[1], streams[2]);
}

// ---- Encoder refusals ---------------------------------------------------------------

TEST(WsqEncoder, RefusesSizesAndRatesItCannotCode) {
  Bytes px(70000, 100);
  unsigned char *out = reinterpret_cast<unsigned char *>(8);
  int len = -7;
  EXPECT_EQ(WSQ_encode_stream(px.data(), 64, 200, 0.75, 500, nullptr, &out, &len), -14);
  EXPECT_EQ(WSQ_encode_stream(px.data(), 200, 64, 0.75, 500, nullptr, &out, &len), -14);
  EXPECT_EQ(WSQ_encode_stream(px.data(), 0, 0, 0.75, 500, nullptr, &out, &len), -14);
  EXPECT_EQ(WSQ_encode_stream(px.data(), 65536, 65, 0.75, 500, nullptr, &out, &len), -15);
  EXPECT_EQ(WSQ_encode_stream(px.data(), 100, 100, NAN, 500, nullptr, &out, &len), -16);
  EXPECT_EQ(WSQ_encode_stream(px.data(), 100, 100, 1e300, 500, nullptr, &out, &len), -16);
  EXPECT_EQ(WSQ_encode_stream(nullptr, 100, 100, 0.75, 500, nullptr, &out, &len), -17);
  EXPECT_EQ(out, reinterpret_cast<unsigned char *>(8));
  EXPECT_EQ(len, -7);
}

TEST(WsqEncoder, StreamLargerThanThePixelCountFails) {
  // Noise at a high rate needs more bytes than 65 x 65 pixels.
  tsltest::Rng rng(4);
  Bytes px(65 * 65);
  for (uint8_t &v : px) v = static_cast<uint8_t>(rng.Below(256));
  int code = 0;
  Bytes s = Encode(px, 65, 65, 8.0, 500, nullptr, &code);
  EXPECT_TRUE(code == -32 || code == -33) << code;
}

// ---- Decoder state and hostile input -----------------------------------------------

TEST(WsqDecoder, EmptyBufferAndImplementationNumber) {
  Bytes empty;
  Decoded d = Decode(empty);
  EXPECT_EQ(d.code, -40);
  EXPECT_EQ(ReadWSQ_implementation_number(), 0);
  Bytes s = Encode(tsltest::RidgeImage(100, 100), 100, 100, 0.75);
  ASSERT_EQ(Decode(s).code, 1);
  EXPECT_EQ(ReadWSQ_implementation_number(), tsl::kSoftwareImplementationNumber);
  ASSERT_LT(Decode(Bytes(s.begin(), s.begin() + 40)).code, 0);
  EXPECT_EQ(ReadWSQ_implementation_number(), 0);
}

TEST(WsqDecoder, EveryStreamMustCarryItsOwnTables) {
  Bytes s = Encode(tsltest::RidgeImage(120, 110), 120, 110, 0.75);
  ASSERT_EQ(Decode(s).code, 1);
  // Right after a good decode, a stream without a quantization table is
  // refused rather than dequantized with the previous one.
  EXPECT_EQ(Decode(Without(s, tsl::DQT_WSQ)).code, -92);
  ASSERT_EQ(Decode(s).code, 1);
  EXPECT_EQ(Decode(Without(s, tsl::DTT_WSQ)).code, -95);
  EXPECT_EQ(Decode(Without(s, tsl::DHT_WSQ)).code, -51);
}

TEST(WsqDecoder, NistcomWithoutPpiFails) {
  Bytes px = tsltest::RidgeImage(90, 90);
  Bytes s = Encode(px, 90, 90, 0.75, 500, "NIST_COM 1");
  // Replace the "PPI 500" line's name: the entry is then missing.
  std::string t(s.begin(), s.end());
  size_t at = t.find("\nPPI 500");
  ASSERT_NE(at, std::string::npos);
  s[at + 1] = 'Q';
  EXPECT_EQ(Decode(s).code, -2);
}

TEST(WsqDecoder, RefusesFrameSizesItCannotHold) {
  Bytes s = Encode(tsltest::RidgeImage(100, 100), 100, 100, 0.75);
  const size_t sof = Walk(s)[4].offset;
  auto with_size = [&](unsigned w, unsigned h) {
    Bytes t = s;
    t[sof + 6] = static_cast<uint8_t>(h >> 8);
    t[sof + 7] = static_cast<uint8_t>(h);
    t[sof + 8] = static_cast<uint8_t>(w >> 8);
    t[sof + 9] = static_cast<uint8_t>(w);
    return Decode(t).code;
  };
  EXPECT_EQ(with_size(0, 100), -22);
  EXPECT_EQ(with_size(100, 0), -22);
  EXPECT_EQ(with_size(65535, 65535), -22);
  // Too small for the 9/7 synthesis walks: refused, whatever the data.
  EXPECT_LT(with_size(30, 30), 0);
  // Larger than the data: missing coefficients are zero, the image decodes.
  EXPECT_EQ(with_size(300, 200), 1);
}

TEST(WsqDecoder, EndOfImageBeforeTheLastBlocks) {
  Bytes px = tsltest::RidgeImage(150, 150);
  Bytes s = Encode(px, 150, 150, 0.75);
  std::vector<Segment> segs = Walk(s);
  // Cut right before the second DHT and close with EOI.
  Bytes t(s.begin(), s.begin() + segs[7].offset);
  t.push_back(0xFF);
  t.push_back(0xA1);
  Decoded d = Decode(t);
  ASSERT_EQ(d.code, 1);
  EXPECT_GT(tsltest::Psnr(px, d.px), 10.0);
}

// Hostile streams: every truncation, single-byte changes, markers inside the
// coded data. Any result is fine but a crash (the sanitizer build watches
// every read).
TEST(WsqDecoder, TruncationsAndCorruptionsNeverCrash) {
  Bytes px = tsltest::RidgeImage(81, 70, 2);
  Bytes s = Encode(px, 81, 70, 1.0, 500, "c");
  ASSERT_FALSE(s.empty());
  for (size_t n = 0; n < s.size(); ++n) {
    Bytes t(s.begin(), s.begin() + n);
    Decoded d = Decode(t);
    ASSERT_TRUE(d.code == 1 || d.code < 0) << n;
  }
  tsltest::Rng rng(11);
  for (size_t i = 0; i < s.size(); ++i) {
    Bytes t = s;
    t[i] ^= static_cast<uint8_t>(1 + rng.Below(255));
    Decoded d = Decode(t);
    ASSERT_TRUE(d.code == 1 || d.code < 0) << i;
    if (d.code == 1) {
      ASSERT_EQ(d.px.size(), static_cast<size_t>(d.w) * d.h);
    }
  }
  // Markers dropped into the entropy-coded data of each block.
  for (const Segment &seg : Walk(s)) {
    if (seg.marker != tsl::SOB_WSQ || seg.data.size() < 4) continue;
    for (uint16_t m : {0xFFA0, 0xFFA3, 0xFFA5, 0xFFA8, 0xFFC0}) {
      Bytes t = s;
      const size_t at = seg.offset + 5 + seg.data.size() / 2;
      t[at] = static_cast<uint8_t>(m >> 8);
      t[at + 1] = static_cast<uint8_t>(m);
      Decoded d = Decode(t);
      ASSERT_TRUE(d.code == 1 || d.code < 0);
    }
  }
}

}  // namespace
