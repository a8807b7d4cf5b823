#include "StateTable.h"

void MemoryBudget::take(std::uint64_t bytes) {
  if (bytes > limit_ - used_) throw GiveUp{};
  used_ += bytes;
  peak_ = std::max(peak_, used_);
}
