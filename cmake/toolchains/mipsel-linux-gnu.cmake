# The receiver: 32-bit little-endian MIPS running Linux, built with Debian's
# cross compiler (g++-mipsel-linux-gnu). Nothing built here runs on the cross
# glibc: what runs beside a module links against uClibc-ng (cmake/uclibc.cmake).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(QUARNEL_CROSS_PREFIX mipsel-linux-gnu-)
set(CMAKE_C_COMPILER ${QUARNEL_CROSS_PREFIX}gcc)
set(CMAKE_CXX_COMPILER ${QUARNEL_CROSS_PREFIX}g++)

set(CMAKE_FIND_ROOT_PATH /usr/mipsel-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run on the PC through qemu user mode, on the receiver's
# processor (MIPS32 release 1, no FPU) and its C library (uClibc-ng, which this
# build puts into sysroot/).
find_program(QUARNEL_QEMU qemu-mipsel)
if(QUARNEL_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARNEL_QEMU} -cpu 4Kc -L ${CMAKE_BINARY_DIR}/sysroot)
endif()
