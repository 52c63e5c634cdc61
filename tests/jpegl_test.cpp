// Lossless JPEG marker segments: marker classes, JFIF, frame and scan
// headers, Huffman table records, comment insertion and NISTCOM segments,
// checked against hand-computed bytes and against cjpeg, rdjpgcom, wrjpgcom
// and Pillow.
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

// An output buffer with its length, as the writers take it.
struct Out {
  Bytes buf = Bytes(4096);
  int len = 0;
  uint8_t *data() { return buf.data(); }
  Bytes bytes() const { return Bytes(buf.begin(), buf.begin() + len); }
};

// Reads from an exact-size heap copy so the sanitizer sees any read past it.
struct In {
  explicit In(const Bytes &b) : data(b), cur(data.data()), end(data.data() + data.size()) {}
  Bytes data;
  const uint8_t *cur;
  const uint8_t *end;
  size_t consumed() const { return static_cast<size_t>(cur - data.data()); }
};

template <typename T>
struct Owned {  // a record handed out by the set-up and reader routines
  T *p = nullptr;
  ~Owned() { std::free(p); }
  T *operator->() { return p; }
};

struct Slots {
  HUFF_TABLE *t[MAX_HUFFTABLES_JPEGL] = {};
  ~Slots() { free_HUFF_TABLES(t, MAX_HUFFTABLES_JPEGL); }
};

int Marker(const Bytes &b, int type, uint16_t *m) {
  In in(b);
  return getc_marker_jpegl(m, type, &in.cur, in.end);
}

TEST(JpeglMarkers, EachClassTakesItsOwnMarkersOnly) {
  uint16_t m = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(Marker({0xFF, 0xDA}, TBLS_N_SOF_JPEGL, &m), -4);
  EXPECT_EQ(Marker({0xFF, 0xC3}, TBLS_N_SOS_JPEGL, &m), -5);
  EXPECT_EQ(Marker({0xFF, 0xE0}, SOI_JPEGL, &m), -2);
  EXPECT_EQ(Marker({0xFF, 0xD8}, APP0_JPEGL, &m), -3);
  EXPECT_EQ(Marker({0x12, 0x34}, ANY_JPEGL, &m), -6);
  EXPECT_EQ(Marker({0xFF, 0xC4}, 7, &m), -6);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR : getc_marker_jpegl : No DHT, COM, or SOF3 markers.\n"
            "ERROR : getc_marker_jpegl : No DHT, COM, or SOS markers.\n"
            "ERROR : getc_marker_jpegl : No SOI marker. {65504}\n"
            "ERROR : getc_marker_jpegl : No APP0 (JFIF) marker. {65496}\n"
            "ERROR : getc_marker_jpegl : no marker found {1234}\n"
            "ERROR : getc_marker_jpegl : Invalid marker -> {FFC4}\n");
  EXPECT_EQ(m, 0) << "nothing stored on a refusal";
  EXPECT_EQ(Marker({0xFF, 0xFE}, TBLS_N_SOS_JPEGL, &m), 0);
  EXPECT_EQ(m, COM_JPEGL);
}

const Bytes kApp0 = {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 0x01, 0x02,
                     0,    0,    0,    0,    0,   0,   0};

TEST(JpeglJfif, SetUpWithoutDensityWritesTheEighteenByteSegment) {
  Owned<JfifHeader> h;
  ASSERT_EQ(setup_jfif_header(&h.p, 1, -1, 300), 0);
  Out o;
  ASSERT_EQ(putc_jfif_header(h.p, o.data(), 4096, &o.len), 0);
  EXPECT_EQ(o.bytes(), kApp0);
}

TEST(JpeglJfif, DensityBeyondSixteenBitsIsRefused) {
  Owned<JfifHeader> h;
  testing::internal::CaptureStderr();
  EXPECT_EQ(setup_jfif_header(&h.p, 1, 70000, 300), kJpeglOutOfRange);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(h.p, nullptr);
}

int ReadJfif(const Bytes &segment, JfifHeader **h, size_t *consumed = nullptr) {
  In in(Bytes(segment.begin() + 2, segment.end()));
  int ret = getc_jfif_header(h, &in.cur, in.end);
  if (consumed) *consumed = in.consumed();
  return ret;
}

