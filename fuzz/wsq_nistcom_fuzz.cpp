// NISTCOM text parsing and joining, and the stream walk that finds the
// pixels per inch, on arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "wsq/nistcom.h"

using namespace tsl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1u << 16)) return 0;
  std::vector<uint8_t> stream(data, data + size);
  int ppi = 0;
  (void)getc_ppi_wsq(&ppi, stream.data(), static_cast<int>(size));

  std::string text(reinterpret_cast<const char *>(data), size);
  FET *fet = nullptr;
  if (string2fet(&fet, text.c_str()) == 0) {
    char *joined = nullptr;
    if (fet2string(&joined, fet) == 0) {
      // Joined text parses back to the same number of entries.
      FET *again = nullptr;
      if (string2fet(&again, joined) == 0) {
        if (again->count != fet->count) std::abort();
        freefet(again);
      }
      std::free(joined);
    }
    (void)combine_wsq_nistcom(&fet, 500, 400, 8, 500, 0, 0.75f);
    freefet(fet);
  }
  return 0;
}
