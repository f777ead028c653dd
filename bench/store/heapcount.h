// The heap a benchmark program holds, counted by replacing the global
// operator new and delete: g_current is what is allocated now, g_peak the
// most since it was last set. Include it in one file of a program only (it
// defines the replacements).
#pragma once

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<size_t> g_current{0}, g_peak{0};

void Account(void* p) {
  if (!p) return;
  const size_t now = g_current += malloc_usable_size(p);
  size_t peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
}
}  // namespace

void* operator new(size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  Account(p);
  return p;
}
void operator delete(void* p) noexcept {
  if (p) g_current -= malloc_usable_size(p);
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  operator delete(p);
}
void* operator new[](size_t n) {
  return operator new(n);
}
void operator delete[](void* p) noexcept {
  operator delete(p);
}
void operator delete[](void* p, size_t) noexcept {
  operator delete(p);
}
