# The folder qemu-mipsel is given with -L to run the mipsel simulator: the
# receiver's library paths resolve to the simulator's libtap and the cross C
# library. Included by the cross build; also run as a script to (re)make it.
#
# sysroot/tapapi/TMS/libtap.so   the mipsel libtap
# sysroot/lib/*                  the cross loader and run-time libraries
# sysroot/lib/libc.so.0          the cross libc.so.6, found by file identity
# sysroot/lib/libdl.so.0         the cross libdl.so.2
# sysroot/etc/ld.so.cache        empty, so the PC's cache is never read

set(QUARNEL_SYSROOT_LIBRARIES
  ld.so.1 libc.so.6 libdl.so.2 libm.so.6 libpthread.so.0 librt.so.1 libstdc++.so.6 libgcc_s.so.1)

if(CMAKE_SCRIPT_MODE_FILE)
  # cmake -DSYSROOT=... -DLIBTAP=... -DCROSS_LIB=... -P sysroot.cmake
  file(REMOVE_RECURSE ${SYSROOT})
  file(MAKE_DIRECTORY ${SYSROOT}/lib ${SYSROOT}/etc ${SYSROOT}/tapapi/TMS)
  foreach(library IN LISTS QUARNEL_SYSROOT_LIBRARIES)
    if(NOT EXISTS ${CROSS_LIB}/${library})
      message(FATAL_ERROR "the cross C library has no ${CROSS_LIB}/${library}")
    endif()
    file(CREATE_LINK ${CROSS_LIB}/${library} ${SYSROOT}/lib/${library} SYMBOLIC)
  endforeach()
  # The receiver's names for the same files; the loader sees the inode it has
  # already loaded and reuses that object rather than loading a second libc.
  file(CREATE_LINK ${CROSS_LIB}/libc.so.6 ${SYSROOT}/lib/libc.so.0 SYMBOLIC)
  file(CREATE_LINK ${CROSS_LIB}/libdl.so.2 ${SYSROOT}/lib/libdl.so.0 SYMBOLIC)
  file(CREATE_LINK ${LIBTAP} ${SYSROOT}/tapapi/TMS/libtap.so SYMBOLIC)
  file(TOUCH ${SYSROOT}/etc/ld.so.cache)
  return()
endif()

# Where the cross compiler's C library lives (/usr/mipsel-linux-gnu/lib on Debian).
execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=libc.so.6
                OUTPUT_VARIABLE quarnel_cross_libc OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT IS_ABSOLUTE "${quarnel_cross_libc}" OR NOT EXISTS "${quarnel_cross_libc}")
  message(FATAL_ERROR "cannot find the cross C library (${CMAKE_C_COMPILER} -print-file-name=libc.so.6)")
endif()
file(REAL_PATH ${quarnel_cross_libc} quarnel_cross_libc)
get_filename_component(QUARNEL_CROSS_LIB ${quarnel_cross_libc} DIRECTORY)

set(QUARNEL_SYSROOT ${CMAKE_BINARY_DIR}/sysroot)
add_custom_command(
  OUTPUT ${QUARNEL_SYSROOT}/etc/ld.so.cache
  COMMAND ${CMAKE_COMMAND} -DSYSROOT=${QUARNEL_SYSROOT} -DLIBTAP=$<TARGET_FILE:tap>
          -DCROSS_LIB=${QUARNEL_CROSS_LIB} -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Making the sysroot for qemu-mipsel"
  VERBATIM)
add_custom_target(sysroot ALL DEPENDS ${QUARNEL_SYSROOT}/etc/ld.so.cache)
