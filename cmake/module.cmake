# Quarnel is built with the kit it installs (cmake/TapModule.cmake), like any
# author's module; this file says where the kit's pieces are in this tree.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "mips")
  set(QUARNEL_RECEIVER ON)
  # Debug information names files relative to the source and build folders, so
  # that two checkouts, or two build folders, give byte-identical files. The
  # build folder's map comes last because the last match wins, and the default
  # build folder lies inside the source folder.
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/= -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)
else()
  set(QUARNEL_RECEIVER OFF)
endif()

# Where the receiver's platform library lives; the module names it by this path.
set(QUARNEL_RECEIVER_LIBTAP_SONAME /tapapi/TMS/libtap.so)

# A shared object with the receiver loader library's soname that defines its
# calls. It exists to be linked against and is never loaded: this build's C
# library holds the loader's calls too, under its own soname.
function(quarnel_receiver_standin target soname source)
  add_library(${target} SHARED ${source})
  target_compile_options(${target} PRIVATE -ffreestanding -fno-builtin)
  target_link_options(${target} PRIVATE -nostdlib -Wl,-soname,${soname})
  set_target_properties(${target} PROPERTIES
    NO_SONAME ON
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/link-standins)
endfunction()

set(TAP_MODULE_FRAME_DIR ${PROJECT_SOURCE_DIR}/frame)
set(TAP_MODULE_LIBRARY_DIR ${PROJECT_SOURCE_DIR}/lib)
set(TAP_MODULE_SUPPORT $<TARGET_OBJECTS:taplib>)
set(TAP_MODULE_LIBTAP tap)
if(QUARNEL_RECEIVER)
  quarnel_receiver_standin(quarnel_standin_dl libdl.so.0 ${PROJECT_SOURCE_DIR}/cmake/standins/libdl.c)
  # The C library is the receiver build's own uClibc-ng (cmake/uclibc.cmake).
  set(TAP_MODULE_STANDINS quarnel_standin_dl quarnel_receiver_c)
else()
  # The PC build's tests check the receiver's file with tapcheck; its build cannot run it.
  set(TAP_MODULE_TAPSIM $<TARGET_FILE:tapsim>)
  set(TAP_MODULE_SCREENDIFF $<TARGET_FILE:tapsim-screendiff>)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/TapModule.cmake)
