// Length-limited canonical Huffman codes: symbol counts to code sizes, length
// counts, values and codes, and the decoder's lookup arrays. Used by the WSQ
// encoder (table building) and the entropy-coded block reader and writer.
#ifndef TESSALY_WSQ_HUFFMAN_H
#define TESSALY_WSQ_HUFFMAN_H

#include <cstdint>

namespace tsl {

// One code: its length in bits (0 for none, or the end of a code list) and
// its bits, right-aligned, the first bit sent being the most significant.
struct HuffCode {
  int16_t size;
  uint32_t code;
};

// Largest coefficient with a symbol of its own, and longest zero run with a
// symbol of its own, as every WSQ caller passes them.
constexpr int MAX_HUFFCOEFF = 74;
constexpr int MAX_HUFFZRUN = 100;
// Longest zero run one symbol can carry (16 extra bits).
constexpr int kMaxZeroRun = 65535;
// Longest code a table may hold.
constexpr int kMaxCodeLength = 16;
// Slots of a length-count array from find_num_huff_sizes / gen_hufftable_wsq:
// position k counts the codes of length k+1. Only the first 16 are non-zero
// once limited; the array is long enough for any code size of up to 256
// symbols, so no size can be counted past it.
constexpr int kHuffbitsSlots = 256;
// Largest symbol count N the routines accept.
constexpr int MAX_HUFFSYMBOLS = 256;
// Entries of the decoder lookup arrays (index = code length 1..16).
constexpr int kDecodeTableLen = kMaxCodeLength + 1;

// The symbol that codes one coefficient or one zero run, with the extra bits
// that follow it (extra_size of them, most significant first). Symbols
// 1..MaxZRun are runs, MaxZRun+1..MaxZRun+6 the escapes (8-bit value, 8-bit
// magnitude, 16-bit value, 16-bit magnitude, 8-bit run, 16-bit run), and the
// values 1-MaxCoeff..MaxCoeff follow them directly.
struct CodedSymbol {
  int symbol;
  int extra_size;
  uint32_t extra;
};

inline CodedSymbol CoeffSymbol(int c, int MaxCoeff, int MaxZRun) {
  if (c > MaxCoeff) {
    if (c > 255) return {MaxZRun + 3, 16, static_cast<uint32_t>(c)};
    return {MaxZRun + 1, 8, static_cast<uint32_t>(c)};
  }
  if (c < 1 - MaxCoeff) {
    if (c < -255) return {MaxZRun + 4, 16, static_cast<uint32_t>(-c)};
    return {MaxZRun + 2, 8, static_cast<uint32_t>(-c)};
  }
  return {c + MaxCoeff + MaxZRun + 6, 0, 0};
}

inline CodedSymbol RunSymbol(int run, int MaxZRun) {
  if (run <= MaxZRun) return {run, 0, 0};
  if (run <= 255) return {MaxZRun + 5, 8, static_cast<uint32_t>(run)};
  return {MaxZRun + 6, 16, static_cast<uint32_t>(run)};
}

// Walks a block of coefficients as the coder codes it, handing each symbol
// in order to emit; stops at and returns emit's first non-zero result. A
// zero run longer than one symbol can carry is closed and a new one begun.
template <typename Emit>
int ForEachSymbol(const int16_t *sip, int sip_siz, int MaxCoeff, int MaxZRun, Emit emit) {
  bool in_run = false;
  int run = 0;
  int ret;
  for (int i = 0; i < sip_siz; i++) {
    int c = sip[i];
    if (in_run) {
      if (c == 0 && run < kMaxZeroRun) {
        run++;
        continue;
      }
      if ((ret = emit(RunSymbol(run, MaxZRun))) != 0) return ret;
      in_run = false;
    }
    if (c == 0) {
      in_run = true;
      run = 1;
      continue;
    }
    if ((ret = emit(CoeffSymbol(c, MaxCoeff, MaxZRun))) != 0) return ret;
  }
  return in_run ? emit(RunSymbol(run, MaxZRun)) : 0;
}

// True when every symbol of that alphabet lies below N.
inline bool SymbolAlphabetFits(int N, int MaxCoeff, int MaxZRun) {
  return N >= 1 && N <= MAX_HUFFSYMBOLS && MaxCoeff >= 1 && MaxCoeff <= 255 && MaxZRun >= 1 &&
         MaxZRun <= 255 && MaxZRun + 6 < N && 2 * MaxCoeff + MaxZRun + 6 < N;
}

// Whole WSQ table (256 symbols) from one block or from several blocks lying
// one after another in sip. Hands out a code table by symbol (257 entries),
// length counts (kHuffbitsSlots bytes) and values (257 bytes), all malloc'ed.
int gen_hufftable_wsq(HuffCode **ohufftable, uint8_t **ohuffbits, uint8_t **ohuffvalues,
                      const int16_t *sip, const int *block_sizes, int num_sizes);

// Steps of the table building, in the encoder's order.
int count_block(uint32_t **ocounts, int max_huffcounts, const int16_t *sip, int sip_siz,
                int MaxCoeff, int MaxZRun);
// Consumes the counts (merged in place).
int find_huff_sizes(int **ocodesize, uint32_t *freq, int max_huffcounts);
void find_least_freq(int *value1, int *value2, const uint32_t *freq, int max_huffcounts);
int find_num_huff_sizes(uint8_t **obits, int *adjust, const int *codesize, int max_huffcounts);
int sort_huffbits(uint8_t *bits);
int sort_code_sizes(uint8_t **ovalues, const int *codesize, int max_huffcounts);
int build_huffsizes(HuffCode **ohuffcode_table, int *temp_size, const uint8_t *huffbits,
                    int max_huffcounts);
void build_huffcodes(HuffCode *huffcode_table);
int check_huffcodes_wsq(const HuffCode *hufftable, int last_size);
int build_huffcode_table(HuffCode **ohuffcode_table, const HuffCode *in_huffcode_table,
                         int last_size, const uint8_t *values, int max_huffcounts);
// Fills maxcode, mincode and valptr (kDecodeTableLen entries each).
void gen_decode_table(const HuffCode *huffcode_table, int *maxcode, int *mincode, int *valptr,
                      const uint8_t *huffbits);

}  // namespace tsl

#endif
