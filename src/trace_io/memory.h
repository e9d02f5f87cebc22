// How much more memory the process can get, so that a table too large for
// the machine is refused with a message instead of being killed later.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Bytes the process can still allocate and use: the least of the memory
// available on the machine (with free swap), what its cgroup allows beyond
// what it uses, and what RLIMIT_AS leaves; UINT64_MAX when none is known.
uint64_t available_memory();

// What the memory cgroups of a process allow it: the least, over each of
// its cgroups (v2, and v1's memory controller) and their parents (a parent
// can be the tighter), of limit - usage. cgroups: /proc/self/cgroup's text;
// mountinfo: /proc/self/mountinfo's; prefix goes before every file read.
struct CgroupMemory {
  uint64_t headroom = UINT64_MAX;
  bool limited = false;  // some cgroup has a limit
};
CgroupMemory cgroup_memory(std::string_view cgroups, std::string_view mountinfo,
                           const std::string& prefix);

// True when the process runs under a memory limit of its own: a cgroup
// limit (v2 or v1) or RLIMIT_AS.
bool memory_limited();
// True when RLIMIT_AS limits the process's address space: each thread's
// stack and heap arena then count against the limit.
bool address_space_limited();
