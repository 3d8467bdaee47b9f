#pragma once
// Leveling every picture of a folder into another folder: `kelvane mean scans/ leveled/ 31`.
#include <string>

#include "kelvane/kelvane.h"

namespace kelvane {

struct FolderChoices {
  std::string format;          // the outputs' extension, or empty to keep each input's
  bool skip_existing = false;  // leave an output newer than its input as it is
};

// Levels every picture kelvane reads under `input` (recursively) into the same relative path
// under `output`, which is created; the outputs' folder itself is never read. Small pictures
// are leveled several at once, large ones one at a time with all the threads. A file that
// fails gets its "Error: ..." line and the others go on. Ends with one summary line; returns
// the exit status (1 if any file failed).
int level_folder(const std::string& input, const std::string& output, const Operation& operation,
                 const Options& options, const FolderChoices& choices, double progress_delay);

}  // namespace kelvane
