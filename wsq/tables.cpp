#include "wsq/tables.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/checked.h"
#include "common/text.h"
#include "wsq/stream_io.h"

namespace tsl {

namespace {

constexpr double kDttLimit = 4294967295.0;

// n / 10^scale, each division carried out in double and stored as float:
// decoders on other systems reproduce exactly these floats.
float ScaledValue(uint32_t n, uint8_t scale) {
  float v = static_cast<float>(n);
  for (int i = 0; i < scale; ++i) v = static_cast<float>(static_cast<double>(v) / 10.0);
  return v;
}

// Scale and 32-bit value of a transform tap magnitude (compare and multiply
// in double, keep in float). False for values the field cannot hold.
bool ScaleDtt(float v, uint8_t *scale, uint32_t *value) {
  if (!std::isfinite(v) || v < 0.0f || static_cast<double>(v) >= kDttLimit) return false;
  if (v == 0.0f) {
    *scale = 0;
    *value = 0;
    return true;
  }
  int cnt = 0;
  while (static_cast<double>(v) < kDttLimit) {
    ++cnt;
    v = static_cast<float>(static_cast<double>(v) * 10.0);
  }
  *scale = static_cast<uint8_t>(cnt - 1);
  *value = static_cast<uint32_t>(static_cast<double>(v) / 10.0 + 0.5);
  return true;
}

// Scale and 16-bit value of a quantizer width or frame-header float
// (compare and multiply in float). Values not above 0 become (0, 0).
bool ScaleU16(float v, uint8_t *scale, uint16_t *value) {
  if (std::isnan(v) || v >= kScaledU16Limit) return false;
  if (!(v > 0.0f)) {
    *scale = 0;
    *value = 0;
    return true;
  }
  int cnt = 0;
  while (v < kScaledU16Limit) {
    ++cnt;
    v *= 10.0f;
  }
  *scale = static_cast<uint8_t>(cnt - 1);
  *value = static_cast<uint16_t>(static_cast<double>(v) / 10.0 + 0.5);
  return true;
}

// One scale byte and a 16-bit value, as a float (not worked out when out is
// null).
int GetScaledU16(float *out, const uint8_t **cbufptr, const uint8_t *ebufptr) {
  uint8_t scale;
  uint16_t value;
  int ret = getc_byte(&scale, cbufptr, ebufptr);
  if (ret) return ret;
  ret = getc_ushort(&value, cbufptr, ebufptr);
  if (ret) return ret;
  if (out) *out = ScaledValue(value, scale);
  return 0;
}

int PutScaledU16(uint8_t scale, uint16_t value, uint8_t *odata, int oalloc, int *olen) {
  int ret = putc_byte(scale, odata, oalloc, olen);
  if (ret) return ret;
  return putc_ushort(value, odata, oalloc, olen);
}

// Writes the stored half of one analysis filter, centre tap outwards.
int PutFilterTaps(const float *taps, int n, int code, const char *name, uint8_t *odata,
                  int oalloc, int *olen) {
  for (int coef = n >> 1; coef < n; ++coef) {
    float flt = taps[coef];
    uint8_t sign = 0;
    if (flt < 0.0f) {
      sign = 1;
      flt = -flt;
    }
    uint8_t scale;
    uint32_t value;
    if (!ScaleDtt(flt, &scale, &value)) {
      fprintf(stderr, "ERROR: putc_transform_table : %s[%d] to high at %s\n", name, coef,
              FixedText(taps[coef]).c_str());
      return code;
    }
    int ret = putc_byte(sign, odata, oalloc, olen);
    if (ret) return ret;
    if ((ret = putc_byte(scale, odata, oalloc, olen))) return ret;
    if ((ret = putc_uint(value, odata, oalloc, olen))) return ret;
  }
  return 0;
}

using FloatArray = std::unique_ptr<float, FreeDeleter>;

// Reads n stored taps (sign, scale, magnitude) into a new array, or only
// reads past them when out is null.
int GetFilterTaps(FloatArray *out, int n, int alloc_code, const char *alloc_name,
                  const uint8_t **cbufptr, const uint8_t *ebufptr) {
  FloatArray taps;
  if (out) {
    taps.reset(static_cast<float *>(std::calloc(static_cast<size_t>(n), sizeof(float))));
    if (!taps) {
      fprintf(stderr, "ERROR : getc_transform_table : calloc : %s\n", alloc_name);
      return alloc_code;
    }
  }
  for (int i = 0; i < n; ++i) {
    uint8_t sign, scale;
    uint32_t mag;
    int ret = getc_byte(&sign, cbufptr, ebufptr);
    if (ret) return ret;
    if ((ret = getc_byte(&scale, cbufptr, ebufptr))) return ret;
    if ((ret = getc_uint(&mag, cbufptr, ebufptr))) return ret;
    if (!out) continue;
    float v = ScaledValue(mag, scale);
    if (sign) v = -v;
    taps.get()[i] = v;
  }
  if (out) *out = std::move(taps);
  return 0;
}

void ReleaseFilters(DttTable *dtt) {
  std::free(dtt->lofilt);
  std::free(dtt->hifilt);
  dtt->lofilt = nullptr;
  dtt->hifilt = nullptr;
}

void StoreHuffmanTable(DhtTable *table, const uint8_t *bits, const uint8_t *values) {
  std::memcpy(table->huffbits, bits, MAX_HUFFBITS);
  std::memcpy(table->huffvalues, values, sizeof table->huffvalues);
  table->table_defined = 1;
}

}  // namespace

int int_sign(int power) { return (power % 2) ? -1 : 1; }

int putc_transform_table(const float *lofilt, int losz, const float *hifilt, int hisz,
                         uint8_t *odata, int oalloc, int *olen) {
  int ret = putc_ushort(DTT_WSQ, odata, oalloc, olen);
  if (ret) return ret;
  // Fixed length: 9 + 7 tap filters store 5 + 4 entries of 6 bytes.
  if ((ret = putc_ushort(58, odata, oalloc, olen))) return ret;
  if ((ret = putc_byte(static_cast<uint8_t>(losz), odata, oalloc, olen))) return ret;
  if ((ret = putc_byte(static_cast<uint8_t>(hisz), odata, oalloc, olen))) return ret;
  if ((ret = PutFilterTaps(lofilt, losz, -82, "lofilt", odata, oalloc, olen))) return ret;
  return PutFilterTaps(hifilt, hisz, -83, "hifilt", odata, oalloc, olen);
}

int putc_quantization_table(const QuantVals *quant_vals, uint8_t *odata, int oalloc, int *olen) {
  int ret = putc_ushort(DQT_WSQ, odata, oalloc, olen);
  if (ret) return ret;
  if ((ret = putc_ushort(389, odata, oalloc, olen))) return ret;
  // Bin centre 0.44, always.
  if ((ret = PutScaledU16(2, 44, odata, oalloc, olen))) return ret;
  for (int sub = 0; sub < MAX_SUBBANDS; ++sub) {
    uint8_t qs = 0, zs = 0;
    uint16_t qv = 0, zv = 0;
    float q = quant_vals->q_widths[sub];
    float z = quant_vals->z_widths[sub];
    if (sub < NUM_SUBBANDS && q != 0.0f) {
      // Negative and non-finite widths cannot be stored; refuse them like
      // widths too large for the field.
      if (!(q > 0.0f) || !ScaleU16(q, &qs, &qv)) {
        fprintf(stderr, "ERROR : putc_quantization_table : Q[%d] to high at %s\n", sub,
                FixedText(q).c_str());
        return -86;
      }
      if (!(z >= 0.0f) || !ScaleU16(z, &zs, &zv)) {
        fprintf(stderr, "ERROR : putc_quantization_table : Z[%d] to high at %s\n", sub,
                FixedText(z).c_str());
        return -87;
      }
    }
    if ((ret = PutScaledU16(qs, qv, odata, oalloc, olen))) return ret;
    if ((ret = PutScaledU16(zs, zv, odata, oalloc, olen))) return ret;
  }
  return 0;
}

int putc_huffman_table(uint16_t marker, uint8_t table_id, const uint8_t *huffbits,
                       const uint8_t *huffvalues, uint8_t *odata, int oalloc, int *olen) {
  int table_len = 3 + MAX_HUFFBITS;
  for (int i = 0; i < MAX_HUFFBITS; ++i) table_len += huffbits[i];
  int ret = putc_ushort(marker, odata, oalloc, olen);
  if (ret) return ret;
  if ((ret = putc_ushort(static_cast<uint16_t>(table_len), odata, oalloc, olen))) return ret;
  if ((ret = putc_byte(table_id, odata, oalloc, olen))) return ret;
  if ((ret = putc_bytes(huffbits, MAX_HUFFBITS, odata, oalloc, olen))) return ret;
  return putc_bytes(huffvalues, table_len - 3 - MAX_HUFFBITS, odata, oalloc, olen);
}

int image_size(int block_length, const short counts1[], const short counts2[]) {
  long long size = static_cast<long long>(block_length) + 492 + 19 + 20;
  for (int i = 1; i < MAX_HUFFBITS; ++i) size += counts1[i] + counts2[i];
  if (size > INT_MAX) return INT_MAX;
  if (size < INT_MIN) return INT_MIN;
  return static_cast<int>(size);
}

int putc_frame_header_wsq(int width, int height, float m_shift, float r_scale, uint8_t *odata,
                          int oalloc, int *olen) {
  uint8_t ms_scale, rs_scale;
  uint16_t ms_value, rs_value;
  // The fields hold 0 to 65535 x 10^-scale: larger values would need a
  // negative scale, and a negative one would be written as 0.
  if (m_shift < 0.0f || !ScaleU16(m_shift, &ms_scale, &ms_value)) {
    fprintf(stderr, "ERROR : putc_frame_header_wsq : m_shift out of range at %s\n",
            FixedText(m_shift).c_str());
    return -84;
  }
  if (r_scale < 0.0f || !ScaleU16(r_scale, &rs_scale, &rs_value)) {
    fprintf(stderr, "ERROR : putc_frame_header_wsq : r_scale out of range at %s\n",
            FixedText(r_scale).c_str());
    return -85;
  }
  int ret = putc_ushort(SOF_WSQ, odata, oalloc, olen);
  if (ret) return ret;
  if ((ret = putc_ushort(17, odata, oalloc, olen))) return ret;
  if ((ret = putc_byte(0, odata, oalloc, olen))) return ret;    // black
  if ((ret = putc_byte(255, odata, oalloc, olen))) return ret;  // white
  if ((ret = putc_ushort(static_cast<uint16_t>(height), odata, oalloc, olen))) return ret;
  if ((ret = putc_ushort(static_cast<uint16_t>(width), odata, oalloc, olen))) return ret;
  if ((ret = PutScaledU16(ms_scale, ms_value, odata, oalloc, olen))) return ret;
  if ((ret = PutScaledU16(rs_scale, rs_value, odata, oalloc, olen))) return ret;
  if ((ret = putc_byte(2, odata, oalloc, olen))) return ret;  // encoder number
  return putc_ushort(kSoftwareImplementationNumber, odata, oalloc, olen);
}

int putc_block_header(int table, uint8_t *odata, int oalloc, int *olen) {
  int ret = putc_ushort(SOB_WSQ, odata, oalloc, olen);
  if (ret) return ret;
  if ((ret = putc_ushort(3, odata, oalloc, olen))) return ret;
  return putc_byte(static_cast<uint8_t>(table), odata, oalloc, olen);
}

int getc_table_wsq(uint16_t marker, DttTable *dttable, DqtTable *dqttable, DhtTable *dhttable,
                   const uint8_t **cbufptr, const uint8_t *ebufptr) {
  switch (marker) {
    case DTT_WSQ:
      return getc_transform_table(dttable, cbufptr, ebufptr);
    case DQT_WSQ:
      return getc_quantization_table(dqttable, cbufptr, ebufptr);
    case DHT_WSQ:
      return getc_huffman_table_wsq(dhttable, cbufptr, ebufptr);
    case COM_WSQ: {
      char *comment = nullptr;
      int ret = getc_comment(&comment, cbufptr, ebufptr);
      std::free(comment);
      return ret;
    }
    default:
      fprintf(stderr, "ERROR: getc_table_wsq : Invalid table defined -> {%u}\n", marker);
      return -93;
  }
}

int getc_transform_table(DttTable *dttable, const uint8_t **cbufptr, const uint8_t *ebufptr) {
  uint16_t hdr_size;
  int ret = getc_ushort(&hdr_size, cbufptr, ebufptr);
  if (ret) return ret;
  uint8_t lo_count, hi_count;
  if ((ret = getc_byte(&lo_count, cbufptr, ebufptr))) return ret;
  if ((ret = getc_byte(&hi_count, cbufptr, ebufptr))) return ret;
  // A filter without taps has nothing to read and nothing to filter with.
  if (lo_count == 0 || hi_count == 0) {
    fprintf(stderr, "ERROR : getc_transform_table : invalid filter lengths %d and %d\n",
            lo_count, hi_count);
    return -98;
  }
  if (!dttable) {
    if ((ret = GetFilterTaps(nullptr, (lo_count + 1) / 2, 0, "", cbufptr, ebufptr))) return ret;
    return GetFilterTaps(nullptr, (hi_count + 1) / 2, 0, "", cbufptr, ebufptr);
  }
  // The analysis low-pass taps become the synthesis high-pass filter and
  // the analysis high-pass taps the synthesis low-pass filter.
  dttable->hisize = lo_count;
  dttable->losize = hi_count;

  std::free(dttable->lofilt);
  dttable->lofilt = static_cast<float *>(std::calloc(dttable->losize, sizeof(float)));
  if (!dttable->lofilt) {
    ReleaseFilters(dttable);
    fprintf(stderr, "ERROR : getc_transform_table : calloc : lofilt\n");
    return -94;
  }
  std::free(dttable->hifilt);
  dttable->hifilt = static_cast<float *>(std::calloc(dttable->hisize, sizeof(float)));
  if (!dttable->hifilt) {
    ReleaseFilters(dttable);
    fprintf(stderr, "ERROR : getc_transform_table : calloc : hifilt\n");
    return -95;
  }

  float *hifilt = dttable->hifilt;
  float *lofilt = dttable->lofilt;
  const int h = (dttable->hisize + 1) / 2;
  FloatArray a;
  if ((ret = GetFilterTaps(&a, h, -96, "a_lofilt", cbufptr, ebufptr))) {
    ReleaseFilters(dttable);
    return ret;
  }
  for (int i = 0; i < h; ++i) {
    if (dttable->hisize % 2) {
      const int last = h - 1;
      hifilt[last + i] = static_cast<float>(int_sign(i)) * a.get()[i];
      if (i > 0) hifilt[last - i] = hifilt[last + i];
    } else {
      hifilt[h + i] = static_cast<float>(int_sign(i)) * a.get()[i];
      hifilt[h - 1 - i] = -hifilt[h + i];
    }
  }
  a.reset();

  const int l = (dttable->losize + 1) / 2;
  FloatArray b;
  if ((ret = GetFilterTaps(&b, l, -97, "a_hifilt", cbufptr, ebufptr))) {
    ReleaseFilters(dttable);
    return ret;
  }
  for (int i = 0; i < l; ++i) {
    if (dttable->losize % 2) {
      const int last = l - 1;
      lofilt[last + i] = static_cast<float>(int_sign(i)) * b.get()[i];
      if (i > 0) lofilt[last - i] = lofilt[last + i];
    } else {
      lofilt[l + i] = static_cast<float>(int_sign(i + 1)) * b.get()[i];
      lofilt[l - 1 - i] = lofilt[l + i];
    }
  }
  dttable->lofilt_defined = 1;
  dttable->hifilt_defined = 1;
  return 0;
}

int getc_quantization_table(DqtTable *dqttable, const uint8_t **cbufptr, const uint8_t *ebufptr) {
  uint16_t hdr_size;
  int ret = getc_ushort(&hdr_size, cbufptr, ebufptr);
  if (ret) return ret;
  DqtTable *t = dqttable;
  if ((ret = GetScaledU16(t ? &t->bin_centre : nullptr, cbufptr, ebufptr))) return ret;
  for (int sub = 0; sub < MAX_SUBBANDS; ++sub) {
    if ((ret = GetScaledU16(t ? &t->q_widths[sub] : nullptr, cbufptr, ebufptr))) return ret;
    if ((ret = GetScaledU16(t ? &t->z_widths[sub] : nullptr, cbufptr, ebufptr))) return ret;
  }
  if (t) t->qtable_defined = 1;
  return 0;
}

int getc_huffman_table(uint8_t *otable_id, uint8_t **ohuffbits, uint8_t **ohuffvalues,
                       int max_huffcounts, const uint8_t **cbufptr, const uint8_t *ebufptr,
                       int read_table_len, int *bytes_left) {
  int ret;
  if (read_table_len) {
    uint16_t table_len;
    if ((ret = getc_ushort(&table_len, cbufptr, ebufptr))) return ret;
    *bytes_left = table_len - 2;
  }
  if (*bytes_left <= 0) {
    fprintf(stderr, "ERROR : getc_huffman_table : no huffman table bytes remaining\n");
    return -2;
  }
  uint8_t table_id;
  if ((ret = getc_byte(&table_id, cbufptr, ebufptr))) return ret;
  --*bytes_left;

  std::unique_ptr<uint8_t, FreeDeleter> huffbits(
      static_cast<uint8_t *>(std::calloc(MAX_HUFFBITS, 1)));
  if (!huffbits) {
    fprintf(stderr, "ERROR : getc_huffman_table : calloc : huffbits\n");
    return -3;
  }
  uint8_t *bits = huffbits.get();
  if ((ret = getc_bytes(&bits, MAX_HUFFBITS, cbufptr, ebufptr))) return ret;
  int num_hufvals = 0;
  for (int i = 0; i < MAX_HUFFBITS; ++i) num_hufvals += bits[i];
  *bytes_left -= MAX_HUFFBITS;

  if (num_hufvals > max_huffcounts + 1) {
    fprintf(stderr,
            "ERROR : getc_huffman_table : num_hufvals (%d) is larger"
            "than MAX_HUFFCOUNTS (%d)\n",
            num_hufvals, max_huffcounts + 1);
    return -4;
  }
  // Room for one value beyond the largest table, so a terminator fits.
  std::unique_ptr<uint8_t, FreeDeleter> huffvalues(
      static_cast<uint8_t *>(std::calloc(static_cast<size_t>(max_huffcounts) + 2, 1)));
  if (!huffvalues) {
    fprintf(stderr, "ERROR : getc_huffman_table : calloc : huffvalues\n");
    return -5;
  }
  uint8_t *values = huffvalues.get();
  if ((ret = getc_bytes(&values, num_hufvals, cbufptr, ebufptr))) return ret;
  *bytes_left -= num_hufvals;

  *otable_id = table_id;
  *ohuffbits = huffbits.release();
  *ohuffvalues = huffvalues.release();
  return 0;
}

int read_huffman_segment(HuffmanTableSink sink, void *ctx, const uint8_t **cbufptr,
                         const uint8_t *ebufptr) {
  int bytes_left = 0;
  bool first = true;
  do {
    uint8_t table_id;
    uint8_t *bits = nullptr, *values = nullptr;
    int ret = getc_huffman_table(&table_id, &bits, &values, MAX_HUFFCOUNTS_WSQ, cbufptr,
                                 ebufptr, first ? 1 : 0, &bytes_left);
    if (ret) return ret;
    std::unique_ptr<uint8_t, FreeDeleter> own_bits(bits), own_values(values);
    if (table_id >= MAX_DHT_TABLES) {
      fprintf(stderr, "ERROR : getc_huffman_table_wsq : table id %d out of range\n", table_id);
      return -99;
    }
    if ((ret = sink(ctx, first, table_id, bits, values))) return ret;
    first = false;
  } while (bytes_left != 0);
  return 0;
}

int getc_huffman_table_wsq(DhtTable *dhttable, const uint8_t **cbufptr, const uint8_t *ebufptr) {
  if (!dhttable) {
    // Ids are still checked within the segment.
    bool seen[MAX_DHT_TABLES] = {};
    auto mark = [](void *ctx, bool, uint8_t id, const uint8_t *, const uint8_t *) {
      bool *ids = static_cast<bool *>(ctx);
      if (ids[id]) return -2;
      ids[id] = true;
      return 0;
    };
    return read_huffman_segment(mark, seen, cbufptr, ebufptr);
  }
  auto store = [](void *ctx, bool first, uint8_t id, const uint8_t *bits,
                  const uint8_t *values) {
    DhtTable *tables = static_cast<DhtTable *>(ctx);
    // The first table of a segment replaces one of the same id; a later one
    // in the same segment may not.
    if (!first && tables[id].table_defined) return -2;
    StoreHuffmanTable(&tables[id], bits, values);
    return 0;
  };
  return read_huffman_segment(store, dhttable, cbufptr, ebufptr);
}

int getc_frame_header_wsq(FrameHeaderWsq *frm_header, const uint8_t **cbufptr,
                          const uint8_t *ebufptr) {
  uint16_t hdr_size;
  int ret = getc_ushort(&hdr_size, cbufptr, ebufptr);
  if (ret) return ret;
  if ((ret = getc_byte(&frm_header->black, cbufptr, ebufptr))) return ret;
  if ((ret = getc_byte(&frm_header->white, cbufptr, ebufptr))) return ret;
  if ((ret = getc_ushort(&frm_header->height, cbufptr, ebufptr))) return ret;
  if ((ret = getc_ushort(&frm_header->width, cbufptr, ebufptr))) return ret;
  if ((ret = GetScaledU16(&frm_header->m_shift, cbufptr, ebufptr))) return ret;
  if ((ret = GetScaledU16(&frm_header->r_scale, cbufptr, ebufptr))) return ret;
  if ((ret = getc_byte(&frm_header->wsq_encoder, cbufptr, ebufptr))) return ret;
  return getc_ushort(&frm_header->software, cbufptr, ebufptr);
}

int getc_block_header(uint8_t *huff_table, const uint8_t **cbufptr, const uint8_t *ebufptr) {
  uint16_t hdr_size;
  int ret = getc_ushort(&hdr_size, cbufptr, ebufptr);
  if (ret) return ret;
  // Any id is handed on: the block decoder refuses one that names no
  // defined table, ids past the eight slots included.
  return getc_byte(huff_table, cbufptr, ebufptr);
}

void init_wsq_decoder_resources() {
  dtt_table.lofilt = nullptr;
  dtt_table.hifilt = nullptr;
}

void free_wsq_decoder_resources() {
  ReleaseFilters(&dtt_table);
  // Filters are gone: a later stream without a transform table must not be
  // taken as having one.
  dtt_table.lofilt_defined = 0;
  dtt_table.hifilt_defined = 0;
}

}  // namespace tsl
