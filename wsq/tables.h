// WSQ table, frame-header and block-header segments: writers, and readers
// that fill the decoder tables of wsq/state.h. Used by the WSQ
// encoder/decoder and the header peek.
#ifndef TESSALY_WSQ_TABLES_H
#define TESSALY_WSQ_TABLES_H

#include <cstdint>

#include "wsq/state.h"

namespace tsl {

// Quantizer widths and frame-header floats are stored as a 16-bit value and
// a decimal scale: a value at or above this does not fit.
constexpr float kScaledU16Limit = 65535.0f;

// Software implementation number written into every frame header.
constexpr uint16_t kSoftwareImplementationNumber = 0x5453;  // "TS"

// Writers (output buffer of stream_io.h).
int putc_transform_table(const float *lofilt, int losz, const float *hifilt, int hisz,
                         uint8_t *odata, int oalloc, int *olen);
int putc_quantization_table(const QuantVals *quant_vals, uint8_t *odata, int oalloc, int *olen);
int putc_huffman_table(uint16_t marker, uint8_t table_id, const uint8_t *huffbits,
                       const uint8_t *huffvalues, uint8_t *odata, int oalloc, int *olen);
// An estimate of a stream's size from the bytes of its coded blocks and the
// length counts of its two Huffman tables: block_length + 492 + counts1[1]
// .. counts1[15] + 19 + counts2[1] .. counts2[15] + 20 (held within int). No
// caller in the library.
int image_size(int block_length, const short counts1[], const short counts2[]);
int putc_frame_header_wsq(int width, int height, float m_shift, float r_scale, uint8_t *odata,
                          int oalloc, int *olen);
int putc_block_header(int table, uint8_t *odata, int oalloc, int *olen);

// Readers (byte cursor of stream_io.h), called after the marker was read.
// Given null tables, the table readers read and check a segment as usual
// but store nothing and allocate no filters.
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
