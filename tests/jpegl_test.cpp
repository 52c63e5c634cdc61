// Lossless JPEG marker segments: JFIF, frame and scan headers, Huffman
// table records, comment insertion and NISTCOM segments, checked against
// hand-computed bytes and against cjpeg, wrjpgcom and rdjpgcom.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <queue>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "wsq/jpegl.h"
#include "wsq/nistcom_edit.h"
#include "wsq/stream_io.h"
#include "wsq/tables.h"

using namespace tsl;
using tsltest::Bytes;

namespace {

struct Out {  // an output buffer with its length, as the writers take it
  Bytes buf = Bytes(4096);
  int len = 0;
  Bytes bytes() const { return Bytes(buf.begin(), buf.begin() + len); }
};

// Reads from an exact-size heap copy so the sanitizer sees any read past it.
struct In {
  explicit In(const Bytes &b, size_t skip = 0)
      : data(b.begin() + skip, b.end()), cur(data.data()), end(data.data() + data.size()) {}
  Bytes data;
  const uint8_t *cur, *end;
};

template <typename T>
struct Owned {  // a record handed out by the set-up and reader routines
  T *p = nullptr;
  ~Owned() { std::free(p); }
  T *operator->() { return p; }
};

const Bytes kApp0 = {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 0x01, 0x02,
                     0,    0,    0,    0,    0,   0,   0};

TEST(JpeglJfif, SetUpWithoutDensityWritesTheEighteenByteSegment) {
  Owned<JfifHeader> h;
  ASSERT_EQ(setup_jfif_header(&h.p, 1, -1, 300), 0);
  Out o;
  ASSERT_EQ(putc_jfif_header(h.p, o.buf.data(), 4096, &o.len), 0);
  EXPECT_EQ(o.bytes(), kApp0);
  Owned<JfifHeader> wide;
  testing::internal::CaptureStderr();
  EXPECT_EQ(setup_jfif_header(&wide.p, 1, 70000, 300), kJpeglOutOfRange) << "cut to 16 bits";
  testing::internal::GetCapturedStderr();
}

int ReadJfif(const Bytes &segment) {
  In in(segment, 2);
  Owned<JfifHeader> h;
  return getc_jfif_header(&h.p, &in.cur, in.end);
}

TEST(JpeglJfif, ReaderTakesTheDensitiesAndHonoursTheSegmentLength) {
  Bytes longer = kApp0;
  longer[3] = 20;
  longer[11] = 1;     // dots per inch
  longer[12] = 0x01;  // 300 across
  longer[13] = 0x2C;
  longer[15] = 200;   // 200 down
  longer.insert(longer.end(), {9, 9, 9, 9, 0xFF, 0xDB});
  In in(longer, 2);
  Owned<JfifHeader> h;
  ASSERT_EQ(getc_jfif_header(&h.p, &in.cur, in.end), 0);
  EXPECT_EQ(h->units, 1);
  EXPECT_EQ(h->dx, 300);
  EXPECT_EQ(h->dy, 200);
  EXPECT_EQ(in.end - in.cur, 2) << "the cursor stands after the whole segment";
  Bytes shorter = kApp0, past = kApp0;
  shorter[3] = 15;
  past[3] = 40;
  testing::internal::CaptureStderr();
  EXPECT_EQ(ReadJfif(shorter), kJpeglOutOfRange);
  EXPECT_EQ(ReadJfif(past), kJpeglOutOfRange);
  testing::internal::GetCapturedStderr();
}

// The identifier must be "JFIF" with its zero byte, to the last byte.
TEST(JpeglJfif, OtherIdentifiersAreNotJfif) {
  Bytes unterminated = kApp0, other = kApp0;
  unterminated[8] = ' ';
  other[7] = 'X';
  EXPECT_EQ(ReadJfif(kApp0), 0);
  for (const Bytes &segment : {unterminated, other}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReadJfif(segment), -5);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR : getc_jfif_header : Not a JFIF Header\n");
  }
}

