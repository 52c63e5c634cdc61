// A file opened for writing that a failed write takes back, but only when
// the same call created it: a half-written file left under the name could
// later be read as a picture, while a file that stood there before belongs
// to the caller, and removing it would lose more than the failed write did.
#ifndef TESSALY_COMMON_OUTPUT_FILE_H
#define TESSALY_COMMON_OUTPUT_FILE_H

#include <sys/types.h>

#include <cstdio>

namespace tsl {

class OutputFile {
 public:
  // Opens `path` for writing as fopen(path, "wb") does; stream() is null
  // when it cannot be opened or `path` is null. `path` must outlive the
  // object.
  explicit OutputFile(const char *path);
  // Closes the stream if still open and, unless Close succeeded, removes
  // the file when this object created it.
  ~OutputFile();
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;

  FILE *stream() const { return stream_; }
  // Closes the stream, where a network file system or a quota may still
  // refuse buffered bytes: true, and the file is kept, only when that
  // succeeds. Call it once everything else has been written.
  bool Close();

 private:
  const char *path_;
  FILE *stream_ = nullptr;
  bool created_ = false;
  bool kept_ = false;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

}  // namespace tsl

#endif
