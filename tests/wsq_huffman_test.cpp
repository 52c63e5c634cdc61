// Huffman tables and entropy-coded blocks: symbols, code sizes and their limit,
// stuffing and padding, and the block decoder on good and hostile data.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "common/checked.h"
#include "support/test_support.h"
#include "wsq/huffman.h"
#include "wsq/huffman_blocks.h"
#include "wsq/tables.h"
#include "wsq/wavelet.h"

namespace {

using tsl::HuffCode;
using tsltest::Bytes;
using Coeffs = std::vector<int16_t>;
template <typename T>
using Owned = std::unique_ptr<T, tsl::FreeDeleter>;

struct Table {  // codes by symbol (257), length counts, symbols in code order
  Owned<HuffCode> codes;
  Owned<uint8_t> bits, values;
};

// Tables of a block or blocks, checked: the codes the counts list, 1 to 16
// bits, none all 1-bits, none for the reserved symbol, code space left.
Table Gen(const Coeffs &c, std::vector<int> sizes) {
  HuffCode *codes = nullptr;
  uint8_t *bits = nullptr, *values = nullptr;
  EXPECT_EQ(tsl::gen_hufftable_wsq(&codes, &bits, &values, c.data(), sizes.data(),
                                   static_cast<int>(sizes.size())),
            0);
  Table t{Owned<HuffCode>(codes), Owned<uint8_t>(bits), Owned<uint8_t>(values)};
  if (!codes || !bits) return t;
  double kraft = 0, listed = 0;
  for (int i = 0; i < 16; i++) listed += bits[i] / double(2 << i);
  EXPECT_EQ(codes[256].size, 0) << "the reserved symbol has no code";
  for (int s = 0; s < 256; s++) {
    const HuffCode k = codes[s];
    if (!k.size) continue;
    EXPECT_LE(k.size, 16) << s;
    EXPECT_LT(k.code, (1u << k.size) - 1) << s << ": all 1-bits";
    kraft += 1.0 / (1u << k.size);
  }
  EXPECT_EQ(kraft, listed);
  EXPECT_LT(kraft, 1.0) << "no code space left";
  return t;
}

void Put16(Bytes *s, int v) { s->insert(s->end(), {uint8_t(v >> 8), uint8_t(v)}); }

void PutDht(Bytes *s, int id, const uint8_t *bits, const uint8_t *values) {
  const int n = std::accumulate(bits, bits + 16, 0);
  s->insert(s->end(), {0xFF, 0xA6, uint8_t((19 + n) >> 8), uint8_t(19 + n), uint8_t(id)});
  s->insert(s->end(), bits, bits + 16);
  s->insert(s->end(), values, values + n);
}

void PutSob(Bytes *s, int id) { s->insert(s->end(), {0xFF, 0xA3, 0x00, 0x03, uint8_t(id)}); }

Bytes Compress(const int16_t *c, int n, const HuffCode *codes) {
  std::vector<uint8_t> buf(static_cast<size_t>(n) * 8 + 16);
  int len = -1;
  EXPECT_EQ(tsl::compress_block(buf.data(), int(buf.size()), &len, c, n, 74, 100, codes), 0);
  return Bytes(buf.begin(), buf.begin() + std::max(len, 0));
}

// Tables and blocks as the encoder lays them out: table 0 and block 1,
// table 1 and blocks 2 and 3; extra bytes after block 1.
Bytes EncodeBlocks(const Coeffs &c, int n1, int n2, const Bytes &after1 = {}) {
  const int n[3] = {n1, n2, static_cast<int>(c.size()) - n1 - n2};
  Bytes s;
  Table t[2] = {Gen(c, {n1}), Gen(Coeffs(c.begin() + n1, c.end()), {n[1], n[2]})};
  int at = 0;
  for (int b = 0; b < 3; ++b) {
    const int id = b ? 1 : 0;
    if (b < 2) PutDht(&s, id, t[id].bits.get(), t[id].values.get());
    PutSob(&s, id);
    const Bytes d = Compress(c.data() + at, n[b], t[id].codes.get());
    s.insert(s.end(), d.begin(), d.end());
    if (b == 0) s.insert(s.end(), after1.begin(), after1.end());
    at += n[b];
  }
  Put16(&s, 0xFFA1);
  return s;
}

// Decodes into exactly width x height places (so the sanitizer sees any
// store past them), with no table defined.
int Decode(const Bytes &s, int width, int height, Coeffs *out, bool bitwise = false,
           ptrdiff_t *used = nullptr) {
  tsl::frm_header_wsq.width = static_cast<uint16_t>(width);
  tsl::frm_header_wsq.height = static_cast<uint16_t>(height);
  tsl::dqt_table.qtable_defined = 0;
  for (auto &t : tsl::dht_table) t.table_defined = 0;
  out->assign(static_cast<size_t>(width) * height, 0);
  const uint8_t *cur = s.data();
  tsl::init_wsq_decoder_resources();
  int ret = tsl::huffman_decode_data_mem(out->data(), &tsl::dtt_table, &tsl::dqt_table,
                                         tsl::dht_table, &cur, s.data() + s.size(), bitwise);
  tsl::free_wsq_decoder_resources();
  if (used) *used = cur - s.data();
  return ret;
}

// What one decode leaves: result, coefficients, messages, bytes consumed and
// the reader's state.
struct Reading {
  int ret;
  Coeffs coeffs;
  std::string messages;
  ptrdiff_t used;
  tsl::WsqBitReader state;
};

Reading Read(const Bytes &s, int width, int height, bool bitwise) {
  Reading r;
  tsl::wsq_bit_reader = {0x5A, 0xA5};
  testing::internal::CaptureStderr();
  r.ret = Decode(s, width, height, &r.coeffs, bitwise, &r.used);
  r.messages = testing::internal::GetCapturedStderr();
  r.state = tsl::wsq_bit_reader;
  return r;
}

// Decodes through lookup tables and bit by bit, which must agree in all.
int DecodeAgreeing(const Bytes &s, int width, int height, Coeffs *out) {
  const Reading table = Read(s, width, height, false), bits = Read(s, width, height, true);
  EXPECT_EQ(table.ret, bits.ret);
  EXPECT_EQ(table.coeffs, bits.coeffs);
  EXPECT_EQ(table.messages, bits.messages);
  EXPECT_EQ(table.used, bits.used);
  EXPECT_EQ(table.state.code, bits.state.code);
  EXPECT_EQ(table.state.code2, bits.state.code2);
  *out = table.coeffs;
  return table.ret;
}

// Coded as blocks of n1, n2 and the rest, read back both ways.
void ExpectRoundTrip(const Coeffs &c, int n1, int n2, int width, int height) {
  Coeffs out, expect = c;
  ASSERT_EQ(DecodeAgreeing(EncodeBlocks(c, n1, n2), width, height, &out), 0);
  expect.resize(out.size(), 0);
  ASSERT_EQ(out, expect);
}

// Runs of zeros and values, mostly short runs and small values with a few
// escapes; wide ones reach the 16-bit escapes more often.
Coeffs RandomCoeffs(uint64_t seed, int n, bool wide) {
  tsltest::Rng r(seed);
  Coeffs c;
  while (static_cast<int>(c.size()) < n) {
    const uint32_t k = r.Below(100);
    if (k < 30) {
      c.insert(c.end(), 1 + r.Below(k < 10 ? 300 : 20), 0);
      continue;
    }
    uint32_t largest = wide ? 32767 : 600;
    if (k < 96) largest = 80;
    if (k < 90) largest = 3;
    const int sign = r.Below(2) ? -1 : 1;
    c.push_back(static_cast<int16_t>(sign * static_cast<int>(1 + r.Below(largest))));
  }
  c.resize(static_cast<size_t>(n));
  return c;
}

TEST(HuffmanSymbols, ValuesRunsAndEscapesMapToTheirSymbols) {
  using M = std::map<int, uint32_t>;
  const std::vector<std::pair<Coeffs, M>> cases = {
      {{74}, {{254, 1}}},   {{-73}, {{107, 1}}},  {{75}, {{101, 1}}},   {{255}, {{101, 1}}},
      {{256}, {{103, 1}}},  {{-74}, {{102, 1}}},  {{-256}, {{104, 1}}}, {{1}, {{181, 1}}},
      {{-1}, {{179, 1}}},   {Coeffs(100), {{100, 1}}}, {Coeffs(101), {{105, 1}}},
      {Coeffs(255), {{105, 1}}}, {Coeffs(256), {{106, 1}}}, {Coeffs(65536), {{1, 1}, {106, 1}}},
      {{0, 0, 5, 0, 5, 0, 0, 0}, {{1, 1}, {2, 1}, {3, 1}, {185, 2}}}};
  for (const auto &[c, expect] : cases) {
    uint32_t *n = nullptr;
    ASSERT_EQ(tsl::count_block(&n, 256, c.data(), static_cast<int>(c.size()), 74, 100), 0);
    M got, want = expect;
    want[256] = 1;  // the reserved symbol, counted once per table
    for (int i = 0; i <= 256; i++)
      if (n[i]) got[i] = n[i];
    std::free(n);
    EXPECT_EQ(got, want) << "block of " << c.size() << " starting " << c[0];
  }
}

TEST(HuffmanCodes, HandWorkedTablesAndBytes) {
  // Counts plus the reserved symbol 256 (count 1), merged rarest first; of
  // equal counts the higher symbol goes first, so 256 pairs with the
  // highest-numbered rarest symbol, which ends one bit longer than its equal.
  struct Case {
    Coeffs c;
    std::vector<int> blocks;
    std::vector<std::array<int, 3>> codes;  // symbol, size, code; in value order
    Bytes coded;                            // whole c as one block
  } cases[] = {
      // 181 x5, 182 x3, 183 x1: 0 10 110 0 0 10 0 10 0, padded with 1-bits.
      {{1, 2, 3, 1, 1, 2, 1, 2, 1}, {9}, {{181, 1, 0}, {182, 2, 2}, {183, 3, 6}}, {0x58, 0x93}},
      // Two blocks counted together, the reserved symbol once (not 2 and 2).
      {{1, 2}, {1, 1}, {{181, 1, 0}, {182, 2, 2}}, {0x5F}},
      // One symbol: code 0, the one-bit code 1 stays unused.
      {Coeffs(7), {7}, {{7, 1, 0}}, {0x7F}},
      // One 16-bit escape (symbol 103 "0") of 32767: 0 0111111111111111, then
      // seven 1-bits of padding making a last 0xFF, stuffed like the first.
      {{32767}, {1}, {{103, 1, 0}}, {0x3F, 0xFF, 0x00, 0xFF, 0x00}},
      {Coeffs(8, 1), {8}, {{181, 1, 0}}, {0x00}},  // a full byte: no padding
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(testing::PrintToString(k.c));
    Table t = Gen(k.c, k.blocks);
    Bytes bits(16, 0), values;
    for (auto [sym, size, code] : k.codes) {
      bits[size - 1]++;
      values.push_back(uint8_t(sym));
      EXPECT_EQ(t.codes.get()[sym].size, size) << sym;
      EXPECT_EQ(t.codes.get()[sym].code, uint32_t(code)) << sym;
    }
    EXPECT_EQ(Bytes(t.bits.get(), t.bits.get() + 16), bits);
    EXPECT_EQ(Bytes(t.values.get(), t.values.get() + values.size()), values);
    EXPECT_EQ(Compress(k.c.data(), int(k.c.size()), t.codes.get()), k.coded);
  }
}

// Counts 2, 3, 5, 8, ... chain every merge: 19 symbols would reach ~19 bits.
TEST(HuffmanCodes, LongCodesAreLimitedToSixteenBits) {
  Coeffs c;
  int a = 2, b = 3;
  for (int16_t value = 1; value <= 19; value++) {
    c.insert(c.end(), a, value);
    const int next = a + b;
    a = b;
    b = next;
  }
  Table t = Gen(c, {static_cast<int>(c.size())});
  EXPECT_GT(t.bits.get()[15], 0) << "limited to exactly 16 bits";
  for (int i = 16; i < tsl::kHuffbitsSlots; i++) EXPECT_EQ(t.bits.get()[i], 0);
  ExpectRoundTrip(c, static_cast<int>(c.size()), 0, 200, 200);
}

// A table read from a stream may list one code more than there are symbols
// (the list has room for it and its ending entry); one more is refused.
TEST(HuffmanCodes, CodeListTakesAtMostOneCodePastTheSymbols) {
  for (int n : {256, 16}) {
    uint8_t bits[tsl::kHuffbitsSlots] = {};
    bits[15] = static_cast<uint8_t>(n - 1);
    bits[14] = 2;  // n + 1 codes
    HuffCode *list = nullptr;
    int size = -7;
    ASSERT_EQ(tsl::build_huffsizes(&list, &size, bits, n), 0) << n;
    const Owned<HuffCode> owned(list);
    EXPECT_EQ(size, n + 1);
    EXPECT_EQ(list[n + 1].size, 0) << "the ending entry";
    bits[14] = 3;
    HuffCode *refused = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(tsl::build_huffsizes(&refused, &size, bits, n), -3) << n;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR : build_huffsizes : " + std::to_string(n + 2) + " codes for " +
                  std::to_string(n) + " symbols\n");
    EXPECT_EQ(refused, nullptr);
  }
}

