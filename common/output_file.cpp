#include "common/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tsl {

OutputFile::OutputFile(const char *path) : path_(path) {
  // An exclusive create tells whether the name was free. When it was not,
  // the file is opened as fopen "wb" would: should it vanish in between,
  // the file made then counts as one that stood, so the race can only
  // leave a file behind, never remove someone else's.
  if (!path) return;
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (fd >= 0) {
    created_ = true;
  } else if (errno == EEXIST) {
    fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  }
  if (fd < 0) return;
  struct stat info;
  if (created_ && fstat(fd, &info) == 0) {
    device_ = info.st_dev;
    inode_ = info.st_ino;
  }
  stream_ = fdopen(fd, "wb");
  if (!stream_) close(fd);
}

OutputFile::~OutputFile() {
  if (stream_) std::fclose(stream_);
  if (!created_ || kept_) return;
  // Another process may have put its own file under the name meanwhile.
  struct stat info;
  if (stat(path_, &info) == 0 && info.st_dev == device_ && info.st_ino == inode_) unlink(path_);
}

bool OutputFile::Close() {
  FILE *stream = stream_;
  stream_ = nullptr;
  kept_ = stream && std::fclose(stream) == 0;
  return kept_;
}

}  // namespace tsl
