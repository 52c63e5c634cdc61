// The coefficient-domain crop (several boxes from one decode), the frame
// header peek and the comment edits on arbitrary bytes: any code, never a
// crash, an out-of-bounds access or a leak.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "wsq/crop.h"
#include "wsq/stream_edit.h"
#include "wsq_frame_guard.h"

using namespace tsl;

namespace {

// Touches every byte handed out so the sanitizer checks the extent.
void Touch(const uint8_t *p, int n) {
  volatile unsigned sum = 0;
  for (int i = 0; i < n; ++i) sum = sum + p[i];
}

void Edits(const uint8_t *data, int size) {
  int w, h;
  double r_scale, m_shift;
  (void)read_wsq_frame_header(data, size, &w, &h, &r_scale, &m_shift);
  uint8_t *out = nullptr;
  int len = 0;
  if (add_comment_wsq(&out, &len, data, size, "fuzz") == 0) {
    if (len != size + 8) std::abort();
    Touch(out, len);
    std::free(out);
  }
  out = nullptr;
  if (delete_comments_wsq(&out, &len, data, size) == 0) {
    if (len > size) std::abort();
    Touch(out, len);
    std::free(out);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1u << 20)) return 0;
  const int n = static_cast<int>(size);
  Edits(data, n);
  if (FrameTooLarge(data, size)) return 0;

  uint8_t *out = nullptr;
  int16_t *qdata = nullptr;
  int olen = 0, cropw = 0, croph = 0, width = 0, height = 0, pos = 0, hdr_len = 0;
  static const int kBoxes[][4] = {
      {0, 0, INT_MAX, INT_MAX}, {40, 33, 140, 90}, {-7, 64, 70, 9000}, {5, 5, 5, 9}};
  for (const auto &b : kBoxes) {
    int ret = wsq_cropcoeff_mem(&out, &olen, &cropw, &croph, b[0], b[1], b[2], b[3], &width,
                                &height, data, n, &qdata, &pos, &hdr_len);
    if (ret != 0) break;
    if (olen < 0 || olen > n) std::abort();
    if (olen > 0) Touch(out, olen);
  }
  std::free(out);
  std::free(qdata);
  return 0;
}
