// trace_align's test fixtures: its outputs.
#pragma once

#include "test_support.h"
#include "trace_align/outputs.h"
#include "trace_align/trace_file.h"

// None of trace_align's outputs exists in the current directory.
inline void ExpectNoOutputs() {
  for (const char* name : kOutputNames) EXPECT_FALSE(ScratchTest::Exists(name)) << name;
}
