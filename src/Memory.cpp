#include "Memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <new>

std::uint64_t available_memory() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  std::uint64_t kibibytes = 0;
  std::string unit;
  while (meminfo >> key >> kibibytes >> unit) {
    if (key == "MemAvailable:") return kibibytes * 1024;
  }
  const long pages = ::sysconf(_SC_AVPHYS_PAGES);
  const long page_size = ::sysconf(_SC_PAGESIZE);
  if (pages > 0 && page_size > 0)
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
  return UINT64_MAX;
}

void* allocate_large_pages(std::size_t bytes) {
  constexpr std::size_t kPage = std::size_t{2} << 20;
  const std::size_t rounded = (std::max<std::size_t>(bytes, 1) + kPage - 1) / kPage * kPage;
  void* memory = std::aligned_alloc(kPage, rounded);
  if (memory == nullptr) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  madvise(memory, rounded, MADV_HUGEPAGE);  // only a hint: without it the pages are small
#endif
  return memory;
}

ScatteredWords::ScatteredWords(std::size_t size)
    : data_(static_cast<std::uint32_t*>(allocate_large_pages(size * sizeof(std::uint32_t)))) {}

std::string format_bytes(std::uint64_t bytes) {
  static const char* const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  auto value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 6) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else {
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  }
  return text;
}
