#include "PatternCount.h"

mpz_class PatternCount::value() const {
  mpz_class result;
  mpz_import(result.get_mpz_t(), limbs_.size(), -1, sizeof(std::uint64_t), 0, 0, limbs_.data());
  return result;
}
