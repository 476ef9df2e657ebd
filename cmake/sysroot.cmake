# The folder qemu-mipsel is given with -L for the MIPS run: exactly what the
# receiver's loader and a module look up by absolute path. Included by the
# receiver build; also run as a script to (re)make it.
#
# sysroot/lib/ld-uClibc.so.0     the loader            } the receiver build's
# sysroot/lib/libc.so.0          the C library         } uClibc-ng
# sysroot/lib/libdl.so.0         -> libc.so.0 (uClibc-ng 1.0.35 keeps libdl inside libc)
# sysroot/tapapi/TMS/libtap.so   the mipsel libtap
# sysroot/etc/ld.so.cache        empty: this loader reads no cache, and no other
#                                reader under qemu gets the PC's

if(CMAKE_SCRIPT_MODE_FILE)
  # cmake -DSYSROOT=... -DLIBTAP=... -DLOADER=... -DLIBC=... -P sysroot.cmake
  file(REMOVE_RECURSE ${SYSROOT})
  file(MAKE_DIRECTORY ${SYSROOT}/lib ${SYSROOT}/etc ${SYSROOT}/tapapi/TMS)
  foreach(file LOADER LIBC LIBTAP)
    if(NOT EXISTS ${${file}})
      message(FATAL_ERROR "the sysroot needs ${${file}}, which is missing")
    endif()
  endforeach()
  file(CREATE_LINK ${LOADER} ${SYSROOT}/lib/ld-uClibc.so.0 SYMBOLIC)
  file(CREATE_LINK ${LIBC} ${SYSROOT}/lib/libc.so.0 SYMBOLIC)
  # The same file under the second name: the loader sees an inode it has
  # already loaded and does not load a second C library.
  file(CREATE_LINK libc.so.0 ${SYSROOT}/lib/libdl.so.0 SYMBOLIC)
  file(CREATE_LINK ${LIBTAP} ${SYSROOT}/tapapi/TMS/libtap.so SYMBOLIC)
  file(TOUCH ${SYSROOT}/etc/ld.so.cache)
  return()
endif()

set(QUARNEL_SYSROOT ${CMAKE_BINARY_DIR}/sysroot)
add_custom_command(
  OUTPUT ${QUARNEL_SYSROOT}/etc/ld.so.cache
  COMMAND ${CMAKE_COMMAND} -DSYSROOT=${QUARNEL_SYSROOT} -DLIBTAP=$<TARGET_FILE:tap>
          -DLOADER=${QUARNEL_UCLIBC_LOADER} -DLIBC=${QUARNEL_UCLIBC_LIBC} -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS ${CMAKE_CURRENT_LIST_FILE} ${QUARNEL_UCLIBC_LOADER} ${QUARNEL_UCLIBC_LIBC} tap
  COMMENT "Making the sysroot for qemu-mipsel"
  VERBATIM)
add_custom_target(sysroot ALL DEPENDS ${QUARNEL_SYSROOT}/etc/ld.so.cache)
