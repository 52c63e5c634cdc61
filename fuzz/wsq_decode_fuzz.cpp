// WSQ_decode_stream on arbitrary bytes: any code or image, never a crash, an
// out-of-bounds access or a leak.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tessaly.h"
#include "wsq/huffman_blocks.h"
#include "wsq/quantize.h"
#include "wsq/stream_io.h"
#include "wsq/tables.h"
#include "wsq/wavelet.h"

namespace {

// Larger frames whose coded data fills them are valid input (a few bytes can
// declare a 100-megapixel image of zeros) but only make each run slow and
// memory-hungry without reaching new code. Those the data cannot fill go
// through: the decoder refuses them at the cost of reading the stream.
constexpr unsigned long kMaxFuzzPixels = 1u << 20;

// Whether the decoder would decode a frame above the limit: the same
// readers, from the same reset tables, walk the same segments and blocks.
bool DecodeTooLarge(const uint8_t *data, size_t size) {
  using namespace tsl;
  init_wsq_decoder_resources();
  dtt_table.lofilt_defined = dtt_table.hifilt_defined = 0;
  for (DhtTable &t : dht_table) t.table_defined = 0;
  dqt_table.qtable_defined = 0;
  const uint8_t *cur = data, *end = data + size;
  uint16_t marker;
  bool large = false;
  if (!getc_marker_wsq(&marker, SOI_WSQ, &cur, end) &&
      !getc_marker_wsq(&marker, TBLS_N_SOF, &cur, end)) {
    while (marker != SOF_WSQ) {
      if (getc_table_wsq(marker, &dtt_table, &dqt_table, dht_table, &cur, end) ||
          getc_marker_wsq(&marker, TBLS_N_SOF, &cur, end))
        break;
    }
    if (marker == SOF_WSQ && !getc_frame_header_wsq(&frm_header_wsq, &cur, end) &&
        static_cast<unsigned long>(frm_header_wsq.width) * frm_header_wsq.height >
            kMaxFuzzPixels) {
      build_wsq_trees(w_tree, W_TREELEN, q_tree, Q_TREELEN, frm_header_wsq.width,
                      frm_header_wsq.height);
      CoefficientRecord coefficients;
      long long coded = 0;
      large = huffman_decode_data_mem(&coefficients, &dtt_table, &dqt_table, dht_table, &cur,
                                      end) == 0 &&
              coded_coefficients(&coded, &dqt_table, q_tree) == 0 &&
              coefficients.count() >= coded;
    }
  }
  free_wsq_decoder_resources();
  return large;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > INT_MAX || DecodeTooLarge(data, size)) return 0;
  unsigned char *image = nullptr;
  int width = 0, height = 0, ppi = 0;
  char *comment = nullptr;
  int ret = WSQ_decode_stream(data, static_cast<int>(size), &image, &width, &height, &ppi,
                              &comment);
  if (ret == 1) {
    // Touch every pixel so the sanitizer checks the buffer's extent.
    volatile unsigned sum = 0;
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) sum = sum + image[i];
  }
  free(image);
  free(comment);
  return 0;
}