TEST(HuffmanRoundTrip, BoundaryValuesEmptyBlocksAndComments) {
  Coeffs b = {74, 75, -73, -74, 255, 256, -255, -256, 32767, -32768, 1, -1, 180, -180};
  for (int run : {100, 101, 255, 256, 65535, 65536, 131073}) {
    b.insert(b.end(), static_cast<size_t>(run), 0);
    b.push_back(-5);
  }
  ExpectRoundTrip(b, 14, static_cast<int>(b.size()) - 17, 65535, 6);
  Coeffs c = RandomCoeffs(77, 500, true), out;
  ExpectRoundTrip(c, 0, 500, 25, 20);
  ASSERT_EQ(Decode(EncodeBlocks(c, 100, 300, {0xFF, 0xA8, 0x00, 0x05, 'a', 'b', 'c'}), 25, 20,
                   &out),
            0)
      << "a comment between blocks";
  EXPECT_EQ(out, c);
}

// Comments may stand between the third block and the end marker, one or
// several; after the second or the fourth block a comment is read as a
// table segment, after which the end marker may not follow.
TEST(HuffmanRoundTrip, CommentsBeforeTheEndOnlyAfterTheThirdBlock) {
  const Coeffs c = RandomCoeffs(5, 400, false);
  const Table t = Gen(c, {100, 100, 100, 100});
  const Bytes com = {0xFF, 0xA8, 0x00, 0x04, 'h', 'i'};
  for (auto [blocks, comments, ret] :
       {std::tuple{3, 1, 0}, {3, 2, 0}, {2, 1, -90}, {4, 1, -90}}) {
    SCOPED_TRACE(testing::Message() << blocks << " blocks, " << comments << " comments");
    Bytes s;
    PutDht(&s, 0, t.bits.get(), t.values.get());
    for (int b = 0; b < blocks; ++b) {
      PutSob(&s, 0);
      const Bytes d = Compress(c.data() + 100 * b, 100, t.codes.get());
      s.insert(s.end(), d.begin(), d.end());
    }
    for (int k = 0; k < comments; ++k) s.insert(s.end(), com.begin(), com.end());
    Put16(&s, 0xFFA1);
    Coeffs out;
    EXPECT_EQ(DecodeAgreeing(s, 20, 20, &out), ret);
    EXPECT_TRUE(std::equal(c.begin(), c.begin() + 100 * blocks, out.begin()));
  }
}

