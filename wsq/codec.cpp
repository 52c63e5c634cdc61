// WSQ encoder and decoder drivers: they only sequence the conversion,
// transform, quantization, Huffman coding and segment writing/reading, own
// every work buffer (released on every path) and reset the decoder state.
#include "wsq/codec.h"

#include <cfenv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "common/checked.h"
#include "wsq/huffman.h"
#include "wsq/huffman_blocks.h"
#include "wsq/nistcom.h"
#include "wsq/quantize.h"
#include "wsq/stream_io.h"
#include "wsq/synthesis.h"
#include "wsq/tables.h"
#include "wsq/wavelet.h"

namespace tsl {

namespace {

template <typename T>
using Owned = std::unique_ptr<T, FreeDeleter>;

// The bytes written and the pixels decoded depend on every float rounding:
// both run in the default floating-point environment (round to nearest, no
// flush-to-zero) whatever the caller set, and give the caller's back.
class DefaultFloatEnvironment {
 public:
  DefaultFloatEnvironment() {
    fegetenv(&saved_);
    fesetenv(FE_DFL_ENV);
  }
  ~DefaultFloatEnvironment() { fesetenv(&saved_); }
  DefaultFloatEnvironment(const DefaultFloatEnvironment &) = delete;
  DefaultFloatEnvironment &operator=(const DefaultFloatEnvironment &) = delete;

