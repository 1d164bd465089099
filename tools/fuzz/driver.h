// What the fuzz targets share: a private working directory, the input laid
// down as a file in it, and one run of record-module code whose end (normal,
// a fatal stop or an unhandled condition) comes back as an exception.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "records/records.h"
#include "records/runhook.h"

namespace fz {

// Once per process: a fresh directory to work in (on a memory file system
// when there is one, as every execution writes its input there).
inline void enter_private_dir() {
  static bool done = false;
  if (done) return;
  done = true;
  char tmpl[64];
  std::snprintf(tmpl, sizeof tmpl, "%s/sirereml-fuzz-XXXXXX", access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  if (!mkdtemp(tmpl) || chdir(tmpl) != 0) std::abort();
  RUNSTART("fuzz");
}

inline void put(const char* name, const uint8_t* p, size_t n) {
  int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) std::abort();
  while (n > 0) {
    ssize_t k = ::write(fd, p, n);
    if (k <= 0) std::abort();
    p += k;
    n -= (size_t)k;
  }
  ::close(fd);
}

// Runs f(); the run's own end is caught and every file forgotten. Returns
// the exit status the process would have had, or -1 when f returned.
template <class F>
int run(F f) {
  int status = -1;
  try {
    f();
  } catch (const rec::RunEnded& e) {
    status = e.status;
  }
  RUNRESET();
  return status;
}

}  // namespace fz
