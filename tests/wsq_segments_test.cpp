// WSQ output buffer, segment writers, the Huffman segment reader, and the
// places in a stream where a comment segment may stand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "support/test_support.h"
#include "tessaly.h"
#include "wsq/stream_edit.h"
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

// The same limit spelled out, through the writer, the reader and the comment
// insertion: 65,533 bytes of text fill the length field (0xFFFF); one more is
// refused, never written with a wrapped length.
TEST(WsqComment, LongestTextReadAndWrittenOneMoreRefused) {
  const std::string text(65534, 'x');
  const uint8_t *bytes = reinterpret_cast<const uint8_t *>(text.data());
  Out o(70000);
  ASSERT_EQ(putc_comment(COM_WSQ, bytes, 65533, o.buf.data(), o.alloc, &o.len), 0);
  EXPECT_EQ(Bytes(o.buf.begin() + 2, o.buf.begin() + 4), (Bytes{0xFF, 0xFF}));
  In in(Bytes(o.buf.begin() + 2, o.buf.begin() + o.len));
  char *back = nullptr;
  ASSERT_EQ(getc_comment(&back, &in.cur, in.end), 0);
  EXPECT_EQ(std::strlen(back), 65533u);
  std::free(back);
  Out refused(70000);
  EXPECT_EQ(putc_comment(COM_WSQ, bytes, 65534, refused.buf.data(), refused.alloc, &refused.len),
            -34);
  EXPECT_EQ(refused.len, 0);

  const Bytes bare = {0xFF, 0xA0, 0xFF, 0xA1};
  uint8_t *out = nullptr;
  int len = 0;
  ASSERT_EQ(add_comment_wsq(&out, &len, bare.data(), 4, text.substr(1).c_str()), 0);
  EXPECT_EQ(len, 4 + 4 + 65533);
  std::free(out);
  out = nullptr;
  EXPECT_EQ(add_comment_wsq(&out, &len, bare.data(), 4, text.c_str()), -34);
  EXPECT_EQ(out, nullptr);
}

// A segment length counts its own two bytes: 0 and 1 are refused, by the
// comment reader and by the comment removal (which would otherwise skip a
// wrapped 65,535 bytes, here exactly up to the end marker); 2, an empty
// segment, is taken.
TEST(WsqComment, LengthBelowTwoRefused) {
  for (uint8_t n : {0, 1}) {
    In in({0x00, n, 'a', 'b'});
    char *text = nullptr;
    EXPECT_EQ(getc_comment(&text, &in.cur, in.end), -42) << int(n);
    EXPECT_EQ(text, nullptr);
  }
  In two({0x00, 0x02});
  char *text = nullptr;
  ASSERT_EQ(getc_comment(&text, &two.cur, two.end), 0);
  EXPECT_STREQ(text, "");
  std::free(text);

  // A comment and a table segment of length 1, then of length 2.
  for (auto [marker, code, kept] :
       {std::tuple{COM_WSQ, -2, Bytes{}}, {DTT_WSQ, -3, Bytes{0xFF, 0xA4, 0x00, 0x02}}}) {
    SCOPED_TRACE(marker);
    Bytes s = {0xFF, 0xA0, uint8_t(marker >> 8), uint8_t(marker), 0x00, 0x01};
    s.insert(s.end(), 65535, 0x20);
    s.insert(s.end(), {0xFF, 0xA1});
    uint8_t *out = nullptr;
    int len = 0;
    EXPECT_EQ(delete_comments_wsq(&out, &len, s.data(), int(s.size())), code);
    EXPECT_EQ(out, nullptr);
    const Bytes empty = {0xFF, 0xA0, uint8_t(marker >> 8), uint8_t(marker), 0x00, 0x02, 0xFF, 0xA1};
    ASSERT_EQ(delete_comments_wsq(&out, &len, empty.data(), int(empty.size())), 0);
    Bytes expect = {0xFF, 0xA0};
    expect.insert(expect.end(), kept.begin(), kept.end());
    expect.insert(expect.end(), {0xFF, 0xA1});
    EXPECT_EQ(Bytes(out, out + len), expect);
    std::free(out);
  }
}

