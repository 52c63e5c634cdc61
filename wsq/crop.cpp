#include "wsq/crop.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/checked.h"
#include "wsq/codec.h"
#include "wsq/huffman.h"
#include "wsq/huffman_blocks.h"
#include "wsq/quantize.h"
#include "wsq/stream_io.h"

namespace tsl {

namespace {

template <typename T>
using Owned = std::unique_ptr<T, FreeDeleter>;

// Every crop box corner is moved onto this grid: the deepest subbands are a
// 32nd of the image, so only such offsets fall on whole coefficients.
constexpr int kCropGrid = 32;

// Releases the transform table's filters unless the decode hands them on.
struct FilterRelease {
  bool keep = false;
  ~FilterRelease() {
    if (!keep) free_wsq_decoder_resources();
  }
};

}  // namespace

void quant_block_sizes2(int *oqsize1, int *oqsize2, int *oqsize3, const DqtTable *dqt,
                        WTreeNode w_tree[], int w_treelen, QTreeEntry q_tree[], int q_treelen) {
  QuantVals widths{};
  std::memcpy(widths.q_widths, dqt->q_widths, sizeof widths.q_widths);
  quant_block_sizes(oqsize1, oqsize2, oqsize3, &widths, w_tree, w_treelen, q_tree, q_treelen);
}

int wsq_dehuff_mem(int16_t **oqdata, int *owidth, int *oheight, double *or_scale,
                   double *om_shift, int *ofrmsize_pos, int *ohdr_len, const uint8_t *idata,
                   int ilen) {
  init_wsq_decoder_resources();
  FilterRelease filters;
  for (DhtTable &t : dht_table) t.table_defined = 0;

  const uint8_t *cbufptr = idata;
  const uint8_t *ebufptr = idata + (idata != nullptr && ilen > 0 ? ilen : 0);
  uint16_t marker;
  int ret = getc_marker_wsq(&marker, SOI_WSQ, &cbufptr, ebufptr);
  if (ret) return ret;
  if ((ret = getc_marker_wsq(&marker, TBLS_N_SOF, &cbufptr, ebufptr))) return ret;
  bool have_dtt = false, have_dqt = false;
  while (marker != SOF_WSQ) {
    if ((ret = getc_table_wsq(marker, &dtt_table, &dqt_table, dht_table, &cbufptr, ebufptr)))
      return ret;
    have_dtt = have_dtt || marker == DTT_WSQ;
    have_dqt = have_dqt || marker == DQT_WSQ;
    if ((ret = getc_marker_wsq(&marker, TBLS_N_SOF, &cbufptr, ebufptr))) return ret;
  }
  if ((ret = getc_frame_header_wsq(&frm_header_wsq, &cbufptr, ebufptr))) return ret;
  // The height field stands 13 bytes before the end of the frame header.
  const int frmsize_pos = static_cast<int>(cbufptr - idata) - 13;
  const int width = frm_header_wsq.width, height = frm_header_wsq.height;
  const size_t num_pix = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (num_pix == 0 || num_pix > static_cast<size_t>(INT_MAX)) {
    fprintf(stderr, "ERROR: wsq_dehuff_mem : frame size %d x %d not supported\n", width, height);
    return kCropBadFrameSize;
  }
  build_wsq_trees(w_tree, W_TREELEN, q_tree, Q_TREELEN, width, height);

  // The crop copies the head of the stream up to where both tables have
  // been read; a stream without them cannot be cropped.
  while (!(have_dtt && have_dqt)) {
    if ((ret = getc_marker_wsq(&marker, TBLS_N_SOB, &cbufptr, ebufptr))) return ret;
    if (marker == SOB_WSQ || marker == DHT_WSQ) {
      fprintf(stderr, "ERROR: Didn't find DTT and DQT before DHT\n");
      return kCropTablesMissing;
    }
    if ((ret = getc_table_wsq(marker, &dtt_table, &dqt_table, dht_table, &cbufptr, ebufptr)))
      return ret;
    have_dtt = have_dtt || marker == DTT_WSQ;
    have_dqt = have_dqt || marker == DQT_WSQ;
  }
  const int hdr_len = static_cast<int>(cbufptr - idata);

  // Zero-filled: a stream that ends early leaves no place undefined.
  Owned<int16_t> qdata(static_cast<int16_t *>(SafeCalloc(num_pix, sizeof(int16_t))));
  if (!qdata) {
    fprintf(stderr, "ERROR: wsq_dehuff_mem : malloc : qdata1\n");
    return -20;
  }
  if ((ret = huffman_decode_data_mem(qdata.get(), &dtt_table, &dqt_table, dht_table, &cbufptr,
                                     ebufptr)))
    return ret;
  filters.keep = true;
  *oqdata = qdata.release();
  *owidth = width;
  *oheight = height;
  *or_scale = frm_header_wsq.r_scale;
  *om_shift = frm_header_wsq.m_shift;
  *ofrmsize_pos = frmsize_pos;
  *ohdr_len = hdr_len;
  return 0;
}

int wsq_crop_qdata(const DqtTable *dqt, const QTreeEntry *full_tree, QTreeEntry *crop_tree,
                   QTreeEntry *offset_tree, const int16_t *src, int x, int y, int cropw,
                   int croph, int16_t *dst) {
  if (x % kCropGrid != 0 || y % kCropGrid != 0)
    fprintf(stderr,
            "SERIOUS WARNING : wsq_crop_qdata will produce awful results. \n"
            "\tUL (%d,%d) is not a multiple of 32\n",
            x, y);
  build_wsq_trees(w_tree, W_TREELEN, offset_tree, Q_TREELEN, x, y);
  build_wsq_trees(w_tree, W_TREELEN, crop_tree, Q_TREELEN, cropw, croph);
  if (dqt->qtable_defined != 1) {
    fprintf(stderr, "ERROR: unquantize : quantization table parameters not defined!\n");
    return -92;
  }
  for (int k = 0; k < NUM_SUBBANDS; ++k) {
    if (dqt->q_widths[k] == 0.0f) continue;
    const QTreeEntry &band = full_tree[k], &box = crop_tree[k], &at = offset_tree[k];
    // Off the grid, or past the image, the box would reach into the next
    // subband or past the coefficients.
    if (at.lenx + box.lenx > band.lenx || at.leny + box.leny > band.leny) {
      fprintf(stderr, "ERROR : wsq_crop_qdata : box does not lie inside subband %d\n", k);
      return kCropBoxOutsideBand;
    }
    const int16_t *row = src + static_cast<size_t>(at.leny) * static_cast<size_t>(band.lenx) +
                         static_cast<size_t>(at.lenx);
    for (int r = 0; r < box.leny; ++r) {
      std::memcpy(dst, row, static_cast<size_t>(box.lenx) * sizeof(int16_t));
      dst += box.lenx;
      row += band.lenx;
    }
    src += static_cast<size_t>(band.lenx) * static_cast<size_t>(band.leny);
  }
  return 0;
}

int wsq_huffcode_mem(uint8_t *odata, int *olen, const int16_t *qdata, int cropw, int croph,
                     const uint8_t *idata, int oalloc, int frmsize_pos, int hdr_len) {
  int len = 0;
  int ret = putc_bytes(idata, hdr_len, odata, oalloc, &len);
  if (ret) return ret;
  if (frmsize_pos < 0 || frmsize_pos > hdr_len - 4) {
    fprintf(stderr, "ERROR : wsq_huffcode_mem : frame size position %d outside header of %d\n",
            frmsize_pos, hdr_len);
    return kCropBadFramePosition;
  }
  int at = frmsize_pos;
  if ((ret = putc_ushort(static_cast<uint16_t>(croph), odata, oalloc, &at))) return ret;
  if ((ret = putc_ushort(static_cast<uint16_t>(cropw), odata, oalloc, &at))) return ret;

  int sizes[3];
  quant_block_sizes2(&sizes[0], &sizes[1], &sizes[2], &dqt_table, w_tree, W_TREELEN, q_tree2,
                     Q_TREELEN);
  const size_t crop_pix = static_cast<size_t>(cropw) * static_cast<size_t>(croph);
  Owned<uint8_t> huff_buf(static_cast<uint8_t *>(SafeMalloc(crop_pix, 1)));
  if (!huff_buf) {
    fprintf(stderr, "ERROR : wsq_huffcode_1 : malloc : huff_buf\n");
    return -13;
  }
  const int huff_alloc = static_cast<int>(crop_pix);
  // Table 0 codes block 1; table 1 codes blocks 2 and 3 together.
  if ((ret = put_blocks(0, qdata, &sizes[0], 1, huff_buf.get(), huff_alloc, odata, oalloc, &len)))
    return ret;
  if ((ret = put_blocks(1, qdata + sizes[0], &sizes[1], 2, huff_buf.get(), huff_alloc, odata,
                       oalloc, &len)))
    return ret;
  if ((ret = putc_ushort(EOI_WSQ, odata, oalloc, &len))) return ret;
  *olen = len;
  return 0;
}

int wsq_cropcoeff_mem(uint8_t **odata, int *olen, int *ocropw, int *ocroph, int x1, int y1,
                      int x2, int y2, int *width, int *height, const uint8_t *idata, int ilen,
                      int16_t **qdata, int *frmsize_pos, int *hdr_len) {
  Owned<uint8_t> made;  // an output buffer this call allocated
  if (*qdata == nullptr || *odata == nullptr) {
    int16_t *coeffs = nullptr;
    int w, h, pos, hlen;
    double r_scale, m_shift;
    int ret = wsq_dehuff_mem(&coeffs, &w, &h, &r_scale, &m_shift, &pos, &hlen, idata, ilen);
    if (ret) return ret;
    free_wsq_decoder_resources();
    // Whatever the caller's pointers held is replaced, so it is released.
    std::free(*qdata);
    std::free(*odata);
    *odata = nullptr;
    *qdata = coeffs;
    *width = w;
    *height = h;
    *frmsize_pos = pos;
    *hdr_len = hlen;
    made.reset(static_cast<uint8_t *>(SafeMalloc(static_cast<size_t>(ilen), 1)));
    if (!made) {
      fprintf(stderr, "ERROR : wsq_cropcoeff_1 : malloc : wsq_data\n");
      return -12;
    }
  } else {
    // The stored coefficients are laid out by their own image's subbands.
    build_wsq_trees(w_tree, W_TREELEN, q_tree, Q_TREELEN, *width, *height);
  }

  if (x1 >= x2 || y1 >= y2) {
    fprintf(stderr, "WARNING : wsq_cropcoeff_mem : invalid box UL(%d,%d), LR(%d,%d)\n", x1, y1,
            x2, y2);
    *ocropw = *ocroph = -1;
    *olen = 0;
    return 0;
  }
  if (x1 >= *width || y1 >= *height || x2 < 1 || y2 < 1) {
    fprintf(stderr, "WARNING : wsq_cropcoeff_mem : box outside image\n");
    fprintf(stderr, "        UL(%d,%d), LR(%d,%d)  Image width %d height %d\n", x1, y1, x2, y2,
            *width, *height);
    *ocropw = *ocroph = -1;
    *olen = 0;
    return 0;
  }
  if (x1 < 0) x1 = 0;
  if (y1 < 0) y1 = 0;
  x1 -= x1 % kCropGrid;
  y1 -= y1 % kCropGrid;
  if (x2 > *width) x2 = *width;
  if (y2 > *height) y2 = *height;
  const int cropw = x2 - x1, croph = y2 - y1;
  *ocropw = cropw;
  *ocroph = croph;

  Owned<int16_t> cropped(static_cast<int16_t *>(
      SafeCalloc(static_cast<size_t>(cropw) * static_cast<size_t>(croph), sizeof(int16_t))));
  if (!cropped) {
    fprintf(stderr, "ERROR: wsq_cropcoeff_mem : malloc : qdata2\n");
    return -20;
  }
  int ret = wsq_crop_qdata(&dqt_table, q_tree, q_tree2, q_tree3, *qdata, x1, y1, cropw, croph,
                           cropped.get());
  if (ret) return ret;
  uint8_t *out = made ? made.get() : *odata;
  if ((ret = wsq_huffcode_mem(out, olen, cropped.get(), cropw, croph, idata, ilen, *frmsize_pos,
                              *hdr_len)))
    return ret;
  if (made) *odata = made.release();
  return 0;
}

}  // namespace tsl
