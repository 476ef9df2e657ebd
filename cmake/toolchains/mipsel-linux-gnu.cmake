# The receiver: 32-bit little-endian MIPS running Linux, built with Debian's
# cross compiler (g++-mipsel-linux-gnu). Nothing built here runs on the cross
# glibc: what runs beside a module links against uClibc-ng (cmake/uclibc.cmake).
# Installed with the kit as TapModule's receiver-toolchain.cmake.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(QUARNEL_CROSS_PREFIX mipsel-linux-gnu-)
set(CMAKE_C_COMPILER ${QUARNEL_CROSS_PREFIX}gcc)
set(CMAKE_CXX_COMPILER ${QUARNEL_CROSS_PREFIX}g++)
find_program(QUARNEL_CROSS_CXX ${CMAKE_CXX_COMPILER})
if(NOT QUARNEL_CROSS_CXX)
  message(FATAL_ERROR "the receiver's compiler ${CMAKE_CXX_COMPILER} is missing "
    "(apt install g++-mipsel-linux-gnu)")
endif()

# The receiver's processor is MIPS32 release 1 without an FPU, its ABI o32;
# its loader reads only the classic symbol hash table.
set(TAP_RECEIVER_COMPILE_OPTIONS -march=mips32 -mabi=32 -EL)
set(TAP_RECEIVER_LINK_OPTIONS -Wl,--hash-style=sysv)

set(CMAKE_FIND_ROOT_PATH /usr/mipsel-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# CMake packages such as the kit itself live on the PC.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Programs built here run on the PC through qemu user mode, on the receiver's
# processor and its C library (uClibc-ng): the installed one beside the kit,
# or the one this build puts into sysroot/ when it is Quarnel's own.
set(TAP_RECEIVER_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/../../../libexec/quarnel/mipsel/sysroot)
if(NOT EXISTS ${TAP_RECEIVER_SYSROOT}/lib/libc.so.0)
  set(TAP_RECEIVER_SYSROOT ${CMAKE_BINARY_DIR}/sysroot)
endif()
find_program(QUARNEL_QEMU qemu-mipsel)
if(QUARNEL_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARNEL_QEMU} -cpu 4Kc -L ${TAP_RECEIVER_SYSROOT})
endif()
