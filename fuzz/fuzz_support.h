// Shared by the fuzz targets: a private scratch directory to run in, and
// limits that turn runaway outputs and allocations into ordinary failures.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "trace_align/trace_file.h"
#include "trace_io/failure.h"

inline void EnterScratchDirectory() {
  static bool entered = false;
  if (entered) return;
  entered = true;
  char dir[] = "/tmp/trace_align_fuzz.XXXXXX";
  if (mkdtemp(dir) == nullptr || chdir(dir) != 0) std::abort();
  // An output past 1 MiB fails with EFBIG, reported like a full disk, so
  // that inputs with huge frame numbers cost little time.
  std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = {1 << 20, 1 << 20};
  setrlimit(RLIMIT_FSIZE, &limit);
}

inline void WriteInput(const char* name, const uint8_t* data, size_t size);
inline void WriteInput(const char* name, const std::string& text) {
  WriteInput(name, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}
inline void WriteInput(const char* name, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(name, "w");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  if (std::fclose(f) != 0) std::abort();
}

inline void OpenInput(InputFile& in, const char* name) {
  if (!in.open(name)) std::abort();
}

// Allocations the size of a huge frame table fail as on a machine short of
// memory, which the tool reports, instead of aborting the fuzzer.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}
