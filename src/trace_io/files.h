// The files and arrays of a run: record arrays, input tables and output
// files.
#pragma once

#include "trace_io/arrays.h"
#include "trace_io/input_file.h"
#include "trace_io/out_file.h"
