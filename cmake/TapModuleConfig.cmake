# find_package(TapModule): the kit for writing modules, as installed with
# tapsim. Call it before project(); with -DTAP_BUILD=receiver it gives the
# build the receiver's toolchain (receiver-toolchain.cmake), otherwise the
# build is for the PC. Then add_tap_module() and tap_add_screen_test()
# (TapModule.cmake) make modules and their tests.
get_filename_component(_tap_prefix ${CMAKE_CURRENT_LIST_DIR}/../../.. ABSOLUTE)
set(_tap_kit ${_tap_prefix}/lib/quarnel/kit)

if(TAP_BUILD STREQUAL "receiver" AND NOT CMAKE_TOOLCHAIN_FILE)
  set(CMAKE_TOOLCHAIN_FILE ${CMAKE_CURRENT_LIST_DIR}/receiver-toolchain.cmake)
elseif(DEFINED TAP_BUILD AND NOT TAP_BUILD MATCHES "^(receiver|pc)$")
  message(FATAL_ERROR "TAP_BUILD is \"${TAP_BUILD}\"; it is receiver or pc")
endif()

set(TAP_MODULE_FRAME_DIR ${_tap_prefix}/share/quarnel/kit/frame)
set(TAP_MODULE_LIBRARY_DIR ${_tap_prefix}/share/quarnel/kit/lib)
set(TAP_MODULE_TAPSIM ${_tap_prefix}/bin/tapsim)
set(TAP_MODULE_SCREENDIFF ${_tap_prefix}/bin/tapsim-screendiff)

# The pieces that differ between the two builds, chosen once project() has
# said which one this is.
macro(_tap_module_installed)
  if(TAP_MODULE_RECEIVER)
    set(_tap_build receiver)
    set(TAP_MODULE_LIBTAP ${_tap_prefix}/libexec/quarnel/mipsel/sysroot/tapapi/TMS/libtap.so)
    set(_tap_receiver_lib ${_tap_prefix}/libexec/quarnel/mipsel/sysroot/lib)
    # The loader's stand-in, then the receiver's own C library: the link refuses what it lacks.
    set(TAP_MODULE_STANDINS ${_tap_kit}/receiver/link-standins/libdl.so.0
                            ${_tap_receiver_lib}/libc.so.0 -Wl,-rpath-link,${_tap_receiver_lib})
    set(TAP_MODULE_TAPCHECK ${_tap_prefix}/bin/tapcheck)
    set(TAP_MODULE_MIPSISA ${_tap_prefix}/bin/mipsisa)
    set(TAP_MODULE_UCLIBC ${_tap_kit}/receiver/uclibc)
    set(TAP_MODULE_UCLIBC_HELPERS ${_tap_kit}/receiver/uclibc/libgcc-mips32r1.a)
  else()
    set(_tap_build pc)
    set(TAP_MODULE_LIBTAP ${_tap_prefix}/libexec/quarnel/libtap.so)
    set(TAP_MODULE_STANDINS)
    set(TAP_MODULE_TAPCHECK)
    set(TAP_MODULE_MIPSISA)
  endif()
  file(GLOB TAP_MODULE_SUPPORT ${_tap_kit}/${_tap_build}/support/*.o)
  list(SORT TAP_MODULE_SUPPORT)
endmacro()

include(${CMAKE_CURRENT_LIST_DIR}/TapModule.cmake)
