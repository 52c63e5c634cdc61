// WSQ byte cursor, output buffer, marker classes, table/frame/block segments
// and the header-only reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tessaly.h"
#include "wsq/stream_io.h"
#include "wsq/tables.h"

using namespace tsl;
using tsltest::Bytes;

namespace {

// The 9/7 analysis filters a WSQ encoder stores in its transform table.
const float kLo[9] = {0.037828455506995f,  -0.023849465019380f, -0.110624404418423f,
                      0.377402855612654f,  0.852698679009404f,  0.377402855612654f,
                      -0.110624404418423f, -0.023849465019380f, 0.037828455506995f};
const float kHi[7] = {0.064538882628938f,  -0.040689417609558f, -0.418092273222212f,
                      0.788485616405664f,  -0.418092273222212f, -0.040689417609558f,
                      0.064538882628938f};

// An output buffer with its length, as the writers take it.
struct Out {
  explicit Out(int cap) : buf(static_cast<size_t>(cap)), alloc(cap) {}
  Bytes buf;
  int alloc;
  int len = 0;
  Bytes bytes() const { return Bytes(buf.begin(), buf.begin() + len); }
};

// Reads from an exact-size heap copy so the sanitizer catches any read past
// the end.
struct In {
  explicit In(const Bytes &b) : data(b.empty() ? 1 : b.size()), size(b.size()) {
    std::copy(b.begin(), b.end(), data.begin());
    cur = data.data();
    end = data.data() + size;
  }
  std::vector<uint8_t> data;
  size_t size;
  const uint8_t *cur;
  const uint8_t *end;
  size_t consumed() const { return static_cast<size_t>(cur - data.data()); }
};

QuantVals SampleQuantVals() {
  QuantVals q{};
  for (int i = 0; i < NUM_SUBBANDS; ++i) {
    q.q_widths[i] = 1.5f + 0.25f * i;
    q.z_widths[i] = 1.2f * q.q_widths[i];
  }
  return q;
}

// SOI, comments, DTT, DQT, DHT, SOF, SOB and a few bytes of block data.
Bytes HeaderStream(int width, int height, const std::vector<std::string> &comments) {
  Out o(4096);
  EXPECT_EQ(putc_ushort(SOI_WSQ, o.buf.data(), o.alloc, &o.len), 0);
  for (const auto &c : comments)
    EXPECT_EQ(putc_comment(COM_WSQ, reinterpret_cast<const uint8_t *>(c.data()),
                           static_cast<int>(c.size()), o.buf.data(), o.alloc, &o.len),
              0);
  EXPECT_EQ(putc_transform_table(kLo, 9, kHi, 7, o.buf.data(), o.alloc, &o.len), 0);
  QuantVals q = SampleQuantVals();
  EXPECT_EQ(putc_quantization_table(&q, o.buf.data(), o.alloc, &o.len), 0);
  EXPECT_EQ(putc_frame_header_wsq(width, height, 127.5f, 1.25f, o.buf.data(), o.alloc, &o.len),
            0);
  uint8_t bits[16] = {0, 2, 1};
  uint8_t vals[3] = {7, 9, 100};
  EXPECT_EQ(putc_huffman_table(DHT_WSQ, 0, bits, vals, o.buf.data(), o.alloc, &o.len), 0);
  EXPECT_EQ(putc_block_header(0, o.buf.data(), o.alloc, &o.len), 0);
  for (uint8_t b : {0x12, 0x34, 0x56}) EXPECT_EQ(putc_byte(b, o.buf.data(), o.alloc, &o.len), 0);
  EXPECT_EQ(putc_ushort(EOI_WSQ, o.buf.data(), o.alloc, &o.len), 0);
  return o.bytes();
}

TEST(WsqCursor, ReadsStopAtTheEndWithoutMoving) {
  In in(Bytes{0xAB});
  uint16_t s = 0x1111;
  uint32_t u = 0x2222;
  EXPECT_EQ(getc_ushort(&s, &in.cur, in.end), -40);
  EXPECT_EQ(getc_uint(&u, &in.cur, in.end), -40);
  EXPECT_EQ(in.consumed(), 0u);
  EXPECT_EQ(s, 0x1111);
  uint8_t b;
  EXPECT_EQ(getc_byte(&b, &in.cur, in.end), 0);
  EXPECT_EQ(b, 0xAB);
  EXPECT_EQ(getc_byte(&b, &in.cur, in.end), -39);
  EXPECT_EQ(getc_ushort(&s, &in.cur, in.end), -40);
  uint8_t dst[4];
  uint8_t *p = dst;
  EXPECT_EQ(getc_bytes(&p, 0, &in.cur, in.end), 0) << "a count of 0 always succeeds";
  EXPECT_EQ(getc_bytes(&p, -1, &in.cur, in.end), -40) << "negative counts are refused";
  EXPECT_EQ(getc_bytes(&p, std::numeric_limits<int>::max(), &in.cur, in.end), -40);

  In be(Bytes{0x12, 0x34, 0xDE, 0xAD, 0xBE, 0xEF});
  ASSERT_EQ(getc_ushort(&s, &be.cur, be.end), 0);
  ASSERT_EQ(getc_uint(&u, &be.cur, be.end), 0);
  EXPECT_EQ(s, 0x1234);
  EXPECT_EQ(u, 0xDEADBEEFu);
}

struct MarkerCase {
  uint8_t hi, lo;
  int type;
  int code;
};

TEST(WsqCursor, MarkerClasses) {
  const MarkerCase cases[] = {
      {0xFF, 0xA0, SOI_WSQ, 0},     {0xFF, 0xA1, SOI_WSQ, -88},   {0xFF, 0xA3, TBLS_N_SOF, -89},
      {0xFF, 0xA2, TBLS_N_SOF, 0},  {0xFF, 0xA8, TBLS_N_SOF, 0},  {0xFF, 0xA3, TBLS_N_SOB, 0},
      {0xFF, 0xA2, TBLS_N_SOB, -90}, {0x12, 0x34, ANY_WSQ, -91},  {0xFF, 0xC0, ANY_WSQ, -92},
      {0xFF, 0xA7, ANY_WSQ, 0},     {0xFF, 0xA8, ANY_WSQ, 0},     {0xFF, 0xA9, ANY_WSQ, -92},
      {0xFF, 0xA0, 3, -93},
  };
  for (const auto &c : cases) {
    In in(Bytes{c.hi, c.lo, 0x00});
    uint16_t marker = 0x5555;
    EXPECT_EQ(getc_marker_wsq(&marker, c.type, &in.cur, in.end), c.code)
        << std::hex << int(c.hi) << int(c.lo) << " class " << c.type;
    EXPECT_EQ(in.consumed(), 2u) << "the marker is consumed whatever the class says";
    EXPECT_EQ(marker, c.code ? 0x5555 : ((c.hi << 8) | c.lo));
  }
}

TEST(WsqOutput, WritesFitOrWriteNothing) {
  Out o(10);
  o.len = 9;
  EXPECT_EQ(putc_ushort(0xABCD, o.buf.data(), o.alloc, &o.len), -33);
  EXPECT_EQ(o.len, 9);
  EXPECT_EQ(putc_byte(1, o.buf.data(), o.alloc, &o.len), 0);
  EXPECT_EQ(putc_byte(2, o.buf.data(), o.alloc, &o.len), -32);
  EXPECT_EQ(o.len, 10);
  o.len = 2;
  uint8_t src[4] = {};
  EXPECT_EQ(putc_bytes(src, -1, o.buf.data(), o.alloc, &o.len), -33);
  EXPECT_EQ(putc_bytes(src, std::numeric_limits<int>::max(), o.buf.data(), o.alloc, &o.len), -33);
  EXPECT_EQ(o.len, 2);
  EXPECT_EQ(putc_uint(0x01020304, o.buf.data(), o.alloc, &o.len), 0);
  EXPECT_EQ(Bytes(o.buf.begin() + 2, o.buf.begin() + 6), (Bytes{1, 2, 3, 4}));
}

TEST(WsqComment, WriteAndReadBack) {
  Out o(32);
  ASSERT_EQ(putc_comment(COM_WSQ, reinterpret_cast<const uint8_t *>("abc"), 3, o.buf.data(),
                         o.alloc, &o.len),
            0);
  EXPECT_EQ(o.bytes(), (Bytes{0xFF, 0xA8, 0x00, 0x05, 0x61, 0x62, 0x63}));

  In in(Bytes(o.buf.begin() + 2, o.buf.begin() + o.len));
  char *text = nullptr;
  ASSERT_EQ(getc_comment(&text, &in.cur, in.end), 0);
  EXPECT_STREQ(text, "abc");
  std::free(text);

  In empty(Bytes{0x00, 0x02});
  ASSERT_EQ(getc_comment(&text, &empty.cur, empty.end), 0);
  EXPECT_STREQ(text, "");
  std::free(text);

  text = nullptr;
  In bad(Bytes{0x00, 0x01, 0x41});
  EXPECT_EQ(getc_comment(&text, &bad.cur, bad.end), -42) << "length below 2 is malformed";
  EXPECT_EQ(text, nullptr);
  In short_text(Bytes{0x00, 0x06, 0x41});
  EXPECT_EQ(getc_comment(&text, &short_text.cur, short_text.end), -40);
  EXPECT_EQ(text, nullptr);

  // The 16-bit length holds at most 65533 bytes of text.
  std::string big(kMaxCommentText + 1, 'x');
  Out b(70000);
  EXPECT_EQ(putc_comment(COM_WSQ, reinterpret_cast<const uint8_t *>(big.data()),
                         static_cast<int>(big.size()), b.buf.data(), b.alloc, &b.len),
            -34);
  EXPECT_EQ(b.len, 0);
  EXPECT_EQ(putc_comment(COM_WSQ, reinterpret_cast<const uint8_t *>(big.data()),
                         kMaxCommentText, b.buf.data(), b.alloc, &b.len),
            0);
}

TEST(WsqComment, SkipNeedsAByteAfterTheSegment) {
  In exact(Bytes{0x00, 0x04, 0xAA, 0xBB});
  EXPECT_EQ(getc_skip_marker_segment(DTT_WSQ, &exact.cur, exact.end), -2);
  In more(Bytes{0x00, 0x04, 0xAA, 0xBB, 0xFF});
  EXPECT_EQ(getc_skip_marker_segment(DTT_WSQ, &more.cur, more.end), 0);
  EXPECT_EQ(more.consumed(), 4u);
  In tiny(Bytes{0x00, 0x01, 0xAA, 0xBB, 0xFF});
  EXPECT_EQ(getc_skip_marker_segment(DTT_WSQ, &tiny.cur, tiny.end), -2);
}

TEST(WsqTables, TransformTableRefusals) {
  float lo[9];
  std::memcpy(lo, kLo, sizeof lo);
  lo[5] = std::numeric_limits<float>::quiet_NaN();
  Out o(128);
  EXPECT_EQ(putc_transform_table(lo, 9, kHi, 7, o.buf.data(), o.alloc, &o.len), -82);
  lo[5] = 5e9f;
  o.len = 0;
  EXPECT_EQ(putc_transform_table(lo, 9, kHi, 7, o.buf.data(), o.alloc, &o.len), -82);
  float hi[7];
  std::memcpy(hi, kHi, sizeof hi);
  hi[6] = INFINITY;
  o.len = 0;
  EXPECT_EQ(putc_transform_table(kLo, 9, hi, 7, o.buf.data(), o.alloc, &o.len), -83);

  DttTable dtt{};
  In zero(Bytes{0x00, 0x3A, 0x00, 0x07, 0xFF});
  EXPECT_EQ(getc_transform_table(&dtt, &zero.cur, zero.end), -98);
  EXPECT_EQ(dtt.lofilt, nullptr);
  In cut(Bytes{0x00, 0x3A, 0x09, 0x07, 0x00, 0x02});
  EXPECT_EQ(getc_transform_table(&dtt, &cut.cur, cut.end), -40);
  EXPECT_EQ(dtt.lofilt, nullptr) << "a failed read leaves nothing to release";
  EXPECT_EQ(dtt.hifilt, nullptr);
}

TEST(WsqTables, QuantizationTable) {
  QuantVals q = SampleQuantVals();
  q.q_widths[0] = 1.5f;
  q.z_widths[0] = 1.8f;
  q.q_widths[5] = 0;
  q.q_widths[60] = 9;  // never written
  Out o(512);
  ASSERT_EQ(putc_quantization_table(&q, o.buf.data(), o.alloc, &o.len), 0);
  ASSERT_EQ(o.len, 391);
  const uint8_t *p = o.buf.data();
  EXPECT_EQ(Bytes(p + 4, p + 7), (Bytes{2, 0, 44})) << "bin centre 0.44";
  EXPECT_EQ(Bytes(p + 7, p + 10), (Bytes{4, 0x3A, 0x98})) << "1.5 is scale 4, value 15000";
  EXPECT_EQ(Bytes(p + 7 + 6 * 5, p + 7 + 6 * 6), Bytes(6, 0));
  for (int k = 60; k < 64; ++k) EXPECT_EQ(Bytes(p + 7 + 6 * k, p + 13 + 6 * k), Bytes(6, 0));

  In in(Bytes(o.buf.begin() + 2, o.buf.begin() + o.len));
  DqtTable dqt{};
  ASSERT_EQ(getc_quantization_table(&dqt, &in.cur, in.end), 0);
  EXPECT_EQ(dqt.qtable_defined, 1);
  EXPECT_FLOAT_EQ(dqt.bin_centre, 0.44f);
  EXPECT_EQ(dqt.q_widths[0], 1.5f);
  EXPECT_FLOAT_EQ(dqt.z_widths[0], 1.8f);
  EXPECT_EQ(dqt.q_widths[5], 0.0f);
  for (int k = 1; k < 60; ++k)
    if (k != 5) { EXPECT_NEAR(dqt.q_widths[k], q.q_widths[k], q.q_widths[k] * 1e-4) << k; }
}

TEST(WsqTables, QuantizationWidthsOutOfRange) {
  struct {
    float q, z;
    int code;
  } cases[] = {{65535.0f, 1, -86}, {-1.0f, 1, -86}, {NAN, 1, -86},
               {1.0f, 70000.0f, -87}, {1.0f, -2.0f, -87}, {1.0f, INFINITY, -87}};
  for (const auto &c : cases) {
    QuantVals q = SampleQuantVals();
    q.q_widths[7] = c.q;
    q.z_widths[7] = c.z;
    Out o(512);
    EXPECT_EQ(putc_quantization_table(&q, o.buf.data(), o.alloc, &o.len), c.code) << c.q << c.z;
    EXPECT_EQ(o.len, 2 + 2 + 3 + 6 * 7) << "nothing of the refused subband is written";
  }
}

// A DHT segment (after its marker) of tables given as an id and a number of
// codes (of lengths 8 and 9), followed by one spare byte.
Bytes DhtSegment(std::vector<std::pair<uint8_t, int>> tables) {
  Bytes seg(2);
  for (auto [id, n] : tables) {
    seg.push_back(id);
    for (int i = 0; i < 16; ++i)
      seg.push_back(static_cast<uint8_t>(i == 7 ? std::min(n, 255) : i == 8 ? n - std::min(n, 255) : 0));
    for (int v = 0; v < n; ++v) seg.push_back(static_cast<uint8_t>(v));
  }
  seg[0] = static_cast<uint8_t>(seg.size() >> 8);
  seg[1] = static_cast<uint8_t>(seg.size());
  seg.push_back(0xFF);
  return seg;
}

TEST(WsqTables, HuffmanSegments) {
  DhtTable dht[MAX_DHT_TABLES] = {};
  In two(DhtSegment({{0, 3}, {1, 5}}));
  ASSERT_EQ(getc_huffman_table_wsq(dht, &two.cur, two.end), 0);
  EXPECT_TRUE(dht[0].table_defined && dht[1].table_defined);
  EXPECT_EQ(dht[1].huffbits[7], 5);
  EXPECT_EQ(dht[1].huffvalues[4], 4);

  DhtTable fresh[MAX_DHT_TABLES] = {};
  In repeat(DhtSegment({{2, 3}, {2, 4}}));
  EXPECT_EQ(getc_huffman_table_wsq(fresh, &repeat.cur, repeat.end), -2);
  EXPECT_EQ(fresh[2].huffbits[7], 3) << "the first table stays";

  // A table's counts may sum to at most 257.
  In most(DhtSegment({{3, 257}}));
  ASSERT_EQ(getc_huffman_table_wsq(fresh, &most.cur, most.end), 0);
  EXPECT_EQ(fresh[3].huffvalues[255], 255);
  EXPECT_EQ(fresh[3].huffvalues[256], 0);
  In over(DhtSegment({{0, 258}}));
  EXPECT_EQ(getc_huffman_table_wsq(fresh, &over.cur, over.end), -4);

  In bad_id(DhtSegment({{8, 3}}));
  EXPECT_EQ(getc_huffman_table_wsq(fresh, &bad_id.cur, bad_id.end), -99);
  In short_len(Bytes{0x00, 0x02, 0x00});
  EXPECT_EQ(getc_huffman_table_wsq(fresh, &short_len.cur, short_len.end), -2);
}

TEST(WsqTables, FrameAndBlockHeaders) {
  Out o(64);
  ASSERT_EQ(putc_frame_header_wsq(384, 512, 117.25f, 1.5f, o.buf.data(), o.alloc, &o.len), 0);
  ASSERT_EQ(o.len, 19);
  EXPECT_EQ(Bytes(o.buf.begin() + 6, o.buf.begin() + 10), (Bytes{0x02, 0x00, 0x01, 0x80}))
      << "height before width";
  In in(Bytes(o.buf.begin() + 2, o.buf.begin() + o.len));
  FrameHeaderWsq f{};
  ASSERT_EQ(getc_frame_header_wsq(&f, &in.cur, in.end), 0);
  EXPECT_EQ(f.height, 512);
  EXPECT_EQ(f.width, 384);
  EXPECT_EQ(f.white, 255);
  EXPECT_EQ(f.wsq_encoder, 2);
  EXPECT_EQ(f.software, kSoftwareImplementationNumber);
  EXPECT_FLOAT_EQ(f.m_shift, 117.25f);
  EXPECT_FLOAT_EQ(f.r_scale, 1.5f);

  o.len = 0;
  EXPECT_EQ(putc_frame_header_wsq(10, 10, 70000.0f, 1.0f, o.buf.data(), o.alloc, &o.len), -84);
  EXPECT_EQ(putc_frame_header_wsq(10, 10, 1.0f, INFINITY, o.buf.data(), o.alloc, &o.len), -85);
  // Negative values cannot be stored either: never written as 0.
  EXPECT_EQ(putc_frame_header_wsq(10, 10, -0.5f, 1.0f, o.buf.data(), o.alloc, &o.len), -84);
  EXPECT_EQ(putc_frame_header_wsq(10, 10, 1.0f, -INFINITY, o.buf.data(), o.alloc, &o.len), -85);
  EXPECT_EQ(o.len, 0);

  uint8_t id = 0;
  In good(Bytes{0x00, 0x03, 0x07});
  EXPECT_EQ(getc_block_header(&id, &good.cur, good.end), 0);
  EXPECT_EQ(id, 7);
  In bad(Bytes{0x00, 0x03, 0x08});
  EXPECT_EQ(getc_block_header(&id, &bad.cur, bad.end), -99);

  DttTable dtt{};
  DqtTable dqt{};
  DhtTable dht[MAX_DHT_TABLES] = {};
  In drt(Bytes{0x00, 0x02, 0xFF});
  EXPECT_EQ(getc_table_wsq(DRT_WSQ, &dtt, &dqt, dht, &drt.cur, drt.end), -93);
  In com(Bytes{0x00, 0x04, 'h', 'i', 0xFF});
  EXPECT_EQ(getc_table_wsq(COM_WSQ, &dtt, &dqt, dht, &com.cur, com.end), 0);
  EXPECT_EQ(com.consumed(), 4u);
}

// Walks a header sequence the way a decoder does; used on every prefix of a
// valid stream to prove that truncation gives a code and nothing more.
int WalkHeaders(const Bytes &stream) {
  In in(stream);
  DttTable dtt{};
  DqtTable dqt{};
  DhtTable dht[MAX_DHT_TABLES] = {};
  FrameHeaderWsq f{};
  uint16_t marker;
  int ret = getc_marker_wsq(&marker, SOI_WSQ, &in.cur, in.end);
  if (ret) return ret;
  for (;;) {
    if ((ret = getc_marker_wsq(&marker, TBLS_N_SOF, &in.cur, in.end))) break;
    if (marker == SOF_WSQ) {
      ret = getc_frame_header_wsq(&f, &in.cur, in.end);
      break;
    }
    if ((ret = getc_table_wsq(marker, &dtt, &dqt, dht, &in.cur, in.end))) break;
  }
  std::free(dtt.lofilt);
  std::free(dtt.hifilt);
  return ret;
}

TEST(WsqTables, EveryTruncationFailsCleanly) {
  Bytes full = HeaderStream(300, 200, {"first", "second"});
  EXPECT_EQ(WalkHeaders(full), 0);
  size_t sof_end = 0;
  for (size_t i = 0; i + 1 < full.size(); ++i)
    if (full[i] == 0xFF && full[i + 1] == 0xA2) sof_end = i + 19;
  ASSERT_GT(sof_end, 0u);
  for (size_t n = 0; n < sof_end; ++n) {
    Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_LT(WalkHeaders(cut), 0) << n;
  }
}

class FastHeaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(dht_table, 0, sizeof dht_table);
    dqt_table = DqtTable{};
  }
};

