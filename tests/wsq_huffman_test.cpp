// Huffman code tables and entropy-coded blocks: the symbol alphabet, code
// sizes with their tie-breaks and length limit, the bit writer's stuffing and
// padding, and the block decoder on good, truncated and hostile data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "wsq/huffman.h"
#include "wsq/huffman_blocks.h"
#include "wsq/tables.h"

namespace {

using tsl::HuffCode;
using tsltest::Bytes;
using Coeffs = std::vector<int16_t>;

struct Free {
  void operator()(void *p) const { std::free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, Free>;

struct Table {
  Owned<HuffCode> codes;  // by symbol, 257 entries
  Owned<uint8_t> bits;    // length counts
  Owned<uint8_t> values;  // symbols in code order
  int ncodes() const {
    int n = 0;
    for (int i = 0; i < tsl::kMaxCodeLength; i++) n += bits.get()[i];
    return n;
  }
};

Table Gen(const Coeffs &c, std::vector<int> sizes) {
  Table t;
  HuffCode *codes = nullptr;
  uint8_t *bits = nullptr, *values = nullptr;
  EXPECT_EQ(tsl::gen_hufftable_wsq(&codes, &bits, &values, c.data(), sizes.data(),
                                   static_cast<int>(sizes.size())),
            0);
  t.codes.reset(codes);
  t.bits.reset(bits);
  t.values.reset(values);
  return t;
}

// Symbol -> count of one block.
std::map<int, uint32_t> Counts(const Coeffs &c) {
  uint32_t *counts = nullptr;
  EXPECT_EQ(tsl::count_block(&counts, 256, c.data(), static_cast<int>(c.size()), 74, 100), 0);
  std::map<int, uint32_t> m;
  for (int i = 0; i <= 256; i++)
    if (counts[i]) m[i] = counts[i];
  std::free(counts);
  return m;
}

Coeffs Zeros(int n) { return Coeffs(static_cast<size_t>(n), 0); }

// A code table is sound when the used symbols get distinct codes of 1 to 16
// bits, none a prefix of another, none all 1-bits, with code space left over.
void ExpectSoundCodes(const HuffCode *codes, int nsymbols, int expected_used) {
  int used = 0;
  double kraft = 0;
  std::vector<const HuffCode *> list;
  for (int s = 0; s <= nsymbols; s++) {
    const HuffCode &c = codes[s];
    if (c.size == 0) continue;
    ASSERT_LT(s, nsymbols) << "the reserved symbol never gets a code";
    ASSERT_GE(c.size, 1);
    ASSERT_LE(c.size, 16);
    ASSERT_LT(c.code, 1u << c.size);
    ASSERT_NE(c.code, (1u << c.size) - 1) << "all-ones code for symbol " << s;
    kraft += 1.0 / (1u << c.size);
    list.push_back(&c);
    used++;
  }
  EXPECT_EQ(used, expected_used);
  EXPECT_LT(kraft, 1.0);
  for (const HuffCode *a : list)
    for (const HuffCode *b : list) {
      if (a == b || a->size > b->size) continue;
      ASSERT_NE(b->code >> (b->size - a->size), a->code) << "prefix clash";
    }
}

// ---- stream pieces for the decoder --------------------------------------

void Put16(Bytes *s, int v) {
  s->push_back(static_cast<uint8_t>(v >> 8));
  s->push_back(static_cast<uint8_t>(v));
}

void PutDht(Bytes *s, int id, const uint8_t *bits, const uint8_t *values) {
  int n = 0;
  for (int i = 0; i < 16; i++) n += bits[i];
  Put16(s, 0xFFA6);
  Put16(s, 19 + n);
  s->push_back(static_cast<uint8_t>(id));
  s->insert(s->end(), bits, bits + 16);
  s->insert(s->end(), values, values + n);
}

void PutSob(Bytes *s, int id) {
  Put16(s, 0xFFA3);
  Put16(s, 3);
  s->push_back(static_cast<uint8_t>(id));
}

Bytes Compress(const int16_t *c, int n, const HuffCode *codes) {
  std::vector<uint8_t> buf(static_cast<size_t>(n) * 8 + 16);
  int len = -1;
  EXPECT_EQ(tsl::compress_block(buf.data(), static_cast<int>(buf.size()), &len, c, n, 74, 100,
                                codes),
            0);
  return Bytes(buf.begin(), buf.begin() + std::max(len, 0));
}

// Tables and blocks as the encoder lays them out: table 0 and block 1,
// table 1 and blocks 2 and 3. before_eoi is inserted just before EOI.
Bytes EncodeBlocks(const Coeffs &c, int n1, int n2, int n3, const Bytes &after_block1 = {},
                   const Bytes &before_eoi = {}) {
  Bytes s;
  Table t0 = Gen(c, {n1});
  PutDht(&s, 0, t0.bits.get(), t0.values.get());
  PutSob(&s, 0);
  Bytes d = Compress(c.data(), n1, t0.codes.get());
  s.insert(s.end(), d.begin(), d.end());
  s.insert(s.end(), after_block1.begin(), after_block1.end());
  Coeffs rest(c.begin() + n1, c.end());
  Table t1 = Gen(rest, {n2, n3});
  PutDht(&s, 1, t1.bits.get(), t1.values.get());
  PutSob(&s, 1);
  d = Compress(rest.data(), n2, t1.codes.get());
  s.insert(s.end(), d.begin(), d.end());
  PutSob(&s, 1);
  d = Compress(rest.data() + n2, n3, t1.codes.get());
  s.insert(s.end(), d.begin(), d.end());
  s.insert(s.end(), before_eoi.begin(), before_eoi.end());
  Put16(&s, 0xFFA1);
  return s;
}

// Decodes into an array of exactly width x height places (so the sanitizer
// sees any store past it) with no quantization table defined.
int Decode(const Bytes &s, int width, int height, Coeffs *out, size_t *consumed = nullptr) {
  tsl::frm_header_wsq.width = static_cast<uint16_t>(width);
  tsl::frm_header_wsq.height = static_cast<uint16_t>(height);
  tsl::dqt_table.qtable_defined = 0;
  for (auto &t : tsl::dht_table) t.table_defined = 0;
  std::unique_ptr<int16_t[]> ip(new int16_t[static_cast<size_t>(width) * height]());
  std::vector<uint8_t> exact(s);  // heap copy of exactly the stream's size
  const uint8_t *cur = exact.data();
  tsl::init_wsq_decoder_resources();
  int ret = tsl::huffman_decode_data_mem(ip.get(), &tsl::dtt_table, &tsl::dqt_table,
                                         tsl::dht_table, &cur, exact.data() + exact.size());
  tsl::free_wsq_decoder_resources();
  if (consumed) *consumed = static_cast<size_t>(cur - exact.data());
  out->assign(ip.get(), ip.get() + static_cast<size_t>(width) * height);
  return ret;
}

// Round trip of three blocks through an image of width x height places.
void ExpectRoundTrip(const Coeffs &c, int n1, int n2, int width, int height) {
  int n3 = static_cast<int>(c.size()) - n1 - n2;
  Bytes s = EncodeBlocks(c, n1, n2, n3);
  Coeffs out;
  size_t consumed = 0;
  ASSERT_EQ(Decode(s, width, height, &out, &consumed), 0);
  EXPECT_EQ(consumed, s.size()) << "the cursor ends after EOI";
  Coeffs expect = c;
  expect.resize(out.size(), 0);
  ASSERT_EQ(out, expect);
}

Coeffs RandomCoeffs(uint64_t seed, int n, bool skewed) {
  tsltest::Rng rng(seed);
  Coeffs c;
  while (static_cast<int>(c.size()) < n) {
    uint32_t r = rng.Below(100);
    if (r < 30) {
      int run = skewed ? 1 + rng.Below(rng.Below(3) == 0 ? 400 : 20) : 1 + rng.Below(300);
      c.insert(c.end(), std::min(run, n - static_cast<int>(c.size())), 0);
    } else if (skewed) {
      int v = r < 90 ? 1 + rng.Below(3) : (r < 98 ? 1 + rng.Below(80) : 1 + rng.Below(3000));
      c.push_back(static_cast<int16_t>(rng.Below(2) ? v : -v));
    } else {
      c.push_back(static_cast<int16_t>(static_cast<int>(rng.Below(1200)) - 600));
    }
  }
  return c;
}

// ---- symbol alphabet -----------------------------------------------------

TEST(HuffmanSymbols, ValuesAndRunsMapToTheirSymbols) {
  const std::map<int, int> values = {{74, 254}, {-73, 107}, {75, 101},  {255, 101}, {256, 103},
                                     {-74, 102}, {-255, 102}, {-256, 104}, {1, 181},  {-1, 179}};
  for (auto [v, sym] : values)
    EXPECT_EQ(Counts({static_cast<int16_t>(v)}), (std::map<int, uint32_t>{{sym, 1}, {256, 1}}))
        << "value " << v;
  const std::map<int, int> runs = {{1, 1}, {100, 100}, {101, 105}, {255, 105}, {256, 106},
                                   {65535, 106}};
  for (auto [n, sym] : runs)
    EXPECT_EQ(Counts(Zeros(n)), (std::map<int, uint32_t>{{sym, 1}, {256, 1}})) << "run " << n;
  EXPECT_EQ(Counts(Zeros(65536)), (std::map<int, uint32_t>{{1, 1}, {106, 1}, {256, 1}}));
  EXPECT_EQ(Counts({0, 0, 5, 0, 5, 0, 0, 0}),
            (std::map<int, uint32_t>{{1, 1}, {2, 1}, {3, 1}, {185, 2}, {256, 1}}));
  EXPECT_EQ(Counts({}), (std::map<int, uint32_t>{{256, 1}}));
}

// ---- code construction ---------------------------------------------------

TEST(HuffmanCodes, SmallTableIsExactlyTheCanonicalCode) {
  // Symbols 181 x5, 182 x3, 183 x1 (plus the reserved symbol): sizes 1, 2, 3.
  Coeffs c = {1, 2, 3, 1, 1, 2, 1, 2, 1};
  Table t = Gen(c, {9});
  EXPECT_EQ(std::vector<uint8_t>(t.bits.get(), t.bits.get() + 16),
            (std::vector<uint8_t>{1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(t.values.get(), t.values.get() + 3),
            (std::vector<uint8_t>{181, 182, 183}));
  const HuffCode *h = t.codes.get();
  EXPECT_EQ(h[181].size, 1);
  EXPECT_EQ(h[181].code, 0u);
  EXPECT_EQ(h[182].size, 2);
  EXPECT_EQ(h[182].code, 2u);
  EXPECT_EQ(h[183].size, 3);
  EXPECT_EQ(h[183].code, 6u);
  // 0 10 110 0 0 10 0 10 0, padded with 1-bits.
  EXPECT_EQ(Compress(c.data(), 9, h), (Bytes{0x58, 0x93}));
}

TEST(HuffmanCodes, EqualCountsPickTheHigherSymbolFirst) {
  uint32_t freq[257] = {};
  freq[3] = 2;
  freq[9] = 2;
  freq[256] = 1;
  int v1, v2;
  tsl::find_least_freq(&v1, &v2, freq, 256);
  EXPECT_EQ(v1, 256);
  EXPECT_EQ(v2, 9);
  // The reserved symbol pairs with the highest-numbered rarest symbol, which
  // therefore ends one bit longer than its equal.
  Table t = Gen({1, 1, 2, 2}, {4});
  EXPECT_EQ(t.codes.get()[181].size, 1);
  EXPECT_EQ(t.codes.get()[182].size, 2);

  uint32_t none[257] = {};
  tsl::find_least_freq(&v1, &v2, none, 256);
  EXPECT_EQ(v1, -1);
  EXPECT_EQ(v2, -1);
  none[256] = 1;
  tsl::find_least_freq(&v1, &v2, none, 256);
  EXPECT_EQ(v1, 256);
  EXPECT_EQ(v2, -1);
}

TEST(HuffmanCodes, EmptyAndSingleSymbolBlocks) {
  Table empty = Gen({}, {0});
  EXPECT_EQ(empty.ncodes(), 0);
  for (int s = 0; s <= 256; s++) EXPECT_EQ(empty.codes.get()[s].size, 0);
  EXPECT_EQ(Compress(nullptr, 0, empty.codes.get()), Bytes{}) << "no data bytes at all";

  Table one = Gen(Zeros(7), {7});
  EXPECT_EQ(one.ncodes(), 1);
  EXPECT_EQ(one.codes.get()[7].size, 1);
  EXPECT_EQ(one.codes.get()[7].code, 0u) << "the one-bit code 1 stays unused";
}

TEST(HuffmanCodes, SecondBlockIsCountedAfterTheFirstAndReservedOnce) {
  // Correct: 181 and 182 once each plus reserved once give sizes 1 and 2;
  // a reserved symbol counted twice would give 2 and 2.
  Table t = Gen({1, 2}, {1, 1});
  EXPECT_EQ(t.codes.get()[181].size, 1);
  EXPECT_EQ(t.codes.get()[182].size, 2);
  // Zero runs do not continue across the block boundary.
  Table r = Gen({0, 0, 0}, {2, 1});
  EXPECT_GT(r.codes.get()[1].size, 0);
  EXPECT_GT(r.codes.get()[2].size, 0);
  EXPECT_EQ(r.codes.get()[3].size, 0);
}

TEST(HuffmanCodes, RandomAndSkewedTablesAreSound) {
  for (uint64_t seed = 1; seed <= 40; seed++) {
    Coeffs c = RandomCoeffs(seed, 3000 + static_cast<int>(seed) * 100, seed % 2 == 0);
    Table t = Gen(c, {static_cast<int>(c.size())});
    int used = 0;
    for (auto &kv : Counts(c)) used += kv.first != 256;
    ExpectSoundCodes(t.codes.get(), 256, used);
    EXPECT_EQ(t.ncodes(), used);
  }
}

// Counts fib(k+3) (2, 3, 5, 8, ...) chain every merge onto the previous one,
// so n symbols reach a code size of about n before limiting.
std::vector<uint32_t> ChainCounts(int n) {
  std::vector<uint32_t> w;
  uint32_t a = 2, b = 3;
  for (int k = 0; k < n; k++) {
    w.push_back(a);
    uint32_t next = a + b;
    a = b;
    b = next;
  }
  return w;
}

TEST(HuffmanCodes, SkewedCountsAreLimitedToSixteenBits) {
  std::vector<uint32_t> w = ChainCounts(19);
  Coeffs c;
  for (int k = 0; k < 19; k++) c.insert(c.end(), w[k], static_cast<int16_t>(k + 1));
  uint32_t *counts = nullptr;
  ASSERT_EQ(tsl::count_block(&counts, 256, c.data(), static_cast<int>(c.size()), 74, 100), 0);
  int *sizes = nullptr;
  ASSERT_EQ(tsl::find_huff_sizes(&sizes, counts, 256), 0);
  EXPECT_GT(*std::max_element(sizes, sizes + 256), 16);
  std::free(counts);
  std::free(sizes);

  Table t = Gen(c, {static_cast<int>(c.size())});
  ExpectSoundCodes(t.codes.get(), 256, 19);
  for (int i = 16; i < tsl::kHuffbitsSlots; i++) EXPECT_EQ(t.bits.get()[i], 0);
  ExpectRoundTrip(c, static_cast<int>(c.size()), 0, 200, 200);
}

TEST(HuffmanCodes, CodeSizesBeyondThirtyTwoStillFitAndLimit) {
  std::vector<uint32_t> freq(257, 0);
  std::vector<uint32_t> w = ChainCounts(40);
  std::copy(w.begin(), w.end(), freq.begin());
  freq[256] = 1;
  int *sizes = nullptr;
  ASSERT_EQ(tsl::find_huff_sizes(&sizes, freq.data(), 256), 0);
  Owned<int> sizes_owned(sizes);
  EXPECT_GT(*std::max_element(sizes, sizes + 256), 32);
  uint8_t *bits = nullptr;
  int adjust = 0;
  ASSERT_EQ(tsl::find_num_huff_sizes(&bits, &adjust, sizes, 256), 0);
  Owned<uint8_t> bits_owned(bits);
  EXPECT_EQ(adjust, 1);
  ASSERT_EQ(tsl::sort_huffbits(bits), 0);
  uint8_t *values = nullptr;
  ASSERT_EQ(tsl::sort_code_sizes(&values, sizes, 256), 0);
  Owned<uint8_t> values_owned(values);
  std::vector<uint8_t> order(values, values + 40);
  std::sort(order.begin(), order.end());
  for (int k = 0; k < 40; k++) EXPECT_EQ(order[k], k) << "every symbol keeps a value slot";
  HuffCode *list = nullptr;
  int n = 0;
  ASSERT_EQ(tsl::build_huffsizes(&list, &n, bits, 256), 0);
  Owned<HuffCode> list_owned(list);
  EXPECT_EQ(n, 40);
  tsl::build_huffcodes(list);
  EXPECT_EQ(tsl::check_huffcodes_wsq(list, n), 0);
  HuffCode *table = nullptr;
  ASSERT_EQ(tsl::build_huffcode_table(&table, list, n, values, 256), 0);
  Owned<HuffCode> table_owned(table);
  ExpectSoundCodes(table, 256, 40);
}

TEST(HuffmanCodes, DecoderListRefusesMoreCodesThanSymbols) {
  uint8_t bits[16] = {};
  bits[8] = 255;
  bits[9] = 2;  // 257: one more than there are symbols is still accepted
  HuffCode *list = nullptr;
  int n = 0;
  ASSERT_EQ(tsl::build_huffsizes(&list, &n, bits, 256), 0);
  EXPECT_EQ(n, 257);
  EXPECT_EQ(list[257].size, 0);
  std::free(list);
  bits[9] = 3;
  testing::internal::CaptureStderr();
  EXPECT_LT(tsl::build_huffsizes(&list, &n, bits, 256), 0);
  testing::internal::GetCapturedStderr();
}

// ---- bit writer ----------------------------------------------------------

TEST(HuffmanBitWriter, StuffsAfterFFAndPadsWithOnes) {
  // One 16-bit escape (symbol 103, code "0") of 32767: 0 0111111111111111,
  // then seven 1-bits of padding, which make a last 0xFF that is stuffed too.
  Coeffs c = {32767};
  Table t = Gen(c, {1});
  EXPECT_EQ(Compress(c.data(), 1, t.codes.get()), (Bytes{0x3F, 0xFF, 0x00, 0xFF, 0x00}));
  // Eight one-bit codes fill a byte exactly: no padding byte.
  Coeffs eight(8, 1), nine(9, 1);
  Table t8 = Gen(eight, {8});
  EXPECT_EQ(Compress(eight.data(), 8, t8.codes.get()), (Bytes{0x00}));
  EXPECT_EQ(Compress(nine.data(), 9, t8.codes.get()), (Bytes{0x00, 0x7F}));
}

TEST(HuffmanBitWriter, NeverWritesPastItsCapacity) {
  Coeffs c = RandomCoeffs(5, 2000, false);
  Table t = Gen(c, {2000});
  Bytes full = Compress(c.data(), 2000, t.codes.get());
  ASSERT_GT(full.size(), 20u);
  for (size_t cap : {full.size() - 1, full.size() / 2, size_t{1}, size_t{0}}) {
    std::vector<uint8_t> buf(cap + 8, 0xEE);
    int len = -7;
    testing::internal::CaptureStderr();
    EXPECT_EQ(tsl::compress_block(buf.data(), static_cast<int>(cap), &len, c.data(), 2000, 74,
                                  100, t.codes.get()),
              -33);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(len, -7);
    for (size_t i = cap; i < buf.size(); i++) ASSERT_EQ(buf[i], 0xEE) << "cap " << cap;
  }
  std::vector<uint8_t> exact(full.size());
  int len = 0;
  ASSERT_EQ(tsl::compress_block(exact.data(), static_cast<int>(exact.size()), &len, c.data(),
                                2000, 74, 100, t.codes.get()),
            0);
  EXPECT_EQ(Bytes(exact.begin(), exact.end()), full);
}

TEST(HuffmanBitWriter, SymbolWithoutCodeIsRefused) {
  Table t = Gen({1, 1}, {2});
  Coeffs other = {2};
  std::vector<uint8_t> buf(16);
  int len = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(tsl::compress_block(buf.data(), 16, &len, other.data(), 1, 74, 100, t.codes.get()),
            -53);
  testing::internal::GetCapturedStderr();
}

// ---- round trips ---------------------------------------------------------

TEST(HuffmanRoundTrip, RandomAndSkewedBlocks) {
  for (uint64_t seed = 1; seed <= 12; seed++) {
    Coeffs c = RandomCoeffs(seed * 31, 20000, seed % 3 != 0);
    int n1 = 3000 + static_cast<int>(seed) * 11, n2 = 9000;
    SCOPED_TRACE(seed);
    ExpectRoundTrip(c, n1, n2, 150, 140);
  }
}

TEST(HuffmanRoundTrip, BoundaryValuesRunsAndEscapes) {
  Coeffs c;
  for (int v : {74, 75, -73, -74, 255, 256, -255, -256, 32767, -32768, 1, -1, 180, -180})
    c.push_back(static_cast<int16_t>(v));
  for (int run : {100, 101, 255, 256, 65535, 65536, 131073}) {
    c.insert(c.end(), static_cast<size_t>(run), 0);
    c.push_back(-5);
  }
  int n1 = 14;
  int n2 = static_cast<int>(c.size()) - n1 - 3;
  ExpectRoundTrip(c, n1, n2, 65535, 6);
}

TEST(HuffmanRoundTrip, EscapesStraddlingStuffedBytes) {
  // 0xFF-heavy escapes shifted through every bit offset by a leading run of
  // one-bit codes.
  for (int shift = 0; shift < 8; shift++) {
    Coeffs c(static_cast<size_t>(shift), 1);
    for (int i = 0; i < 30; i++) {
      c.push_back(static_cast<int16_t>(i % 2 ? 32767 : -255));
      c.push_back(1);
      c.push_back(static_cast<int16_t>(i % 3 ? 255 : -32767));
    }
    SCOPED_TRACE(shift);
    ExpectRoundTrip(c, static_cast<int>(c.size()), 0, 100, 100);
  }
}

TEST(HuffmanRoundTrip, EmptyBlocksAndCommentsBeforeEnd) {
  Coeffs c = RandomCoeffs(77, 500, true);
  ExpectRoundTrip(c, 0, 500, 25, 20);
  ExpectRoundTrip(c, 500, 0, 25, 20);

  Bytes com = {0xFF, 0xA8, 0x00, 0x05, 'a', 'b', 'c'};
  Coeffs out;
  ASSERT_EQ(Decode(EncodeBlocks(c, 100, 300, 100, {}, com), 25, 20, &out), 0)
      << "a comment after the third block is skipped";
  EXPECT_EQ(out, c);
  ASSERT_EQ(Decode(EncodeBlocks(c, 100, 300, 100, com), 25, 20, &out), 0)
      << "a comment between blocks is read like a table";
  EXPECT_EQ(out, c);

  // After block 1 a comment must be followed by a table or a block header.
  Table t = Gen(c, {100});
  Bytes s;
  PutDht(&s, 0, t.bits.get(), t.values.get());
  PutSob(&s, 0);
  Bytes d = Compress(c.data(), 100, t.codes.get());
  s.insert(s.end(), d.begin(), d.end());
  s.insert(s.end(), com.begin(), com.end());
  Put16(&s, 0xFFA1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode(s, 25, 20, &out), -90);
  testing::internal::GetCapturedStderr();
}

// ---- hostile data ----------------------------------------------------------

TEST(HuffmanHostile, EveryTruncationFailsAndStateDoesNotLeak) {
  Coeffs c = RandomCoeffs(3, 3000, true);
  Bytes s = EncodeBlocks(c, 700, 1800, 500);
  Coeffs out;
  testing::internal::CaptureStderr();
  for (size_t n = 0; n < s.size(); n++)
    ASSERT_LT(Decode(Bytes(s.begin(), s.begin() + n), 60, 50, &out), 0) << n;
  testing::internal::GetCapturedStderr();
  // A failed decode leaves nothing behind that changes the next one.
  ASSERT_EQ(Decode(s, 60, 50, &out), 0);
  EXPECT_EQ(out, c);
}

TEST(HuffmanHostile, CorruptBytesGiveACodeOrAnImage) {
  Coeffs c = RandomCoeffs(9, 2500, true);
  Bytes s = EncodeBlocks(c, 600, 1500, 400);
  tsltest::Rng rng(11);
  Coeffs out;
  testing::internal::CaptureStderr();
  for (int i = 0; i < 3000; i++) {
    Bytes b = s;
    int flips = 1 + static_cast<int>(rng.Below(3));
    for (int f = 0; f < flips; f++)
      b[rng.Below(static_cast<uint32_t>(b.size()))] = static_cast<uint8_t>(rng.Next());
    int ret = Decode(b, 50, 50, &out);
    ASSERT_LE(ret, 0);
  }
  // Random length counts and data: no table may lead outside its arrays.
  for (int i = 0; i < 2000; i++) {
    Bytes b;
    uint8_t bits[16] = {};
    int total = 0;
    for (int k = 0; k < 16; k++) {
      bits[k] = static_cast<uint8_t>(rng.Below(4) == 0 ? rng.Below(40) : 0);
      total += bits[k];
    }
    if (total > 257) continue;
    std::vector<uint8_t> values(257);
    for (auto &v : values) v = static_cast<uint8_t>(rng.Next());
    PutDht(&b, 0, bits, values.data());
    PutSob(&b, 0);
    for (int k = 0; k < 40; k++) b.push_back(static_cast<uint8_t>(rng.Next() | 0x01));
    Put16(&b, 0xFFA1);
    ASSERT_LE(Decode(b, 8, 8, &out), 0);
  }
  testing::internal::GetCapturedStderr();
}

// A stream of one block with a given table (bits) and raw data bytes.
Bytes OneBlock(const std::vector<uint8_t> &bits16, const std::vector<uint8_t> &values,
               const Bytes &data, int table_id = 0) {
  Bytes s;
  PutDht(&s, 0, bits16.data(), values.data());
  PutSob(&s, table_id);
  s.insert(s.end(), data.begin(), data.end());
  Put16(&s, 0xFFA1);
  return s;
}

std::vector<uint8_t> Bits(std::initializer_list<uint8_t> first) {
  std::vector<uint8_t> b(first);
  b.resize(16, 0);
  return b;
}

TEST(HuffmanHostile, BudgetStopsRunsAndValuesAtTheArrayEnd) {
  Coeffs out;
  // Two 2-bit codes: symbol 10 (run of 10) = 00, symbol 181 (value 1) = 01.
  auto bits = Bits({0, 2});
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode(OneBlock(bits, {10, 181}, {0x3F}), 3, 3, &out), -51);  // 00 then padding
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR : huffman_decode_data_mem [2]: Decoded data extends past image buffer. "
            "Encoded data appears corrupt or non-standard.\n");
  EXPECT_EQ(out, Coeffs(9, 0)) << "no zero of the run is stored";

  // Four values of 1 into 3 places: the fourth fails at once.
  EXPECT_EQ(Decode(OneBlock(bits, {10, 181}, {0x55, 0xFF, 0x00}), 3, 1, &out), -51)
      << "01 01 01 01 then padding";
  EXPECT_EQ(out, (Coeffs{1, 1, 1}));
  EXPECT_EQ(Decode(OneBlock(bits, {10, 181}, {0x57}), 3, 1, &out), 0) << "three values fit";

  // 8- and 16-bit runs.
  auto esc = Bits({0, 2});
  testing::internal::CaptureStderr();
  // 00 then 8 bits 00001011: a run of 11 into 9 places.
  EXPECT_EQ(Decode(OneBlock(esc, {105, 106}, {0x02, 0xFF, 0x00, 0xFF}), 3, 3, &out), -51);
  // 01 then 16 one-bits: a run of 65535.
  EXPECT_EQ(Decode(OneBlock(esc, {105, 106}, {0x7F, 0xFF, 0x00, 0xFF, 0x00}), 3, 3, &out), -51);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("[3]"), std::string::npos);
  EXPECT_NE(err.find("[4]"), std::string::npos);
}

TEST(HuffmanHostile, BadTablesSymbolsAndMarkers) {
  Coeffs out;
  auto bits = Bits({0, 2});
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode(OneBlock(bits, {10, 181}, {0x3F}, 2), 8, 8, &out), -51);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR : huffman_decode_data_mem : huffman table {2} undefined.\n");
  testing::internal::CaptureStderr();
  EXPECT_LT(Decode(OneBlock(bits, {10, 181}, {0x3F}, 9), 8, 8, &out), 0) << "no record 9";
  testing::internal::GetCapturedStderr();
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode(OneBlock(bits, {0, 255}, {0x7F}), 8, 8, &out), -52);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: huffman_decode_data_mem : Invalid code 255 (ff).\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode(OneBlock(bits, {0, 255}, {0x3F}), 8, 8, &out), -52);
  // One 2-bit code only: 16 bits that match nothing fail without reading on.
  EXPECT_EQ(Decode(OneBlock(Bits({0, 1}), {181}, {0x7F, 0xFF, 0x00, 0xFF, 0x00}), 8, 8, &out),
            -52);
  testing::internal::GetCapturedStderr();

  // A marker inside a 16-bit escape: symbol 103 = "0", then FF A1.
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode(OneBlock(Bits({1}), {103}, {0x00, 0xFF, 0xA1}), 8, 8, &out), -41);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: getc_nextbits_wsq : No stuffed zeros\n");
}

