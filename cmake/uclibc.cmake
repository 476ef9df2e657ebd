# The receiver's kind of C library for what runs beside a MIPS module: uClibc-ng,
# built from Debian's uclibc-source once per receiver build tree, and
# quarnel_uclibc_executable() to link a C program against it. A PC build has none.
if(NOT QUARNEL_RECEIVER)
  return()
endif()

set(QUARNEL_UCLIBC_TARBALL /usr/src/uClibc-ng-1.0.35.tar.xz
    CACHE FILEPATH "uClibc-ng's source tarball (Debian's uclibc-source)")
if(NOT EXISTS ${QUARNEL_UCLIBC_TARBALL})
  message(FATAL_ERROR "${QUARNEL_UCLIBC_TARBALL} is missing (scripts/install-deps installs uclibc-source)")
endif()

function(quarnel_compiler_file out name)
  execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=${name}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${CMAKE_C_COMPILER} has no ${name}")
  endif()
  set(${out} ${path} PARENT_SCOPE)
endfunction()
quarnel_compiler_file(QUARNEL_CROSS_LIBGCC libgcc.a)
# stddef.h, stdarg.h and the like; the rest of the compiler's search path is glibc's.
quarnel_compiler_file(quarnel_compiler_include include)
# The kernel's headers sit beside the cross glibc's; build.cmake links only them.
set(quarnel_cross_include ${CMAKE_FIND_ROOT_PATH}/include)

# The compiler helpers for MIPS32 release 1, searched before Debian's libgcc.a.
add_library(quarnel_libgcc_mips32r1 STATIC ${CMAKE_CURRENT_LIST_DIR}/uclibc/libgcc-mips32r1.c)
target_compile_options(quarnel_libgcc_mips32r1 PRIVATE -march=mips32 -ffreestanding)
set_target_properties(quarnel_libgcc_mips32r1 PROPERTIES
  POSITION_INDEPENDENT_CODE ON ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/uclibc)

# A build that only links modules (scripts/release) may take another receiver
# build's uClibc-ng: a module is linked against it, and never holds any of it.
set(QUARNEL_UCLIBC_PREBUILT "" CACHE PATH "The uclibc/stage folder of another receiver build, used instead of building one")
if(QUARNEL_UCLIBC_PREBUILT AND NOT EXISTS ${QUARNEL_UCLIBC_PREBUILT}/lib/libc.so.0)
  message(FATAL_ERROR "QUARNEL_UCLIBC_PREBUILT is ${QUARNEL_UCLIBC_PREBUILT}, which holds no lib/libc.so.0")
endif()
set(QUARNEL_UCLIBC ${CMAKE_BINARY_DIR}/uclibc/stage)
if(QUARNEL_UCLIBC_PREBUILT)
  set(QUARNEL_UCLIBC ${QUARNEL_UCLIBC_PREBUILT})
endif()
set(QUARNEL_UCLIBC_LOADER ${QUARNEL_UCLIBC}/lib/ld-uClibc.so.0)
set(QUARNEL_UCLIBC_LIBC ${QUARNEL_UCLIBC}/lib/libc.so.0)
set(quarnel_uclibc_devel ${QUARNEL_UCLIBC}/usr/lib)
set(quarnel_uclibc_stamp ${CMAKE_BINARY_DIR}/uclibc/built)
set(quarnel_uclibc_dir ${CMAKE_CURRENT_LIST_DIR}/uclibc)
if(QUARNEL_UCLIBC_PREBUILT)
  add_custom_target(uclibc)
else()
add_custom_command(
  OUTPUT ${quarnel_uclibc_stamp} ${QUARNEL_UCLIBC_LOADER} ${QUARNEL_UCLIBC_LIBC}
         ${quarnel_uclibc_devel}/crt1.o ${quarnel_uclibc_devel}/crti.o ${quarnel_uclibc_devel}/crtn.o
         ${quarnel_uclibc_devel}/uclibc_nonshared.a
  COMMAND ${CMAKE_COMMAND} -DTARBALL=${QUARNEL_UCLIBC_TARBALL} -DCONFIG=${quarnel_uclibc_dir}/config
          -DWORK=${CMAKE_BINARY_DIR}/uclibc -DCROSS=${QUARNEL_CROSS_PREFIX}
          -DKERNEL_INCLUDE=${quarnel_cross_include} -DHELPERS=$<TARGET_FILE:quarnel_libgcc_mips32r1>
          -DLIBGCC=${QUARNEL_CROSS_LIBGCC} -DSTAMP=${quarnel_uclibc_stamp} -P ${quarnel_uclibc_dir}/build.cmake
  DEPENDS ${QUARNEL_UCLIBC_TARBALL} ${quarnel_uclibc_dir}/config ${quarnel_uclibc_dir}/build.cmake
          quarnel_libgcc_mips32r1
  COMMENT "Building uClibc-ng for MIPS32 release 1 (once per build tree, about a minute; log in uclibc/build.log)"
  VERBATIM)
