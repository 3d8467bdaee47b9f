#pragma once
// Leveling one picture file into another: each page is read, leveled and written in turn,
// into an output that replaces an existing file only once it is complete.
#include <cstdint>
#include <string>

#include "files/picture_reader.h"
#include "files/picture_writer.h"
#include "leveling/algorithms.h"

// One leveling operation, as the command line gives it.
struct Leveling {
  const Algorithm* algorithm = nullptr;
  int windows = 1;  // 1 or 2
  std::uint32_t window1 = 0, window2 = 0;
  GrayMethod method = nullptr;  // for the gray algorithms
  // Level alpha like a colour channel, as if the file did not mark it (the former behaviour).
  bool level_alpha = false;
};

// What a run did besides writing its output.
struct LevelingReport {
  // Some page lacked red, green and blue for a gray algorithm, and was leveled channel by
  // channel instead.
  bool channel_by_channel = false;
};

// Plans the output, checks the memory, then levels every page of the input into the output.
// Throws FileError; a failure leaves an existing output untouched.
LevelingReport level_file(PictureReader& input, const std::string& output, const Leveling& leveling,
                          const EncodingChoices& choices);