TEST_F(FastHeaderTest, SizesAndLastComment) {
  Bytes s = HeaderStream(300, 200, {"NIST_COM 1", "caller text"});
  int w = 0, h = 0, ppi = 0;
  char *comment = static_cast<char *>(std::malloc(8));  // released by the call
  ASSERT_EQ(Fast_WSQ_decode_stream(s.data(), static_cast<int>(s.size()), &w, &h, &ppi, &comment),
            1);
  EXPECT_EQ(w, 300);
  EXPECT_EQ(h, 200);
  EXPECT_EQ(ppi, -1);
  ASSERT_NE(comment, nullptr);
  EXPECT_STREQ(comment, "caller text");
  std::free(comment);
  EXPECT_EQ(frm_header_wsq.width, 0);
  EXPECT_EQ(frm_header_wsq.height, 0);
  EXPECT_EQ(frm_header_wsq.m_shift, 1.0f);
  EXPECT_EQ(frm_header_wsq.r_scale, 1.0f);
}

TEST_F(FastHeaderTest, LeavesDecoderTablesUndefined) {
  Bytes s = HeaderStream(64, 64, {});
  int w, h, ppi;
  char *comment = nullptr;
  dtt_table.losize = 3;
  ASSERT_EQ(Fast_WSQ_decode_stream(s.data(), static_cast<int>(s.size()), &w, &h, &ppi, &comment),
            1);
  EXPECT_EQ(comment, nullptr) << "no comment segment: the pointer keeps its value";
  EXPECT_EQ(dqt_table.qtable_defined, 0);
  for (const auto &t : dht_table) EXPECT_EQ(t.table_defined, 0);
  EXPECT_EQ(dtt_table.losize, 3);
  EXPECT_EQ(dtt_table.lofilt, nullptr);
  // A second peek is not disturbed by the first one's tables.
  ASSERT_EQ(Fast_WSQ_decode_stream(s.data(), static_cast<int>(s.size()), &w, &h, &ppi, &comment),
            1);
}

