#include "leveling/algorithms.h"

#include <cstring>

namespace kelvane {

const Algorithm algorithm_table[8] = {
    {"mean", Family::mean, false, false, "local mean"},
    {"mean_fn", Family::mean, true, true, "local mean of the gray"},
    {"std", Family::std, false, false, "local mean and standard deviation"},
    {"std_fn", Family::std, true, false, "local mean and standard deviation of the gray"},
    {"minmax", Family::minmax, false, false, "local soft minimum and soft range"},
    {"minmax_fn", Family::minmax, true, false, "local soft minimum and soft range of the gray"},
    {"range", Family::range, false, false, "local mean and soft range"},
    {"range_fn", Family::range, true, false, "local mean and soft range of the gray"},
};

const Algorithm* find_algorithm(const char* keyword) {
  for (const auto& algorithm : algorithm_table)
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

Leveling for_picture(const Leveling& leveling, std::size_t width, std::size_t height) {
  Leveling picture = leveling;
  if (leveling.share1 != no_share) picture.window1 = window_of_share(leveling.share1, width, height);
  if (leveling.share2 != no_share) picture.window2 = window_of_share(leveling.share2, width, height);
  return picture;
}

}  // namespace kelvane
