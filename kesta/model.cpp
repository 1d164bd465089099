// Clearing the model's arrays by handing their pages back.
#include "kesta/model.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

void clear_array(Array<double>& a) {
  if (a.empty()) return;
  char* const begin = reinterpret_cast<char*>(a.data());
  char* const end = begin + a.size() * sizeof(double);
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  char* lo = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(begin) + page - 1) / page * page);
  char* hi = reinterpret_cast<char*>(reinterpret_cast<uintptr_t>(end) / page * page);
  // The array's storage is private anonymous memory (calloc), whose pages
  // read as zero once discarded. Where that cannot be done, they are written.
  if (lo < hi && madvise(lo, static_cast<size_t>(hi - lo), MADV_DONTNEED) == 0) {
    std::memset(begin, 0, static_cast<size_t>(lo - begin));
    std::memset(hi, 0, static_cast<size_t>(end - hi));
  } else {
    std::memset(begin, 0, static_cast<size_t>(end - begin));
  }
}

void page_size_hint(Array<double>& a, bool huge) {
  constexpr uintptr_t HUGE = uintptr_t(2) << 20;
  const uintptr_t begin = reinterpret_cast<uintptr_t>(a.data());
  const uintptr_t lo = (begin + HUGE - 1) / HUGE * HUGE;
  const uintptr_t hi = (begin + a.size() * sizeof(double)) / HUGE * HUGE;
  if (a.empty() || lo >= hi) return;
  madvise(reinterpret_cast<void*>(lo), hi - lo, huge ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
}
