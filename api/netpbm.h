// Raw PBM (P4), PGM (P5) and PPM (P6) streams in memory: the encoders used
// by the file save path, and the process-wide work area of the PBM decoder.
// The decoders are exported and declared in tessaly.h.
#ifndef TESSALY_API_NETPBM_H
#define TESSALY_API_NETPBM_H

namespace tsl {

// The comment line every encoder writes after the magic line.
constexpr char kNetpbmComment[] = "# Created by Halvorin Tessaly\n";

// Planar RGB (3 x width x height bytes) to a P4, P5 or P6 stream in a new
// malloc'ed buffer stored with its length. PBM and PGM take the truncated
// mean of the three planes; PBM marks pixels below 128 black and writes 0
// fill bits. 0 done; -1 for a null argument, a non-positive size, a size
// whose stream would not fit in an int, or no memory (nothing stored).
int PBM_encode_stream(const unsigned char *planar, int width, int height,
                      unsigned char **output, int *length);
int PGM_encode_stream(const unsigned char *planar, int width, int height,
                      unsigned char **output, int *length);
int PPM_encode_stream(const unsigned char *planar, int width, int height,
                      unsigned char **output, int *length);

// The PBM decoder's work area, one byte per pixel of rows rounded up to a
// multiple of 8: replaced by every decode whose header, sizes and data
// length pass the checks, and kept until the process ends.
struct NetpbmState {
  unsigned char *pbm_decoded_data_internal = nullptr;
};
extern NetpbmState g_netpbm;

}  // namespace tsl

#endif
