// Feeds arbitrary bytes to the PNG reader. Chunk CRCs are set right first,
// so that mutated chunks get past libpng's checksum test into its parsers.
#include <zlib.h>

#include <vector>

#include "image/png.h"
#include "image/raster_io.h"
#include "raster_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<uint8_t> file(data, data + size);
  for (size_t at = 8; at + 12 <= file.size();) {
    const size_t length = tsl::LoadBE32(&file[at]);
    if (length > file.size() - at - 12) break;
    const uint32_t crc = static_cast<uint32_t>(crc32(0, &file[at + 4], static_cast<uInt>(length + 4)));
    for (int i = 0; i < 4; ++i) file[at + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    at += 12 + length;
  }
  return FuzzRasterReader(file.data(), file.size(), tsl::ReadPNGMemory);
}