// A cjpeg file with a comment from wrjpgcom (placed before the frame
// header), then ours right after the JFIF header: rdjpgcom reads both, in
// file order.
TEST(JpeglComments, AddedCommentIsReadBackByOtherSoftware) {
  if (!tsltest::NeedTools({"cjpeg", "wrjpgcom", "rdjpgcom"})) GTEST_SKIP() << "tools missing";
  tsltest::TempDir dir;
  const Bytes px = tsltest::RidgeImage(40, 30);
  tsltest::WritePgm(dir.File("in.pgm"), px.data(), 40, 30);
  ASSERT_EQ(tsltest::Run("cjpeg -grayscale '" + dir.File("in.pgm") + "' | wrjpgcom -comment "
                         "'first one' > '" + dir.File("c.jpg") + "'"),
            0);
  const Bytes file = tsltest::ReadFile(dir.File("c.jpg"));
  uint8_t *out = nullptr;
  int len = 0;
  const std::string comment = "NIST_COM 2\nPPI 500";
  ASSERT_EQ(add_comment_jpegl(&out, &len, file.data(), static_cast<int>(file.size()),
                              comment.c_str()),
            0);
  const Bytes edited(out, out + len);
  std::free(out);
  EXPECT_EQ(edited.size(), file.size() + 4 + comment.size());
  tsltest::WriteFile(dir.File("e.jpg"), edited);
  std::string text;
  ASSERT_EQ(tsltest::Run("rdjpgcom '" + dir.File("e.jpg") + "'", &text), 0);
  EXPECT_EQ(text, comment + "\nfirst one\n");
}

// An application segment longer than its fields and a comment holding a
// NUL stay whole ahead of the new comment.
TEST(JpeglComments, LeadingSegmentsAreCopiedWhole) {
  Bytes s = {0xFF, 0xD8};
  s.insert(s.end(), kApp0.begin(), kApp0.end());
  s[5] = 18;
  s.insert(s.end(), {7, 7, 0xFF, 0xFE, 0x00, 0x05, 'a', 0, 'b', 0xFF, 0xC4, 0x00, 0x02});
  uint8_t *out = nullptr;
  int len = 0;
  ASSERT_EQ(add_comment_jpegl(&out, &len, s.data(), static_cast<int>(s.size()), "new"), 0);
  Bytes expected(s.begin(), s.end() - 4);
  expected.insert(expected.end(), {0xFF, 0xFE, 0x00, 0x05, 'n', 'e', 'w', 0xFF, 0xC4, 0, 2});
  EXPECT_EQ(Bytes(out, out + len), expected);
  std::free(out);
}

TEST(JpeglComments, NistcomSegmentThenTheCallersEmptyComment) {
  Out o;
  const int one[1] = {1};
  ASSERT_EQ(putc_nistcom_jpegl("", 64, 48, 8, 500, 0, 1, one, one, 1, o.buf.data(), 4096, &o.len),
            0);
  const std::string text =
      "NIST_COM 9\nPIX_WIDTH 64\nPIX_HEIGHT 48\nPIX_DEPTH 8\nPPI 500\nLOSSY 0\n"
      "COLORSPACE GRAY\nCOMPRESSION JPEGL\nJPEGL_PREDICT 1";
  Bytes expected = {0xFF, 0xFE, 0, static_cast<uint8_t>(text.size() + 2)};
  expected.insert(expected.end(), text.begin(), text.end());
  expected.insert(expected.end(), {0xFF, 0xFE, 0x00, 0x02});
  EXPECT_EQ(o.bytes(), expected);
}

// Only "NIST_COM" marks NISTCOM text: a caller comment that merely begins
// with "NIST" is written after the NISTCOM segment unchanged, and the
// NISTCOM, found first, carries the pixels per inch.
TEST(JpeglComments, CommentBeginningWithNistIsPlainText) {
  Out o;
  const int one[1] = {1};
  const std::string mine = "NIST scanner at desk 4";
  ASSERT_EQ(putc_nistcom_jpegl(mine.c_str(), 64, 48, 8, 612, 0, 1, one, one, 1, o.buf.data(),
                               4096, &o.len),
            0);
  const std::string text =
      "NIST_COM 9\nPIX_WIDTH 64\nPIX_HEIGHT 48\nPIX_DEPTH 8\nPPI 612\nLOSSY 0\n"
      "COLORSPACE GRAY\nCOMPRESSION JPEGL\nJPEGL_PREDICT 1";
  Bytes expected = {0xFF, 0xFE, 0, static_cast<uint8_t>(text.size() + 2)};
  expected.insert(expected.end(), text.begin(), text.end());
  expected.insert(expected.end(), {0xFF, 0xFE, 0, static_cast<uint8_t>(mine.size() + 2)});
  expected.insert(expected.end(), mine.begin(), mine.end());
  EXPECT_EQ(o.bytes(), expected);

  Bytes s = {0xFF, 0xD8};
  s.insert(s.end(), o.buf.begin(), o.buf.begin() + o.len);
  s.insert(s.end(), {0xFF, 0xDA, 0});
  FET *nistcom = nullptr;
  ASSERT_EQ(getc_nistcom_jpegl(&nistcom, s.data(), static_cast<int>(s.size())), 0);
  ASSERT_NE(nistcom, nullptr);
  char *ppi = nullptr;
  EXPECT_EQ(extractfet_ret(&ppi, "PPI", nistcom), 0);
  freefet(nistcom);
  ASSERT_NE(ppi, nullptr);
  EXPECT_STREQ(ppi, "612");
  std::free(ppi);
}