// A table the decoder refuses (a transform filter without taps) is passed
// over by its length: the frame header after it is still found.
TEST_F(FastHeaderTest, PassesOverARefusedTable) {
  Bytes s = HeaderStream(300, 200, {"c"});
  const uint8_t kDtt[2] = {0xFF, 0xA4};
  const auto dtt = std::search(s.begin(), s.end(), kDtt, kDtt + 2);
  ASSERT_NE(dtt, s.end());
  dtt[4] = 0;  // no analysis low-pass taps
  int w = 0, h = 0, ppi;
  char *comment = nullptr;
  ASSERT_EQ(Fast_WSQ_decode_stream(s.data(), static_cast<int>(s.size()), &w, &h, &ppi, &comment),
            1);
  std::free(comment);
  EXPECT_EQ(w, 300);
  EXPECT_EQ(h, 200);
}

// Pixels per inch and the comment are optional outputs; width and height
// are not: without either the call is refused and writes nothing.
TEST_F(FastHeaderTest, NullOutputs) {
  const Bytes s = HeaderStream(300, 200, {"c"});
  const int n = static_cast<int>(s.size());
  int w = 11, h = 22, ppi = 33;
  char *comment = nullptr;
  EXPECT_EQ(Fast_WSQ_decode_stream(s.data(), n, &w, &h, nullptr, nullptr), 1);
  EXPECT_EQ(w, 300);
  w = 11, h = 22;
  EXPECT_EQ(Fast_WSQ_decode_stream(s.data(), n, nullptr, &h, &ppi, &comment), -17);
  EXPECT_EQ(Fast_WSQ_decode_stream(s.data(), n, &w, nullptr, &ppi, &comment), -17);
  EXPECT_EQ(w, 11);
  EXPECT_EQ(h, 22);
  EXPECT_EQ(ppi, 33);
  EXPECT_EQ(comment, nullptr);
}

