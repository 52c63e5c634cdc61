// The entropy-coded block reader (tables, block headers, coded data up to
// the end of the image) on arbitrary bytes. The first two bytes choose the
// coefficient array's width and height.
#include <cstdint>
#include <memory>
#include <vector>

#include "wsq/huffman_blocks.h"
#include "wsq/tables.h"

using namespace tsl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2 || size > (1u << 18)) return 0;
  int width = 1 + data[0] % 64;
  int height = 1 + data[1] % 64;
  frm_header_wsq.width = static_cast<uint16_t>(width);
  frm_header_wsq.height = static_cast<uint16_t>(height);
  dqt_table.qtable_defined = 0;
  for (auto &t : dht_table) t.table_defined = 0;
  std::vector<uint8_t> stream(data + 2, data + size);
  std::unique_ptr<int16_t[]> coeffs(new int16_t[static_cast<size_t>(width) * height]());
  const uint8_t *cur = stream.data();
  init_wsq_decoder_resources();
  (void)huffman_decode_data_mem(coeffs.get(), &dtt_table, &dqt_table, dht_table, &cur,
                                stream.data() + stream.size());
  free_wsq_decoder_resources();
  return 0;
}
