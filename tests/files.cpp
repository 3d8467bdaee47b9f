#include "files.h"

#include <dirent.h>

std::vector<std::string> ScratchFolder::entries_of(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(dir))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    ::closedir(dir);
  }
  return names;
}