TEST(JpeglComments, NistcomIsTheFirstTaggedCommentBeforeSos) {
  const Bytes s = {0xFF, 0xD8, 0xFF, 0xFE, 0, 5, 'a', 'b', 'c', 0xFF, 0xFE, 0, 12,
                   'N', 'I', 'S', 'T', '_', 'C', 'O', 'M', ' ', '2', 0xFF, 0xDA, 0};
  FET *nistcom = nullptr;
  ASSERT_EQ(getc_nistcom_jpegl(&nistcom, s.data(), static_cast<int>(s.size())), 0);
  ASSERT_NE(nistcom, nullptr);
  freefet(nistcom);
  // A tag cut by the end of the buffer is not compared past it.
  const Bytes cut = {0xFF, 0xD8, 0xFF, 0xFE, 0, 12, 'N', 'I', 'S', 'T'};
  testing::internal::CaptureStderr();
  EXPECT_LT(getc_nistcom_jpegl(&nistcom, cut.data(), static_cast<int>(cut.size())), 0);
  testing::internal::GetCapturedStderr();
}

JpeglImage ThreeComponents() {
  JpeglImage img{};
  img.width = 640;
  img.height = 480;
  img.num_cmpnts = 3;
  img.cmpnt_depth = 8;
  for (int i = 0; i < 3; ++i) {
    img.hor_sampfctr[i] = img.vrt_sampfctr[i] = i == 0 ? 2 : 1;
    img.predict[i] = static_cast<uint8_t>(i + 1);
    img.point_trans[i] = static_cast<uint8_t>(i);
  }
  return img;
}

TEST(JpeglHeaders, FrameHeaderWrittenAndReadBack) {
  const JpeglImage img = ThreeComponents();
  Owned<FrameHeaderJpegl> h, back;
  ASSERT_EQ(setup_frame_header_jpegl(&h.p, &img), 0);
  Out o;
  ASSERT_EQ(putc_frame_header_jpegl(h.p, o.buf.data(), 4096, &o.len), 0);
  const Bytes expected = {0xFF, 0xC3, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x03,
                          0x00, 0x22, 0x00, 0x01, 0x11, 0x00, 0x02, 0x11, 0x00};
  EXPECT_EQ(o.bytes(), expected);
  In in(expected, 2);
  ASSERT_EQ(getc_frame_header_jpegl(&back.p, &in.cur, in.end), 0);
  EXPECT_EQ(std::memcmp(back.p, h.p, sizeof(FrameHeaderJpegl)), 0);
}

TEST(JpeglHeaders, ScanHeadersOfOneAndOfAllComponents) {
  JpeglImage img = ThreeComponents();
  Owned<ScanHeader> one, all, back;
  ASSERT_EQ(setup_scan_header(&one.p, &img, 2), 0);
  img.intrlv = 1;
  ASSERT_EQ(setup_scan_header(&all.p, &img, 0), 0);
  Out o;
  ASSERT_EQ(putc_scan_header(one.p, o.buf.data(), 4096, &o.len), 0);
  ASSERT_EQ(putc_scan_header(all.p, o.buf.data(), 4096, &o.len), 0);
  const Bytes expected = {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x02, 0x20, 0x03, 0x00, 0x02,
                          0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x00, 0x00, 0x01, 0x10, 0x02,
                          0x20, 0x01, 0x00, 0x00};
  EXPECT_EQ(o.bytes(), expected);
  In in(expected, 2);
  ASSERT_EQ(getc_scan_header(&back.p, &in.cur, in.end), 0);
  EXPECT_EQ(back->Tda[0], 2) << "the table selector is read into the low bits";
}

