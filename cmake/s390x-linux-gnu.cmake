# Cross-compiling for s390x Linux with Debian's cross compiler
# (g++-s390x-linux-gnu). The compression libraries of the target are
# Debian's :s390x packages, unpacked by scripts/cross-test into
# build/sysroot/s390x-linux-gnu and linked statically; programs run under
# qemu-user (qemu-s390x), with the cross compiler's C library.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE s390x-linux-gnu)
get_filename_component(TRACE_ALIGN_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build/sysroot/s390x-linux-gnu" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH "${TRACE_ALIGN_SYSROOT}" /usr/s390x-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x -L /usr/s390x-linux-gnu)