// Random blocks round-trip with lookup-table and bit-by-bit reading
// agreeing; every truncation fails, and leaves nothing behind that changes
// the next decode.
TEST(HuffmanRoundTrip, RandomBlocksAndEveryTruncation) {
  for (int i = 0; i < 200; i++)
    ASSERT_NO_FATAL_FAILURE(ExpectRoundTrip(RandomCoeffs(i, 3000, i % 2), 700, 1800, 60, 50)) << i;
  Coeffs out;
  const Coeffs c = RandomCoeffs(3, 3000, true);
  const Bytes s = EncodeBlocks(c, 700, 1800);
  for (size_t n = 0; n < s.size(); n++)
    ASSERT_LT(DecodeAgreeing(Bytes(s.begin(), s.begin() + n), 60, 50, &out), 0) << n;
  ASSERT_EQ(Decode(s, 60, 50, &out), 0);
  EXPECT_EQ(out, c);
}

// Bytes placed to end where an unreadable page begins, so that a read one
// byte past them faults whatever the build.
class AtPageEnd {
 public:
  explicit AtPageEnd(size_t capacity) {
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    span_ = (capacity + page_ - 1) / page_ * page_;
    void *m = mmap(nullptr, span_ + page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                   -1, 0);
    if (m != MAP_FAILED) base_ = static_cast<uint8_t *>(m);
    ready_ = base_ != nullptr && mprotect(base_ + span_, page_, PROT_NONE) == 0;
  }
  ~AtPageEnd() {
    if (base_) munmap(base_, span_ + page_);
  }
  AtPageEnd(const AtPageEnd &) = delete;
  AtPageEnd &operator=(const AtPageEnd &) = delete;
  bool ready() const { return ready_; }
  const uint8_t *Place(const uint8_t *b, size_t n) {
    uint8_t *at = base_ + span_ - n;
    std::copy(b, b + n, at);
    return at;
  }