TEST(JpeglJfif, ReaderHonoursTheSegmentLength) {
  Bytes longer = kApp0;
  longer[3] = 20;
  longer.insert(longer.end(), {9, 9, 9, 9, 0xFF, 0xDB});
  Owned<JfifHeader> h;
  size_t consumed = 0;
  ASSERT_EQ(ReadJfif(longer, &h.p, &consumed), 0);
  EXPECT_EQ(consumed, 20u) << "the cursor stands after the whole segment";
  EXPECT_EQ(h->ver, 0x0102);

  Bytes ident = kApp0;
  ident[8] = 1;
  Bytes thumb = kApp0;
  thumb[17] = 2;
  Bytes shorter = kApp0;
  shorter[3] = 15;
  Bytes past = kApp0;
  past[3] = 40;
  JfifHeader *none = nullptr;
  testing::internal::CaptureStderr();
  EXPECT_EQ(ReadJfif(ident, &none), -5);
  EXPECT_EQ(ReadJfif(thumb, &none), -12);
  EXPECT_EQ(ReadJfif(shorter, &none), kJpeglOutOfRange);
  EXPECT_EQ(ReadJfif(past, &none), kJpeglOutOfRange);
  EXPECT_EQ(ReadJfif(Bytes(kApp0.begin(), kApp0.begin() + 10), &none), -6);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(none, nullptr);
}

// Pillow writes a JFIF header with a density and a comment.
TEST(JpeglJfif, PillowsHeaderAndCommentAreRead) {
  TSL_NEED_TOOL("/usr/bin/python3");
  tsltest::TempDir dir;
  const std::string path = dir.File("p.jpg");
  ASSERT_EQ(tsltest::RunPython("from PIL import Image\n"
                               "Image.new('L', (16, 8), 90).save('" + path +
                               "', dpi=(300, 200), comment=b'NIST_COM 2\\nPPI 300')\n"),
            0);
  const Bytes file = tsltest::ReadFile(path);
  In in(file);
  uint16_t m;
  ASSERT_EQ(getc_marker_jpegl(&m, SOI_JPEGL, &in.cur, in.end), 0);
  ASSERT_EQ(getc_marker_jpegl(&m, APP0_JPEGL, &in.cur, in.end), 0);
  Owned<JfifHeader> h;
  ASSERT_EQ(getc_jfif_header(&h.p, &in.cur, in.end), 0);
  EXPECT_EQ(h->units, 1);
  EXPECT_EQ(h->dx, 300);
  EXPECT_EQ(h->dy, 200);
  FET *nistcom = nullptr;
  ASSERT_EQ(getc_nistcom_jpegl(&nistcom, file.data(), static_cast<int>(file.size())), 0);
  ASSERT_NE(nistcom, nullptr);
  char *ppi = nullptr;
  EXPECT_EQ(extractfet_ret(&ppi, "PPI", nistcom), 0);
  EXPECT_STREQ(ppi, "300");
  std::free(ppi);
  freefet(nistcom);
}

// A cjpeg file with a comment from wrjpgcom (placed before the frame
// header), then ours right after the JFIF header: rdjpgcom and Pillow read
// both, in file order.
TEST(JpeglComments, AddedCommentIsReadBackByOtherSoftware) {
  TSL_NEED_TOOL("cjpeg");
  TSL_NEED_TOOL("wrjpgcom");
  TSL_NEED_TOOL("rdjpgcom");
  TSL_NEED_TOOL("/usr/bin/python3");
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
  ASSERT_EQ(tsltest::RunPython("from PIL import Image\n"
                               "im = Image.open('" + dir.File("e.jpg") + "')\n"
                               "im.load()\n"
                               "print([c for k, c in im.applist if k == 'COM'])\n",
                               &text),
            0);
  EXPECT_EQ(text, "[b'NIST_COM 2\\nPPI 500', b'first one']\n");
  FET *nistcom = nullptr;
  ASSERT_EQ(getc_nistcom_jpegl(&nistcom, edited.data(), static_cast<int>(edited.size())), 0);
  EXPECT_NE(nistcom, nullptr);
  freefet(nistcom);
}

TEST(JpeglComments, ApplicationSegmentAndCommentsAreCopiedWhole) {
  Bytes app0 = kApp0;
  app0[3] = 18;
  app0.insert(app0.end(), {7, 7});
  Bytes s = {0xFF, 0xD8};
  s.insert(s.end(), app0.begin(), app0.end());
  s.insert(s.end(), {0xFF, 0xFE, 0x00, 0x05, 'a', 0, 'b', 0xFF, 0xC4, 0x00, 0x02});
  uint8_t *out = nullptr;
  int len = 0;
  ASSERT_EQ(add_comment_jpegl(&out, &len, s.data(), static_cast<int>(s.size()), "new"), 0);
  const Bytes edited(out, out + len);
  std::free(out);
  Bytes expected(s.begin(), s.end() - 4);
  expected.insert(expected.end(), {0xFF, 0xFE, 0x00, 0x05, 'n', 'e', 'w', 0xFF, 0xC4, 0, 2});
  EXPECT_EQ(edited, expected);
}

