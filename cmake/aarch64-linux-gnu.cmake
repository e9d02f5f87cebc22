# Cross-compiling for aarch64 Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu). The compression libraries of the target are
# Debian's :arm64 packages, unpacked by scripts/cross-test into
# build/sysroot/aarch64-linux-gnu and linked statically; programs run under
# qemu-user (qemu-aarch64), with the cross compiler's C library.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
get_filename_component(TRACE_ALIGN_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build/sysroot/aarch64-linux-gnu" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH "${TRACE_ALIGN_SYSROOT}" /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)