 private:
  size_t page_ = 0, span_ = 0;
  uint8_t *base_ = nullptr;
  bool ready_ = false;
};

// Read() for bytes that are not in a vector.
Reading ReadAt(const uint8_t *data, size_t n, int width, int height, bool bitwise) {
  Reading r;
  tsl::frm_header_wsq.width = static_cast<uint16_t>(width);
  tsl::frm_header_wsq.height = static_cast<uint16_t>(height);
  tsl::dqt_table.qtable_defined = 0;
  for (auto &t : tsl::dht_table) t.table_defined = 0;
  r.coeffs.assign(static_cast<size_t>(width) * height, 0);
  tsl::wsq_bit_reader = {0x5A, 0xA5};
  const uint8_t *cur = data;
  testing::internal::CaptureStderr();
  r.ret = tsl::huffman_decode_data_mem(r.coeffs.data(), &tsl::dtt_table, &tsl::dqt_table,
                                       tsl::dht_table, &cur, data + n, bitwise);
  r.messages = testing::internal::GetCapturedStderr();
  r.used = cur - data;
  r.state = tsl::wsq_bit_reader;
  return r;
}

// The lookup-table reading gathers bytes ahead of the bit reader, up to
// eight at a time inside a block: whatever the cut, it reads nothing past
// the end and agrees with the bit-by-bit reading.
TEST(HuffmanRoundTrip, EveryCutReadsNothingPastTheEnd) {
  const Coeffs c = RandomCoeffs(8, 2000, true);
  const Bytes s = EncodeBlocks(c, 500, 1200);
  AtPageEnd page(s.size());
  ASSERT_TRUE(page.ready());
  for (size_t n = 0; n <= s.size(); n++) {
    const uint8_t *at = page.Place(s.data(), n);
    const Reading table = ReadAt(at, n, 50, 40, false), bits = ReadAt(at, n, 50, 40, true);
    ASSERT_EQ(table.ret, bits.ret) << n;
    ASSERT_EQ(table.used, bits.used) << n;
    ASSERT_EQ(table.coeffs, bits.coeffs) << n;
    ASSERT_EQ(table.messages, bits.messages) << n;
    ASSERT_EQ(table.state.code, bits.state.code) << n;
    ASSERT_EQ(table.state.code2, bits.state.code2) << n;
    ASSERT_EQ(table.ret < 0, n < s.size()) << n;
  }
  EXPECT_EQ(ReadAt(page.Place(s.data(), s.size()), s.size(), 50, 40, false).coeffs, c);
}

