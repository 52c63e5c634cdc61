#include "wsq/huffman.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/checked.h"
#include "wsq/tables.h"

namespace tsl {

namespace {

template <typename T>
using Owned = std::unique_ptr<T, FreeDeleter>;

bool SymbolCountOk(int N) { return N >= 1 && N <= MAX_HUFFSYMBOLS; }

}  // namespace

int count_block(uint32_t **ocounts, int max_huffcounts, const int16_t *sip, int sip_siz,
                int MaxCoeff, int MaxZRun) {
  if (!SymbolAlphabetFits(max_huffcounts, MaxCoeff, MaxZRun) || sip_siz < 0) {
    std::fprintf(stderr, "ERROR : count_block : symbols do not fit a table of %d\n",
                 max_huffcounts);
    return -48;
  }
  size_t n = static_cast<size_t>(max_huffcounts) + 1;
  uint32_t *counts = static_cast<uint32_t *>(std::calloc(n, sizeof(uint32_t)));
  if (counts == nullptr) {
    std::fprintf(stderr, "ERROR : count_block : calloc : counts\n");
    return -48;
  }
  // The reserved symbol holds back the code space of one code so that no
  // code is all 1-bits (the padding of a block's last byte).
  counts[max_huffcounts] = 1;
  ForEachSymbol(sip, sip_siz, MaxCoeff, MaxZRun, [counts](const CodedSymbol &s) {
    counts[s.symbol]++;
    return 0;
  });
  *ocounts = counts;
  return 0;
}

void find_least_freq(int *value1, int *value2, const uint32_t *freq, int max_huffcounts) {
  // Order: count ascending, then index descending. Scanning upwards, an
  // equal count met later therefore comes first.
  int v1 = -1;
  int v2 = -1;
  for (int i = 0; i <= max_huffcounts; i++) {
    if (freq[i] == 0) continue;
    if (v1 < 0 || freq[i] <= freq[v1]) {
      v2 = v1;
      v1 = i;
    } else if (v2 < 0 || freq[i] <= freq[v2]) {
      v2 = i;
    }
  }
  *value1 = v1;
  *value2 = v2;
}

int find_huff_sizes(int **ocodesize, uint32_t *freq, int max_huffcounts) {
  if (!SymbolCountOk(max_huffcounts)) return -2;
  size_t n = static_cast<size_t>(max_huffcounts) + 1;
  Owned<int> codesize(static_cast<int *>(std::calloc(n, sizeof(int))));
  if (!codesize) {
    std::fprintf(stderr, "ERROR : find_huff_sizes : calloc : codesize\n");
    return -2;
  }
  Owned<int> others(static_cast<int *>(std::malloc(n * sizeof(int))));
  if (!others) {
    std::fprintf(stderr, "ERROR : find_huff_sizes : malloc : others\n");
    return -3;
  }
  int *size = codesize.get();
  int *link = others.get();
  for (size_t i = 0; i < n; i++) link[i] = -1;
  for (;;) {
    int v1, v2;
    find_least_freq(&v1, &v2, freq, max_huffcounts);
    if (v2 < 0) break;
    freq[v1] += freq[v2];
    freq[v2] = 0;
    size[v1]++;
    while (link[v1] != -1) {
      v1 = link[v1];
      size[v1]++;
    }
    link[v1] = v2;
    size[v2]++;
    while (link[v2] != -1) {
      v2 = link[v2];
      size[v2]++;
    }
  }
  *ocodesize = codesize.release();
  return 0;
}

int find_num_huff_sizes(uint8_t **obits, int *adjust, const int *codesize, int max_huffcounts) {
  if (!SymbolCountOk(max_huffcounts)) return -2;
  uint8_t *bits = static_cast<uint8_t *>(std::calloc(kHuffbitsSlots, 1));
  if (bits == nullptr) {
    std::fprintf(stderr, "ERROR : find_num_huff_sizes : calloc : bits\n");
    return -2;
  }
  int flag = 0;
  // Code sizes of at most max_huffcounts + 1 symbols never exceed
  // max_huffcounts, so every size has a slot.
  for (int i = 0; i < max_huffcounts; i++) {
    int s = codesize[i];
    if (s <= 0) continue;
    bits[s - 1]++;
    if (s > kMaxCodeLength) flag = 1;
  }
  *adjust = flag;
  *obits = bits;
  return 0;
}

int sort_huffbits(uint8_t *bits) {
  // c[L] counts codes of length L (1-based).
  int16_t c[kHuffbitsSlots + 1];
  c[0] = 0;
  for (int l = 1; l <= kHuffbitsSlots; l++) c[l] = bits[l - 1];
  for (int l = kHuffbitsSlots; l > kMaxCodeLength; l--) {
    while (c[l] > 0) {
      int j = l - 2;
      while (j > 0 && c[j] == 0) j--;
      if (j == 0) {
        std::fprintf(stderr, "ERROR : sort_huffbits : no shorter code to split\n");
        return -2;
      }
      c[l] = static_cast<int16_t>(c[l] - 2);
      c[l - 1] = static_cast<int16_t>(c[l - 1] + 1);
      c[j + 1] = static_cast<int16_t>(c[j + 1] + 2);
      c[j] = static_cast<int16_t>(c[j] - 1);
    }
    // Counts leave out the reserved symbol, so an odd count ends at -1.
    c[l] = 0;
  }
  for (int l = kMaxCodeLength; l > 0; l--) {
    if (c[l] != 0) {
      c[l]--;
      break;
    }
  }
  for (int l = 1; l <= kHuffbitsSlots; l++) bits[l - 1] = static_cast<uint8_t>(c[l]);
  return 0;
}

int sort_code_sizes(uint8_t **ovalues, const int *codesize, int max_huffcounts) {
  if (!SymbolCountOk(max_huffcounts)) return -2;
  uint8_t *values =
      static_cast<uint8_t *>(std::calloc(static_cast<size_t>(max_huffcounts) + 1, 1));
  if (values == nullptr) {
    std::fprintf(stderr, "ERROR : sort_code_sizes : calloc : value\n");
    return -2;
  }
  int longest = 0;
  for (int i = 0; i < max_huffcounts; i++) {
    if (codesize[i] > longest) longest = codesize[i];
  }
  int k = 0;
  for (int size = 1; size <= longest; size++) {
    for (int i = 0; i < max_huffcounts; i++) {
      if (codesize[i] == size) values[k++] = static_cast<uint8_t>(i);
    }
  }
  *ovalues = values;
  return 0;
}

int build_huffsizes(HuffCode **ohuffcode_table, int *temp_size, const uint8_t *huffbits,
                    int max_huffcounts) {
  if (!SymbolCountOk(max_huffcounts)) return -2;
  int total = 0;
  for (int l = 0; l < kMaxCodeLength; l++) total += huffbits[l];
  // A table read from a stream may hold one value more than there are
  // symbols; more than that cannot be coded.
  if (total > max_huffcounts + 1) {
    std::fprintf(stderr, "ERROR : build_huffsizes : %d codes for %d symbols\n", total,
                 max_huffcounts);
    return -3;
  }
  // Room for every code and the ending entry.
  HuffCode *table = static_cast<HuffCode *>(
      std::calloc(static_cast<size_t>(max_huffcounts) + 2, sizeof(HuffCode)));
  if (table == nullptr) {
    std::fprintf(stderr, "ERROR : build_huffsizes : calloc : huffcode_table\n");
    return -2;
  }
  int k = 0;
  for (int l = 1; l <= kMaxCodeLength; l++) {
    for (int i = 0; i < huffbits[l - 1]; i++) table[k++].size = static_cast<int16_t>(l);
  }
  table[k].size = 0;
  *temp_size = k;
  *ohuffcode_table = table;
  return 0;
}

void build_huffcodes(HuffCode *huffcode_table) {
  int pointer = 0;
  int size = huffcode_table[0].size;
  if (size == 0) return;
  uint16_t code = 0;
  for (;;) {
    while (huffcode_table[pointer].size == size) {
      huffcode_table[pointer].code = code;
      code++;
      pointer++;
    }
    int next = huffcode_table[pointer].size;
    // Sizes ascend in a list from build_huffsizes; anything else ends here.
    if (next <= size) return;
    while (size < next) {
      code = static_cast<uint16_t>(code << 1);
      size++;
    }
  }
}

int check_huffcodes_wsq(const HuffCode *hufftable, int last_size) {
  for (int i = 0; i < last_size; i++) {
    uint32_t mask = (1u << hufftable[i].size) - 1u;
    if ((hufftable[i].code & mask) == mask) return -1;
  }
  return 0;
}

int build_huffcode_table(HuffCode **ohuffcode_table, const HuffCode *in_huffcode_table,
                         int last_size, const uint8_t *values, int max_huffcounts) {
  if (!SymbolCountOk(max_huffcounts)) return -2;
  HuffCode *table = static_cast<HuffCode *>(
      std::calloc(static_cast<size_t>(max_huffcounts) + 1, sizeof(HuffCode)));
  if (table == nullptr) {
    std::fprintf(stderr, "ERROR : build_huffcode_table : calloc : new_huffcode_table\n");
    return -2;
  }
  for (int k = 0; k < last_size; k++) {
    if (values[k] <= max_huffcounts) table[values[k]] = in_huffcode_table[k];
  }
  *ohuffcode_table = table;
  return 0;
}

void gen_decode_table(const HuffCode *huffcode_table, int *maxcode, int *mincode, int *valptr,
                      const uint8_t *huffbits) {
  for (int i = 0; i < kDecodeTableLen; i++) {
    maxcode[i] = 0;
    mincode[i] = 0;
    valptr[i] = 0;
  }
  int k = 0;
  for (int l = 1; l <= kMaxCodeLength; l++) {
    int n = huffbits[l - 1];
    if (n != 0) {
      valptr[l] = k;
      mincode[l] = static_cast<int>(huffcode_table[k].code);
      k += n - 1;
      maxcode[l] = static_cast<int>(huffcode_table[k].code);
      k++;
    } else {
      maxcode[l] = -1;
    }
  }
}

int gen_hufftable_wsq(HuffCode **ohufftable, uint8_t **ohuffbits, uint8_t **ohuffvalues,
                      const int16_t *sip, const int *block_sizes, int num_sizes) {
  const int N = MAX_HUFFCOUNTS_WSQ;
  uint32_t *raw = nullptr;
  int ret = count_block(&raw, N, sip, num_sizes > 0 ? block_sizes[0] : 0, MAX_HUFFCOEFF,
                        MAX_HUFFZRUN);
  if (ret) return ret;
  Owned<uint32_t> counts(raw);
  size_t offset = num_sizes > 0 ? static_cast<size_t>(block_sizes[0]) : 0;
  for (int b = 1; b < num_sizes; b++) {
    ret = count_block(&raw, N, sip + offset, block_sizes[b], MAX_HUFFCOEFF, MAX_HUFFZRUN);
    if (ret) return ret;
    Owned<uint32_t> more(raw);
    // The reserved symbol stays counted once.
    for (int i = 0; i < N; i++) counts.get()[i] += raw[i];
    offset += static_cast<size_t>(block_sizes[b]);
  }

  int *sizes_raw = nullptr;
  ret = find_huff_sizes(&sizes_raw, counts.get(), N);
  if (ret) return ret;
  Owned<int> codesize(sizes_raw);
  counts.reset();

  uint8_t *bits_raw = nullptr;
  int adjust = 0;
  ret = find_num_huff_sizes(&bits_raw, &adjust, codesize.get(), N);
  if (ret) return ret;
  Owned<uint8_t> huffbits(bits_raw);
  if (adjust) {
    ret = sort_huffbits(huffbits.get());
    if (ret) return ret;
  }

  uint8_t *values_raw = nullptr;
  ret = sort_code_sizes(&values_raw, codesize.get(), N);
  if (ret) return ret;
  Owned<uint8_t> huffvalues(values_raw);
  codesize.reset();

  HuffCode *list_raw = nullptr;
  int last_size = 0;
  ret = build_huffsizes(&list_raw, &last_size, huffbits.get(), N);
  if (ret) return ret;
  Owned<HuffCode> code_list(list_raw);
  build_huffcodes(code_list.get());
  if (check_huffcodes_wsq(code_list.get(), last_size) != 0) {
    std::fprintf(stderr, "ERROR: This huffcode warning is an error ");
    std::fprintf(stderr, "for the encoder.\n");
    return -1;
  }

  HuffCode *table_raw = nullptr;
  ret = build_huffcode_table(&table_raw, code_list.get(), last_size, huffvalues.get(), N);
  if (ret) return ret;
  *ohufftable = table_raw;
  *ohuffbits = huffbits.release();
  *ohuffvalues = huffvalues.release();
  return 0;
}

}  // namespace tsl
