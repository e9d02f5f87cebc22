// Reading the memory limits of Linux: /proc/meminfo, the cgroup (v2, then
// v1) and RLIMIT_AS.

#include "trace_io/memory.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

// The "Name:  N kB" value of /proc/self/status or /proc/meminfo, in bytes.
bool kib_field(const char* path, const char* name, uint64_t* bytes) {
  std::ifstream in(path);
  std::string key;
  uint64_t kib;
  while (in >> key) {
    if (key == name && in >> kib) {
      *bytes = kib * 1024;
      return true;
    }
    in.ignore(256, '\n');
  }
  return false;
}

// A number from a one-line file; false for "max" or no file.
bool number_file(const std::string& path, uint64_t* value) {
  std::ifstream in(path);
  std::string text;
  if (!(in >> text) || text.empty() || text[0] < '0' || text[0] > '9') return false;
  *value = std::stoull(text);
  return true;
}

// The cgroup of this process: its v2 path, or "" when not on v2.
std::string cgroup_v2_dir() {
  std::ifstream in("/proc/self/cgroup");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("0::", 0) == 0) return "/sys/fs/cgroup" + line.substr(3);
  return "";
}

}  // namespace

uint64_t available_memory() {
  uint64_t least = UINT64_MAX;
  uint64_t available, swap;
  if (kib_field("/proc/meminfo", "MemAvailable:", &available)) {
    if (kib_field("/proc/meminfo", "SwapFree:", &swap)) available += swap;
    least = std::min(least, available);
  }
  uint64_t limit, used;
  std::string dir = cgroup_v2_dir();
  if (!dir.empty() && number_file(dir + "/memory.max", &limit) &&
      number_file(dir + "/memory.current", &used))
    least = std::min(least, limit > used ? limit - used : 0);
  else if (number_file("/sys/fs/cgroup/memory/memory.limit_in_bytes", &limit) &&
           number_file("/sys/fs/cgroup/memory/memory.usage_in_bytes", &used))
    least = std::min(least, limit > used ? limit - used : 0);
  struct rlimit as;
  uint64_t mapped;
  if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY &&
      kib_field("/proc/self/status", "VmSize:", &mapped))
    least = std::min<uint64_t>(least, as.rlim_cur > mapped ? as.rlim_cur - mapped : 0);
  return least;
}

bool memory_limited() {
  uint64_t limit;
  std::string dir = cgroup_v2_dir();
  if (!dir.empty() && number_file(dir + "/memory.max", &limit)) return true;
  // cgroup v1 reports "no limit" as a huge number.
  if (number_file("/sys/fs/cgroup/memory/memory.limit_in_bytes", &limit) &&
      limit < (uint64_t{1} << 62))
    return true;
  struct rlimit as;
  return getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY;
}

bool address_space_limited() {
  struct rlimit as;
  return getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY;
}
