// Folders of pictures: which files a folder run levels, and where each goes.
#include <linux/fs.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "kelvane/kelvane.h"

namespace kelvane {

namespace {

namespace fs = std::filesystem;

bool hidden(const fs::path& path) {
  const std::string name = path.filename().string();
  return !name.empty() && name[0] == '.';
}

// Whether names that differ only in case are one file in that folder (or in the nearest
// folder above it that exists, whose file system a new folder would be on).
bool folds_case(fs::path folder) {
  std::error_code error;
  folder = fs::absolute(folder, error);
  while (!folder.empty() && !fs::is_directory(folder, error) && folder != folder.parent_path())
    folder = folder.parent_path();
  struct statfs info;
  if (::statfs(folder.c_str(), &info) != 0) return false;
  // FAT, exFAT, NTFS, SMB and CIFS shares, HFS+.
  const unsigned long folding[] = {0x4d44, 0x2011BAB0, 0x5346544e, 0xfe534d42, 0xff534d42, 0x517B, 0x482b, 0x4244};
  for (unsigned long type : folding)
    if (static_cast<unsigned long>(info.f_type) == type) return true;
  // ext4 and f2fs folders made to fold case.
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  const bool casefold = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & 0x40000000) != 0;
  ::close(fd);
  return casefold;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

}  // namespace

FolderPlan plan_folder(const std::string& input, const std::string& output, const std::string& format) {
  FolderPlan listing;
  std::error_code error;
  const fs::path outputs = fs::weakly_canonical(output, error);
  for (fs::recursive_directory_iterator it(input, fs::directory_options::skip_permission_denied, error), end;
       it != end; it.increment(error)) {
    const fs::path& path = it->path();
    const fs::file_status own = it->symlink_status(error);
    if (hidden(path)) {
      if (fs::is_directory(own)) it.disable_recursion_pending();
      continue;
    }
    if (fs::is_directory(own)) {
      if (fs::weakly_canonical(path, error) == outputs) it.disable_recursion_pending();
      continue;
    }
    // A link to a folder is not followed (it could lead back up); any other entry is a file.
    if (fs::is_symlink(own) && fs::is_directory(path, error)) continue;
    if (!fs::is_regular_file(own) && !fs::is_symlink(own)) {
      ++listing.not_pictures;
      continue;
    }
    if (!is_picture_file(path.string())) {
      ++listing.not_pictures;
      continue;
    }
    // Lexically: a link keeps its own place under the output, never its target's.
    fs::path target = fs::path(output) / path.lexically_relative(input);
    if (!format.empty()) target.replace_extension(format);
    listing.jobs.push_back({path.string(), target.string()});
  }
  std::sort(listing.jobs.begin(), listing.jobs.end(),
            [](const FolderJob& a, const FolderJob& b) { return a.input < b.input; });
  listing.collisions = colliding_outputs(listing.jobs, output);
  return listing;
}

std::vector<std::pair<FolderJob, FolderJob>> colliding_outputs(const std::vector<FolderJob>& jobs,
                                                               const std::string& output) {
  const bool fold = folds_case(output);
  std::map<std::string, const FolderJob*> first;
  std::vector<std::pair<FolderJob, FolderJob>> pairs;
  for (const FolderJob& job : jobs) {
    const std::string key = fold ? lower(job.output) : job.output;
    const auto found = first.emplace(key, &job);
    if (!found.second) pairs.emplace_back(*found.first->second, job);
  }
  return pairs;
}

}  // namespace kelvane
