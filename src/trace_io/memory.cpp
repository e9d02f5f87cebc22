// Reading the memory limits of Linux: /proc/meminfo, the process's own
// cgroups and their parents (v2, and v1's memory controller), where
// /proc/self/mountinfo says they are mounted, and RLIMIT_AS.

#include "trace_io/memory.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// A whole file's text ("" when it cannot be read).
std::string file_text(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The fields of a line, split at spaces.
std::vector<std::string_view> fields_of(std::string_view line) {
  std::vector<std::string_view> fields;
  while (!line.empty()) {
    size_t space = line.find(' ');
    if (space != 0) fields.push_back(line.substr(0, space));
    if (space == std::string_view::npos) break;
    line.remove_prefix(space + 1);
  }
  return fields;
}

bool has_option(std::string_view options, std::string_view option) {
  for (size_t at = 0; at <= options.size();) {
    size_t comma = options.find(',', at);
    if (comma == std::string_view::npos) comma = options.size();
    if (options.substr(at, comma - at) == option) return true;
    at = comma + 1;
  }
  return false;
}

// Where a cgroup hierarchy is mounted, and which of its cgroups the
// mount's root is (inside a container, the container's own).
struct CgroupMount {
  std::string point, root;
};
std::optional<CgroupMount> mount_of(std::string_view mountinfo, bool v2) {
  while (!mountinfo.empty()) {
    size_t nl = mountinfo.find('\n');
    std::string_view line = mountinfo.substr(0, nl);
    mountinfo.remove_prefix(nl == std::string_view::npos ? mountinfo.size() : nl + 1);
    // ID PARENT MAJ:MIN ROOT POINT OPTIONS [TAGS...] - TYPE SOURCE SUPER
    std::vector<std::string_view> f = fields_of(line);
    auto dash = std::find(f.begin(), f.end(), "-");
    if (f.size() < 5 || f.end() - dash < 4) continue;
    bool match = v2 ? dash[1] == "cgroup2" : dash[1] == "cgroup" && has_option(dash[3], "memory");
    if (match) return CgroupMount{std::string(f[4]), std::string(f[3])};
  }
  return std::nullopt;
}

// The least headroom (limit - usage) of a cgroup and its parents, in the
// files of one hierarchy.
void walk_up(const std::string& prefix, const CgroupMount& mount, std::string path, bool v2,
             CgroupMemory& out) {
  // The process's path is from the hierarchy's root; the mount shows it
  // from mount.root down.
  if (mount.root != "/") {
    if (path.compare(0, mount.root.size(), mount.root) != 0) return;
    path = path.substr(mount.root.size());
  }
  for (;;) {
    std::string dir = prefix + mount.point + (path == "/" ? "" : path);
    uint64_t limit, used;
    // cgroup v1 reports "no limit" as a huge number, v2 as "max".
    if (number_file(dir + (v2 ? "/memory.max" : "/memory.limit_in_bytes"), &limit) &&
        (v2 || limit < (uint64_t{1} << 62))) {
      out.limited = true;
      if (number_file(dir + (v2 ? "/memory.current" : "/memory.usage_in_bytes"), &used))
        out.headroom = std::min(out.headroom, limit > used ? limit - used : 0);
    }
    if (path.empty() || path == "/") return;
    size_t slash = path.find_last_of('/');
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
}

}  // namespace

CgroupMemory cgroup_memory(std::string_view cgroups, std::string_view mountinfo,
                           const std::string& prefix) {
  CgroupMemory out;
  while (!cgroups.empty()) {
    size_t nl = cgroups.find('\n');
    std::string_view line = cgroups.substr(0, nl);
    cgroups.remove_prefix(nl == std::string_view::npos ? cgroups.size() : nl + 1);
    // ID:CONTROLLERS:PATH; v2's is "0::PATH".
    size_t first = line.find(':'), second = line.find(':', first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos) continue;
    std::string_view controllers = line.substr(first + 1, second - first - 1);
    bool v2 = line.substr(0, first) == "0" && controllers.empty();
    if (!v2 && !has_option(controllers, "memory")) continue;
    if (std::optional<CgroupMount> mount = mount_of(mountinfo, v2))
      walk_up(prefix, *mount, std::string(line.substr(second + 1)), v2, out);
  }
  return out;
}

namespace {

CgroupMemory own_cgroup_memory() {
  return cgroup_memory(file_text("/proc/self/cgroup"), file_text("/proc/self/mountinfo"), "");
}

}  // namespace

uint64_t available_memory() {
  uint64_t least = UINT64_MAX;
  uint64_t available, swap;
  if (kib_field("/proc/meminfo", "MemAvailable:", &available)) {
    if (kib_field("/proc/meminfo", "SwapFree:", &swap)) available += swap;
    least = std::min(least, available);
  }
  least = std::min(least, own_cgroup_memory().headroom);
  struct rlimit as;
  uint64_t mapped;
  if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY &&
      kib_field("/proc/self/status", "VmSize:", &mapped))
    least = std::min<uint64_t>(least, as.rlim_cur > mapped ? as.rlim_cur - mapped : 0);
  return least;
}

bool memory_limited() {
  if (own_cgroup_memory().limited) return true;
  struct rlimit as;
  return getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY;
}

bool address_space_limited() {
  struct rlimit as;
  return getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY;
}
