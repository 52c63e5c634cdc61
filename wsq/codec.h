// The WSQ encoder and decoder: 8-bit grey image in memory to a WSQ stream and
// back. Used by the WSQ stream functions and the file read/save paths.
#ifndef TESSALY_WSQ_CODEC_H
#define TESSALY_WSQ_CODEC_H

#include <cstdint>

namespace tsl {

// Codes of the encoder's own refusals, before any work is done.
constexpr int kWsqTooSmall = -14;       // width or height below kMinWsqSide
constexpr int kWsqTooLarge = -15;       // width or height above kMaxWsqSide
constexpr int kWsqBadBitRate = -16;     // bit rate not a finite number
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

// On success *odata is a new malloc'ed w x h grey image and the other outputs
// are filled; on failure none is written.
int wsq_decode_mem(uint8_t **odata, int *ow, int *oh, int *od, int *oppi, int *lossyflag,
                   int *oencoder, int *osoftware, const uint8_t *idata, int ilen);

}  // namespace tsl

#endif
