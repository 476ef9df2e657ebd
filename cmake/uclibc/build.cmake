# Builds uClibc-ng from Debian's source tarball with the cross compiler and
# stages what the MIPS run links against and loads:
#
# stage/lib/ld-uClibc.so.0        the loader
# stage/lib/libc.so.0             the C library, libdl included (soname libc.so.0)
# stage/usr/lib/crt1.o crti.o crtn.o uclibc_nonshared.a, and empty libdl.a and librt.a
# stage/usr/include               its headers (they include the kernel's from kernel-headers/)
#
# cmake -DTARBALL=... -DCONFIG=... -DWORK=... -DCROSS=mipsel-linux-gnu- -DKERNEL_INCLUDE=...
#       -DHELPERS=libgcc-mips32r1.a -DLIBGCC=libgcc.a -DSTAMP=... -P build.cmake
#
# Each run starts from a fresh copy of the source, so a changed input never
# meets objects built from an older one; the build tree keeps the result.

cmake_policy(VERSION 3.25)

foreach(input TARBALL CONFIG WORK CROSS KERNEL_INCLUDE HELPERS LIBGCC STAMP)
  if(NOT DEFINED ${input})
    message(FATAL_ERROR "uclibc/build.cmake needs -D${input}=...")
  endif()
endforeach()

set(source ${WORK}/src)
set(stage ${WORK}/stage)
set(headers ${WORK}/kernel-headers)
set(log ${WORK}/build.log)
file(REMOVE_RECURSE ${source} ${stage} ${headers} ${STAMP})
file(MAKE_DIRECTORY ${source} ${stage}/lib ${stage}/usr/lib ${headers})
file(WRITE ${log} "")

file(ARCHIVE_EXTRACT INPUT ${TARBALL} DESTINATION ${source})
file(GLOB tree LIST_DIRECTORIES true ${source}/uClibc-ng-*)
list(LENGTH tree count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "${TARBALL} does not hold one uClibc-ng-* folder")
endif()

# The library's soname is libc.so.0 and its loader ld-uClibc.so.0, as on the
# receiver (ABI_VERSION=0 below). The compatibility link that the loader's
# makefile adds for ld-uClibc.so.0 would then point at itself.
set(makefile ${tree}/ldso/ldso/Makefile.in)
file(READ ${makefile} text)
set(compat_link
  "	# link for backward compatibility\n	(cd $(top_builddir)lib; ln -sf $(UCLIBC_LDSO_NAME).so.$(ABI_VERSION) $(UCLIBC_LDSO_NAME).so.0 )\n")
string(FIND "${text}" "${compat_link}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${makefile} no longer makes the compatibility link this build removes")
endif()
string(REPLACE "${compat_link}" "" text "${text}")
file(WRITE ${makefile} "${text}")

# Only the kernel's headers from the cross tree: its C library's must never be found.
foreach(dir linux asm asm-generic)
  file(CREATE_LINK ${KERNEL_INCLUDE}/${dir} ${headers}/${dir} SYMBOLIC)
endforeach()

function(run_make what)
  execute_process(
    COMMAND make -C ${tree} CROSS_COMPILE=${CROSS} KERNEL_HEADERS=${headers} ABI_VERSION=0
            "LIBGCC=${HELPERS} ${LIBGCC}" UCLIBC_EXTRA_LDFLAGS=-Wl,--hash-style=sysv ${ARGN}
    OUTPUT_FILE ${log}.part ERROR_FILE ${log}.part
    RESULT_VARIABLE failed)
  file(READ ${log}.part output)
  file(APPEND ${log} "${output}")
  if(failed)
    string(REGEX MATCH "([^\n]*\n){0,30}$" tail "${output}")
    message(FATAL_ERROR "uClibc-ng: ${what} failed (${log}):\n${tail}")
  endif()
endfunction()

configure_file(${CONFIG} ${tree}/.config COPYONLY)
run_make("configuring" olddefconfig)

# Every option the checked-in configuration names must have survived
# olddefconfig; one whose dependencies are unmet would be dropped silently.
file(STRINGS ${CONFIG} wanted REGEX "^([A-Z0-9_]+=|# [A-Z0-9_]+ is not set)")
file(STRINGS ${tree}/.config actual)
foreach(line IN LISTS wanted)
  if(line MATCHES "^# ([A-Z0-9_]+) is not set$")
    set(set_anyway ${actual})
    list(FILTER set_anyway INCLUDE REGEX "^${CMAKE_MATCH_1}=")
    if(set_anyway)
      message(FATAL_ERROR "uClibc-ng's configuration has ${set_anyway}, ${CONFIG} says \"${line}\"")
    endif()
  elseif(NOT line IN_LIST actual)
    message(FATAL_ERROR "uClibc-ng's configuration lost \"${line}\" from ${CONFIG}")
  endif()
endforeach()

run_make("building" -j2)
run_make("installing the headers" install_headers PREFIX=${stage} DEVEL_PREFIX=/usr/ RUNTIME_PREFIX=/)

file(GLOB loader ${tree}/lib/ld-uClibc-*.so)
file(GLOB library ${tree}/lib/libuClibc-*.so)
file(COPY_FILE ${loader} ${stage}/lib/ld-uClibc.so.0)
file(COPY_FILE ${library} ${stage}/lib/libc.so.0)
foreach(file crt1.o crti.o crtn.o uclibc_nonshared.a)
  file(COPY_FILE ${tree}/lib/${file} ${stage}/usr/lib/${file})
endforeach()
# libdl and librt live inside libc.so.0 in this version: empty archives let a
# link that asks for -ldl or -lrt (CMAKE_DL_LIBS does) find them here.
foreach(name dl rt)
  file(WRITE ${stage}/usr/lib/lib${name}.a "!<arch>\n")
endforeach()
file(TOUCH ${STAMP})