// A run or a value past the end of the image is refused, and nothing is
// stored past it.
TEST(HuffmanHostile, NothingIsStoredPastTheImage) {
  const std::string past = "Decoded data extends past image buffer. Encoded data appears corrupt";
  // Two 2-bit codes: 00 a run of 10, 01 the value 1.
  const uint8_t bits[16] = {0, 2}, values[2] = {10, 181};
  const struct {
    Bytes data;
    int width, height;
    std::string err;
    Coeffs out;
  } cases[] = {
      {{0x3F}, 3, 3, "[2]: " + past, Coeffs(9, 0)},  // a run of 10 into 9 places
      {{0x55, 0xFF, 0x00}, 3, 1, "[1]", {1, 1, 1}},  // a fourth value into 3
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(testing::PrintToString(k.data));
    Bytes s;
    PutDht(&s, 0, bits, values);
    PutSob(&s, 0);
    s.insert(s.end(), k.data.begin(), k.data.end());
    Put16(&s, 0xFFA1);
    Coeffs out;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Decode(s, k.width, k.height, &out), -51);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(k.err), std::string::npos) << err;
    EXPECT_EQ(out, k.out);
  }
}

// A block header naming a table that is not defined is refused, an id past
// the eight tables too (never looked up); the last table serves as any.
TEST(HuffmanHostile, BlockHeaderNamingNoDefinedTable) {
  const uint8_t bits[16] = {0, 2}, values[2] = {10, 181};
  const struct {
    int defined, named, code;
    std::string err;
  } cases[] = {{7, 7, 0, ""},
               {0, 7, -51, "ERROR : huffman_decode_data_mem : huffman table {7} undefined.\n"},
               {7, 8, -51, "ERROR : huffman_decode_data_mem : huffman table {8} undefined.\n"}};
  for (const auto &k : cases) {
    Bytes s;
    PutDht(&s, k.defined, bits, values);
    PutSob(&s, k.named);
    s.push_back(0x55);  // four 01 codes: the value 1 four times
    Put16(&s, 0xFFA1);
    Coeffs out;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Decode(s, 2, 2, &out), k.code) << k.named;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), k.err);
  }
}

