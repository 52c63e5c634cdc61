// Frame-size guard shared by the WSQ fuzz targets that decode: larger frames
// are valid input (a few bytes can declare a 100-megapixel image of zeros)
// but only make each run slow and memory-hungry without reaching new code.
#ifndef TESSALY_FUZZ_WSQ_FRAME_GUARD_H
#define TESSALY_FUZZ_WSQ_FRAME_GUARD_H

#include <cstddef>
#include <cstdint>

#include "wsq/stream_io.h"
#include "wsq/tables.h"

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

#endif
