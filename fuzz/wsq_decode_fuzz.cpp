// WSQ_decode_stream on arbitrary bytes: any code or image, never a crash, an
// out-of-bounds access or a leak.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tessaly.h"
#include "wsq/stream_io.h"
#include "wsq/tables.h"

namespace {

// Frame sizes the harness lets through: larger frames are valid input (a few
// bytes can declare a 100-megapixel image of zeros) but only make each run
// slow and memory-hungry without reaching new code.
constexpr unsigned long kMaxFuzzPixels = 1u << 20;

// The frame size as the decoder will see it: the same readers walk the same
// segments up to the frame header.
bool FrameTooLarge(const uint8_t *data, size_t size) {
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > INT_MAX || FrameTooLarge(data, size)) return 0;
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
