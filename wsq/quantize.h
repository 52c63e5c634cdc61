// Pixel conversion, subband variances, quantization and dequantization of the
// WSQ codec. Used by the encoder/decoder.
#ifndef TESSALY_WSQ_QUANTIZE_H
#define TESSALY_WSQ_QUANTIZE_H

#include <cstdint>

#include "wsq/huffman_blocks.h"
#include "wsq/synthesis.h"
#include "wsq/tables.h"
#include "wsq/wavelet.h"

namespace tsl {

// quantize_wsq: a quantized value does not fit in 16 bits (only a coefficient
// that is not a finite number does not).
constexpr int kWsqQuantOverflow = -18;

// 8-bit pixels to floats centred on their mean and scaled into about +-128.
int conv_img_2_flt_ret(float *fip, float *m_shift, float *r_scale, const uint8_t *data,
                       int num_pix);
// The same conversion, for callers that take no result (the other's cannot
// fail). No caller in the library.
void conv_img_2_flt(float *fip, float *m_shift, float *r_scale, const uint8_t *data,
                    int num_pix);
void variance(QuantVals *quant_vals, QTreeEntry q_tree[], int q_treelen, const float *fip,
              int width, int height);
// *osip: new malloc'ed array of width x height values, *ocmp_siz of them used.
// When the scale that the rate gives is not finite or leaves a value outside
// -32768 to 32767, the finest scale whose values fit replaces it. A value
// still outside fails with kWsqQuantOverflow (the array released, nothing
// handed out; the widths stay in quant_vals).
int quantize_wsq(short **osip, int *ocmp_siz, QuantVals *quant_vals, QTreeEntry q_tree[],
                 int q_treelen, const float *fip, int width, int height);
void quant_block_sizes(int *oqsize1, int *oqsize2, int *oqsize3, const QuantVals *quant_vals,
                       WTreeNode w_tree[], int w_treelen, QTreeEntry q_tree[], int q_treelen);
// Number of coefficients unquantize takes from its array: the areas of the
// subbands 0 to 59 that the table gives a bin width. -92 when no quantization
// table was read.
int coded_coefficients(long long *ocount, const DqtTable *dqt_table, const QTreeEntry q_tree[]);
// *ofip: new malloc'ed float image of width x height.
int unquantize(float **ofip, const DqtTable *dqt_table, QTreeEntry q_tree[], int q_treelen,
               const short *sip, int width, int height);
// The decoder's dequantization: the coefficients of the subbands 0 to 59
// that the table codes, taken in order from the record, into the float
// image fip (rows of `pitch` floats); uncoded subbands 0 to 59 become zeros
// and 60 to 63 are left as they are. zeros receives the rows found empty,
// the uncoded subbands and 60 to 63. 0, -91 or -92.
int unquantize_record(float *fip, int pitch, const DqtTable *dqt_table, const QTreeEntry q_tree[],
                      const CoefficientRecord &rec, ZeroRows *zeros);
void conv_img_2_uchar(uint8_t *data, const float *img, int width, int height, float m_shift,
                      float r_scale);

}  // namespace tsl

#endif