TEST_F(FastHeaderTest, ShortStreamsLeaveOutputsAlone) {
  Bytes s = HeaderStream(300, 200, {"abc"});
  int w = 11, h = 22, ppi = 33;
  char *comment = nullptr;
  EXPECT_EQ(Fast_WSQ_decode_stream(s.data(), 20, &w, &h, &ppi, &comment), -40);
  EXPECT_EQ(w, 11);
  EXPECT_EQ(h, 22);
  EXPECT_EQ(ppi, 33);
  EXPECT_EQ(comment, nullptr);
  EXPECT_EQ(Fast_WSQ_decode_stream(nullptr, 0, &w, &h, &ppi, &comment), -40);

  // Cut inside the frame header: that read's code, sizes untouched.
  size_t sof = 0;
  for (size_t i = 0; i + 1 < s.size(); ++i)
    if (s[i] == 0xFF && s[i + 1] == 0xA2) sof = i;
  ASSERT_GT(sof, 0u);
  for (size_t n = sof + 2; n < sof + 19; ++n) {
    Bytes cut(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
    int ret = Fast_WSQ_decode_stream(cut.data(), static_cast<int>(cut.size()), &w, &h, &ppi,
                                     &comment);
    EXPECT_LT(ret, 0) << n;
    EXPECT_EQ(w, 11);
  }
  EXPECT_EQ(comment, nullptr);
}

}  // namespace
