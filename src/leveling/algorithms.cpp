#include "leveling/algorithms.h"

#include <cstring>

#include "leveling/leveling.h"

const Algorithm algorithms[8] = {
    {"mean", false, false, "local mean",
     [](Picture& i, std::uint32_t w, GrayMethod) -> Picture& { return level_mean(i, w); },
     [](Picture& i, std::uint32_t w1, std::uint32_t w2, GrayMethod) -> Picture& {
       return level_mean2(i, w1, w2);
     }},
    {"mean_fn", true, true, "local mean of the gray",
     [](Picture& i, std::uint32_t w, GrayMethod m) -> Picture& { return level_mean_fn(i, w, m); },
     [](Picture& i, std::uint32_t w1, std::uint32_t w2, GrayMethod m) -> Picture& {
       return level_mean_fn2(i, w1, w2, m);
     }},
    {"std", false, false, "local mean and standard deviation",
     [](Picture& i, std::uint32_t w, GrayMethod) -> Picture& { return level_std(i, w); },
     [](Picture& i, std::uint32_t w1, std::uint32_t w2, GrayMethod) -> Picture& {
       return level_std2(i, w1, w2);
     }},
    {"std_fn", true, false, "local mean and standard deviation of the gray",
     [](Picture& i, std::uint32_t w, GrayMethod m) -> Picture& { return level_std_fn(i, w, m); },
     [](Picture& i, std::uint32_t w1, std::uint32_t w2, GrayMethod m) -> Picture& {
       return level_std_fn2(i, w1, w2, m);
     }},
    {"minmax", false, false, "local soft minimum and soft range",
     [](Picture& i, std::uint32_t w, GrayMethod) -> Picture& {
       return level_minmax(i, w, power_exponent);
     },
     [](Picture& i, std::uint32_t w1, std::uint32_t w2, GrayMethod) -> Picture& {
       return level_minmax2(i, w1, w2, power_exponent);
     }},
    {"minmax_fn", true, false, "local soft minimum and soft range of the gray",
     [](Picture& i, std::uint32_t w, GrayMethod m) -> Picture& {
       return level_minmax_fn(i, w, m, power_exponent);
     },
     [](Picture& i, std::uint32_t w1, std::uint32_t w2, GrayMethod m) -> Picture& {
       return level_minmax_fn2(i, w1, w2, m, power_exponent);
     }},
    {"range", false, false, "local mean and soft range",
     [](Picture& i, std::uint32_t w, GrayMethod) -> Picture& {
       return level_range(i, w, power_exponent);
     },
     [](Picture& i, std::uint32_t w1, std::uint32_t w2, GrayMethod) -> Picture& {
       return level_range2(i, w1, w2, power_exponent);
     }},
    {"range_fn", true, false, "local mean and soft range of the gray",
     [](Picture& i, std::uint32_t w, GrayMethod m) -> Picture& {
       return level_range_fn(i, w, m, power_exponent);
     },
     [](Picture& i, std::uint32_t w1, std::uint32_t w2, GrayMethod m) -> Picture& {
       return level_range_fn2(i, w1, w2, m, power_exponent);
     }},
};

const Algorithm* find_algorithm(const char* keyword) {
  for (const auto& algorithm : algorithms)
    if (std::strcmp(keyword, algorithm.keyword) == 0) return &algorithm;
  return nullptr;
}

int window_count(const Algorithm& algorithm, int words_after_keyword) {
  // input, output, the windows, and the method for the gray algorithms
  const int windows = words_after_keyword - 2 - (algorithm.takes_method ? 1 : 0);
  return windows == 1 || windows == 2 ? windows : 0;
}

bool levels_channel_by_channel(const Algorithm& algorithm, std::size_t channels) {
  return algorithm.takes_method && (algorithm.exactly_three ? channels != 3 : channels < 3);
}