// Where any marker may stand, SOI to COM are taken and the values next to
// them are not.
TEST(WsqMarkers, AnyClassTakesSoiToComOnly) {
  const struct {
    uint8_t low;
    int code;
    uint16_t stored;
  } cases[] = {{0x9F, -92, 0}, {0xA0, 0, 0xFFA0}, {0xA8, 0, 0xFFA8}, {0xA9, -92, 0}};
  for (const auto &c : cases) {
    In in({0xFF, c.low});
    uint16_t marker = 0;
    EXPECT_EQ(getc_marker_wsq(&marker, ANY_WSQ, &in.cur, in.end), c.code) << int(c.low);
    EXPECT_EQ(marker, c.stored) << int(c.low);
  }
}

// Every segment reader takes a segment whose last byte is the buffer's last,
// leaving the cursor at the end, and fails with the cursor's code when that
// byte is missing. Skipping a segment (as the comment walks do) wants a byte
// after it: the stream goes on past every segment.
TEST(WsqSegments, SegmentEndingAtTheBufferEndIsRead) {
  DttTable dtt{};
  DqtTable dqt{};
  DhtTable dht[MAX_DHT_TABLES] = {};
  FrameHeaderWsq frame{};
  uint8_t id = 0;
  const QuantVals q = SampleQuantVals();
  const uint8_t bits[16] = {0, 2}, values[2] = {7, 9};
  Out o[6] = {Out(128), Out(512), Out(64), Out(64), Out(16), Out(16)};
  ASSERT_EQ(putc_transform_table(tsl::lofilt, 9, tsl::hifilt, 7, o[0].buf.data(), o[0].alloc,
                                 &o[0].len),
            0);
  ASSERT_EQ(putc_quantization_table(&q, o[1].buf.data(), o[1].alloc, &o[1].len), 0);
  ASSERT_EQ(putc_huffman_table(DHT_WSQ, 3, bits, values, o[2].buf.data(), o[2].alloc, &o[2].len),
            0);
  ASSERT_EQ(putc_frame_header_wsq(384, 512, 117.25f, 1.5f, o[3].buf.data(), o[3].alloc, &o[3].len),
            0);
  ASSERT_EQ(putc_block_header(3, o[4].buf.data(), o[4].alloc, &o[4].len), 0);
  ASSERT_EQ(putc_comment(COM_WSQ, reinterpret_cast<const uint8_t *>("abc"), 3, o[5].buf.data(),
                         o[5].alloc, &o[5].len),
            0);
  const int short_code[6] = {-40, -40, -40, -40, -39, -40};
  for (int k = 0; k < 6; ++k) {
    SCOPED_TRACE(k);
    const Bytes seg = o[k].bytes();
    const uint16_t marker = uint16_t(seg[0] << 8 | seg[1]);
    auto read = [&](In *in) {
      if (marker == SOF_WSQ) return getc_frame_header_wsq(&frame, &in->cur, in->end);
      if (marker == SOB_WSQ) return getc_block_header(&id, &in->cur, in->end);
      return getc_table_wsq(marker, &dtt, &dqt, dht, &in->cur, in->end);
    };
    In whole(Bytes(seg.begin() + 2, seg.end()));
    EXPECT_EQ(read(&whole), 0);
    EXPECT_EQ(whole.cur, whole.end);
    In cut(Bytes(seg.begin() + 2, seg.end() - 1));
    EXPECT_EQ(read(&cut), short_code[k]);
  }
  EXPECT_EQ(frame.width, 384);
  EXPECT_EQ(id, 3);
  EXPECT_EQ(dht[3].huffvalues[1], 9);
  std::free(dtt.lofilt);
  std::free(dtt.hifilt);

  In at_end({0x00, 0x04, 'a', 'b'});
  EXPECT_EQ(getc_skip_marker_segment(COM_WSQ, &at_end.cur, at_end.end), -2);
  In one_more({0x00, 0x04, 'a', 'b', 0xFF});
  ASSERT_EQ(getc_skip_marker_segment(COM_WSQ, &one_more.cur, one_more.end), 0);
  EXPECT_EQ(one_more.end - one_more.cur, 1);
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

// Each filter needs a tap: a count of 0 in either place is refused, by the
// storing reader and by the one that only checks; one tap each is enough.
TEST(WsqTables, TransformTableTapCounts) {
  auto segment = [](uint8_t lo, uint8_t hi) {
    Bytes seg = {0x00, 0x00, lo, hi};
    for (int i = 0; i < (lo + 1) / 2 + (hi + 1) / 2; ++i) seg.insert(seg.end(), {0, 1, 0, 0, 0, 5});
    seg[1] = uint8_t(seg.size());
    return seg;
  };
  DttTable dtt{};
  for (DttTable *t : {&dtt, static_cast<DttTable *>(nullptr)}) {
    auto read = [&](uint8_t lo, uint8_t hi) {
      In in(segment(lo, hi));
      return getc_transform_table(t, &in.cur, in.end);
    };
    EXPECT_EQ(read(1, 1), 0);
    EXPECT_EQ(read(9, 0), -98);
    EXPECT_EQ(read(0, 7), -98);
  }
  std::free(dtt.lofilt);
  std::free(dtt.hifilt);
}

// Even lengths from a stream: the stored half a0 = 0.5, a1 = -0.25 of the
// analysis low-pass filter becomes the antisymmetric synthesis high-pass
// filter a1, -a0, a0, -a1 (each tap i from the centre out taken times
// (-1)^i, then mirrored with its sign changed); the half b0 = 0.75,
// b1 = -0.125 of the analysis high-pass filter the symmetric synthesis
// low-pass filter b1, -b0, -b0, b1 (times (-1)^(i+1), mirrored as it is).
TEST(WsqTables, EvenLengthFiltersKeepTheirSigns) {
  In in({0x00, 0x1C, 4, 4, 0, 1, 0, 0, 0, 5, 1, 2, 0, 0, 0, 25, 0, 2, 0, 0, 0, 75, 1, 3, 0, 0, 0,
         125});
  DttTable dtt{};
  ASSERT_EQ(getc_transform_table(&dtt, &in.cur, in.end), 0);
  ASSERT_EQ(dtt.hisize, 4);
  ASSERT_EQ(dtt.losize, 4);
  EXPECT_EQ(std::vector<float>(dtt.hifilt, dtt.hifilt + 4),
            (std::vector<float>{-0.25f, -0.5f, 0.5f, 0.25f}));
  EXPECT_EQ(std::vector<float>(dtt.lofilt, dtt.lofilt + 4),
            (std::vector<float>{-0.125f, -0.75f, -0.75f, -0.125f}));
  std::free(dtt.lofilt);
  std::free(dtt.hifilt);
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

// Id 8 is refused also after another table of its segment, and by the
// reader that only checks. A segment whose length ends inside its tables, or before any table, is
// refused and an empty one defines nothing. A second table of a segment may
// not name a defined id (the first of a segment replaces one).
TEST(WsqTables, HuffmanSegmentIdsLengthsAndRepeats) {
  auto read = [](DhtTable *dht, const Bytes &seg) {
    In in(seg);
    return getc_huffman_table_wsq(dht, &in.cur, in.end);
  };
  DhtTable dht[MAX_DHT_TABLES] = {};
  EXPECT_EQ(read(dht, DhtSegment({{2, 3}, {8, 3}})), -99);
  EXPECT_EQ(read(nullptr, DhtSegment({{8, 3}})), -99);
  EXPECT_EQ(read(nullptr, DhtSegment({{2, 3}, {8, 3}})), -99);

  DhtTable fresh[MAX_DHT_TABLES] = {};
  Bytes one_short = DhtSegment({{0, 3}});
  one_short[1]--;
  EXPECT_EQ(read(fresh, one_short), -2);
  Bytes empty = DhtSegment({{0, 3}});
  empty[0] = 0;
  empty[1] = 2;
  DhtTable none[MAX_DHT_TABLES] = {};
  EXPECT_EQ(read(none, empty), -2);
  EXPECT_EQ(none[0].table_defined, 0);

  EXPECT_EQ(read(fresh, DhtSegment({{4, 3}, {4, 5}})), -2);
  EXPECT_EQ(fresh[4].huffbits[7], 3) << "the first kept";
  EXPECT_EQ(read(fresh, DhtSegment({{4, 5}})), 0);
  EXPECT_EQ(fresh[4].huffbits[7], 5) << "replaced by a later segment's first table";
  EXPECT_EQ(read(fresh, DhtSegment({{5, 3}, {4, 2}})), -2);
  EXPECT_EQ(fresh[4].huffbits[7], 5);
  EXPECT_EQ(read(nullptr, DhtSegment({{4, 3}, {4, 5}})), -2);
  EXPECT_EQ(read(nullptr, DhtSegment({{4, 3}, {5, 5}})), 0);
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

// Streams of our encoder with comment segments put where other writers may
// put them: after the frame header, or between blocks.
Bytes EncodeRidges(const char *comment) {
  const Bytes px = tsltest::RidgeImage(120, 100);
  unsigned char *out = nullptr;
  int len = 0;
  EXPECT_EQ(WSQ_encode_stream(px.data(), 120, 100, 0.75, 500, comment, &out, &len), 1);
  Bytes s(out, out + len);
  std::free(out);
  return s;
}

// Offsets of the markers, walked by segment lengths; a block's coded bytes
// run up to the first 0xFF not followed by 0x00.
std::vector<std::pair<uint16_t, size_t>> MarkerOffsets(const Bytes &s) {
  std::vector<std::pair<uint16_t, size_t>> out;
  size_t i = 0;
  while (i + 4 <= s.size()) {
    const uint16_t marker = uint16_t(s[i] << 8 | s[i + 1]);
    out.emplace_back(marker, i);
    i += marker == SOI_WSQ ? 2 : 2 + size_t(s[i + 2] << 8 | s[i + 3]);
    if (marker == SOB_WSQ)
      while (i + 1 < s.size() && (s[i] != 0xFF || s[i + 1] == 0x00)) i += s[i] == 0xFF ? 2 : 1;
  }
  if (i + 2 == s.size()) out.emplace_back(uint16_t(s[i] << 8 | s[i + 1]), i);
  return out;
}

// Offset of the nth (from 0) segment of one marker.
size_t OffsetOf(const Bytes &s, uint16_t marker, int nth) {
  for (const auto &[m, at] : MarkerOffsets(s))
    if (m == marker && nth-- == 0) return at;
  ADD_FAILURE() << "no such segment";
  return s.size();
}

Bytes WithComment(const Bytes &s, size_t at, const std::string &text) {
  Out com(int(text.size()) + 4);
  EXPECT_EQ(putc_comment(COM_WSQ, reinterpret_cast<const uint8_t *>(text.data()),
                         int(text.size()), com.buf.data(), com.alloc, &com.len),
            0);
  Bytes out = s;
  out.insert(out.begin() + long(at), com.buf.begin(), com.buf.end());
  return out;
}

Bytes WithoutComments(const Bytes &s) {
  uint8_t *out = nullptr;
  int len = 0;
  EXPECT_EQ(delete_comments_wsq(&out, &len, s.data(), int(s.size())), 0);
  Bytes bare(out, out + len);
  std::free(out);
  return bare;
}

struct Decoded {
  int code = 0;
  Bytes px;
  int ppi = 0;
  std::string comment = "(none)";
};

Decoded DecodeStream(const Bytes &s) {
  Decoded d;
  unsigned char *px = nullptr;
  char *comment = nullptr;
  int w = 0, h = 0;
  d.code = WSQ_decode_stream(s.data(), int(s.size()), &px, &w, &h, &d.ppi, &comment);
  if (px) d.px.assign(px, px + size_t(w) * size_t(h));
  if (comment) d.comment = comment;
  std::free(px);
  std::free(comment);
  return d;
}

std::string HeaderComment(const Bytes &s) {
  char *comment = nullptr;
  int w = 0, h = 0;
  EXPECT_EQ(Fast_WSQ_decode_stream(s.data(), int(s.size()), &w, &h, nullptr, &comment), 1);
  EXPECT_EQ(w, 120);
  EXPECT_EQ(h, 100);
  const std::string text = comment ? comment : "(none)";
  std::free(comment);
  return text;
}

// A comment between the frame header and the first block is read and
// dropped by the decoder, and, being the last before the first block, is
// the one handed back; a NISTCOM standing there gives the pixels per inch.
TEST(WsqStreamComments, CommentAfterTheFrameHeader) {
  const Bytes s = EncodeRidges("desk 4");
  const Decoded plain = DecodeStream(s);
  ASSERT_EQ(plain.code, 1);

  const Bytes after = WithComment(s, OffsetOf(s, DHT_WSQ, 0), "after the frame header");
  const Decoded d = DecodeStream(after);
  ASSERT_EQ(d.code, 1);
  EXPECT_EQ(d.px, plain.px);
  EXPECT_EQ(d.comment, "after the frame header");
  EXPECT_EQ(d.ppi, 500);
  EXPECT_EQ(HeaderComment(after), "after the frame header");

  const Bytes bare = WithoutComments(s);
  const Bytes moved = WithComment(bare, OffsetOf(bare, DHT_WSQ, 0), "NIST_COM 2\nPPI 612");
  const Decoded m = DecodeStream(moved);
  ASSERT_EQ(m.code, 1);
  EXPECT_EQ(m.px, plain.px);
  EXPECT_EQ(m.ppi, 612);
  EXPECT_EQ(m.comment, "NIST_COM 2\nPPI 612");
}

// Comments between blocks, one or two in a row, are read and dropped; the
// comment handed back and the NISTCOM are only looked for before the first
// block.
TEST(WsqStreamComments, CommentsBetweenBlocksAreSkipped) {
  const Bytes s = EncodeRidges("desk 4");
  const Decoded plain = DecodeStream(s);
  ASSERT_EQ(plain.code, 1);

  Bytes between = WithComment(s, OffsetOf(s, DHT_WSQ, 1), "between blocks 1 and 2");
  for (int k = 0; k < 2; ++k)
    between = WithComment(between, OffsetOf(between, SOB_WSQ, 2), "between blocks 2 and 3");
  const Decoded d = DecodeStream(between);
  ASSERT_EQ(d.code, 1);
  EXPECT_EQ(d.px, plain.px);
  EXPECT_EQ(d.comment, "desk 4");
  EXPECT_EQ(d.ppi, 500);
  EXPECT_EQ(HeaderComment(between), "desk 4");

  const Bytes bare = WithoutComments(s);
  const Bytes late = WithComment(bare, OffsetOf(bare, DHT_WSQ, 1), "NIST_COM 2\nPPI 612");
  const Decoded m = DecodeStream(late);
  ASSERT_EQ(m.code, 1);
  EXPECT_EQ(m.px, plain.px);
  EXPECT_EQ(m.ppi, -1);
  EXPECT_EQ(m.comment, "(none)");
}

}  // namespace
