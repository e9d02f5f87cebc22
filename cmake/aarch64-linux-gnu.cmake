# Cross-compiling for aarch64 Linux (scripts/cross-test aarch64).
set(TRACE_ALIGN_CROSS_TARGET aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