add_custom_target(uclibc ALL DEPENDS ${quarnel_uclibc_stamp})
endif()
# Named by its path on the link line: given as a plain path, CMake would turn
# libc.so.0 into -lc, which finds the cross glibc.
add_library(quarnel_uclibc_libc SHARED IMPORTED GLOBAL)
set_target_properties(quarnel_uclibc_libc PROPERTIES IMPORTED_LOCATION ${QUARNEL_UCLIBC_LIBC})
# What a module links against: the whole of the receiver's C library, so that
# the link refuses what the receiver lacks and nothing more. The loader it needs
# is found beside it, and never named in the module.
add_library(quarnel_receiver_c INTERFACE)
target_link_libraries(quarnel_receiver_c INTERFACE quarnel_uclibc_libc -Wl,-rpath-link,${QUARNEL_UCLIBC}/lib)
add_dependencies(quarnel_receiver_c uclibc)

# Executables here run on uClibc only: a target with C++ sources must not get
# the cross C++ run time and libm added behind its back.
set(CMAKE_CXX_IMPLICIT_LINK_LIBRARIES "")
# Even with -nostdlib the driver hands the linker its own library folders, the
# cross glibc's among them, so a -lm or -lstdc++ would quietly link against
# glibc. With -nostdlib, this specs file drops them: such a library is then missing.
set(quarnel_uclibc_specs ${CMAKE_BINARY_DIR}/uclibc/link.specs)
file(WRITE ${quarnel_uclibc_specs} "*link_libgcc:\n%{!nostdlib:%D}\n\n")

# Makes TARGET, an executable in C (or C-style C++ that needs nothing from the
# C++ run time), run on the receiver's C library under qemu-mipsel -cpu 4Kc:
# uClibc's headers and start files, its libc.so.0 loaded by
# /lib/ld-uClibc.so.0, MIPS32 release 1 code, the classic hash table, and every
# global symbol exported (modules look up _tapTask and _curTapTask in the
# program, and its open/write/close come before libc's). A library named with
# -l is looked for in uClibc's folder only, never in the cross glibc's. The
# start files frame the link, so call it after the target's own
# target_link_libraries.
function(quarnel_uclibc_executable target)
  add_dependencies(${target} uclibc)
  set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
  target_compile_options(${target} PRIVATE
    -nostdinc -march=mips32
    "SHELL:-isystem ${quarnel_compiler_include}"
    "SHELL:-isystem ${QUARNEL_UCLIBC}/usr/include"
    "SHELL:-isystem ${CMAKE_BINARY_DIR}/uclibc/kernel-headers")
  target_link_options(${target} PRIVATE
    -specs=${quarnel_uclibc_specs} -nostdlib -Wl,-nostdlib -L${quarnel_uclibc_devel}
    -no-pie -march=mips32 -rdynamic
    -Wl,--hash-style=sysv -Wl,-dynamic-linker,/lib/ld-uClibc.so.0
    -Wl,-rpath-link,${QUARNEL_UCLIBC}/lib
    ${quarnel_uclibc_devel}/crt1.o ${quarnel_uclibc_devel}/crti.o)
  target_link_libraries(${target} PRIVATE
    quarnel_uclibc_libc ${quarnel_uclibc_devel}/uclibc_nonshared.a
    quarnel_libgcc_mips32r1 ${QUARNEL_CROSS_LIBGCC} ${quarnel_uclibc_devel}/crtn.o)
  set_target_properties(${target} PROPERTIES
    SKIP_BUILD_RPATH ON
    LINK_DEPENDS "${quarnel_uclibc_devel}/crt1.o;${quarnel_uclibc_devel}/crti.o")
endfunction()