TEST(JpeglHeaders, WhatTheRecordsCannotHoldIsRefused) {
  testing::internal::CaptureStderr();
  for (auto change : {+[](JpeglImage &i) { i.width = 0; }, +[](JpeglImage &i) { i.height = 65536; },
                      +[](JpeglImage &i) { i.hor_sampfctr[2] = 16; },
                      +[](JpeglImage &i) { i.vrt_sampfctr[1] = 0; },
                      +[](JpeglImage &i) { i.num_cmpnts = 5; }}) {
    JpeglImage img = ThreeComponents();
    change(img);
    Owned<FrameHeaderJpegl> h;
    EXPECT_EQ(setup_frame_header_jpegl(&h.p, &img), kJpeglOutOfRange);
  }
  const JpeglImage img = ThreeComponents();
  Owned<ScanHeader> scan;
  EXPECT_EQ(setup_scan_header(&scan.p, &img, 3), kJpeglOutOfRange) << "no fourth component";
  In frame({0x00, 0x17, 0x08, 0x00, 0x10, 0x00, 0x10, 0x05});
  Owned<FrameHeaderJpegl> h;
  EXPECT_EQ(getc_frame_header_jpegl(&h.p, &frame.cur, frame.end), kJpeglOutOfRange);
  In five({0x00, 0x10, 0x05, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 1, 0, 0});
  EXPECT_EQ(getc_scan_header(&scan.p, &five.cur, five.end), kJpeglOutOfRange);
  testing::internal::GetCapturedStderr();
}

struct Slots {
  HUFF_TABLE *t[MAX_HUFFTABLES_JPEGL] = {};
  ~Slots() { free_HUFF_TABLES(t, MAX_HUFFTABLES_JPEGL); }
  int Read(const Bytes &segment) {
    In in(segment);
    return getc_huffman_table_jpegl(t, &in.cur, in.end);
  }
};

// A DHT segment after its marker: one table, optionally followed by
// bytes the length counts.
Bytes Dht(uint8_t id, std::vector<uint8_t> bits, std::vector<uint8_t> vals, int extra = 0) {
  Bytes s = {0, static_cast<uint8_t>(19 + vals.size() + extra), id};
  bits.resize(16);
  s.insert(s.end(), bits.begin(), bits.end());
  s.insert(s.end(), vals.begin(), vals.end());
  s.resize(s.size() + extra);
  return s;
}

TEST(JpeglHuffman, TableIdsAndRedefinitions) {
  Slots slots;
  testing::internal::CaptureStderr();
  ASSERT_EQ(slots.Read(Dht(2, {1}, {4})), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING : getc_huffman_table_jpegl : huffman table index 2 not in range 16 - 19\n"
            "Attempting to decode with given table index. "
            "Assuming index values 0-3 are being used.\n");
  ASSERT_NE(slots.t[2], nullptr);
  EXPECT_EQ(slots.t[2]->table_id, 18);
  testing::internal::CaptureStderr();
  EXPECT_EQ(slots.Read(Dht(5, {1}, {4})), -4);
  ASSERT_EQ(slots.Read(Dht(17, {1}, {4})), 0);
  EXPECT_EQ(slots.Read(Dht(17, {1}, {4})), -5);
  EXPECT_EQ(slots.Read(Dht(16, {1}, {4}, 1)), -3);
  std::vector<uint8_t> seventeen(17);
  EXPECT_EQ(slots.Read(Dht(16, {0, 0, 0, 0, 17}, seventeen)), -9) << "17 values, 16 symbols";
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(slots.t[0], nullptr) << "a refused table takes no slot";
}

