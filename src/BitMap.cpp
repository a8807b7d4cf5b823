#include "BitMap.h"

BitMap::BitMap(const std::vector<int>& row)
    : size_(std::int32_t(row.size())), words_(words_for(row.size()), 0) {
  std::size_t entry = 0;
  for (std::uint32_t& word : words_) {
    for (int bit = 0; bit < kBitsPerWord && entry < row.size(); ++bit, ++entry) {
      word = 2 * word + std::uint32_t(row[entry]);
    }
  }
}

BitMap::BitMap(const BitMap& a, const BitMap& b) {
  assign_and(a.size_, a.words(), b.words());
}

BitMap::BitMap(std::int32_t size, Words words) : size_(size), words_(words.begin(), words.end()) {}

void BitMap::assign_and(std::int32_t size, Words a, Words b) {
  size_ = size;
  words_.resize(a.size());
  for (std::size_t i = 0; i < a.size(); ++i) words_[i] = a[i] & b[i];
}
