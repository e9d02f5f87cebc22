# Cross-compiling for s390x Linux (scripts/cross-test s390x).
set(TRACE_ALIGN_CROSS_TARGET s390x)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