TEST(HuffmanBitReader, ReadsAcrossBytesAndDropsStuffedZeros) {
  const uint8_t data[] = {0xA5, 0xFF, 0x00, 0x3C, 0xFF, 0xA3};
  const uint8_t *cur = data;
  const uint8_t *end = data + sizeof data;
  int count = 0;
  uint16_t bits = 0;
  uint16_t marker = 0;
  ASSERT_EQ(tsl::getc_nextbits_wsq(&bits, nullptr, &cur, end, &count, 3), 0);
  EXPECT_EQ(bits, 0x5);  // 101
  ASSERT_EQ(tsl::getc_nextbits_wsq(&bits, nullptr, &cur, end, &count, 12), 0);
  EXPECT_EQ(bits, 0x2FF);  // 00101 + 1111111
  ASSERT_EQ(tsl::getc_nextbits_wsq(&bits, nullptr, &cur, end, &count, 9), 0);
  EXPECT_EQ(bits, 0x13C);  // 1 + 00111100
  EXPECT_EQ(count, 0);
  ASSERT_EQ(tsl::getc_nextbits_wsq(&bits, &marker, &cur, end, &count, 1), 0);
  EXPECT_EQ(marker, 0xFFA3) << "a 1-bit read given a marker takes it";
  EXPECT_EQ(cur, end);
  count = 0;
  EXPECT_EQ(tsl::getc_nextbits_wsq(&bits, &marker, &cur, end, &count, 1), -39);
}

}  // namespace