 private:
  fenv_t saved_;
};

// Releases the transform table's filters when a decode ends, however it ends.
struct DecoderResourcesGuard {
  ~DecoderResourcesGuard() { free_wsq_decoder_resources(); }
};

// The last synthesis step's rows, converted to pixels as they come.
struct PixelRows {
  uint8_t *pixels;
  int width;
  float m_shift, r_scale;
  static void Take(void *ctx, int y, const float *row, int n) {
    const PixelRows *p = static_cast<const PixelRows *>(ctx);
    conv_img_2_uchar(p->pixels + static_cast<size_t>(y) * p->width, row, n, 1, p->m_shift,
                     p->r_scale);
  }
};

}  // namespace

int put_blocks(int table_id, const int16_t *coeffs, const int *sizes, int nblocks,
               uint8_t *huff_buf, int huff_alloc, uint8_t *wsq_data, int wsq_alloc, int *wsq_len) {
  HuffCode *codes_raw = nullptr;
  uint8_t *bits_raw = nullptr, *values_raw = nullptr;
  int ret = gen_hufftable_wsq(&codes_raw, &bits_raw, &values_raw, coeffs, sizes, nblocks);
  if (ret) return ret;
  Owned<HuffCode> codes(codes_raw);
  {
    Owned<uint8_t> bits(bits_raw), values(values_raw);
    ret = putc_huffman_table(DHT_WSQ, static_cast<uint8_t>(table_id), bits.get(), values.get(),
                             wsq_data, wsq_alloc, wsq_len);
    if (ret) return ret;
  }
  for (int b = 0; b < nblocks; ++b) {
    int hsize = 0;
    ret = compress_block(huff_buf, huff_alloc, &hsize, coeffs, sizes[b], MAX_HUFFCOEFF,
                         MAX_HUFFZRUN, codes.get());
    if (ret) return ret;
    if ((ret = putc_block_header(table_id, wsq_data, wsq_alloc, wsq_len))) return ret;
    if ((ret = putc_bytes(huff_buf, hsize, wsq_data, wsq_alloc, wsq_len))) return ret;
    coeffs += sizes[b];
  }
  return 0;
}


int wsq_encode_mem(uint8_t **odata, int *olen, float r_bitrate, const uint8_t *idata, int w,
                   int h, int /*d*/, int ppi, const char *comment_text) {
  if (!odata || !olen || !idata) {
    fprintf(stderr, "ERROR : wsq_encode_1 : null image or output pointer\n");
    return kWsqNullArgument;
  }
  if (w < kMinWsqSide || h < kMinWsqSide) {
    fprintf(stderr, "ERROR : wsq_encode_1 : image %d x %d is smaller than %d x %d\n", w, h,
            kMinWsqSide, kMinWsqSide);
    return kWsqTooSmall;
  }
  if (w > kMaxWsqSide || h > kMaxWsqSide) {
    fprintf(stderr, "ERROR : wsq_encode_1 : image %d x %d is larger than %d x %d\n", w, h,
            kMaxWsqSide, kMaxWsqSide);
    return kWsqTooLarge;
  }
  // A rate of 0 or below asks for nothing the rate control can aim at (0
  // came out as a stream of several bits per pixel).
  if (!(std::isfinite(r_bitrate) && r_bitrate > 0.0f)) {
    fprintf(stderr, "ERROR : wsq_encode_1 : bit rate is not a positive finite number\n");
    return kWsqBadBitRate;
  }
  const size_t num_pix = static_cast<size_t>(w) * static_cast<size_t>(h);
  DefaultFloatEnvironment float_env;

  Owned<float> fdata(static_cast<float *>(SafeMalloc(num_pix, sizeof(float))));
  if (!fdata) {
    fprintf(stderr, "ERROR : wsq_encode_1 : malloc : fdata\n");
    return -10;
  }
  // The float image fits in kMaxAlloc bytes, so the pixel count fits an int.
  const int npix = static_cast<int>(num_pix);
  float m_shift, r_scale;
  int ret = conv_img_2_flt_ret(fdata.get(), &m_shift, &r_scale, idata, npix);
  if (ret) return ret;
  build_wsq_trees(w_tree, W_TREELEN, q_tree, Q_TREELEN, w, h);
  if ((ret = wsq_decompose(fdata.get(), w, h, w_tree, W_TREELEN, hifilt, 7, lofilt, 9)))
    return ret;

  quant_vals.bit_rate = r_bitrate;
  variance(&quant_vals, q_tree, Q_TREELEN, fdata.get(), w, h);
  short *qdata_raw = nullptr;
  int qsize = 0;
  ret = quantize_wsq(&qdata_raw, &qsize, &quant_vals, q_tree, Q_TREELEN, fdata.get(), w, h);
  if (ret) return ret;
  Owned<int16_t> qdata(qdata_raw);
  fdata.reset();

  int sizes[3];
  quant_block_sizes(&sizes[0], &sizes[1], &sizes[2], &quant_vals, w_tree, W_TREELEN, q_tree,
                    Q_TREELEN);
  if (sizes[0] + sizes[1] + sizes[2] != qsize) {
    fprintf(stderr, "ERROR : wsq_encode_1 : problem w/quantization block sizes\n");
    return -11;
  }

  Owned<uint8_t> wsq_data(static_cast<uint8_t *>(SafeMalloc(num_pix, 1)));
  if (!wsq_data) {
    fprintf(stderr, "ERROR : wsq_encode_1 : malloc : wsq_data\n");
    return -12;
  }
  int wsq_len = 0;
  uint8_t *out = wsq_data.get();
  if ((ret = putc_ushort(SOI_WSQ, out, npix, &wsq_len))) return ret;
  if ((ret = putc_nistcom_wsq(comment_text, w, h, 8, ppi, 1, r_bitrate, out, npix, &wsq_len)))
    return ret;
  if ((ret = putc_transform_table(lofilt, 9, hifilt, 7, out, npix, &wsq_len))) return ret;
  if ((ret = putc_quantization_table(&quant_vals, out, npix, &wsq_len))) return ret;
  if ((ret = putc_frame_header_wsq(w, h, m_shift, r_scale, out, npix, &wsq_len))) return ret;

  Owned<uint8_t> huff_buf(static_cast<uint8_t *>(SafeMalloc(num_pix, 1)));
  if (!huff_buf) {
    fprintf(stderr, "ERROR : wsq_encode_1 : malloc : huff_buf\n");
    return -13;
  }
  // Table 0 codes block 1; table 1 codes blocks 2 and 3 together.
  if ((ret = put_blocks(0, qdata.get(), &sizes[0], 1, huff_buf.get(), npix, out, npix,
                        &wsq_len)))
    return ret;
  if ((ret = put_blocks(1, qdata.get() + sizes[0], &sizes[1], 2, huff_buf.get(), npix, out,
                        npix, &wsq_len)))
    return ret;
  huff_buf.reset();
  qdata.reset();
  if ((ret = putc_ushort(EOI_WSQ, out, npix, &wsq_len))) return ret;

  *odata = wsq_data.release();
  *olen = wsq_len;
  return 0;
}

int wsq_decode_mem(uint8_t **odata, int *ow, int *oh, int *od, int *oppi, int *lossyflag,
                   int *oencoder, int *osoftware, const uint8_t *idata, int ilen) {
  DefaultFloatEnvironment float_env;
  init_wsq_decoder_resources();
  DecoderResourcesGuard release_filters;
  dtt_table.lofilt_defined = 0;
  dtt_table.hifilt_defined = 0;
  for (DhtTable &t : dht_table) t.table_defined = 0;
  // Every stream must bring its own quantization table: one left by an
  // earlier stream would dequantize this one with the wrong widths.
  dqt_table.qtable_defined = 0;

  const uint8_t *cbufptr = idata;
  const uint8_t *ebufptr = idata + (idata && ilen > 0 ? ilen : 0);
  uint16_t marker;
  int ret = getc_marker_wsq(&marker, SOI_WSQ, &cbufptr, ebufptr);
  if (ret) return ret;
  if ((ret = getc_marker_wsq(&marker, TBLS_N_SOF, &cbufptr, ebufptr))) return ret;
  while (marker != SOF_WSQ) {
    if ((ret = getc_table_wsq(marker, &dtt_table, &dqt_table, dht_table, &cbufptr, ebufptr)))
      return ret;
    if ((ret = getc_marker_wsq(&marker, TBLS_N_SOF, &cbufptr, ebufptr))) return ret;
  }
  if ((ret = getc_frame_header_wsq(&frm_header_wsq, &cbufptr, ebufptr))) return ret;
  const int width = frm_header_wsq.width, height = frm_header_wsq.height;
  const size_t num_pix = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (num_pix == 0 || num_pix > static_cast<size_t>(INT_MAX)) {
    fprintf(stderr, "ERROR: wsq_decode_mem : frame size %d x %d not supported\n", width, height);
    return kWsqBadFrameSize;
  }
  int ppi;
  if ((ret = getc_ppi_wsq(&ppi, idata, ilen))) return ret;

  build_wsq_trees(w_tree, W_TREELEN, q_tree, Q_TREELEN, width, height);
  // The blocks are decoded into a record the size of the stream; only when
  // they supply every coefficient of the coded subbands is memory of the
  // frame's size taken. A few bytes may declare a frame of gigabytes.
  CoefficientRecord coefficients;
  if ((ret = huffman_decode_data_mem(&coefficients, &dtt_table, &dqt_table, dht_table, &cbufptr,
                                     ebufptr)))
    return ret;
  long long coded;
  if ((ret = coded_coefficients(&coded, &dqt_table, q_tree))) return ret;
  if (coefficients.count() < coded) {
    fprintf(stderr,
            "ERROR: wsq_decode_mem : coded data supplies %lld of the %lld coefficients "
            "of the coded subbands\n",
            coefficients.count(), coded);
    return kWsqShortData;
  }
  // The coefficients go straight from the record into the float image, whose
  // never coded quadrant then gives the synthesis its room (synthesis.h).
  const FloatImageLayout layout = decoder_float_layout(width, height);
  Owned<float> fdata(static_cast<float *>(SafeMalloc(
      static_cast<size_t>(layout.pitch) * static_cast<size_t>(layout.rows), sizeof(float))));
  if (!fdata) {
    fprintf(stderr, "ERROR : unquantize : calloc : fip\n");
    return -91;
  }
  ZeroRows zeros;
  if ((ret = unquantize_record(fdata.get(), layout.pitch, &dqt_table, q_tree, coefficients,
                               &zeros)))
    return ret;
  coefficients.Clear();
  Owned<uint8_t> cdata(static_cast<uint8_t *>(SafeMalloc(num_pix, 1)));
  if (!cdata) {
    fprintf(stderr, "ERROR: wsq_decode_mem : malloc : cdata\n");
    return -21;
  }
  PixelRows pixels{cdata.get(), width, frm_header_wsq.m_shift, frm_header_wsq.r_scale};
  if ((ret = synthesize(fdata.get(), layout.pitch, width, height, w_tree, &dtt_table, q_tree,
                        &zeros, PixelRows::Take, &pixels)))
    return ret;
  fdata.reset();

  *odata = cdata.release();
  *ow = width;
  *oh = height;
  *od = 8;
  *oppi = ppi;
  *lossyflag = 1;
  *oencoder = frm_header_wsq.wsq_encoder;
  *osoftware = frm_header_wsq.software;
  return 0;
}

}  // namespace tsl
