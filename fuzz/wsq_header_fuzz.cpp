// Header-only WSQ reader on arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tessaly.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<unsigned char> copy(data, data + size);
  int w = 0, h = 0, ppi = 0;
  char *comment = nullptr;
  Fast_WSQ_decode_stream(copy.data(), static_cast<int>(size), &w, &h, &ppi, &comment);
  std::free(comment);
  return 0;
}
