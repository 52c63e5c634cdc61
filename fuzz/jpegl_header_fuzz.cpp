// The lossless JPEG header readers on arbitrary bytes: SOI, JFIF, tables up
// to the frame header and to the scan header, then the comment walk and
// insertion. Headers read are written and read again unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "wsq/jpegl.h"

using namespace tsl;

namespace {

// Writes `sent`, reads it back and checks the result equals `expected`.
template <typename T, typename Put, typename Get>
void RoundTrip(const T &sent, const T *expected, Put put, Get get) {
  uint8_t buf[64];
  int len = 0;
  if (put(&sent, buf, static_cast<int>(sizeof buf), &len) != 0) std::abort();
  const uint8_t *cur = buf + 2;
  T *again = nullptr;
  if (get(&again, &cur, buf + len) != 0 || std::memcmp(again, expected, sizeof(T)) != 0)
    std::abort();
  std::free(again);
}

void Headers(const uint8_t *data, size_t size) {
  const uint8_t *cur = data, *end = data + size;
  uint16_t marker;
  if (getc_marker_jpegl(&marker, SOI_JPEGL, &cur, end)) return;
  if (getc_marker_jpegl(&marker, ANY_JPEGL, &cur, end)) return;
  if (marker == APP0_JPEGL) {
    JfifHeader *jfif = nullptr;
    if (getc_jfif_header(&jfif, &cur, end)) return;
    RoundTrip(*jfif, jfif, putc_jfif_header, getc_jfif_header);
    std::free(jfif);
    if (getc_marker_jpegl(&marker, TBLS_N_SOF_JPEGL, &cur, end)) return;
  }
  HUFF_TABLE *tables[MAX_HUFFTABLES_JPEGL] = {};
  FrameHeaderJpegl *frame = nullptr;
  ScanHeader *scan = nullptr;
  while (marker != SOF3_JPEGL) {
    if (getc_table_jpegl(marker, tables, &cur, end) ||
        getc_marker_jpegl(&marker, TBLS_N_SOF_JPEGL, &cur, end))
      goto done;
  }
  if (getc_frame_header_jpegl(&frame, &cur, end)) goto done;
  RoundTrip(*frame, frame, putc_frame_header_jpegl, getc_frame_header_jpegl);
  do {
    if (getc_marker_jpegl(&marker, TBLS_N_SOS_JPEGL, &cur, end)) goto done;
  } while (marker != SOS_JPEGL && getc_table_jpegl(marker, tables, &cur, end) == 0);
  if (marker == SOS_JPEGL && getc_scan_header(&scan, &cur, end) == 0) {
    // Selectors are read into the low bits and written from the high ones.
    ScanHeader sent = *scan;
    for (int i = 0; i < scan->Ns; ++i) sent.Tda[i] = static_cast<uint8_t>(scan->Tda[i] << 4);
    RoundTrip(sent, scan, putc_scan_header, getc_scan_header);
  }
done:
  std::free(frame);
  std::free(scan);
  free_HUFF_TABLES(tables, MAX_HUFFTABLES_JPEGL);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1u << 16)) return 0;
  Headers(data, size);
  FET *nistcom = nullptr;
  if (getc_nistcom_jpegl(&nistcom, data, static_cast<int>(size)) == 0) freefet(nistcom);
  uint8_t *out = nullptr;
  int len = 0;
  if (add_comment_jpegl(&out, &len, data, static_cast<int>(size), "fuzz") == 0) {
    if (static_cast<size_t>(len) != size + 8) std::abort();
    std::free(out);
  }
  return 0;
}
