#pragma once
// Pictures for the tests and a bitwise comparison of results.
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "reference/literal.h"

// Values k/255 as loaded from an 8-bit file, from a fixed seed.
inline literal::Img random_picture(unsigned w, unsigned h, unsigned s, unsigned seed) {
  literal::Img im(w, h, s);
  std::mt19937 rng(seed);
  for (double& v : im.v) v = double(rng() % 256) / 255.0;
  return im;
}

inline std::uint64_t bits(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// Equal bit for bit (so NaN equals NaN and 0.0 differs from -0.0).
template <class Expected, class Actual>
::testing::AssertionResult same_bits(const Expected& expected, const Actual& actual) {
  if (expected.size() != actual.size()) return ::testing::AssertionFailure() << "sizes differ";
  for (std::size_t i = 0; i < expected.size(); ++i)
    if (bits(expected[i]) != bits(actual[i]))
      return ::testing::AssertionFailure()
             << "index " << i << ": expected " << expected[i] << ", got " << actual[i];
  return ::testing::AssertionSuccess();
}
