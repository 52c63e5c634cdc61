// The WSQ encoder and decoder: 8-bit grey image in memory to a WSQ stream and
// back. Used by the WSQ stream functions and the file read/save paths.
#ifndef TESSALY_WSQ_CODEC_H
#define TESSALY_WSQ_CODEC_H

#include <cstdint>

namespace tsl {

// Codes of the encoder's own refusals, before any work is done.
constexpr int kWsqTooSmall = -14;       // width or height below kMinWsqSide
constexpr int kWsqTooLarge = -15;       // width or height above kMaxWsqSide
constexpr int kWsqBadBitRate = -16;     // bit rate not a positive finite number
constexpr int kWsqNullArgument = -17;   // no pixels or no place for the output
// Decoder: a frame header whose width x height is 0 or does not fit an int.
constexpr int kWsqBadFrameSize = -22;
// Decoder: the coded blocks end before they supply every coefficient of the
// subbands the quantization table codes.
constexpr int kWsqShortData = -23;

// On success *odata is a new malloc'ed buffer of w x h bytes holding *olen
// bytes of stream; on failure neither is written. d is not used (depth 8).
// comment_text may be null.
int wsq_encode_mem(uint8_t **odata, int *olen, float r_bitrate, const uint8_t *idata, int w,
                   int h, int d, int ppi, const char *comment_text);

// Codes one or two consecutive blocks of quantized coefficients with one
// Huffman table: its DHT segment (id table_id), then per block its header
// and coded bytes, appended to wsq_data. huff_buf is scratch of huff_alloc
// bytes for one block's code. Shared by the encoder and the crop.
int put_blocks(int table_id, const int16_t *coeffs, const int *sizes, int nblocks,
               uint8_t *huff_buf, int huff_alloc, uint8_t *wsq_data, int wsq_alloc, int *wsq_len);

// On success *odata is a new malloc'ed w x h grey image and the other outputs
// are filled; on failure none is written.
int wsq_decode_mem(uint8_t **odata, int *ow, int *oh, int *od, int *oppi, int *lossyflag,
                   int *oencoder, int *osoftware, const uint8_t *idata, int ilen);

}  // namespace tsl

#endif
