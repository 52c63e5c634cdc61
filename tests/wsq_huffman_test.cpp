// Huffman code tables and entropy-coded blocks: the symbol alphabet, code
// sizes with their tie-breaks and length limit, the bit writer's stuffing and
// padding, and the block decoder on good, truncated and hostile data.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "common/checked.h"
#include "support/test_support.h"
#include "wsq/huffman.h"
#include "wsq/huffman_blocks.h"
#include "wsq/tables.h"

namespace {

using tsl::HuffCode;
using tsltest::Bytes;
using Coeffs = std::vector<int16_t>;
template <typename T>
using Owned = std::unique_ptr<T, tsl::FreeDeleter>;

struct Table {
  Owned<HuffCode> codes;  // by symbol, 257 entries
  Owned<uint8_t> bits;    // length counts
  Owned<uint8_t> values;  // symbols in code order
};

// Sound: used symbols get distinct codes of 1 to 16 bits, none a prefix of
// another, none all 1-bits, the reserved symbol none, with code space left.
void ExpectSoundCodes(const HuffCode *codes, int expected_used) {
  std::vector<HuffCode> list;
  double kraft = 0;
  for (int s = 0; s <= 256; s++) {
    const HuffCode c = codes[s];
    if (c.size == 0) continue;
    ASSERT_TRUE(s < 256 && c.size <= 16 && c.code < (1u << c.size) - 1) << s << " " << c.size;
    kraft += 1.0 / (1u << c.size);
    for (const HuffCode &a : list) {
      const HuffCode &lo = a.size <= c.size ? a : c, &hi = a.size <= c.size ? c : a;
      ASSERT_NE(hi.code >> (hi.size - lo.size), lo.code) << "prefix clash at symbol " << s;
    }
    list.push_back(c);
  }
  EXPECT_EQ(static_cast<int>(list.size()), expected_used);
  EXPECT_LT(kraft, 1.0);
}

// Tables of a block or blocks, checked for soundness.
Table Gen(const Coeffs &c, std::vector<int> sizes) {
  HuffCode *codes = nullptr;
  uint8_t *bits = nullptr, *values = nullptr;
  EXPECT_EQ(tsl::gen_hufftable_wsq(&codes, &bits, &values, c.data(), sizes.data(),
                                   static_cast<int>(sizes.size())),
            0);
  Table t{Owned<HuffCode>(codes), Owned<uint8_t>(bits), Owned<uint8_t>(values)};
  int used = 0;
  for (int i = 0; i < 16; i++) used += bits ? bits[i] : 0;
  if (codes) ExpectSoundCodes(codes, used);
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

void Put16(Bytes *s, int v) { s->insert(s->end(), {uint8_t(v >> 8), uint8_t(v)}); }

void PutDht(Bytes *s, int id, const uint8_t *bits, const uint8_t *values) {
  int n = 0;
  for (int i = 0; i < 16; i++) n += bits[i];
  Put16(s, 0xFFA6);
  Put16(s, 19 + n);
  s->push_back(static_cast<uint8_t>(id));
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

void PutBlock(Bytes *s, int id, const int16_t *c, int n, const HuffCode *codes) {
  PutSob(s, id);
  Bytes d = Compress(c, n, codes);
  s->insert(s->end(), d.begin(), d.end());
}

// Tables and blocks as the encoder lays them out: table 0 and block 1,
// table 1 and blocks 2 and 3; extra bytes after block 1 and before EOI.
Bytes EncodeBlocks(const Coeffs &c, int n1, int n2, const Bytes &after1 = {},
                   const Bytes &before_eoi = {}) {
  int n3 = static_cast<int>(c.size()) - n1 - n2;
  Bytes s;
  Table t0 = Gen(c, {n1});
  PutDht(&s, 0, t0.bits.get(), t0.values.get());
  PutBlock(&s, 0, c.data(), n1, t0.codes.get());
  s.insert(s.end(), after1.begin(), after1.end());
  Table t1 = Gen(Coeffs(c.begin() + n1, c.end()), {n2, n3});
  PutDht(&s, 1, t1.bits.get(), t1.values.get());
  PutBlock(&s, 1, c.data() + n1, n2, t1.codes.get());
  PutBlock(&s, 1, c.data() + n1 + n2, n3, t1.codes.get());
  s.insert(s.end(), before_eoi.begin(), before_eoi.end());
  Put16(&s, 0xFFA1);
  return s;
}

// Decodes into exactly width x height places (so the sanitizer sees any
// store past them) from an exact-size heap copy, with no table defined.
int Decode(const Bytes &s, int width, int height, Coeffs *out, bool bitwise = false,
           ptrdiff_t *used = nullptr) {
  tsl::frm_header_wsq.width = static_cast<uint16_t>(width);
  tsl::frm_header_wsq.height = static_cast<uint16_t>(height);
  tsl::dqt_table.qtable_defined = 0;
  for (auto &t : tsl::dht_table) t.table_defined = 0;
  out->assign(static_cast<size_t>(width) * height, 0);
  Bytes exact(s);
  const uint8_t *cur = exact.data();
  tsl::init_wsq_decoder_resources();
  int ret = tsl::huffman_decode_data_mem(out->data(), &tsl::dtt_table, &tsl::dqt_table,
                                         tsl::dht_table, &cur, exact.data() + exact.size(),
                                         bitwise);
  tsl::free_wsq_decoder_resources();
  if (used) *used = cur - exact.data();
  return ret;
}

// Decodes with table-driven and with bit-by-bit code reading, which must
// agree in everything: result, coefficients, messages, bytes consumed and
// the reader state left behind.
int DecodeAgreeing(const Bytes &s, int width, int height, Coeffs *out) {
  struct Outcome {
    int ret;
    Coeffs out;
    std::string err;
    ptrdiff_t used;
    uint8_t code, code2;
  } o[2];
  for (int bitwise = 0; bitwise < 2; bitwise++) {
    tsl::wsq_bit_reader = {0x5A, 0xA5};
    testing::internal::CaptureStderr();
    o[bitwise].ret = Decode(s, width, height, &o[bitwise].out, bitwise, &o[bitwise].used);
    o[bitwise].err = testing::internal::GetCapturedStderr();
    o[bitwise].code = tsl::wsq_bit_reader.code;
    o[bitwise].code2 = tsl::wsq_bit_reader.code2;
  }
  EXPECT_TRUE(o[0].ret == o[1].ret && o[0].out == o[1].out && o[0].err == o[1].err &&
              o[0].used == o[1].used && o[0].code == o[1].code && o[0].code2 == o[1].code2)
      << o[0].ret << " " << o[1].ret << " " << o[0].err << "/" << o[1].err << " " << o[0].used
      << " " << o[1].used << " " << int(o[0].code) << " " << int(o[1].code) << " "
      << int(o[0].code2) << " " << int(o[1].code2);
  *out = o[0].out;
  return o[0].ret;
}

void ExpectRoundTrip(const Coeffs &c, int n1, int n2, int width, int height) {
  Bytes s = EncodeBlocks(c, n1, n2);
  Coeffs out;
  ASSERT_EQ(Decode(s, width, height, &out), 0);
  Coeffs expect = c;
  expect.resize(out.size(), 0);
  ASSERT_EQ(out, expect);
}

// Runs of zeros and values; skewed ones favour short runs and small values
// with a few escapes, the others spread values over -600..599.
Coeffs RandomCoeffs(uint64_t seed, int n, bool skewed) {
  tsltest::Rng r(seed);
  Coeffs c;
  while (static_cast<int>(c.size()) < n) {
    uint32_t k = r.Below(100);
    int v = !skewed ? int(r.Below(1200)) - 600
                    : (k < 90 ? 1 + r.Below(3) : k < 98 ? 1 + r.Below(80) : 1 + r.Below(3000));
    if (k < 30) c.insert(c.end(), r.Below(skewed && r.Below(3) ? 20 : 300) + 1, 0);
    else c.push_back(int16_t(skewed && r.Below(2) ? -v : v));
  }
  c.resize(static_cast<size_t>(n));
  return c;
}

TEST(HuffmanSymbols, ValuesRunsAndEscapesMapToTheirSymbols) {
  using M = std::map<int, uint32_t>;
  const std::vector<std::pair<Coeffs, M>> cases = {
      {{74}, {{254, 1}}},   {{-73}, {{107, 1}}},  {{75}, {{101, 1}}},  {{255}, {{101, 1}}},
      {{256}, {{103, 1}}},  {{-74}, {{102, 1}}},  {{-255}, {{102, 1}}}, {{-256}, {{104, 1}}},
      {{1}, {{181, 1}}},    {{-1}, {{179, 1}}},   {Coeffs(1), {{1, 1}}}, {Coeffs(100), {{100, 1}}},
      {Coeffs(101), {{105, 1}}}, {Coeffs(255), {{105, 1}}}, {Coeffs(256), {{106, 1}}},
      {Coeffs(65535), {{106, 1}}}, {Coeffs(65536), {{1, 1}, {106, 1}}}, {{}, {}},
      {{0, 0, 5, 0, 5, 0, 0, 0}, {{1, 1}, {2, 1}, {3, 1}, {185, 2}}}};
  for (const auto &[c, expect] : cases) {
    M m = expect;
    m[256] = 1;  // the reserved symbol, counted once per table
    EXPECT_EQ(Counts(c), m) << "block of " << c.size() << " starting " << (c.empty() ? 0 : c[0]);
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
    Bytes coded;                            // whole c as one block; empty: skip
  } cases[] = {
      // 181 x5, 182 x3, 183 x1: 0 10 110 0 0 10 0 10 0, padded with 1-bits.
      {{1, 2, 3, 1, 1, 2, 1, 2, 1}, {9}, {{181, 1, 0}, {182, 2, 2}, {183, 3, 6}}, {0x58, 0x93}},
      {{1, 1, 2, 2}, {4}, {{181, 1, 0}, {182, 2, 2}}, {0x2B}},
      // The second block is counted after the first, the reserved symbol once
      // (twice would give 2 and 2).
      {{1, 2}, {1, 1}, {{181, 1, 0}, {182, 2, 2}}, {0x5F}},
      // Zero runs do not continue across the block boundary: no run of 3.
      {{0, 0, 0}, {2, 1}, {{1, 1, 0}, {2, 2, 2}}, {}},
      // One symbol: code 0, the one-bit code 1 stays unused.
      {Coeffs(7), {7}, {{7, 1, 0}}, {0x7F}},
      {{}, {0}, {}, {}},
      // One 16-bit escape (symbol 103 "0") of 32767: 0 0111111111111111, then
      // seven 1-bits of padding making a last 0xFF, stuffed like the first.
      {{32767}, {1}, {{103, 1, 0}}, {0x3F, 0xFF, 0x00, 0xFF, 0x00}},
      {Coeffs(8, 1), {8}, {{181, 1, 0}}, {0x00}},  // a full byte: no padding
      {Coeffs(9, 1), {9}, {{181, 1, 0}}, {0x00, 0x7F}},
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
    if (!k.coded.empty() || k.c.empty()) {
      EXPECT_EQ(Compress(k.c.data(), int(k.c.size()), t.codes.get()), k.coded);
    }
  }
}

// Counts 2, 3, 5, 8, ... chain every merge onto the previous one, so n
// symbols reach a code size of about n before limiting.
std::vector<uint32_t> ChainCounts(int n) {
  std::vector<uint32_t> w = {2, 3};
  while (static_cast<int>(w.size()) < n) w.push_back(w[w.size() - 1] + w[w.size() - 2]);
  return w;
}

TEST(HuffmanCodes, LongCodesAreLimitedToSixteenBits) {
  std::vector<uint32_t> w = ChainCounts(19);
  Coeffs c;
  for (int k = 0; k < 19; k++) c.insert(c.end(), w[k], static_cast<int16_t>(k + 1));
  Table t = Gen(c, {static_cast<int>(c.size())});
  EXPECT_GT(t.bits.get()[15], 0) << "limited to exactly 16 bits";
  for (int i = 16; i < tsl::kHuffbitsSlots; i++) EXPECT_EQ(t.bits.get()[i], 0);
  ExpectRoundTrip(c, static_cast<int>(c.size()), 0, 200, 200);

  // 40 chained counts give sizes past 32 before limiting; every step still
  // fits its arrays, the sizes end within 16 bits and every symbol keeps
  // a value slot.
  std::vector<uint32_t> freq(257, 0);
  w = ChainCounts(40);
  std::copy(w.begin(), w.end(), freq.begin());
  freq[256] = 1;
  int *sizes = nullptr, adjust = 0;
  ASSERT_EQ(tsl::find_huff_sizes(&sizes, freq.data(), 256), 0);
  Owned<int> sizes_owned(sizes);
  EXPECT_GT(*std::max_element(sizes, sizes + 256), 32);
  uint8_t *bits = nullptr, *values = nullptr;
  ASSERT_EQ(tsl::find_num_huff_sizes(&bits, &adjust, sizes, 256), 0);
  Owned<uint8_t> bits_owned(bits);
  ASSERT_EQ(tsl::sort_huffbits(bits), 0);
  ASSERT_EQ(tsl::sort_code_sizes(&values, sizes, 256), 0);
  Owned<uint8_t> values_owned(values);
  EXPECT_EQ(std::accumulate(bits, bits + 16, 0), 40);
  Bytes order(values, values + 40);
  std::sort(order.begin(), order.end());
  for (int k = 0; k < 40; k++) EXPECT_EQ(order[k], k);

  // A decoder's length counts may list 257 codes, not more.
  uint8_t counts[16] = {0, 0, 0, 0, 0, 0, 0, 0, 255, 2};
  HuffCode *list = nullptr;
  int n = 0;
  ASSERT_EQ(tsl::build_huffsizes(&list, &n, counts, 256), 0);
  EXPECT_EQ(n, 257);
  EXPECT_EQ(list[257].size, 0);
  std::free(list);
  counts[9] = 3;
  testing::internal::CaptureStderr();
  EXPECT_LT(tsl::build_huffsizes(&list, &n, counts, 256), 0);
  testing::internal::GetCapturedStderr();
}

TEST(HuffmanBitWriter, RefusesOverflowAndSymbolsWithoutCode) {
  Coeffs c = RandomCoeffs(5, 2000, false);
  Table t = Gen(c, {2000});
  Bytes full = Compress(c.data(), 2000, t.codes.get());
  ASSERT_GT(full.size(), 20u);
  testing::internal::CaptureStderr();
  for (size_t cap : {full.size(), full.size() - 1, full.size() / 2, size_t{1}, size_t{0}}) {
    std::vector<uint8_t> buf(cap + 8, 0xEE);
    int len = -7, ok = cap == full.size();
    EXPECT_EQ(tsl::compress_block(buf.data(), int(cap), &len, c.data(), 2000, 74, 100,
                                  t.codes.get()),
              ok ? 0 : -33);
    EXPECT_EQ(len, ok ? int(cap) : -7);
    EXPECT_EQ(Bytes(buf.begin() + cap, buf.end()), Bytes(8, 0xEE)) << "cap " << cap;
  }
  Table ones = Gen({1, 1}, {2});
  int16_t two = 2;
  uint8_t buf[16];
  int len = 0;
  EXPECT_EQ(tsl::compress_block(buf, 16, &len, &two, 1, 74, 100, ones.codes.get()), -53);
  testing::internal::GetCapturedStderr();
}

TEST(HuffmanRoundTrip, RandomBoundaryStuffedAndEmptyBlocksWithComments) {
  for (uint64_t seed = 1; seed <= 12; seed++) {
    SCOPED_TRACE(seed);
    ExpectRoundTrip(RandomCoeffs(seed * 31, 20000, seed % 3 != 0), 3000 + int(seed) * 11, 9000,
                    150, 140);
  }
  Coeffs b = {74, 75, -73, -74, 255, 256, -255, -256, 32767, -32768, 1, -1, 180, -180};
  for (int run : {100, 101, 255, 256, 65535, 65536, 131073}) {
    b.insert(b.end(), static_cast<size_t>(run), 0);
    b.push_back(-5);
  }
  ExpectRoundTrip(b, 14, static_cast<int>(b.size()) - 17, 65535, 6);
  // 0xFF-heavy escapes shifted through every bit offset.
  for (int shift = 0; shift < 8; shift++) {
    Coeffs e(static_cast<size_t>(shift), 1);
    for (int i = 0; i < 30; i++)
      e.insert(e.end(), {int16_t(i % 2 ? 32767 : -255), 1, int16_t(i % 3 ? 255 : -32767)});
    SCOPED_TRACE(shift);
    ExpectRoundTrip(e, static_cast<int>(e.size()), 0, 100, 100);
  }
  Coeffs c = RandomCoeffs(77, 500, true), out;
  ExpectRoundTrip(c, 0, 500, 25, 20);
  ExpectRoundTrip(c, 500, 0, 25, 20);
  Bytes com = {0xFF, 0xA8, 0x00, 0x05, 'a', 'b', 'c'};
  ASSERT_EQ(Decode(EncodeBlocks(c, 100, 300, {}, com), 25, 20, &out), 0) << "before EOI";
  EXPECT_EQ(out, c);
  ASSERT_EQ(Decode(EncodeBlocks(c, 100, 300, com), 25, 20, &out), 0) << "between blocks";
  EXPECT_EQ(out, c);
  // After a block a comment must be followed by a table or a block header.
  Bytes s = EncodeBlocks(c, 100, 300, com);
  s.erase(std::search(s.begin(), s.end(), com.begin(), com.end()) + com.size(), s.end());
  Put16(&s, 0xFFA1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode(s, 25, 20, &out), -90);
  testing::internal::GetCapturedStderr();
}

// Every decode here also checks that table-driven and bit-by-bit code
// reading agree.
TEST(HuffmanHostile, TruncatedCorruptAndRandomStreams) {
  Coeffs c = RandomCoeffs(3, 3000, true), out;
  Bytes s = EncodeBlocks(c, 700, 1800);
  tsltest::Rng rng(11);
  for (size_t n = 0; n < s.size(); n++)
    ASSERT_LT(DecodeAgreeing(Bytes(s.begin(), s.begin() + n), 60, 50, &out), 0) << n;
  for (int i = 0; i < 3000; i++) {
    Bytes b = i % 2 ? s : EncodeBlocks(RandomCoeffs(i, 3000, i % 4 == 0), 700, 1800);
    ASSERT_EQ(DecodeAgreeing(b, 60, 50, &out), 0);
    for (int f = 0, flips = 1 + int(rng.Below(3)); f < flips; f++) {
      size_t at = rng.Below(static_cast<uint32_t>(b.size()));
      b[at] = static_cast<uint8_t>(rng.Next());
      // Half the time a marker, as if a marker stood inside the data.
      if (rng.Below(2) && at + 1 < b.size()) b[at] = 0xFF;
    }
    ASSERT_LE(DecodeAgreeing(b, 50, 50, &out), 0);
  }
  // Random length counts and data: no table may lead outside its arrays.
  for (int i = 0; i < 2000; i++) {
    uint8_t bits[16] = {};
    int total = 0;
    for (auto &k : bits) total += k = uint8_t(rng.Below(4) == 0 ? rng.Below(40) : 0);
    if (total > 257) continue;
    Bytes values(257), b;
    for (auto &v : values) v = static_cast<uint8_t>(rng.Next());
    PutDht(&b, 0, bits, values.data());
    PutSob(&b, 0);
    for (int k = 0; k < 40; k++) b.push_back(static_cast<uint8_t>(rng.Next() | 0x01));
    Put16(&b, 0xFFA1);
    ASSERT_LE(DecodeAgreeing(b, 8, 8, &out), 0);
  }
  // A failed decode leaves nothing behind that changes the next one.
  ASSERT_EQ(Decode(s, 60, 50, &out), 0);
  EXPECT_EQ(out, c);
}

TEST(HuffmanHostile, BudgetBadTablesAndMarkers) {
  const std::string past = "Decoded data extends past image buffer. Encoded data appears corrupt";
  struct Case {
    Bytes bits, values, data;
    int table, width, height, ret;
    std::string err;
    Coeffs out;  // empty: not checked
  } cases[] = {
      // Two 2-bit codes 00 and 01 for a run of 10 and the value 1.
      {{0, 2}, {10, 181}, {0x3F}, 0, 3, 3, -51, "[2]: " + past, Coeffs(9, 0)},
      {{0, 2}, {10, 181}, {0x55, 0xFF, 0x00}, 0, 3, 1, -51, "[1]", {1, 1, 1}},
      {{0, 2}, {10, 181}, {0x57}, 0, 3, 1, 0, "", {1, 1, 1}},
      // 8- and 16-bit runs: 00 00001011 (11 into 9), 01 + 16 one-bits.
      {{0, 2}, {105, 106}, {0x02, 0xFF, 0x00, 0xFF}, 0, 3, 3, -51, "[3]", {}},
      {{0, 2}, {105, 106}, {0x7F, 0xFF, 0x00, 0xFF, 0x00}, 0, 3, 3, -51, "[4]", {}},
      {{0, 2}, {10, 181}, {0x3F}, 2, 8, 8, -51,
       "ERROR : huffman_decode_data_mem : huffman table {2} undefined.\n", {}},
      {{0, 2}, {10, 181}, {0x3F}, 9, 8, 8, -99, "Huffman table id 9 out of range", {}},
      {{0, 2}, {0, 255}, {0x7F}, 0, 8, 8, -52,
       "ERROR: huffman_decode_data_mem : Invalid code 255 (ff).\n", {}},
      {{0, 2}, {0, 255}, {0x3F}, 0, 8, 8, -52, "", {}},
      // One 2-bit code only: 16 bits that match nothing fail without reading on.
      {{0, 1}, {181}, {0x7F, 0xFF, 0x00, 0xFF, 0x00}, 0, 8, 8, -52, "", {}},
      // A marker inside a 16-bit escape (symbol 103 = "0").
      {{1}, {103}, {0x00, 0xFF, 0xA1}, 0, 8, 8, -41,
       "ERROR: getc_nextbits_wsq : No stuffed zeros\n", {}},
  };
  for (Case &k : cases) {
    SCOPED_TRACE(testing::PrintToString(k.data) + " table " + std::to_string(k.table));
    k.bits.resize(16, 0);
    Bytes s;
    PutDht(&s, 0, k.bits.data(), k.values.data());
    PutSob(&s, k.table);
    s.insert(s.end(), k.data.begin(), k.data.end());
    Put16(&s, 0xFFA1);
    Coeffs out;
    testing::internal::CaptureStderr();
    int ret = Decode(s, k.width, k.height, &out);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ret, k.ret);
    EXPECT_NE(err.find(k.err), std::string::npos) << err;
    if (!k.out.empty()) {
      EXPECT_EQ(out, k.out) << "no zero or value is stored past the end";
    }
  }
}

}  // namespace
