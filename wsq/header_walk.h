// Walks over the headers of a WSQ stream that need no decoding: the frame
// size from a header peek, and the comment the stream functions hand back.
// Used by the interface's WSQ stream functions and header-only reader.
#ifndef TESSALY_WSQ_HEADER_WALK_H
#define TESSALY_WSQ_HEADER_WALK_H

#include <cstdint>

namespace tsl {

// Width and height from the frame header, without decoding. The tables
// before it are read by the decoder's own readers, storing nothing, and
// comments are stepped over; a segment refused is passed over (at the end
// its length declares, never beyond the buffer) and the walk goes on, as it
// does after a value that is no table, comment or frame marker (two bytes
// on, no message).
// Returns 0, -40 when the stream ends before its frame header, or the frame
// header reader's code; the outputs are written only on success.
// Of the codec's state it changes frm_header_wsq alone: the frame header is
// read into it, and it is left reset (all zero, m_shift and r_scale 1.0)
// whenever a frame header was reached.
int peek_wsq_frame_size(int *owidth, int *oheight, const uint8_t *data, int length);

// Walks the stream from its SOI marker up to the first SOB. Each comment
// segment met releases the text *ocomment holds (when not null) and stores a
// new malloc'ed copy of its own, so the last one before the first block is
// left there; with no comment segment *ocomment keeps what the caller passed.
// Returns 0, or the code of a failed SOI or first-marker read. Damage later
// in the walk only ends it.
int rescan_wsq_comment(const uint8_t *data, int length, char **ocomment);

}  // namespace tsl

#endif
