// Coefficient-domain crop of a WSQ stream: the stream is Huffman-decoded to
// quantized coefficients, the part of every subband that belongs to a box
// is copied out and coded again behind the source's own headers, with no
// wavelet reconstruction. Building blocks of the codec; no exported
// function reaches them.
#ifndef TESSALY_WSQ_CROP_H
#define TESSALY_WSQ_CROP_H

#include <cstdint>

#include "wsq/tables.h"
#include "wsq/wavelet.h"

namespace tsl {

// Codes of the crop's own refusals.
constexpr int kCropBadFrameSize = -22;     // frame width x height 0 or above INT_MAX
constexpr int kCropTablesMissing = -23;    // no DTT and DQT before the first DHT or SOB
constexpr int kCropBoxOutsideBand = -93;   // box does not lie inside a subband
constexpr int kCropBadFramePosition = -14; // frame-size position outside the header

// Cuts the box UL (x1, y1) to LR (x2, y2) (one past the box) out of the
// stream. The first call (or any call with *qdata or *odata null) decodes
// the stream into *qdata, *width, *height, *frmsize_pos and *hdr_len and
// makes an output buffer of ilen bytes, releasing buffers those pointers
// held; later calls pass all of them back and cut further boxes from the
// same coefficients. On success *odata holds *olen bytes of stream and
// *ocropw, *ocroph the crop's size. A box that is empty or outside the
// image gives 0 with sizes -1 and *olen 0. The caller releases *qdata and
// *odata with free.
int wsq_cropcoeff_mem(uint8_t **odata, int *olen, int *ocropw, int *ocroph, int x1, int y1,
                      int x2, int y2, int *width, int *height, const uint8_t *idata, int ilen,
                      int16_t **qdata, int *frmsize_pos, int *hdr_len);

// Huffman-decodes a stream into a new malloc'ed array of width x height
// quantized coefficients (zero where no symbol stored one). *ofrmsize_pos is
// the offset of the frame header's height field, *ohdr_len the length of
// the stream's head up to the frame header or the table after it that
// completes the transform and quantization tables. On success the
// transform table's filters stay allocated for the caller to release.
int wsq_dehuff_mem(int16_t **oqdata, int *owidth, int *oheight, double *or_scale,
                   double *om_shift, int *ofrmsize_pos, int *ohdr_len, const uint8_t *idata,
                   int ilen);

// Copies the box (x, y, cropw x croph) of every coded subband of src
// (subbands full_tree) into dst, after building q_tree2 and q_tree3 (and
// w_tree, left for the crop size).
int wsq_crop_qdata(const DqtTable *dqt, const QTreeEntry *full_tree, QTreeEntry *crop_tree,
                   QTreeEntry *offset_tree, const int16_t *src, int x, int y, int cropw,
                   int croph, int16_t *dst);

// Codes cropped coefficients as a stream behind the first hdr_len bytes of
// the source stream, the frame size rewritten at frmsize_pos.
int wsq_huffcode_mem(uint8_t *odata, int *olen, const int16_t *qdata, int cropw, int croph,
                     const uint8_t *idata, int oalloc, int frmsize_pos, int hdr_len);

// The three block sizes of quant_block_sizes with the bin widths of a
// quantization table read from a stream.
void quant_block_sizes2(int *oqsize1, int *oqsize2, int *oqsize3, const DqtTable *dqt,
                        WTreeNode w_tree[], int w_treelen, QTreeEntry q_tree[], int q_treelen);

}  // namespace tsl

#endif
