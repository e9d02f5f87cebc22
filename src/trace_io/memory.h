// How much more memory the process can get, so that a table too large for
// the machine is refused with a message instead of being killed later.
#pragma once

#include <cstdint>

// Bytes the process can still allocate and use: the least of the memory
// available on the machine (with free swap), what its cgroup allows beyond
// what it uses, and what RLIMIT_AS leaves; UINT64_MAX when none is known.
uint64_t available_memory();
