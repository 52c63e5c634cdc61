// Frame-size guards shared by the WSQ fuzz targets that decode: larger
// frames are valid input (a few bytes can declare a 100-megapixel image of
// zeros) but only make each run slow and memory-hungry without reaching new
// code.
#ifndef TESSALY_FUZZ_WSQ_FRAME_GUARD_H
#define TESSALY_FUZZ_WSQ_FRAME_GUARD_H

#include <cstddef>
#include <cstdint>

#include "wsq/huffman_blocks.h"
#include "wsq/quantize.h"
#include "wsq/stream_io.h"
#include "wsq/tables.h"
#include "wsq/wavelet.h"

constexpr unsigned long kMaxFuzzPixels = 1u << 20;

// The frame size as a decoder will see it: the same readers walk the same
// segments up to the frame header.
inline bool FrameTooLarge(const uint8_t *data, size_t size) {
  const uint8_t *cur = data, *end = data + size;
  uint16_t marker;
  bool large = false;
  if (!tsl::getc_marker_wsq(&marker, tsl::SOI_WSQ, &cur, end) &&
      !tsl::getc_marker_wsq(&marker, tsl::TBLS_N_SOF, &cur, end)) {
    while (marker != tsl::SOF_WSQ) {
      if (tsl::getc_table_wsq(marker, &tsl::dtt_table, &tsl::dqt_table, tsl::dht_table, &cur,
                              end) ||
          tsl::getc_marker_wsq(&marker, tsl::TBLS_N_SOF, &cur, end))
        break;
    }
    tsl::FrameHeaderWsq frame{};
    if (marker == tsl::SOF_WSQ && !tsl::getc_frame_header_wsq(&frame, &cur, end))
      large = static_cast<unsigned long>(frame.width) * frame.height > kMaxFuzzPixels;
  }
  tsl::free_wsq_decoder_resources();
  return large;
}

// Whether the decoder would decode a frame above the limit: the same
// readers, from the same reset tables, walk the same segments and blocks.
// Frames the data cannot fill go through, as the decoder refuses them at
// the cost of reading the stream.
inline bool DecodeTooLarge(const uint8_t *data, size_t size) {
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

#endif
