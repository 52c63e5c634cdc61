// WSQ table, frame-header and block-header segments, and the process-wide
// decoder tables they fill. Used by the WSQ encoder/decoder and the
// header-only reader.
#ifndef TESSALY_WSQ_TABLES_H
#define TESSALY_WSQ_TABLES_H

#include <cstdint>

namespace tsl {

constexpr int MAX_DHT_TABLES = 8;
constexpr int MAX_HUFFBITS = 16;
constexpr int MAX_HUFFCOUNTS_WSQ = 256;
constexpr int MAX_SUBBANDS = 64;
constexpr int NUM_SUBBANDS = 60;

// Software implementation number written into every frame header.
constexpr uint16_t kSoftwareImplementationNumber = 0x5453;  // "TS"

struct DttTable {
  float *lofilt;  // synthesis low-pass filter, owned
  float *hifilt;  // synthesis high-pass filter, owned
  uint8_t losize;
  uint8_t hisize;
  uint8_t lofilt_defined;
  uint8_t hifilt_defined;
};

struct DqtTable {
  float bin_centre;
  float q_widths[MAX_SUBBANDS];
  float z_widths[MAX_SUBBANDS];
  uint8_t qtable_defined;
};

struct DhtTable {
  uint8_t table_defined;
  uint8_t huffbits[MAX_HUFFBITS];
  // One entry beyond the 257 a table may hold, so a terminator always fits.
  uint8_t huffvalues[MAX_HUFFCOUNTS_WSQ + 2];
};

struct FrameHeaderWsq {
  uint8_t black;
  uint8_t white;
  uint16_t width;
  uint16_t height;
  float m_shift;
  float r_scale;
  uint8_t wsq_encoder;
  uint16_t software;
};

// The encoder's quantization values, rewritten by every encode.
struct QuantVals {
  float bit_rate;
  float q_widths[MAX_SUBBANDS];
  float z_widths[MAX_SUBBANDS];
  float variances[MAX_SUBBANDS];
};

// Process-wide decoder tables: zero at load, unlocked.
extern DttTable dtt_table;
extern DqtTable dqt_table;
extern DhtTable dht_table[MAX_DHT_TABLES];
extern FrameHeaderWsq frm_header_wsq;

// Writers (output buffer of stream_io.h).
int putc_transform_table(const float *lofilt, int losz, const float *hifilt, int hisz,
                         uint8_t *odata, int oalloc, int *olen);
int putc_quantization_table(const QuantVals *quant_vals, uint8_t *odata, int oalloc, int *olen);
int putc_huffman_table(uint16_t marker, uint8_t table_id, const uint8_t *huffbits,
                       const uint8_t *huffvalues, uint8_t *odata, int oalloc, int *olen);
int putc_frame_header_wsq(int width, int height, float m_shift, float r_scale, uint8_t *odata,
                          int oalloc, int *olen);
int putc_block_header(int table, uint8_t *odata, int oalloc, int *olen);

// Readers (byte cursor of stream_io.h), called after the marker was read.
int getc_table_wsq(uint16_t marker, DttTable *dttable, DqtTable *dqttable, DhtTable *dhttable,
                   const uint8_t **cbufptr, const uint8_t *ebufptr);
int getc_transform_table(DttTable *dttable, const uint8_t **cbufptr, const uint8_t *ebufptr);
int getc_quantization_table(DqtTable *dqttable, const uint8_t **cbufptr, const uint8_t *ebufptr);
int getc_huffman_table_wsq(DhtTable *dhttable, const uint8_t **cbufptr, const uint8_t *ebufptr);
// One Huffman table: *ohuffbits (16 bytes) and *ohuffvalues (max_huffcounts
// + 1 bytes) are new malloc'ed arrays the caller releases.
int getc_huffman_table(uint8_t *otable_id, uint8_t **ohuffbits, uint8_t **ohuffvalues,
                       int max_huffcounts, const uint8_t **cbufptr, const uint8_t *ebufptr,
                       int read_table_len, int *bytes_left);
// Reads every table of one DHT segment (ids checked against the eight
// records) and hands each to sink, with whether it is the segment's first;
// stops at the first failure, sink's included.
using HuffmanTableSink = int (*)(void *ctx, bool first, uint8_t table_id,
                                 const uint8_t *huffbits, const uint8_t *huffvalues);
int read_huffman_segment(HuffmanTableSink sink, void *ctx, const uint8_t **cbufptr,
                         const uint8_t *ebufptr);
int getc_frame_header_wsq(FrameHeaderWsq *frm_header, const uint8_t **cbufptr,
                          const uint8_t *ebufptr);
int getc_block_header(uint8_t *huff_table, const uint8_t **cbufptr, const uint8_t *ebufptr);

void init_wsq_decoder_resources();
void free_wsq_decoder_resources();
int int_sign(int power);

}  // namespace tsl

#endif