// The quantization table segment of a w x h image whose subbands 60 to 63
// are uncoded (the others have width 1), with the trees of that size built:
// a stream that starts with it has a budget of w x h less their quadrant.
Bytes QuadrantUncodedTable(int w, int h) {
  tsl::build_wsq_trees(tsl::w_tree, 20, tsl::q_tree, 64, w, h);
  tsl::QuantVals q{};
  for (int k = 0; k < 64; k++) q.q_widths[k] = q.z_widths[k] = 1.0f;
  Bytes dqt(400);
  int len = 0;
  EXPECT_EQ(tsl::putc_quantization_table(&q, dqt.data(), int(dqt.size()), &len), 0);
  dqt.resize(static_cast<size_t>(len));
  return dqt;
}

// Every place the budget can end within random blocks, with a budget equal
// to the array and one below it: the symbol that crosses it is refused, by
// the lookup-table reading exactly where the bit-by-bit reading refuses it,
// and nothing is stored past it (but a value met at a budget below the
// array, stored one place past it).
TEST(HuffmanHostile, EveryBudgetEndWithinTheBlocks) {
  const Coeffs c = RandomCoeffs(11, 600, false);
  const Bytes s = EncodeBlocks(c, 150, 300);
  Coeffs out;
  for (int n = 1; n < 600; n++) {
    ASSERT_EQ(DecodeAgreeing(s, n, 1, &out), -51) << n;
    ASSERT_EQ(out, Coeffs(c.begin(), c.begin() + n)) << n;
  }
  ASSERT_EQ(DecodeAgreeing(s, 600, 1, &out), 0);
  EXPECT_EQ(out, c);

  const Bytes dqt = QuadrantUncodedTable(100, 100);
  const int b = 7500;
  for (int m = 1; m <= 200; m++) {
    Coeffs d(static_cast<size_t>(b - m), 0);
    d.insert(d.end(), c.begin(), c.end());
    Bytes t = dqt;
    const Bytes blocks = EncodeBlocks(d, 100, 100);
    t.insert(t.end(), blocks.begin(), blocks.end());
    ASSERT_EQ(DecodeAgreeing(t, 100, 100, &out), -51) << m;
    ASSERT_TRUE(std::equal(d.begin(), d.begin() + b, out.begin())) << m;
    ASSERT_EQ(std::count(out.begin() + b + 1, out.end(), 0), 10000 - b - 1) << m;
  }
}

