// Entropy-coded blocks of a WSQ stream: the block coder with its bit writer
// (0xFF stuffing, 1-bit padding) and the reader of everything between the
// frame header and the end of the image. Used by the WSQ encoder/decoder.
#ifndef TESSALY_WSQ_HUFFMAN_BLOCKS_H
#define TESSALY_WSQ_HUFFMAN_BLOCKS_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "wsq/huffman.h"
#include "wsq/tables.h"

namespace tsl {

// Codes one block of coefficients into outbuf (capacity outalloc bytes) and
// stores the number of bytes written in *obytes. Fails with -33 when the
// coded block would not fit.
int compress_block(uint8_t *outbuf, int outalloc, int *obytes, const int16_t *sip, int sip_siz,
                   int MaxCoeff, int MaxZRun, const HuffCode *codes);

// Bit writer: appends the low size bits of code (size 1..16), most
// significant first, stuffing 0x00 after every 0xFF. outalloc bounds the
// bytes written; -33 when a byte would pass it.
int write_bits(uint8_t **outbuf, uint32_t code, int size, int *outbit, uint8_t *bits, int *bytes,
               int outalloc);
// Completes a pending partial byte with 1-bits.
int flush_bits(uint8_t **outbuf, int *outbit, uint8_t *bits, int *bytes, int outalloc);

// The coefficients of a stream's blocks in decoding order, held in memory
// proportional to the stream rather than to the frame it declares: one entry
// per value and one per run of zeros. The decoder can thus learn how many
// coefficients the blocks supply before it commits to the frame's size.
class CoefficientRecord {
 public:
  CoefficientRecord() = default;
  ~CoefficientRecord() { std::free(entries_); }
  CoefficientRecord(const CoefficientRecord &) = delete;
  CoefficientRecord &operator=(const CoefficientRecord &) = delete;

  // False when memory is short.
  bool Value(int16_t v) { return Push(v) && (++count_, true); }
  bool Zeros(long long n) {
    if (n == 0) return true;
    count_ += n;
    return Push(kRun + static_cast<int32_t>(n));
  }
  // Coefficients recorded so far.
  long long count() const { return count_; }
  // Stores the values at their places in ip, which is zero-filled and holds
  // at least count() places; the runs are already there.
  void ExpandInto(int16_t *ip) const;

  // Hands the coefficients out in order, a span at a time.
  class Reader {
   public:
    explicit Reader(const CoefficientRecord &rec)
        : at_(rec.entries_), end_(rec.entries_ + rec.size_) {}
    // The next n coefficients: value(i, v) for each value at place i of the
    // span; the other places are zeros (past the record's end too).
    template <class Value>
    void Take(long long n, Value &&value) {
      long long i = 0;
      while (i < n) {
        if (run_ > 0) {
          const long long z = run_ < n - i ? run_ : n - i;
          i += z;
          run_ -= z;
        } else if (at_ == end_) {
          return;
        } else if (*at_ >= kRun) {
          run_ = *at_++ - kRun;
        } else {
          value(i++, static_cast<int16_t>(*at_++));
        }
      }
    }

   private:
    const int32_t *at_, *end_;
    long long run_ = 0;
  };
  // Releases the entries (count() stays).
  void Clear() {
    std::free(entries_);
    entries_ = nullptr;
    size_ = capacity_ = 0;
  }

 private:
  // Runs are stored above every 16-bit value; a run is at most 65535 long.
  static constexpr int32_t kRun = 1 << 16;
  bool Push(int32_t e) { return (size_ < capacity_ || Grow()) && (entries_[size_++] = e, true); }
  bool Grow();

  int32_t *entries_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  long long count_ = 0;
};

// Decodes everything after the frame header up to and including EOI into a
// record (at most frm_header_wsq.width x height coefficients). Codes are
// read through per-block lookup tables; bitwise reads every code one bit at
// a time instead (the reference the table-driven reading must match in every
// result, message and reader state). -20 when the record cannot grow.
int huffman_decode_data_mem(CoefficientRecord *rec, DttTable *dttable, DqtTable *dqttable,
                            DhtTable *dhttable, const uint8_t **cbufptr, const uint8_t *ebufptr,
                            bool bitwise = false);
// The same into ip (frm_header_wsq.width x height coefficients, zero-filled
// by the caller), which receives what was decoded also when decoding fails.
int huffman_decode_data_mem(int16_t *ip, DttTable *dttable, DqtTable *dqttable,
                            DhtTable *dhttable, const uint8_t **cbufptr, const uint8_t *ebufptr,
                            bool bitwise = false);

// One symbol (0..255) into *onodeptr, or -1 when a marker was met (stored in
// *marker).
int decode_data_mem(int *onodeptr, const int *mincode, const int *maxcode, const int *valptr,
                    const uint8_t *huffvalues, const uint8_t **cbufptr, const uint8_t *ebufptr,
                    int *bit_count, uint16_t *marker);

// The next bits_req (1..16) bits of entropy-coded data. marker may be null;
// only a 1-bit read given a marker may meet one.
int getc_nextbits_wsq(uint16_t *obits, uint16_t *marker, const uint8_t **cbufptr,
                      const uint8_t *ebufptr, int *bit_count, int bits_req);

}  // namespace tsl

#endif
