// WSQ byte cursor, output buffer, marker classes, the segment writers and
// the header-only reader.
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
#include "wsq/wavelet.h"

using namespace tsl;
using tsltest::Bytes;

namespace {

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
  explicit In(const Bytes &b) : data(b) {
    cur = data.data();
    end = data.data() + data.size();
  }
  std::vector<uint8_t> data;
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

// A stream of our encoder, with the caller's comment when given.
Bytes Encoded(int width, int height, const char *comment) {
  const Bytes px = tsltest::RidgeImage(width, height);
  unsigned char *out = nullptr;
  int len = 0;
  EXPECT_EQ(WSQ_encode_stream(px.data(), width, height, 0.75, 500, comment, &out, &len), 1);
  Bytes s(out, out + len);
  std::free(out);
  return s;
}

struct MarkerCase {
  uint8_t hi, lo;
  int type;
  int code;
};

// Valid streams take every class's markers; these are the refusals and the
// ends of the range any marker may take.
TEST(WsqCursor, MarkerClasses) {
  const MarkerCase cases[] = {
      {0xFF, 0xA1, SOI_WSQ, -88},   {0xFF, 0xA3, TBLS_N_SOF, -89}, {0xFF, 0xA2, TBLS_N_SOB, -90},
      {0x12, 0x34, ANY_WSQ, -91},   {0xFF, 0xA0, ANY_WSQ, 0},      {0xFF, 0xA8, ANY_WSQ, 0},
      {0xFF, 0xA9, ANY_WSQ, -92},   {0xFF, 0xA0, 3, -93},
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
}

// The 16-bit length holds at most 65533 bytes of text.
TEST(WsqComment, SegmentBytesAndLongestText) {
  Out o(32);
  ASSERT_EQ(putc_comment(COM_WSQ, reinterpret_cast<const uint8_t *>("abc"), 3, o.buf.data(),
                         o.alloc, &o.len),
            0);
  EXPECT_EQ(o.bytes(), (Bytes{0xFF, 0xA8, 0x00, 0x05, 0x61, 0x62, 0x63}));

  const std::string big(kMaxCommentText + 1, 'x');
  const uint8_t *text = reinterpret_cast<const uint8_t *>(big.data());
  Out b(70000);
  EXPECT_EQ(putc_comment(COM_WSQ, text, kMaxCommentText + 1, b.buf.data(), b.alloc, &b.len), -34);
  EXPECT_EQ(b.len, 0);
  EXPECT_EQ(putc_comment(COM_WSQ, text, kMaxCommentText, b.buf.data(), b.alloc, &b.len), 0);
}

// Taps beyond the field's range or not finite are refused, whichever filter
// holds them.
TEST(WsqTables, TransformTableRefusals) {
  float lo[9], hi[7];
  std::memcpy(lo, tsl::lofilt, sizeof lo);
  std::memcpy(hi, tsl::hifilt, sizeof hi);
  lo[5] = 5e9f;
  hi[6] = INFINITY;
  Out o(128);
  EXPECT_EQ(putc_transform_table(lo, 9, tsl::hifilt, 7, o.buf.data(), o.alloc, &o.len), -82);
  o.len = 0;
  EXPECT_EQ(putc_transform_table(tsl::lofilt, 9, hi, 7, o.buf.data(), o.alloc, &o.len), -83);
}

TEST(WsqTables, QuantizationTableBytes) {
  QuantVals q = SampleQuantVals();
  q.q_widths[0] = 1.5f;
  q.q_widths[5] = 0;
  q.q_widths[60] = 9;  // never written
  Out o(512);
  ASSERT_EQ(putc_quantization_table(&q, o.buf.data(), o.alloc, &o.len), 0);
  ASSERT_EQ(o.len, 391);
  const uint8_t *p = o.buf.data();
  EXPECT_EQ(Bytes(p + 4, p + 7), (Bytes{2, 0, 44})) << "bin centre 0.44";
  EXPECT_EQ(Bytes(p + 7, p + 10), (Bytes{4, 0x3A, 0x98})) << "1.5 is scale 4, value 15000";
  EXPECT_EQ(Bytes(p + 7 + 6 * 5, p + 7 + 6 * 6), Bytes(6, 0)) << "an uncoded subband";
  for (int k = 60; k < 64; ++k) EXPECT_EQ(Bytes(p + 7 + 6 * k, p + 13 + 6 * k), Bytes(6, 0));
}

// Widths too large for the field, negative or not a number are refused.
TEST(WsqTables, QuantizationWidthsOutOfRange) {
  struct {
    float q, z;
    int code;
  } cases[] = {{65535.0f, 1, -86}, {-1.0f, 1, -86}, {1.0f, 70000.0f, -87}, {1.0f, -2.0f, -87}};
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

// Our encoder writes one table a segment; other encoders may write several.
TEST(WsqTables, HuffmanSegments) {
  DhtTable dht[MAX_DHT_TABLES] = {};
  In two(DhtSegment({{0, 3}, {1, 5}}));
  ASSERT_EQ(getc_huffman_table_wsq(dht, &two.cur, two.end), 0);
  EXPECT_EQ(dht[0].table_defined, 1);
  EXPECT_EQ(dht[1].table_defined, 1);
  EXPECT_EQ(dht[1].huffbits[7], 5);
  EXPECT_EQ(dht[1].huffvalues[4], 4);

  DhtTable fresh[MAX_DHT_TABLES] = {};
  In repeat(DhtSegment({{2, 3}, {2, 4}}));
  EXPECT_EQ(getc_huffman_table_wsq(fresh, &repeat.cur, repeat.end), -2);
  EXPECT_EQ(fresh[2].huffbits[7], 3) << "the first table stays";

  // A table's counts may sum to at most 257.
  In most(DhtSegment({{3, 257}}));
  ASSERT_EQ(getc_huffman_table_wsq(fresh, &most.cur, most.end), 0);
  EXPECT_EQ(fresh[3].huffvalues[256], 0);
  In over(DhtSegment({{0, 258}}));
  EXPECT_EQ(getc_huffman_table_wsq(fresh, &over.cur, over.end), -4);
}

TEST(WsqTables, FrameHeaderBytesAndRefusals) {
  Out o(64);
  ASSERT_EQ(putc_frame_header_wsq(384, 512, 117.25f, 1.5f, o.buf.data(), o.alloc, &o.len), 0);
  ASSERT_EQ(o.len, 19);
  EXPECT_EQ(Bytes(o.buf.begin() + 6, o.buf.begin() + 10), (Bytes{0x02, 0x00, 0x01, 0x80}))
      << "height before width";

  o.len = 0;
  EXPECT_EQ(putc_frame_header_wsq(10, 10, 70000.0f, 1.0f, o.buf.data(), o.alloc, &o.len), -84);
  EXPECT_EQ(putc_frame_header_wsq(10, 10, 1.0f, INFINITY, o.buf.data(), o.alloc, &o.len), -85);
  // Negative values cannot be stored either: never written as 0.
  EXPECT_EQ(putc_frame_header_wsq(10, 10, -0.5f, 1.0f, o.buf.data(), o.alloc, &o.len), -84);
  EXPECT_EQ(putc_frame_header_wsq(10, 10, 1.0f, -INFINITY, o.buf.data(), o.alloc, &o.len), -85);
  EXPECT_EQ(o.len, 0);
}

class FastHeaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(dht_table, 0, sizeof dht_table);
    dqt_table = DqtTable{};
  }
};

// The peek hands back the sizes and the last comment, and changes none of
// the decoder's tables (the frame record it reads is reset).
TEST_F(FastHeaderTest, SizesAndLastCommentOnly) {
  const Bytes s = Encoded(300, 200, "caller text");
  int w = 0, h = 0, ppi = 0;
  char *comment = static_cast<char *>(std::malloc(8));  // released by the call
  dtt_table.losize = 3;
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
  EXPECT_EQ(dqt_table.qtable_defined, 0);
  for (const auto &t : dht_table) EXPECT_EQ(t.table_defined, 0);
  EXPECT_EQ(dtt_table.losize, 3);
  EXPECT_EQ(dtt_table.lofilt, nullptr);
}

// A table the decoder refuses (a transform filter without taps) is passed
// over by its length: the frame header after it is still found.
TEST_F(FastHeaderTest, PassesOverARefusedTable) {
  Bytes s = Encoded(300, 200, nullptr);
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
  const Bytes s = Encoded(300, 200, nullptr);
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

// Every cut before the end of the frame header is refused and writes none
// of the outputs.
TEST_F(FastHeaderTest, CutStreamsLeaveOutputsAlone) {
  const Bytes s = Encoded(300, 200, "abc");
  const uint8_t kSof[2] = {0xFF, 0xA2};
  const size_t frame_end = std::search(s.begin(), s.end(), kSof, kSof + 2) - s.begin() + 19;
  ASSERT_LT(frame_end, s.size());
  for (size_t n = 0; n < frame_end; ++n) {
    const Bytes cut(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
    int w = 11, h = 22, ppi = 33;
    char *comment = nullptr;
    EXPECT_LT(Fast_WSQ_decode_stream(cut.data(), static_cast<int>(n), &w, &h, &ppi, &comment), 0)
        << n;
    EXPECT_EQ(w, 11) << n;
    EXPECT_EQ(h, 22) << n;
    EXPECT_EQ(ppi, 33) << n;
    EXPECT_EQ(comment, nullptr) << n;
  }
}

}  // namespace
