// The table of states of the frontier count: each state's key and count in one slot, under a
// memory budget.
#pragma once

#include <gmpxx.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "Memory.h"

__extension__ typedef unsigned __int128 Uint128;

// Thrown when a count cannot go on within its limits (memory, a table too large to index, or the
// caller's own test between steps). It is caught where the count started, which then reports that
// it has no result, so that the caller can count by the other road; it never reaches the user.
struct GiveUp {};

// Bytes a count may hold at once; taking more throws GiveUp.
class MemoryBudget {
 public:
  explicit MemoryBudget(std::uint64_t limit) : limit_(limit) {}
  void take(std::uint64_t bytes);
  void give_back(std::uint64_t bytes) { used_ -= bytes; }
  std::uint64_t peak() const { return peak_; }

 private:
  std::uint64_t limit_;
  std::uint64_t used_ = 0;
  std::uint64_t peak_ = 0;
};

inline std::uint64_t hash_key(std::uint64_t key) {
  return key * 0x9E3779B97F4A7C15ULL;
}
inline std::uint64_t hash_key(Uint128 key) {
  return (std::uint64_t(key) ^ (std::uint64_t(key >> 64) * 0xC2B2AE3D27D4EB4FULL)) * 0x9E3779B97F4A7C15ULL;
}

// A key no state has: a slot's five bits never reach the fresh label in a canonical key.
template <class Key>
inline constexpr Key kNoState = ~Key(0);

// What a slot costs beyond itself: a GMP integer also owns its limbs on the heap.
template <class Count>
inline constexpr std::uint64_t kHeapBytes = 0;
template <>
inline constexpr std::uint64_t kHeapBytes<mpz_class> = 48;

// The states after a step: open addressing with linear probing over slots that hold the key and
// its count, so that a lookup costs one cache miss, and a list of the slots in use, so that the next
// step visits only those. At most half of the slots are used. The next step empties each slot as
// it reads it, so the table is empty again for the step after, without a pass over all its slots.
// The storage is kept for the whole count and charged to the budget.
template <class Key, class Count>
class StateTable {
 public:
  struct Slot {
    Key key = kNoState<Key>;
    Count count = 0U;
  };

  explicit StateTable(MemoryBudget& budget) : budget_(budget) {}
  StateTable(const StateTable&) = delete;
  StateTable& operator=(const StateTable&) = delete;
  ~StateTable() { budget_.give_back(charged_); }

  std::size_t size() const { return used_.size(); }
  std::span<const std::uint32_t> used() const { return used_; }
  Slot& slot(std::uint32_t i) { return slots_[i]; }
  void prefetch_slot(std::uint32_t i) const { __builtin_prefetch(&slots_[i], 1); }
  // Forgets the list of used slots; every slot must have been emptied.
  void forget_used() { used_.clear(); }

  // Room for more new states without moving the slots, so that prefetched slots stay valid.
  void make_room(std::size_t more) {
    if (2 * (size() + more) > slots_.size()) grow(2 * (size() + more));
  }

  void prefetch(Key key) const { __builtin_prefetch(&slots_[home(key)], 1); }

  // The count of a state, a new zero count when the state is new. make_room() must have made room.
  Count& at(Key key) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = home(key);; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (slot.key == key) return slot.count;
      if (slot.key == kNoState<Key>) {
        slot.key = key;
        slot.count = 0U;
        used_.push_back(std::uint32_t(i));
        return slot.count;
      }
    }
  }

 private:
  std::size_t home(Key key) const { return std::size_t(hash_key(key) >> shift_); }

  void grow(std::size_t least) {
    const std::size_t capacity = std::max<std::size_t>(64, std::bit_ceil(least));
    if (capacity > std::numeric_limits<std::uint32_t>::max()) throw GiveUp{};
    const std::uint64_t bytes =
        capacity * (sizeof(Slot) + kHeapBytes<Count>)+capacity / 2 * sizeof(std::uint32_t);
    budget_.take(bytes);
    std::vector<Slot, LargePageAllocator<Slot>> old(capacity);
    std::swap(old, slots_);
    const std::vector<std::uint32_t> old_used = std::move(used_);
    used_.clear();
    used_.reserve(capacity / 2);
    budget_.give_back(charged_);
    charged_ = bytes;
    shift_ = unsigned(64 - std::countr_zero(capacity));
    for (const std::uint32_t i : old_used) at(old[i].key) = std::move(old[i].count);
  }

  MemoryBudget& budget_;
  std::uint64_t charged_ = 0;
  std::vector<Slot, LargePageAllocator<Slot>> slots_;
  std::vector<std::uint32_t> used_;
  unsigned shift_ = 64;
};

// The states of a count by size: each state's count is a row of numbers, the selections that lead
// to it by their number of nodes. A StateTable maps each key to the number of its row; the rows
// lie one after another in one array, in the order the states came, all of the length that the
// table's step needs. The array is kept for the whole count and charged to the budget; the numbers
// in it are reused (a GMP integer keeps its limbs) rather than freed from step to step.
template <class Key, class Number>
class StateRows {
 public:
  using Slot = typename StateTable<Key, std::uint32_t>::Slot;

  explicit StateRows(MemoryBudget& budget) : index_(budget), budget_(budget) {}
  StateRows(const StateRows&) = delete;
  StateRows& operator=(const StateRows&) = delete;
  ~StateRows() { budget_.give_back(charged_); }

  std::size_t size() const { return index_.size(); }
  std::span<const std::uint32_t> used() const { return index_.used(); }
  Slot& slot(std::uint32_t i) { return index_.slot(i); }
  void prefetch_slot(std::uint32_t i) const { index_.prefetch_slot(i); }
  void prefetch(Key key) const { index_.prefetch(key); }
  void make_room(std::size_t more) { index_.make_room(more); }

  std::uint32_t row_length() const { return row_length_; }
  // Rows of length numbers from now on; only while the table holds no state.
  void set_row_length(std::uint32_t length) { row_length_ = length; }
  const Number* row(std::uint32_t number) const { return rows_.data() + std::size_t(number) * row_length_; }

  // The row of a state, a new row of zeros when the state is new. make_room() must have made room.
  // Adding a state may move every row.
  Number* at(Key key) {
    const std::size_t states_before = index_.size();
    std::uint32_t& number = index_.at(key);
    if (index_.size() != states_before) number = new_row();
    return rows_.data() + std::size_t(number) * row_length_;
  }

  // Forgets every state; every slot must have been emptied.
  void forget_used() {
    index_.forget_used();
    row_count_ = 0;
  }

 private:
  std::uint32_t new_row() {
    const std::size_t begin = std::size_t(row_count_) * row_length_;
    const std::size_t end = begin + row_length_;
    if (end > rows_.size()) grow(end);
    for (std::size_t i = begin; i < end; ++i) rows_[i] = 0U;
    return row_count_++;
  }

  void grow(std::size_t least) {
    const std::size_t capacity = std::max<std::size_t>({64, least, 2 * rows_.size()});
    const std::uint64_t bytes = capacity * (sizeof(Number) + kHeapBytes<Number>);
    budget_.take(bytes);
    rows_.resize(capacity);
    budget_.give_back(charged_);
    charged_ = bytes;
  }

  StateTable<Key, std::uint32_t> index_;
  MemoryBudget& budget_;
  std::uint64_t charged_ = 0;
  std::vector<Number, LargePageAllocator<Number>> rows_;
  std::uint32_t row_count_ = 0;
  std::uint32_t row_length_ = 1;
};
