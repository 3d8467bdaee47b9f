#include "files/memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "files/file_error.h"

namespace kelvane {

namespace {

using Bytes = unsigned long long;
constexpr Bytes unlimited = ~0ull;

// A "Name:   123 kB" line of a /proc file, in bytes; 0 when absent.
Bytes proc_kilobytes(const char* file, const char* name) {
  std::ifstream in(file);
  std::string line;
  const std::size_t n = std::strlen(name);
  while (std::getline(in, line))
    if (line.compare(0, n, name) == 0 && line.size() > n && line[n] == ':')
      return std::strtoull(line.c_str() + n + 1, nullptr, 10) * 1024ull;
  return 0;
}

// A number in a control-group file, or unlimited for "max" or a missing file.
Bytes cgroup_number(const std::string& file) {
  std::ifstream in(file);
  std::string text;
  if (!(in >> text) || text == "max") return unlimited;
  return std::strtoull(text.c_str(), nullptr, 10);
}

// The limit of the process's control group less its usage (cgroup v2, or v1's memory controller).
Bytes cgroup_room() {
  std::ifstream groups("/proc/self/cgroup");
  std::string line;
  while (std::getline(groups, line)) {
    const std::size_t colon = line.rfind(':');
    if (colon == std::string::npos) continue;
    const std::string path = line.substr(colon + 1);
    const std::string head = line.substr(0, colon);
    Bytes limit = unlimited, usage = 0;
    if (head == "0:") {
      limit = cgroup_number("/sys/fs/cgroup" + path + "/memory.max");
      usage = limit == unlimited ? 0 : cgroup_number("/sys/fs/cgroup" + path + "/memory.current");
    } else if (head.find("memory") != std::string::npos) {
      limit = cgroup_number("/sys/fs/cgroup/memory" + path + "/memory.limit_in_bytes");
      usage = limit == unlimited ? 0 : cgroup_number("/sys/fs/cgroup/memory" + path + "/memory.usage_in_bytes");
    }
    if (limit != unlimited && limit < (1ull << 60)) return limit > usage ? limit - usage : 0;
  }
  return unlimited;
}

Bytes rlimit_room(int resource, Bytes in_use) {
  rlimit limit;
  if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return unlimited;
  return limit.rlim_cur > in_use ? limit.rlim_cur - in_use : 0;
}

}  // namespace

unsigned long long memory_budget(unsigned long long limit) {
  Bytes budget = proc_kilobytes("/proc/meminfo", "MemAvailable");
  if (budget == 0) budget = static_cast<Bytes>(::sysconf(_SC_PHYS_PAGES)) * static_cast<Bytes>(::sysconf(_SC_PAGE_SIZE));
  if (limit > 0) budget = std::min(budget, limit);
  budget = std::min(budget, rlimit_room(RLIMIT_AS, proc_kilobytes("/proc/self/status", "VmSize")));
  budget = std::min(budget, rlimit_room(RLIMIT_DATA, proc_kilobytes("/proc/self/status", "VmData")));
  return std::min(budget, cgroup_room());
}

std::string memory_shortfall(std::size_t width, std::size_t height, long double bytes, unsigned long long limit) {
  const Bytes budget = memory_budget(limit);
  if (bytes <= static_cast<long double>(budget)) return "";
  const auto mib = [](long double b) { return std::to_string(static_cast<unsigned long long>(b / 1048576.0L)); };
  return "a picture of " + std::to_string(width) + " x " + std::to_string(height) + " pixels needs " + mib(bytes) +
         " MiB to level, more than the " + mib(budget) + " MiB available";
}

void check_memory(const std::string& path, std::size_t width, std::size_t height, long double bytes,
                  unsigned long long limit) {
  const std::string shortfall = memory_shortfall(width, height, bytes, limit);
  if (!shortfall.empty()) throw FileError("cannot read " + path + ": " + shortfall, path, ENOMEM);
}

}  // namespace kelvane
