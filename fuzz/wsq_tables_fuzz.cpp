// The full table, frame-header and block-header readers on arbitrary bytes,
// walked as a decoder walks them, each table also read without storing.
#include <cstdint>
#include <cstdlib>

#include "wsq/stream_io.h"
#include "wsq/tables.h"

using namespace tsl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const uint8_t *cur = data;
  const uint8_t *end = data + size;
  DttTable dtt{};
  DqtTable dqt{};
  DhtTable dht[MAX_DHT_TABLES] = {};
  FrameHeaderWsq frame{};
  uint16_t marker;
  while (getc_marker_wsq(&marker, ANY_WSQ, &cur, end) == 0) {
    int ret;
    if (marker == SOF_WSQ) {
      ret = getc_frame_header_wsq(&frame, &cur, end);
    } else if (marker == SOB_WSQ) {
      // Any id is handed on; the block decoder refuses those naming no
      // defined table.
      uint8_t id;
      ret = getc_block_header(&id, &cur, end);
    } else if (marker == SOI_WSQ || marker == EOI_WSQ) {
      ret = 0;
    } else {
      // Read without storing, a segment must take the same bytes; the same
      // result too, but for a Huffman table whose id an earlier segment
      // defined (only the storing reader knows of it).
      const uint8_t *peek = cur;
      const int dropped = getc_table_wsq(marker, nullptr, nullptr, nullptr, &peek, end);
      ret = getc_table_wsq(marker, &dtt, &dqt, dht, &cur, end);
      if ((marker != DHT_WSQ || ret == 0) && (dropped != ret || peek != cur)) __builtin_trap();
    }
    if (ret) break;
  }
  std::free(dtt.lofilt);
  std::free(dtt.hifilt);
  return 0;
}
