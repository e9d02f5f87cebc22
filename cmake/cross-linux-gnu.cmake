# Shared by the toolchain files of the cross tests: cross-compiling for
# TRACE_ALIGN_CROSS_TARGET Linux with Debian's cross compiler
# (g++-TARGET-linux-gnu). The compression libraries of the target are
# Debian's packages for it, unpacked by scripts/cross-test into
# build/sysroot/TARGET-linux-gnu and linked statically; programs run under
# qemu-user (qemu-TARGET), with the cross compiler's C library.
set(triplet ${TRACE_ALIGN_CROSS_TARGET}-linux-gnu)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${TRACE_ALIGN_CROSS_TARGET})
set(CMAKE_C_COMPILER ${triplet}-gcc)
set(CMAKE_CXX_COMPILER ${triplet}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${triplet})
get_filename_component(TRACE_ALIGN_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build/sysroot/${triplet}" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH "${TRACE_ALIGN_SYSROOT}" /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${TRACE_ALIGN_CROSS_TARGET} -L /usr/${triplet})