// Ids 16 to 19 name the four slots, and 0 to 3 stand for them; the ids
// next to either range are refused.
TEST(JpeglHuffman, TableIdRangeEnds) {
  const struct {
    uint8_t id;
    int code;
    int slot;
  } cases[] = {{3, 0, 3}, {4, -4, -1}, {15, -4, -1}, {16, 0, 0}, {19, 0, 3}, {20, -4, -1}};
  for (const auto &k : cases) {
    Slots slots;
    testing::internal::CaptureStderr();
    EXPECT_EQ(slots.Read(Dht(k.id, {1}, {4})), k.code) << int(k.id);
    testing::internal::GetCapturedStderr();
    int taken = -1;
    for (int i = 0; i < MAX_HUFFTABLES_JPEGL; ++i)
      if (slots.t[i] != nullptr) taken = i;
    EXPECT_EQ(taken, k.slot) << int(k.id);
  }
}

// The total coded length of an optimal code for these counts.
uint64_t OptimalCost(const std::vector<uint32_t> &freq) {
  std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<uint64_t>> q;
  for (uint32_t f : freq)
    if (f) q.push(f);
  uint64_t cost = 0;
  while (q.size() > 1) {
    uint64_t a = q.top();
    q.pop();
    a += q.top();
    q.pop();
    cost += a;
    q.push(a);
  }
  return cost;
}

// A generated table: optimal lengths, canonical codes in value order (none
// all ones), and read back from its DHT segment to decoder arrays that map
// every code to its symbol.
TEST(JpeglHuffman, GeneratedTableIsOptimalCanonicalAndReadsBack) {
  const std::vector<uint32_t> counts = {50, 0, 7, 7, 300, 1, 1, 0, 0, 2, 90, 0, 0, 0, 3, 12, 1};
  HUFF_TABLE *table = static_cast<HUFF_TABLE *>(std::calloc(1, sizeof(HUFF_TABLE)));
  table->freq = static_cast<uint32_t *>(std::calloc(17, sizeof(uint32_t)));
  std::memcpy(table->freq, counts.data(), 17 * sizeof(uint32_t));
  ASSERT_EQ(gen_huff_tables(&table, 1), 0);
  const HUFF_TABLE &t = *table;
  EXPECT_EQ(t.table_id, 16);
  uint64_t cost = 0;
  for (int s = 0; s <= 16; ++s) cost += uint64_t{counts[s]} * t.codesize[s];
  EXPECT_EQ(cost, OptimalCost(counts));
  Out o;
  ASSERT_EQ(putc_huffman_table(DHT_JPEGL, t.table_id, t.huffbits, t.huffvalues, o.buf.data(), 4096,
                               &o.len),
            0);
  Slots slots;
  ASSERT_EQ(slots.Read(Bytes(o.buf.begin() + 2, o.buf.begin() + o.len)), 0);
  const HUFF_TABLE &r = *slots.t[0];
  uint32_t code = 0;
  int k = 0;
  for (int len = 1; len <= 16; code <<= 1, ++len) {
    for (int n = 0; n < t.huffbits[len - 1]; ++n, ++code, ++k) {
      SCOPED_TRACE(k);
      const HuffCode &c = t.huffcode_table[t.huffvalues[k]];
      EXPECT_EQ(c.size, len);
      EXPECT_EQ(c.code, code);
      EXPECT_NE(code, (1u << len) - 1) << "all-ones code";
      ASSERT_LE(static_cast<int>(code), r.maxcode[len]);
      EXPECT_EQ(r.huffvalues[r.valptr[len] + static_cast<int>(code) - r.mincode[len]],
                t.huffvalues[k]);
    }
  }
  EXPECT_EQ(k, t.last_size);
  free_HUFF_TABLE(table);
}

TEST(JpeglNistcom, LosslessFieldsForSeveralComponents) {
  const int hor[3] = {2, 1, 1}, vrt[3] = {2, 1, 1};
  FET *fet = nullptr;
  ASSERT_EQ(combine_jpegl_nistcom(&fet, 64, 48, 8, 500, 0, 3, hor, vrt, 1, 6), 0);
  EXPECT_STREQ(fet->names[7], "HV_FACTORS");
  EXPECT_STREQ(fet->values[7], "2,2:1,1:1,1");
  freefet(fet);
  fet = nullptr;
  testing::internal::CaptureStderr();
  EXPECT_EQ(combine_jpegl_nistcom(&fet, 64, 48, 8, 500, 0, 5, hor, vrt, 1, 6), kJpeglOutOfRange);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(fet, nullptr);
}

}  // namespace
