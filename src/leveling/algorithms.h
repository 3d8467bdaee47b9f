#pragma once
// The algorithm table: each keyword with what it matches and how it works. The command line,
// the argument-count check, the help text, the leveling and the tests all read it.
#include <cstddef>
#include <cstdint>
#include <limits>

#include "gray/gray_methods.h"
#include "leveling/row_leveling.h"
#include "leveling/window_arg.h"

namespace kelvane {

// The order of the soft minimum and maximum; never taken from the command line.
constexpr double power_exponent = 10.0;

struct Algorithm {
  const char* keyword;
  Family family;
  bool takes_method;  // the _fn algorithms: a gray method keyword follows the window numbers
  // A gray algorithm needs red, green and blue: mean_fn exactly three colour channels, the
  // others at least three. Other pictures are leveled channel by channel.
  bool exactly_three;
  const char* matches;  // what is matched to the reference, for the help text
};

// mean, mean_fn, std, std_fn, minmax, minmax_fn, range, range_fn, in lookup order.
extern const Algorithm algorithm_table[8];

// The algorithm whose keyword equals the text exactly, or null.
const Algorithm* find_algorithm(const char* keyword);

// Window numbers the algorithm takes with this many command-line words after the keyword
// (input, output and the rest): 1 or 2, or 0 when the count is not accepted.
int window_count(const Algorithm& algorithm, int words_after_keyword);

// True when the algorithm levels a picture of this many colour channels channel by channel
// instead of through its gray (a gray algorithm on a picture without red, green and blue).
bool levels_channel_by_channel(const Algorithm& algorithm, std::size_t channels);

// One leveling operation, as the command line gives it.
struct Leveling {
  const Algorithm* algorithm = nullptr;
  int windows = 1;  // 1 or 2
  std::uint32_t window1 = 0, window2 = 0;
  GrayMethod method = nullptr;  // for the gray algorithms
  // Level alpha like a colour channel, as if the file did not mark it (the former behaviour).
  bool level_alpha = false;
  // Windows given as shares of the picture's shorter side instead of pixels; they become
  // pixels picture by picture (for_picture).
  WindowShare share1 = no_share, share2 = no_share;
  // The largest factor by which std, minmax and range multiply a value's distance from its
  // local reference; infinity leaves their stretch as it is.
  double max_gain = std::numeric_limits<double>::infinity();
};

// The leveling of one picture: windows given as shares become pixels of its shorter side.
Leveling for_picture(const Leveling& leveling, std::size_t width, std::size_t height);

}  // namespace kelvane
