#include "api/whole_file.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "common/output_file.h"

namespace tsl {

namespace {
// Closes on every path out of a routine.
struct FileCloser {
  FILE *f;
  ~FileCloser() {
    if (f) std::fclose(f);
  }
};
}  // namespace

int filesize(const char *path) {
  FILE *f = path ? std::fopen(path, "rb") : nullptr;
  if (!f) {
    std::fprintf(stderr, "ERROR : filesize : file %s could not be opened\n", path ? path : "(null)");
    return -2;
  }
  FileCloser closer{f};
  // A directory opens for reading on this platform, and seeking to its end
  // gives a position that is no size at all.
  struct stat info;
  if (fstat(fileno(f), &info) == 0 && S_ISDIR(info.st_mode)) {
    std::fprintf(stderr, "ERROR : filesize : %s is a directory, not a regular file\n", path);
    return -4;
  }
  if (fseeko(f, 0, SEEK_END) != 0) {
    std::fprintf(stderr, "ERROR : filesize : seeking to EOF of file %s failed\n", path);
    return -3;
  }
  off_t size = ftello(f);
  if (size < 0) {
    std::fprintf(stderr, "ERROR : filesize : ftell at EOF of file %s failed\n", path);
    return -4;
  }
  // Lengths travel as int: a larger file cannot be handed back whole, and
  // must not be read as its size modulo 2^32.
  if (size > INT_MAX) {
    std::fprintf(stderr, "ERROR : filesize : file %s is larger than %d bytes\n", path, INT_MAX);
    return -4;
  }
  return static_cast<int>(size);
}

int read_raw_from_filesize(const char *path, unsigned char **data, int *length) {
  if (!data || !length) return -3;  // nowhere to put the bytes
  int size = filesize(path);
  if (size < 0) return size;
  FILE *f = std::fopen(path, "rb");
  if (!f) {
    std::fprintf(stderr, "ERORR : read_raw_from_filesize : fopen : %s\n", path);
    return -2;
  }
  FileCloser closer{f};
  // One byte more than asked for keeps an empty file's buffer non-null.
  unsigned char *buffer = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(size) + 1));
  if (!buffer) {
    std::fprintf(stderr, "ERORR : read_raw_from_filesize : malloc : idata\n");
    return -3;
  }
  size_t got = std::fread(buffer, 1, static_cast<size_t>(size), f);
  if (got != static_cast<size_t>(size)) {
    std::fprintf(stderr, "ERORR : main : read_raw_from_filesize : %d of %d bytes read from %s\n",
                 static_cast<int>(got), size, path);
    std::free(buffer);
    return -4;
  }
  *data = buffer;
  *length = size;
  return 0;
}

int write_raw_from_memsize(const char *path, const unsigned char *data, int count) {
  OutputFile out(path);
  FILE *f = out.stream();
  if (!f) {
    std::fprintf(stderr, "ERROR: write_raw_from_memsize : fopen : %s\n", path ? path : "(null)");
    return -2;
  }
  size_t asked = count > 0 ? static_cast<size_t>(count) : 0;
  size_t done = (asked && data) ? std::fwrite(data, 1, asked, f) : 0;
  // A negative count or missing data cannot be written: reported as a short
  // write so the caller never takes the file for complete.
  if (done != asked || count < 0 || (!data && count != 0)) {
    std::fprintf(stderr,
                 "ERROR: write_raw_from_memsize : fwrite : only %d of %d bytes written from file %s\n",
                 static_cast<int>(done), count, path);
    return -3;
  }
  // Bytes the stream buffered are refused (a full device) only here.
  if (std::fflush(f) != 0) {
    std::fprintf(stderr,
                 "ERROR: write_raw_from_memsize : fflush : flushing %d bytes to file %s failed\n",
                 count, path);
    return -3;
  }
  if (!out.Close()) {
    std::fprintf(stderr, "ERROR: write_raw_from_memsize : fclose : closing file %s failed\n", path);
    return -3;
  }
  return 0;
}

}  // namespace tsl
