// The comment rescan shared by the WSQ stream functions: finds the text of
// the last comment segment before the first block of a WSQ stream.
#ifndef TESSALY_API_WSQ_COMMENT_H
#define TESSALY_API_WSQ_COMMENT_H

#include <cstdint>

namespace tsl {

// Walks the stream from its SOI marker up to the first SOB. Each comment
// segment met releases the text *ocomment holds (when not null) and stores a
// new malloc'ed copy of its own, so the last one before the first block is
// left there; with no comment segment *ocomment keeps what the caller passed.
// Returns 0, or the code of a failed SOI or first-marker read. Damage later
// in the walk only ends it.
int rescan_wsq_comment(const uint8_t *data, int length, char **ocomment);

}  // namespace tsl

#endif
