#include "wsq/huffman_blocks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/checked.h"
#include "wsq/stream_io.h"
#include "wsq/wavelet.h"

namespace tsl {

namespace {

// The low n bits set, n = 0..8.
const uint8_t bit_mask[9] = {0x00, 0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F, 0xFF};

// Symbols of the coefficient alphabet as the decoder reads it.
constexpr int kEsc8Value = MAX_HUFFZRUN + 1;
constexpr int kEsc8Magnitude = MAX_HUFFZRUN + 2;
constexpr int kEsc16Value = MAX_HUFFZRUN + 3;
constexpr int kEsc16Magnitude = MAX_HUFFZRUN + 4;
constexpr int kEsc8Run = MAX_HUFFZRUN + 5;
constexpr int kEsc16Run = MAX_HUFFZRUN + 6;
constexpr int kFirstValueSymbol = MAX_HUFFZRUN + 7;
constexpr int kValueOffset = MAX_HUFFCOEFF + MAX_HUFFZRUN + 6;
constexpr int kLastValueSymbol = MAX_HUFFCOEFF + kValueOffset;

// Stores one coded byte, and the zero that keeps an 0xFF from reading as a
// marker.
int EmitByte(uint8_t byte, uint8_t **outbuf, int *bytes, int outalloc) {
  int need = byte == 0xFF ? 2 : 1;
  if (*bytes > outalloc - need) {
    std::fprintf(stderr, "ERROR : compress_block : buffer overlow : alloc = %d, request = %d\n",
                 outalloc, *bytes + need);
    return -33;
  }
  *(*outbuf)++ = byte;
  if (byte == 0xFF) *(*outbuf)++ = 0x00;
  *bytes += need;
  return 0;
}

int WriteSymbol(const CodedSymbol &s, const HuffCode *codes, uint8_t **optr, int *outbit,
                uint8_t *bits, int *bytes, int outalloc) {
  const HuffCode &hc = codes[s.symbol];
  if (hc.size <= 0) {
    std::fprintf(stderr, "ERROR : compress_block : symbol %d has no code\n", s.symbol);
    return -53;
  }
  int ret = write_bits(optr, hc.code, hc.size, outbit, bits, bytes, outalloc);
  if (ret == 0 && s.extra_size > 0)
    ret = write_bits(optr, s.extra, s.extra_size, outbit, bits, bytes, outalloc);
  return ret;
}

void BudgetFailure(int where) {
  std::fprintf(stderr, "ERROR : huffman_decode_data_mem [%d]: ", where);
  std::fprintf(stderr, "Decoded data extends past image buffer. ");
  std::fprintf(stderr, "Encoded data appears corrupt or non-standard.\n");
  std::fflush(stderr);
}

int RecordFailure() {
  std::fprintf(stderr, "ERROR : huffman_decode_data_mem : malloc : coefficients\n");
  return -20;
}

// Coefficients of the subbands that a quantization table leaves uncoded.
long long ZeroWidthArea(const DqtTable *dqttable) {
  long long area = 0;
  for (int k = 0; k < MAX_SUBBANDS; k++) {
    if (dqttable->q_widths[k] == 0.0f)
      area += static_cast<long long>(q_tree[k].lenx) * static_cast<long long>(q_tree[k].leny);
  }
  return area;
}

// Table-driven reading of codes and extra bits. Each read first gathers up
// to 16 bits ahead of the bit reader without touching it; when the code (or
// the extra bits) lies wholly within those bits, the reader is advanced to
// exactly the state the bit-by-bit reader would leave: same bytes consumed,
// same current byte and bit count, same byte-after-0xFF. Anything else (a
// marker or the end of the buffer within reach, a code longer than the bits
// gathered, data no code matches) goes to the bit-by-bit reader from the
// untouched state, so its results and messages stay the only ones.
constexpr int kLookupBits = 12;

struct LookupEntry {
  uint8_t len;  // 0: not settled by the first kLookupBits bits
  uint8_t symbol;
};

struct BlockDecodeTable {
  int maxcode[kDecodeTableLen];
  int mincode[kDecodeTableLen];
  int valptr[kDecodeTableLen];
  const uint8_t *values;
  LookupEntry lookup[1 << kLookupBits];
};

// The symbol the bit-by-bit walk settles on for the code of len bits whose
// value is c, if that walk succeeds at len (the caller has checked that no
// shorter length matched).
bool SymbolAt(const BlockDecodeTable &t, int len, int c, uint8_t *symbol) {
  if (c < t.mincode[len]) return false;
  long long idx = static_cast<long long>(t.valptr[len]) + c - t.mincode[len];
  if (idx < 0 || idx >= static_cast<long long>(sizeof(DhtTable::huffvalues))) return false;
  *symbol = t.values[idx];
  return true;
}

// The bit-by-bit walk stops at the first length whose maxcode the code read
// so far does not exceed. For the kLookupBits-bit prefix i that is the
// first length len with i < (maxcode[len] + 1) << (kLookupBits - len): each
// length settles the prefixes below its bound that no shorter length has.
void BuildLookup(BlockDecodeTable *t) {
  constexpr long long kEntries = 1 << kLookupBits;
  long long settled = 0;
  for (int len = 1; len <= kLookupBits; len++) {
    long long bound = (static_cast<long long>(t->maxcode[len]) + 1) << (kLookupBits - len);
    if (bound > kEntries) bound = kEntries;
    for (long long i = settled; i < bound; i++) {
      LookupEntry e{0, 0};
      if (SymbolAt(*t, len, static_cast<int>(i >> (kLookupBits - len)), &e.symbol))
        e.len = static_cast<uint8_t>(len);
      t->lookup[i] = e;
    }
    if (bound > settled) settled = bound;
  }
  for (long long i = settled; i < kEntries; i++) t->lookup[i] = LookupEntry{0, 0};
}

// Bits ahead of the reader: the unread bits of the current byte, then whole
// bytes (0xFF 0x00 read as 0xFF) up to at least 16 bits, stopping before an
// 0xFF not followed by 0x00 and at the end of the buffer.
struct Lookahead {
  uint32_t acc;
  int nbits;
  int fetched;
  unsigned stuffed;       // bit j set: fetched byte j was an 0xFF (read with its 0x00)
  const uint8_t *end[2];  // cursor after each fetched byte
  uint8_t byte[2];
};

inline void Gather(Lookahead *la, const uint8_t *p, const uint8_t *ebufptr, int bit_count) {
  la->acc = wsq_bit_reader.code;
  la->nbits = bit_count;
  la->fetched = 0;
  la->stuffed = 0;
  la->byte[0] = la->byte[1] = 0;
  // The current byte holds at most 8 bits, so two more bytes always reach 16.
  while (la->nbits < 16 && la->fetched < 2) {
    if (p >= ebufptr) break;
    uint8_t b = *p;
    if (b == 0xFF) {
      if (ebufptr - p < 2 || p[1] != 0x00) break;
      p += 2;
    } else {
      p++;
    }
    la->acc = (la->acc << 8) | b;
    la->nbits += 8;
    la->stuffed |= static_cast<unsigned>(b == 0xFF) << la->fetched;
    la->byte[la->fetched] = b;
    la->end[la->fetched] = p;
    la->fetched++;
  }
}

// The first 16 bits gathered, most significant first, zero-filled.
inline uint32_t Peek16(const Lookahead &la) {
  const uint32_t bits = la.nbits >= 16 ? la.acc >> (la.nbits - 16) : la.acc << (16 - la.nbits);
  return bits & 0xFFFFu;
}

// Takes len (<= gathered) bits, leaving the reader as the bit-by-bit reader
// would.
inline void Consume(const Lookahead &la, int len, const uint8_t **cbufptr, int *bit_count) {
  if (len <= *bit_count) {
    *bit_count -= len;
    wsq_bit_reader.code &= bit_mask[*bit_count];
    return;
  }
  int k = (len - *bit_count + 7) / 8;
  *bit_count = *bit_count + 8 * k - len;
  wsq_bit_reader.code = la.byte[k - 1] & bit_mask[*bit_count];
  *cbufptr = la.end[k - 1];
  if (la.stuffed & ((1u << k) - 1)) wsq_bit_reader.code2 = 0x00;
}

// One symbol as decode_data_mem reads it; false, with nothing consumed, when
// the bit-by-bit reader must take it.
inline bool FastSymbol(const BlockDecodeTable &t, int *symbol, const uint8_t **cbufptr,
                       const uint8_t *ebufptr, int *bit_count) {
  Lookahead la;
  Gather(&la, *cbufptr, ebufptr, *bit_count);
  uint32_t peek = Peek16(la);
  LookupEntry e = t.lookup[peek >> (16 - kLookupBits)];
  int len = e.len;
  uint8_t sym = e.symbol;
  if (len == 0) {
    // Longer codes: continue the walk where the lookup stopped, provided no
    // length up to kLookupBits matched.
    for (int l = 1; l <= kLookupBits; l++)
      if (static_cast<int>(peek >> (16 - l)) <= t.maxcode[l]) return false;
    for (int l = kLookupBits + 1; l <= kMaxCodeLength; l++) {
      int c = static_cast<int>(peek >> (16 - l));
      if (c <= t.maxcode[l]) {
        if (!SymbolAt(t, l, c, &sym)) return false;
        len = l;
        break;
      }
    }
    if (len == 0) return false;
  }
  if (len > la.nbits) return false;
  Consume(la, len, cbufptr, bit_count);
  *symbol = sym;
  return true;
}

// nbits (8 or 16) extra bits as getc_nextbits_wsq reads them.
inline int ExtraBits(uint16_t *extra, int nbits, const uint8_t **cbufptr, const uint8_t *ebufptr,
                     int *bit_count, bool bitwise) {
  if (!bitwise) {
    Lookahead la;
    Gather(&la, *cbufptr, ebufptr, *bit_count);
    if (la.nbits >= nbits) {
      *extra = static_cast<uint16_t>(Peek16(la) >> (16 - nbits));
      Consume(la, nbits, cbufptr, bit_count);
      return 0;
    }
  }
  return getc_nextbits_wsq(extra, nullptr, cbufptr, ebufptr, bit_count, nbits);
}

// Extra bits a symbol brings: 8 or 16 for the escapes, else 0.
inline int ExtraBitsOf(int symbol) {
  if (symbol < kEsc8Value || symbol > kEsc16Run) return 0;
  return (symbol == kEsc16Value || symbol == kEsc16Magnitude || symbol == kEsc16Run) ? 16 : 8;
}

// Where the decoded coefficients go and how many the frame takes.
struct Coefficients {
  CoefficientRecord *rec;
  long long count;
  long long budget;
  long long capacity;
};

// A symbol met when the count is already above the budget fails before
// its extra bits are read.
inline int CheckBudget(const Coefficients &c) {
  if (c.count <= c.budget) return 0;
  BudgetFailure(1);
  return -51;
}

// Stores what one symbol (with its extra bits) stands for; 0 or the
// failure's code after its message.
inline int Apply(int symbol, uint16_t extra, Coefficients *c) {
  long long run = 0;
  int where = 2;
  int value = 0;
  if (symbol >= 1 && symbol <= MAX_HUFFZRUN) {
    run = symbol;
  } else if (symbol >= kFirstValueSymbol && symbol <= kLastValueSymbol) {
    value = symbol - kValueOffset;
  } else if (symbol >= kEsc8Value && symbol <= kEsc16Run) {
    switch (symbol) {
      case kEsc8Value: value = extra; break;
      case kEsc8Magnitude: value = -static_cast<int>(extra); break;
      case kEsc16Value: value = static_cast<int16_t>(extra); break;
      case kEsc16Magnitude: value = -static_cast<int>(extra); break;
      case kEsc8Run: run = extra; where = 3; break;
      default: run = extra; where = 4; break;
    }
  } else {
    std::fprintf(stderr, "ERROR: huffman_decode_data_mem : Invalid code %d (%x).\n", symbol,
                 symbol);
    return -52;
  }

  if (symbol <= MAX_HUFFZRUN || symbol == kEsc8Run || symbol == kEsc16Run) {
    if (c->count + run > c->budget) {
      BudgetFailure(where);
      return -51;
    }
    if (!c->rec->Zeros(run)) return RecordFailure();
    c->count += run;
  } else {
    // A single value may land one past the budget (the next symbol's check
    // reports it) but never past the array.
    if (c->count >= c->capacity) {
      BudgetFailure(1);
      return -51;
    }
    if (!c->rec->Value(static_cast<int16_t>(value))) return RecordFailure();
    c->count++;
  }
  return 0;
}

// Symbols of a stretch of data without 0xFF bytes, bits taken 64 at a time.
// Each symbol is decoded only when its code and extra bits lie wholly in the
// bits at hand, so that leaving the lane is exact: the bytes not yet reached
// go back to the cursor and the current byte keeps its unread bits, as the
// bit-by-bit reader would have them (no 0xFF was read, so the byte after one
// is untouched). The lane ends before a byte it cannot take (0xFF, the
// buffer's last 7 bytes) and before a code the lookup does not settle;
// the per-symbol path goes on from there.
int FastLane(const BlockDecodeTable &t, const uint8_t **cbufptr, const uint8_t *ebufptr,
             int *bit_count, Coefficients *c) {
  const uint8_t *p = *cbufptr;
  uint64_t acc = wsq_bit_reader.code;  // the unread bits: the low nb
  int nb = *bit_count;
  int ret = 0;
  bool consumed = false;
  CoefficientRecord *const rec = c->rec;
  long long count = c->count;
  const long long budget = c->budget;
  for (;;) {
    if (nb < 32) {
      if (ebufptr - p < 8) break;
      uint64_t word;
      std::memcpy(&word, p, sizeof word);
      // Bytes before the first 0xFF, in stream order (lowest address first).
      const uint64_t inv = ~word;
      const uint64_t ff = (inv - 0x0101010101010101ull) & ~inv & 0x8080808080808080ull;
      int take = ff ? __builtin_ctzll(ff) / 8 : 8;
      if (take > (63 - nb) / 8) take = (63 - nb) / 8;  // at most 7
      if (take > 0) {
        uint64_t bytes = 0;  // the first `take` bytes, first in the top
        for (int i = 0; i < take; ++i) bytes = (bytes << 8) | p[i];
        acc = (acc << (8 * take)) | bytes;
      }
      p += take;
      nb += 8 * take;
      if (nb < 32) break;
    }
    const uint32_t peek = static_cast<uint32_t>(acc >> (nb - 16)) & 0xFFFFu;
    const LookupEntry e = t.lookup[peek >> (16 - kLookupBits)];
    int len = e.len;
    uint8_t sym = e.symbol;
    if (len == 0) {
      for (int l = 1; l <= kLookupBits && len == 0; l++)
        if (static_cast<int>(peek >> (16 - l)) <= t.maxcode[l]) len = -1;
      for (int l = kLookupBits + 1; l <= kMaxCodeLength && len == 0; l++) {
        const int code = static_cast<int>(peek >> (16 - l));
        if (code <= t.maxcode[l]) len = SymbolAt(t, l, code, &sym) ? l : -1;
      }
      if (len <= 0) break;
    }
    nb -= len;
    consumed = true;
    // The common symbols, zero runs and small values, straight into the
    // record; anything that could fail goes through the checks below.
    if (count <= budget) {
      if (sym >= 1 && sym <= MAX_HUFFZRUN) {
        if (count + sym <= budget && rec->Zeros(sym)) {
          count += sym;
          continue;
        }
      } else if (sym >= kFirstValueSymbol && sym <= kLastValueSymbol) {
        if (count < c->capacity && rec->Value(static_cast<int16_t>(sym - kValueOffset))) {
          count++;
          continue;
        }
      }
    }
    c->count = count;
    if ((ret = CheckBudget(*c))) break;
    const int extra_bits = ExtraBitsOf(sym);
    uint16_t extra = 0;
    if (extra_bits) {
      nb -= extra_bits;
      extra = static_cast<uint16_t>((acc >> nb) & ((1u << extra_bits) - 1));
    }
    ret = Apply(sym, extra, c);
    count = c->count;
    if (ret) break;
  }
  c->count = count;
  // Without a bit taken the reader stays as it was (at a block's start its
  // current byte is stale, and stays so until a byte is read).
  if (!consumed) return ret;
  const int whole = nb / 8;
  *bit_count = nb % 8;
  wsq_bit_reader.code =
      static_cast<uint8_t>((acc >> (8 * whole)) & bit_mask[*bit_count]);
  *cbufptr = p - whole;
  return ret;
}

}  // namespace

int write_bits(uint8_t **outbuf, uint32_t code, int size, int *outbit, uint8_t *bits, int *bytes,
               int outalloc) {
  for (int i = size - 1; i >= 0; i--) {
    *bits = static_cast<uint8_t>((*bits << 1) | ((code >> i) & 1u));
    if (--(*outbit) < 0) {
      int ret = EmitByte(*bits, outbuf, bytes, outalloc);
      if (ret) return ret;
      *outbit = 7;
      *bits = 0;
    }
  }
  return 0;
}

int flush_bits(uint8_t **outbuf, int *outbit, uint8_t *bits, int *bytes, int outalloc) {
  if (*outbit == 7) return 0;
  // Padding with 1-bits never completes a code: no code is all 1-bits.
  while (*outbit >= 0) {
    *bits = static_cast<uint8_t>((*bits << 1) | 1);
    (*outbit)--;
  }
  int ret = EmitByte(*bits, outbuf, bytes, outalloc);
  if (ret) return ret;
  *outbit = 7;
  *bits = 0;
  return 0;
}

int compress_block(uint8_t *outbuf, int outalloc, int *obytes, const int16_t *sip, int sip_siz,
                   int MaxCoeff, int MaxZRun, const HuffCode *codes) {
  if (!SymbolAlphabetFits(MAX_HUFFCOUNTS_WSQ, MaxCoeff, MaxZRun)) {
    std::fprintf(stderr, "ERROR : compress_block : symbols do not fit the table\n");
    return -53;
  }
  uint8_t *optr = outbuf;
  int outbit = 7;
  uint8_t bits = 0;
  int bytes = 0;
  int ret = ForEachSymbol(sip, sip_siz, MaxCoeff, MaxZRun, [&](const CodedSymbol &s) {
    return WriteSymbol(s, codes, &optr, &outbit, &bits, &bytes, outalloc);
  });
  if (ret) return ret;
  ret = flush_bits(&optr, &outbit, &bits, &bytes, outalloc);
  if (ret) return ret;
  *obytes = bytes;
  return 0;
}

int getc_nextbits_wsq(uint16_t *obits, uint16_t *marker, const uint8_t **cbufptr,
                      const uint8_t *ebufptr, int *bit_count, int bits_req) {
  uint8_t &code = wsq_bit_reader.code;
  uint8_t &code2 = wsq_bit_reader.code2;
  int ret;
  if (bits_req < 1 || bits_req > 16) return -41;
  if (*bit_count == 0) {
    ret = getc_byte(&code, cbufptr, ebufptr);
    if (ret) return ret;
    *bit_count = 8;
    if (code == 0xFF) {
      ret = getc_byte(&code2, cbufptr, ebufptr);
      if (ret) return ret;
      if (code2 != 0x00) {
        if (bits_req == 1 && marker != nullptr) {
          *marker = static_cast<uint16_t>(0xFF00 | code2);
          *obits = 1;
          return 0;
        }
        std::fprintf(stderr, "ERROR: getc_nextbits_wsq : No stuffed zeros\n");
        return -41;
      }
    }
  }
  uint16_t bits;
  if (bits_req <= *bit_count) {
    bits = static_cast<uint16_t>((code >> (*bit_count - bits_req)) & bit_mask[bits_req]);
    *bit_count -= bits_req;
    code &= bit_mask[*bit_count];
  } else {
    int needed = bits_req - *bit_count;
    bits = static_cast<uint16_t>(code << needed);
    *bit_count = 0;
    uint16_t tbits;
    ret = getc_nextbits_wsq(&tbits, nullptr, cbufptr, ebufptr, bit_count, needed);
    if (ret) return ret;
    bits = static_cast<uint16_t>(bits | tbits);
  }
  *obits = bits;
  return 0;
}

int decode_data_mem(int *onodeptr, const int *mincode, const int *maxcode, const int *valptr,
                    const uint8_t *huffvalues, const uint8_t **cbufptr, const uint8_t *ebufptr,
                    int *bit_count, uint16_t *marker) {
  uint16_t tbits;
  int ret = getc_nextbits_wsq(&tbits, marker, cbufptr, ebufptr, bit_count, 1);
  if (ret) return ret;
  if (*marker != 0) {
    *onodeptr = -1;
    return 0;
  }
  int code = tbits;
  int len = 1;
  while (code > maxcode[len]) {
    if (len == kMaxCodeLength) {
      std::fprintf(stderr, "ERROR : decode_data_mem : no huffman code matches the data\n");
      return -52;
    }
    ret = getc_nextbits_wsq(&tbits, marker, cbufptr, ebufptr, bit_count, 1);
    if (ret) return ret;
    if (*marker != 0) {
      *onodeptr = -1;
      return 0;
    }
    code = ((code << 1) + tbits) & 0xFFFF;
    len++;
  }
  // Lengths whose codes are not consecutive (counts that do not form a
  // prefix code) cannot be looked up.
  if (code < mincode[len]) {
    std::fprintf(stderr, "ERROR : decode_data_mem : no huffman code matches the data\n");
    return -52;
  }
  *onodeptr = huffvalues[valptr[len] + code - mincode[len]];
  return 0;
}

bool CoefficientRecord::Grow() {
  // Geometric growth from a size that holds a small stream's symbols at once.
  size_t want = capacity_ ? capacity_ * 2 : 4096;
  if (want > kMaxAlloc / sizeof(int32_t)) return false;
  auto *more = static_cast<int32_t *>(std::realloc(entries_, want * sizeof(int32_t)));
  if (!more) return false;
  entries_ = more;
  capacity_ = want;
  return true;
}

void CoefficientRecord::ExpandInto(int16_t *ip) const {
  // Without branches (runs and values alternate unpredictably): a run
  // stores the zero its first place holds anyway.
  size_t at = 0;
  for (size_t i = 0; i < size_; ++i) {
    const int32_t e = entries_[i];
    const size_t run = e >= kRun ? ~size_t{0} : 0;  // all ones for a run
    ip[at] = static_cast<int16_t>(e & ~static_cast<int32_t>(run));
    at += 1 + ((static_cast<size_t>(e) - kRun - 1) & run);
  }
}

int huffman_decode_data_mem(int16_t *ip, DttTable *dttable, DqtTable *dqttable,
                            DhtTable *dhttable, const uint8_t **cbufptr, const uint8_t *ebufptr,
                            bool bitwise) {
  CoefficientRecord rec;
  const int ret =
      huffman_decode_data_mem(&rec, dttable, dqttable, dhttable, cbufptr, ebufptr, bitwise);
  rec.ExpandInto(ip);
  return ret;
}

int huffman_decode_data_mem(CoefficientRecord *rec, DttTable *dttable, DqtTable *dqttable,
                            DhtTable *dhttable, const uint8_t **cbufptr, const uint8_t *ebufptr,
                            bool bitwise) {
  const long long capacity = static_cast<long long>(frm_header_wsq.width) * frm_header_wsq.height;
  uint16_t marker;
  int ret = getc_marker_wsq(&marker, TBLS_N_SOB, cbufptr, ebufptr);
  if (ret) return ret;
  long long budget = capacity;
  long long count = 0;
  bool budget_done = false;
  int blocks = 0;
  BlockDecodeTable table{};  // rebuilt at every block header
  int *const maxcode = table.maxcode;
  int *const mincode = table.mincode;
  int *const valptr = table.valptr;
  int bit_count = 0;

  while (marker != EOI_WSQ) {
    if (marker != 0) {
      blocks++;
      while (marker != SOB_WSQ) {
        ret = getc_table_wsq(marker, dttable, dqttable, dhttable, cbufptr, ebufptr);
        if (ret) return ret;
        ret = getc_marker_wsq(&marker, TBLS_N_SOB, cbufptr, ebufptr);
        if (ret) return ret;
      }
      if (!budget_done && dqttable->qtable_defined) {
        budget -= ZeroWidthArea(dqttable);
        budget_done = true;
      }
      uint8_t table_id;
      ret = getc_block_header(&table_id, cbufptr, ebufptr);
      if (ret) return ret;
      if (table_id >= MAX_DHT_TABLES || !dhttable[table_id].table_defined) {
        std::fprintf(stderr, "ERROR : huffman_decode_data_mem : ");
        std::fprintf(stderr, "huffman table {%d} undefined.\n", table_id);
        return -51;
      }
      HuffCode *code_list = nullptr;
      int last_size = 0;
      ret = build_huffsizes(&code_list, &last_size, dhttable[table_id].huffbits,
                            MAX_HUFFCOUNTS_WSQ);
      if (ret) return ret;
      build_huffcodes(code_list);
      (void)check_huffcodes_wsq(code_list, last_size);
      gen_decode_table(code_list, maxcode, mincode, valptr, dhttable[table_id].huffbits);
      std::free(code_list);
      table.values = dhttable[table_id].huffvalues;
      if (!bitwise) BuildLookup(&table);
      bit_count = 0;
      marker = 0;
    }

    if (!bitwise) {
      Coefficients c{rec, count, budget, capacity};
      ret = FastLane(table, cbufptr, ebufptr, &bit_count, &c);
      count = c.count;
      if (ret) return ret;
    }
    int symbol;
    if (bitwise || !FastSymbol(table, &symbol, cbufptr, ebufptr, &bit_count)) {
      ret = decode_data_mem(&symbol, mincode, maxcode, valptr, table.values, cbufptr, ebufptr,
                            &bit_count, &marker);
      if (ret) return ret;
    }
    if (symbol == -1) {
      // Comments may stand between the third block and the end of the image.
      while (marker == COM_WSQ && blocks == 3) {
        ret = getc_table_wsq(marker, dttable, dqttable, dhttable, cbufptr, ebufptr);
        if (ret) return ret;
        ret = getc_marker_wsq(&marker, ANY_WSQ, cbufptr, ebufptr);
        if (ret) return ret;
      }
      continue;
    }
    Coefficients c{rec, count, budget, capacity};
    if ((ret = CheckBudget(c))) return ret;
    uint16_t extra = 0;
    if (const int nbits = ExtraBitsOf(symbol)) {
      ret = ExtraBits(&extra, nbits, cbufptr, ebufptr, &bit_count, bitwise);
      if (ret) return ret;
    }
    ret = Apply(symbol, extra, &c);
    count = c.count;
    if (ret) return ret;
  }
  return 0;
}

}  // namespace tsl