TEST(JpeglComments, NistcomSegmentAndTheCallersEmptyComment) {
  Out o;
  const int hor[1] = {1}, vrt[1] = {1};
  ASSERT_EQ(putc_nistcom_jpegl("", 64, 48, 8, 500, 0, 1, hor, vrt, 1, o.data(), 4096, &o.len), 0);
  const std::string text =
      "NIST_COM 9\nPIX_WIDTH 64\nPIX_HEIGHT 48\nPIX_DEPTH 8\nPPI 500\nLOSSY 0\n"
      "COLORSPACE GRAY\nCOMPRESSION JPEGL\nJPEGL_PREDICT 1";
  Bytes expected = {0xFF, 0xFE, 0, static_cast<uint8_t>(text.size() + 2)};
  expected.insert(expected.end(), text.begin(), text.end());
  expected.insert(expected.end(), {0xFF, 0xFE, 0x00, 0x02});
  EXPECT_EQ(o.bytes(), expected);
}

TEST(JpeglComments, NistcomIsTheFirstCommentTaggedSoBeforeSos) {
  const Bytes s = {0xFF, 0xD8, 0xFF, 0xFE, 0, 5, 'a', 'b', 'c', 0xFF, 0xFE, 0, 12,
                   'N', 'I', 'S', 'T', '_', 'C', 'O', 'M', ' ', '2', 0xFF, 0xDA, 0};
  FET *nistcom = nullptr;
  ASSERT_EQ(getc_nistcom_jpegl(&nistcom, s.data(), static_cast<int>(s.size())), 0);
  ASSERT_NE(nistcom, nullptr);
  EXPECT_STREQ(nistcom->values[0], "2");
  freefet(nistcom);
  // A tag cut by the end of the buffer is not compared past it.
  const Bytes cut = {0xFF, 0xD8, 0xFF, 0xFE, 0, 12, 'N', 'I', 'S', 'T'};
  nistcom = reinterpret_cast<FET *>(1);
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

TEST(JpeglFrameHeader, WrittenAndReadBack) {
  const JpeglImage img = ThreeComponents();
  Owned<FrameHeaderJpegl> h;
  ASSERT_EQ(setup_frame_header_jpegl(&h.p, &img), 0);
  Out o;
  ASSERT_EQ(putc_frame_header_jpegl(h.p, o.data(), 4096, &o.len), 0);
  const Bytes expected = {0xFF, 0xC3, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x03,
                          0x00, 0x22, 0x00, 0x01, 0x11, 0x00, 0x02, 0x11, 0x00};
  EXPECT_EQ(o.bytes(), expected);
  In in(Bytes(expected.begin() + 2, expected.end()));
  Owned<FrameHeaderJpegl> back;
  ASSERT_EQ(getc_frame_header_jpegl(&back.p, &in.cur, in.end), 0);
  EXPECT_EQ(std::memcmp(back.p, h.p, sizeof(FrameHeaderJpegl)), 0);
}

TEST(JpeglFrameHeader, SizesFactorsAndComponentsOutsideTheFieldsAreRefused) {
  testing::internal::CaptureStderr();
  for (auto change : {+[](JpeglImage &i) { i.width = 0; }, +[](JpeglImage &i) { i.height = 65536; },
                      +[](JpeglImage &i) { i.hor_sampfctr[2] = 16; },
                      +[](JpeglImage &i) { i.vrt_sampfctr[1] = 0; },
                      +[](JpeglImage &i) { i.num_cmpnts = 5; }}) {
    JpeglImage img = ThreeComponents();
    change(img);
    Owned<FrameHeaderJpegl> h;
    EXPECT_EQ(setup_frame_header_jpegl(&h.p, &img), kJpeglOutOfRange);
    EXPECT_EQ(h.p, nullptr);
  }
  const Bytes five = {0x00, 0x17, 0x08, 0x00, 0x10, 0x00, 0x10, 0x05};
  In in(five);
  Owned<FrameHeaderJpegl> h;
  EXPECT_EQ(getc_frame_header_jpegl(&h.p, &in.cur, in.end), kJpeglOutOfRange);
  testing::internal::GetCapturedStderr();
}

TEST(JpeglScanHeader, OneComponentScanCarriesItsNumberAndTable) {
  const JpeglImage img = ThreeComponents();
  Owned<ScanHeader> h;
  ASSERT_EQ(setup_scan_header(&h.p, &img, 2), 0);
  Out o;
  ASSERT_EQ(putc_scan_header(h.p, o.data(), 4096, &o.len), 0);
  const Bytes expected = {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x02, 0x20, 0x03, 0x00, 0x02};
  EXPECT_EQ(o.bytes(), expected);
  In in(Bytes(expected.begin() + 2, expected.end()));
  Owned<ScanHeader> back;
  ASSERT_EQ(getc_scan_header(&back.p, &in.cur, in.end), 0);
  EXPECT_EQ(back->Tda[0], 2) << "the table selector is read into the low bits";
}

TEST(JpeglScanHeader, InterleavedScanListsEveryComponent) {
  JpeglImage img = ThreeComponents();
  img.intrlv = 1;
  Owned<ScanHeader> h;
  ASSERT_EQ(setup_scan_header(&h.p, &img, 0), 0);
  Out o;
  ASSERT_EQ(putc_scan_header(h.p, o.data(), 4096, &o.len), 0);
  EXPECT_EQ(o.bytes(), (Bytes{0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x00, 0x00, 0x01, 0x10, 0x02, 0x20,
                              0x01, 0x00, 0x00}));
}

TEST(JpeglScanHeader, ComponentOutsideTheFrameIsRefused) {
  const JpeglImage img = ThreeComponents();
  Owned<ScanHeader> h;
  testing::internal::CaptureStderr();
  EXPECT_EQ(setup_scan_header(&h.p, &img, 3), kJpeglOutOfRange);
  EXPECT_EQ(setup_scan_header(&h.p, &img, -1), kJpeglOutOfRange);
  const Bytes five = {0x00, 0x10, 0x05, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 1, 0, 0};
  In in(five);
  EXPECT_EQ(getc_scan_header(&h.p, &in.cur, in.end), kJpeglOutOfRange);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(h.p, nullptr);
}

// Canonical codes of a table's length counts, in value order.
std::vector<HuffCode> CanonicalCodes(const uint8_t *bits) {
  std::vector<HuffCode> codes;
  uint32_t code = 0;
  for (int len = 1; len <= 16; ++len) {
    for (int i = 0; i < bits[len - 1]; ++i) codes.push_back({static_cast<int16_t>(len), code++});
    code <<= 1;
  }
  return codes;
}

// The symbol the decoder's lookup arrays give for one code.
int LookUp(const HUFF_TABLE &t, const HuffCode &c) {
  if (static_cast<int>(c.code) > t.maxcode[c.size]) return -1;
  return t.huffvalues[t.valptr[c.size] + static_cast<int>(c.code) - t.mincode[c.size]];
}

Bytes Dht(uint8_t id, std::initializer_list<uint8_t> bits, std::initializer_list<uint8_t> vals,
          int extra = 0) {
  Bytes s = {0, static_cast<uint8_t>(19 + vals.size() + extra), id};
  s.insert(s.end(), bits.begin(), bits.end());
  s.resize(s.size() + 16 - bits.size());
  s.insert(s.end(), vals.begin(), vals.end());
  s.resize(s.size() + extra);
  return s;
}

int ReadDht(const Bytes &segment, Slots *slots) {
  In in(segment);
  return getc_huffman_table_jpegl(slots->t, &in.cur, in.end);
}

TEST(JpeglHuffman, ReadTableDecodesItsCanonicalCodes) {
  Slots slots;
  ASSERT_EQ(ReadDht(Dht(17, {0, 2, 3}, {5, 0, 9, 16, 3}), &slots), 0);
  const HUFF_TABLE *t = slots.t[1];
  ASSERT_NE(t, nullptr);
  const std::vector<HuffCode> codes = CanonicalCodes(t->huffbits);
  ASSERT_EQ(codes.size(), 5u);
  for (size_t k = 0; k < codes.size(); ++k)
    EXPECT_EQ(LookUp(*t, codes[k]), t->huffvalues[k]) << "code " << k;
}

TEST(JpeglHuffman, TableIdsAndRedefinitions) {
  Slots slots;
  testing::internal::CaptureStderr();
  ASSERT_EQ(ReadDht(Dht(2, {1}, {4}), &slots), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING : getc_huffman_table_jpegl : huffman table index 2 not in range 16 - 19\n"
            "Attempting to decode with given table index. "
            "Assuming index values 0-3 are being used.\n");
  ASSERT_NE(slots.t[2], nullptr);
  EXPECT_EQ(slots.t[2]->table_id, 18);
  testing::internal::CaptureStderr();
  EXPECT_EQ(ReadDht(Dht(5, {1}, {4}), &slots), -4);
  ASSERT_EQ(ReadDht(Dht(17, {1}, {4}), &slots), 0);
  EXPECT_EQ(ReadDht(Dht(17, {1}, {4}), &slots), -5);
  EXPECT_EQ(ReadDht(Dht(16, {1}, {4}, 1), &slots), -3);
  EXPECT_EQ(ReadDht(Dht(16, {0, 0, 0, 0, 17}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14,
                                             15, 16}),
                    &slots),
            -9)
      << "17 values for 16 symbols";
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(slots.t[0], nullptr) << "a refused table takes no slot";
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
    uint64_t b = q.top();
    q.pop();
    cost += a + b;
    q.push(a + b);
  }
  return cost;
}

