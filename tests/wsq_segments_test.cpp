// WSQ output buffer, segment writers and the Huffman segment reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "support/test_support.h"
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
};

QuantVals SampleQuantVals() {
  QuantVals q{};
  for (int i = 0; i < NUM_SUBBANDS; ++i) {
    q.q_widths[i] = 1.5f + 0.25f * i;
    q.z_widths[i] = 1.2f * q.q_widths[i];
  }
  return q;
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
    Bytes counts(16, 0);
    counts[7] = static_cast<uint8_t>(std::min(n, 255));
    counts[8] = static_cast<uint8_t>(n - counts[7]);
    seg.push_back(id);
    seg.insert(seg.end(), counts.begin(), counts.end());
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

  // A table's counts may sum to at most 257.
  DhtTable fresh[MAX_DHT_TABLES] = {};
  In most(DhtSegment({{3, 257}}));
  ASSERT_EQ(getc_huffman_table_wsq(fresh, &most.cur, most.end), 0);
  EXPECT_EQ(fresh[3].huffvalues[256], 0);
  In over(DhtSegment({{0, 258}}));
  EXPECT_EQ(getc_huffman_table_wsq(fresh, &over.cur, over.end), -4);
}

// Ids 0 to 7 name the eight tables; 8 names none and is refused (a spare
// record after the eight would show a stray store).
TEST(WsqTables, HuffmanTableIdsEndAtSeven) {
  DhtTable dht[MAX_DHT_TABLES + 1] = {};
  In last(DhtSegment({{7, 3}}));
  ASSERT_EQ(getc_huffman_table_wsq(dht, &last.cur, last.end), 0);
  EXPECT_EQ(dht[7].table_defined, 1);
  In past(DhtSegment({{8, 3}}));
  testing::internal::CaptureStderr();
  EXPECT_EQ(getc_huffman_table_wsq(dht, &past.cur, past.end), -99);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR : getc_huffman_table_wsq : table id 8 out of range\n");
  EXPECT_EQ(dht[8].table_defined, 0);
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

}  // namespace