// A quantization table whose uncoded subbands (60 to 63) leave a budget
// below the array: runs of each kind that end exactly at the budget are
// taken and one zero more is refused; a value met at the budget is stored
// one place past it, and any symbol after it is refused.
TEST(HuffmanHostile, BudgetEndsExactly) {
  const int w = 100, h = 100;
  const Bytes dqt = QuadrantUncodedTable(w, h);
  const int b = 7500;  // 100 x 100 less the 50 x 50 quadrant of 60 to 63

  // `end` coefficients ending with a value 5 and a run of n zeros.
  auto run_to = [](int end, int n) {
    Coeffs c(static_cast<size_t>(end), 0);
    c[static_cast<size_t>(end - n - 1)] = 5;
    return c;
  };
  auto value_after = [](int zeros, Coeffs tail) {
    Coeffs c(static_cast<size_t>(zeros), 0);
    c.insert(c.end(), tail.begin(), tail.end());
    return c;
  };
  auto past = [](int where) {
    return "ERROR : huffman_decode_data_mem [" + std::to_string(where) +
           "]: Decoded data extends past image buffer. Encoded data appears corrupt or "
           "non-standard.\n";
  };
  const struct {
    Coeffs c;
    int ret;
    std::string messages;
    size_t unstored;  // values at the end of c that the refusal keeps out
  } cases[] = {
      {run_to(b, 50), 0, "", 0},          {run_to(b + 1, 50), -51, past(2), 0},
      {run_to(b, 200), 0, "", 0},         {run_to(b + 1, 200), -51, past(3), 0},
      {Coeffs(b, 0), 0, "", 0},           {Coeffs(b + 1, 0), -51, past(4), 0},
      {value_after(b, {7}), 0, "", 0},    {value_after(b, {7, 0}), -51, past(1), 0},
      {value_after(b, {7, 8}), -51, past(1), 1},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(testing::Message() << k.c.size() << " coefficients, last " << k.c.back());
    Bytes s = dqt;
    const Table t = Gen(k.c, {int(k.c.size())});
    PutDht(&s, 0, t.bits.get(), t.values.get());
    PutSob(&s, 0);
    const Bytes d = Compress(k.c.data(), int(k.c.size()), t.codes.get());
    s.insert(s.end(), d.begin(), d.end());
    Put16(&s, 0xFFA1);
    const Reading r = Read(s, w, h, false);
    EXPECT_EQ(r.ret, k.ret);
    EXPECT_EQ(r.messages, k.messages);
    Coeffs expect(k.c.begin(), k.c.end() - static_cast<ptrdiff_t>(k.unstored));
    expect.resize(static_cast<size_t>(w) * h, 0);
    EXPECT_EQ(r.coeffs, expect);
    Coeffs out;
    DecodeAgreeing(s, w, h, &out);
  }
}

}  // namespace
