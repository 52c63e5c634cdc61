// Wavelet geometry (the step tree and the subband tree) and the 9/7 filter
// banks of the WSQ codec. Used by quantization, the entropy-coded blocks and
// the encoder/decoder.
#ifndef TESSALY_WSQ_WAVELET_H
#define TESSALY_WSQ_WAVELET_H

#include <cstddef>
#include <vector>

#include "wsq/state.h"

namespace tsl {

// Smallest and largest image side the codec handles: every analysed line
// must hold at least 5 samples, reached at 65; the frame header holds 16 bits.
constexpr int kMinWsqSide = 65;
constexpr int kMaxWsqSide = 65535;

// The encoder's analysis filters (9-tap low-pass, 7-tap high-pass).
extern const float lofilt[9];
extern const float hifilt[7];

void build_wsq_trees(WTreeNode w_tree[], int w_treelen, QTreeEntry q_tree[], int q_treelen,
                     int width, int height);
void build_w_tree(WTreeNode w_tree[], int width, int height);
void build_q_tree(WTreeNode w_tree[], QTreeEntry q_tree[]);
void w_tree4(WTreeNode w_tree[], int start, int start2, int lenx, int leny, int x, int y,
             int stop1);
void q_tree16(QTreeEntry q_tree[], int start, int lenx, int leny, int x, int y, int rw, int cl);
void q_tree4(QTreeEntry q_tree[], int start, int lenx, int leny, int x, int y);

// Longest filter a transform table may bring: the standard pair has 9 and 7
// taps; longer ones would only make plans (and work) grow without purpose.
constexpr int kMaxFilterTaps = 32;

// Analysis and synthesis of a set of lines. Line k starts k * pitch into the
// arrays and sample i lies i * stride further on. The reflecting walk of each
// line length is worked out once into a LinePlan (below) and then applied.
// join_lets returns 0, or -98 when the filters do not fit lines of this
// length; get_lets is only given the encoder's filters on lines of 5 or more.
void get_lets(float *out, const float *in, int lines, int length, int pitch, int stride,
              const float *hi, int hsz, const float *lo, int lsz, int inv);
int join_lets(float *out, const float *in, int lines, int length, int pitch, int stride,
              const float *hi, int hsz, const float *lo, int lsz, int inv);

// Two-dimensional drivers over the 20 steps, in place on fdata.
int wsq_decompose(float *fdata, int width, int height, WTreeNode w_tree[], int w_treelen,
                  const float *hifilt, int hisz, const float *lofilt, int losz);
int wsq_reconstruct(float *fdata, int width, int height, WTreeNode w_tree[], int w_treelen,
                    DttTable *dtt_table);

// One line length's filtering written out: output k of a line is
//   v = (zero_start[k] ? 0 + t0 : t0); v += t1; ...   with t = coef * in[src]
// over terms begin[k] .. begin[k+1]-1, in the order the reflecting walk
// visits them, so that applying the plan repeats the walk's float operations.
struct LinePlan {
  int length = 0;
  std::vector<int> begin;  // length + 1 entries
  std::vector<int> src;    // sample index in the input line
  std::vector<float> coef;
  std::vector<unsigned char> zero_start;
};

// Build the plan of get_lets / join_lets for one line length; false when a
// walk would read or write outside the line (or leave an output unwritten).
bool plan_get_lets(LinePlan *plan, int length, const float *hi, int hsz, const float *lo,
                   int lsz, int inv);
bool plan_join_lets(LinePlan *plan, int length, const float *hi, int hsz, const float *lo,
                    int lsz, int inv);

}  // namespace tsl

#endif
