// Candidate lists of up to 8 keys of 16 bits, held in one SIMD register. Building a child's list from
// its parent's (ListingSearch.h: the child's slot refilled by the last candidate, the new neighbours
// appended in adjacency order, then the prune) becomes a few byte shuffles, each taking its control
// from a table made at compile time: the refill by the parent's size and the child's slot, the
// packing of the new neighbours by which of them are unseen, and the prune by which keys it keeps.
//
// The tables are plain data, here on every machine. The code that uses them needs SSSE3 (a byte
// shuffle) on x86-64: QUARN_SHORT_LISTS is defined where it is compiled in; elsewhere ListingSearch
// builds every list with its general code.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#if defined(__x86_64__) && defined(__SSSE3__)
#define QUARN_SHORT_LISTS 1
#endif

namespace short_list {

inline constexpr std::uint32_t kKeys = 8;

// A byte shuffle: byte i of the result is byte control[i] of the source, or zero for kZero.
using Control = std::array<std::uint8_t, 16>;
inline constexpr std::uint8_t kZero = 0x80;

constexpr Control zeros() {
  Control control{};
  for (std::uint8_t& byte : control) byte = kZero;
  return control;
}

// Key lane to of the result takes key lane from of the source.
constexpr void take(Control& control, std::uint32_t to, std::uint32_t from) {
  control[2 * to] = std::uint8_t(2 * from);
  control[2 * to + 1] = std::uint8_t(2 * from + 1);
}

// The prune (ListingSearch.cpp) in closed form, by the mask of the keys it keeps: with k kept, those
// in the first k lanes stay, and the lanes of the removed among them take the kept from lane k on,
// the last first. Lanes from k on become zero.
constexpr std::array<Control, 256> make_prune_controls() {
  std::array<Control, 256> controls{};
  for (std::uint32_t kept = 0; kept < 256; ++kept) {
    Control& control = controls[kept];
    control = zeros();
    const std::uint32_t count = std::uint32_t(std::popcount(kept));
    const std::uint32_t front = (1u << count) - 1;
    std::uint32_t movers = kept & ~front;
    for (std::uint32_t lane = 0; lane < count; ++lane) {
      if ((kept >> lane & 1) != 0) {
        take(control, lane, lane);
      } else {
        const std::uint32_t from = 31 - std::uint32_t(std::countl_zero(movers));
        take(control, lane, from);
        movers &= ~(1u << from);
      }
    }
  }
  return controls;
}

// The lanes in the mask, packed to the front in order; the rest zero.
constexpr std::array<Control, 256> make_pack_controls() {
  std::array<Control, 256> controls{};
  for (std::uint32_t mask = 0; mask < 256; ++mask) {
    Control& control = controls[mask];
    control = zeros();
    std::uint32_t to = 0;
    for (std::uint32_t from = 0; from < kKeys; ++from) {
      if ((mask >> from & 1) != 0) take(control, to++, from);
    }
  }
  return controls;
}

// A list of size keys (1 to 8) without the key at slot: the last key moves into the slot, and the
// lanes from size - 1 on become zero. Indexed by size * kKeys + slot.
constexpr std::array<Control, (kKeys + 1) * kKeys> make_refill_controls() {
  std::array<Control, (kKeys + 1) * kKeys> controls{};
  for (std::uint32_t size = 1; size <= kKeys; ++size) {
    for (std::uint32_t slot = 0; slot < size; ++slot) {
      Control& control = controls[size * kKeys + slot];
      control = zeros();
      for (std::uint32_t lane = 0; lane + 1 < size; ++lane)
        take(control, lane, lane == slot ? size - 1 : lane);
    }
  }
  return controls;
}

// Every lane moved up by shift lanes (0 to 8), zeros below.
constexpr std::array<Control, kKeys + 1> make_shift_controls() {
  std::array<Control, kKeys + 1> controls{};
  for (std::uint32_t shift = 0; shift <= kKeys; ++shift) {
    controls[shift] = zeros();
    for (std::uint32_t lane = shift; lane < kKeys; ++lane) take(controls[shift], lane, lane - shift);
  }
  return controls;
}

alignas(16) inline constexpr std::array<Control, 256> kPrune = make_prune_controls();
alignas(16) inline constexpr std::array<Control, 256> kPack = make_pack_controls();
alignas(16) inline constexpr std::array<Control, (kKeys + 1) * kKeys> kRefill = make_refill_controls();
alignas(16) inline constexpr std::array<Control, kKeys + 1> kShift = make_shift_controls();

// What a short list needs of a node: its neighbours (at most 8) in adjacency order, and where each
// one's bit lies in a seen set of 128 bits, as a byte shuffle of the set and a bit in that byte.
struct alignas(16) Neighbours {
  std::array<std::uint16_t, kKeys> nodes{};     // the rest zero
  Control seen_byte = zeros();                  // lane i: [byte of node i's bit, zero]
  std::array<std::uint16_t, kKeys> seen_bit{};  // lane i: node i's bit in its byte; 0 past the last, so
                                                // that those lanes read as seen
  std::uint32_t list_limit = 0;  // the longest parent list that a short list is built from: 8, or 0
                                 // when the node has more than 8 neighbours
};

// Applies a byte shuffle to a list of 8 keys, as the SIMD instruction does (for tests).
constexpr std::array<std::uint16_t, kKeys> shuffle(const std::array<std::uint16_t, kKeys>& keys,
                                                   const Control& control) {
  std::array<std::uint8_t, 16> bytes{};
  for (std::uint32_t i = 0; i < kKeys; ++i) {
    bytes[2 * i] = std::uint8_t(keys[i]);
    bytes[2 * i + 1] = std::uint8_t(keys[i] >> 8);
  }
  std::array<std::uint16_t, kKeys> result{};
  for (std::uint32_t i = 0; i < kKeys; ++i) {
    const std::uint8_t low = control[2 * i] == kZero ? 0 : bytes[control[2 * i] & 15];
    const std::uint8_t high = control[2 * i + 1] == kZero ? 0 : bytes[control[2 * i + 1] & 15];
    result[i] = std::uint16_t(low | high << 8);
  }
  return result;
}

}  // namespace short_list