TEST(JpeglHuffman, GeneratedTablesAreOptimalCanonicalAndReadBack) {
  const std::vector<std::vector<uint32_t>> counts = {
      {50, 0, 7, 7, 300, 1, 1, 0, 0, 2, 90, 0, 0, 0, 3, 12, 1},
      {1, 1, 2, 3, 5, 8, 13, 21, 34, 55, 89, 144, 233, 377, 610, 987, 1}};
  HUFF_TABLE *tables[2];
  for (int i = 0; i < 2; ++i) {
    tables[i] = static_cast<HUFF_TABLE *>(std::calloc(1, sizeof(HUFF_TABLE)));
    tables[i]->freq = static_cast<uint32_t *>(std::calloc(17, sizeof(uint32_t)));
    std::memcpy(tables[i]->freq, counts[i].data(), 17 * sizeof(uint32_t));
  }
  ASSERT_EQ(gen_huff_tables(tables, 2), 0);
  for (int i = 0; i < 2; ++i) {
    const HUFF_TABLE &t = *tables[i];
    EXPECT_EQ(t.table_id, 16 + i);
    uint64_t cost = 0;
    for (int s = 0; s <= 16; ++s) cost += uint64_t{counts[i][s]} * t.codesize[s];
    EXPECT_EQ(cost, OptimalCost(counts[i])) << "table " << i;
    const std::vector<HuffCode> codes = CanonicalCodes(t.huffbits);
    ASSERT_EQ(static_cast<int>(codes.size()), t.last_size);
    for (size_t k = 0; k < codes.size(); ++k) {
      EXPECT_EQ(t.huffcode_table[t.huffvalues[k]].size, codes[k].size) << i << " " << k;
      EXPECT_EQ(t.huffcode_table[t.huffvalues[k]].code, codes[k].code) << i << " " << k;
      EXPECT_NE(codes[k].code, (1u << codes[k].size) - 1) << "all-ones code";
    }
    Out o;
    ASSERT_EQ(putc_huffman_table(DHT_JPEGL, t.table_id, t.huffbits, t.huffvalues, o.data(), 4096,
                                 &o.len),
              0);
    Slots slots;
    ASSERT_EQ(ReadDht(Bytes(o.buf.begin() + 2, o.buf.begin() + o.len), &slots), 0);
    for (int s = 0; s < 16; ++s) {
      if (counts[i][s] == 0) continue;
      EXPECT_EQ(LookUp(*slots.t[i], t.huffcode_table[s]), s) << "table " << i;
    }
  }
  free_HUFF_TABLES(tables, 2);
}

TEST(JpeglNistcom, LosslessFieldsForSeveralComponents) {
  const int hor[3] = {2, 1, 1}, vrt[3] = {2, 1, 1};
  FET *fet = nullptr;
  ASSERT_EQ(combine_jpegl_nistcom(&fet, 64, 48, 8, 500, 0, 3, hor, vrt, 1, 6), 0);
  char *text = nullptr;
  ASSERT_EQ(fet2string(&text, fet), 0);
  EXPECT_STREQ(text,
               "NIST_COM 11\nPIX_WIDTH 64\nPIX_HEIGHT 48\nPIX_DEPTH 8\nPPI 500\nLOSSY 0\n"
               "NUM_COMPONENTS 3\nHV_FACTORS 2,2:1,1:1,1\nINTERLEAVE 1\nCOMPRESSION JPEGL\n"
               "JPEGL_PREDICT 6");
  std::free(text);
  freefet(fet);
  fet = reinterpret_cast<FET *>(1);
  FET *none = nullptr;
  testing::internal::CaptureStderr();
  EXPECT_EQ(combine_jpegl_nistcom(&none, 64, 48, 8, 500, 0, 5, hor, vrt, 1, 6),
            kJpeglOutOfRange);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(none, nullptr);
}

}  // namespace
