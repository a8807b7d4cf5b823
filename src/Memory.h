// Memory: how much this process can count on, storage for data read at random, and byte counts
// for messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

// Bytes of memory this process can still count on: the least of the kernel's estimate of available
// memory, what the address-space and data limits (ulimit -v, ulimit -d) leave beside what the process
// has mapped already, and what the memory limits of its control groups leave (cgroup_memory_left).
// Every check of a size against memory goes through here, so that a run under a limit is refused with
// a message, or falls back to a road that needs less, rather than dying of a failed allocation.
std::uint64_t available_memory();

// What the memory limits of this process's control groups leave: over the group and each group above
// it, the least of its limit less its current use (cgroup v2 memory.max and memory.current, v1
// memory.limit_in_bytes and memory.usage_in_bytes). UINT64_MAX when no group sets a limit. Every file
// read (/proc/self/cgroup, /proc/self/mountinfo and the groups' files) is read under root, which is ""
// in a run and a folder holding a copy of that tree in the tests.
std::uint64_t cgroup_memory_left(const std::string& root = "");

// Memory for data read at random, released with std::free: at least bytes long, in whole 2 MiB
// pages, which Linux is asked to back with large pages. With 4 KiB pages a scattered read often
// costs a page-table walk on top of the cache miss. Throws std::bad_alloc when there is none.
void* allocate_large_pages(std::size_t bytes);

// A standard allocator that takes large pages for blocks of at least one large page, and ordinary
// memory for smaller ones (most tables are small).
template <class T>
struct LargePageAllocator {
  using value_type = T;
  LargePageAllocator() = default;
  template <class U>
  explicit LargePageAllocator(const LargePageAllocator<U>& /*other*/) {}
  T* allocate(std::size_t n) {
    constexpr std::size_t kLargePage = std::size_t{2} << 20;
    const std::size_t bytes = n * sizeof(T);
    if (bytes >= kLargePage) return static_cast<T*>(allocate_large_pages(bytes));
    void* memory = std::malloc(bytes);
    if (memory == nullptr) throw std::bad_alloc();
    return static_cast<T*>(memory);
  }
  void deallocate(T* p, std::size_t /*n*/) { std::free(p); }
  bool operator==(const LargePageAllocator&) const = default;
};

// A fixed-size array of words in large pages.
class ScatteredWords {
 public:
  explicit ScatteredWords(std::size_t size);

  std::uint32_t* data() { return data_.get(); }
  const std::uint32_t* data() const { return data_.get(); }
  std::uint32_t operator[](std::size_t i) const { return data_.get()[i]; }

 private:
  struct Free {
    void operator()(std::uint32_t* p) const { std::free(p); }
  };
  std::unique_ptr<std::uint32_t, Free> data_;
};

// "1.5 GiB", "12.0 MiB", "512 bytes": a byte count for a message.
std::string format_bytes(std::uint64_t bytes);
