// The decoder's two-dimensional synthesis: the 20 steps in reverse order,
// each in one sweep over its region. Used by wsq_reconstruct and the WSQ
// decoder.
#ifndef TESSALY_WSQ_SYNTHESIS_H
#define TESSALY_WSQ_SYNTHESIS_H

#include <cstdint>
#include <vector>

#include "wsq/state.h"

namespace tsl {

// Rows of the coefficient image known to hold only zeros, per subband:
// uncoded subbands and the rows dequantization found empty. The synthesis
// leaves such rows out of its sums, which changes no value but possibly the
// sign of a zero (no later step and no pixel can tell them apart).
struct ZeroRows {
  int first[Q_TREELEN + 1] = {};  // flags of subband k: first[k] .. first[k+1]-1
  std::vector<uint8_t> zero;      // 1: the row holds only zeros

  // One flag per row of every subband, none set; false when memory is short.
  bool Reset(const QTreeEntry q_tree[]);
  void SetSubband(int k) {
    for (int i = first[k]; i < first[k + 1]; ++i) zero[i] = 1;
  }
  bool Row(int k, int row) const { return zero[first[k] + row] != 0; }
};

// The decoder's float image: `pitch` floats a row and `rows` rows, the
// frame's width x height at the top left. Padded so that the quadrant right
// of column ceil(w/2) and below row ceil(h/2), which holds only the never
// coded subbands 60 to 63, can take every row the synthesis must keep aside.
struct FloatImageLayout {
  int pitch;
  int rows;
};
FloatImageLayout decoder_float_layout(int width, int height);

// Receives the rows of the last step, top first (n floats each).
using SynthesisRowSink = void (*)(void *ctx, int y, const float *row, int n);

// Vector width of the sums: the widest the processor offers, or at most
// eight or four lanes (the results are the same; tests compare them).
// kSixteenAnywhere runs the sixteen-lane sums built for any processor
// (slower), so that they are checked where the processor has no such lanes.
enum class SynthesisLanes { kWidest, kEight, kFour, kSixteenAnywhere };

// Steps 19 to 0 on fdata (rows of `pitch` floats). Without a sink every step
// works in place, as wsq_reconstruct does. With a sink (the decoder, whose
// float image has the layout above and whose `zeros` flag subbands 60 to 63),
// steps 19 to 1 work in place and the rows of step 0 go to the sink; the
// area of subbands 60 to 63 is then used as scratch and never read as data.
// Returns 0, -95 / -96 (filters not defined), -97 (memory), -98 (the filters
// do not fit the line lengths; nothing has been changed then).
int synthesize(float *fdata, int pitch, int width, int height, const WTreeNode w_tree[],
               const DttTable *dtt, const QTreeEntry q_tree[], const ZeroRows *zeros,
               SynthesisRowSink sink, void *ctx,
               SynthesisLanes lanes = SynthesisLanes::kWidest);

}  // namespace tsl

#endif
