#include "wsq/huffman_blocks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wsq/stream_io.h"
#include "wsq/wavelet.h"

namespace tsl {

WsqBitReader wsq_bit_reader;

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

// Coefficients of the subbands that a quantization table leaves uncoded.
long long ZeroWidthArea(const DqtTable *dqttable) {
  long long area = 0;
  for (int k = 0; k < MAX_SUBBANDS; k++) {
    if (dqttable->q_widths[k] == 0.0f)
      area += static_cast<long long>(q_tree[k].lenx) * static_cast<long long>(q_tree[k].leny);
  }
  return area;
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

int huffman_decode_data_mem(int16_t *ip, DttTable *dttable, DqtTable *dqttable,
                            DhtTable *dhttable, const uint8_t **cbufptr, const uint8_t *ebufptr) {
  const long long capacity = static_cast<long long>(frm_header_wsq.width) * frm_header_wsq.height;
  uint16_t marker;
  int ret = getc_marker_wsq(&marker, TBLS_N_SOB, cbufptr, ebufptr);
  if (ret) return ret;
  long long budget = capacity;
  long long count = 0;
  bool budget_done = false;
  int blocks = 0;
  int maxcode[kDecodeTableLen] = {};
  int mincode[kDecodeTableLen] = {};
  int valptr[kDecodeTableLen] = {};
  const uint8_t *values = nullptr;
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
      values = dhttable[table_id].huffvalues;
      bit_count = 0;
      marker = 0;
    }

    int symbol;
    ret = decode_data_mem(&symbol, mincode, maxcode, valptr, values, cbufptr, ebufptr,
                          &bit_count, &marker);
    if (ret) return ret;
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
    if (count > budget) {
      BudgetFailure(1);
      return -51;
    }

    long long run = 0;
    int where = 2;
    int value = 0;
    uint16_t extra;
    if (symbol >= 1 && symbol <= MAX_HUFFZRUN) {
      run = symbol;
    } else if (symbol >= kFirstValueSymbol && symbol <= kLastValueSymbol) {
      value = symbol - kValueOffset;
    } else if (symbol >= kEsc8Value && symbol <= kEsc16Run) {
      int nbits = (symbol == kEsc16Value || symbol == kEsc16Magnitude || symbol == kEsc16Run)
                      ? 16 : 8;
      ret = getc_nextbits_wsq(&extra, nullptr, cbufptr, ebufptr, &bit_count, nbits);
      if (ret) return ret;
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
      if (count + run > budget) {
        BudgetFailure(where);
        return -51;
      }
      if (run > 0) std::memset(ip + count, 0, static_cast<size_t>(run) * sizeof(int16_t));
      count += run;
    } else {
      // A single value may land one past the budget (the next symbol's check
      // reports it) but never past the array.
      if (count >= capacity) {
        BudgetFailure(1);
        return -51;
      }
      ip[count++] = static_cast<int16_t>(value);
    }
  }
  return 0;
}

}  // namespace tsl
