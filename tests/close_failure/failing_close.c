// Preloaded into close_failure_test: fclose closes the stream for real and
// then reports EIO for files under the folder TESSALY_FAIL_CLOSE_UNDER
// names, as a network file system or a full quota reports a write it
// deferred. Other files close as usual.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int UnderFailingFolder(FILE *stream) {
  const char *prefix = getenv("TESSALY_FAIL_CLOSE_UNDER");
  if (!prefix || !*prefix) return 0;
  char link[64], target[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fileno(stream));
  ssize_t n = readlink(link, target, sizeof target - 1);
  if (n <= 0) return 0;
  target[n] = '\0';
  return strncmp(target, prefix, strlen(prefix)) == 0;
}

int fclose(FILE *stream) {
  static int (*real_fclose)(FILE *);
  if (!real_fclose) *(void **)&real_fclose = dlsym(RTLD_NEXT, "fclose");
  const int fail = UnderFailingFolder(stream);
  const int rc = real_fclose(stream);
  if (!fail) return rc;
  errno = EIO;
  return EOF;
}
