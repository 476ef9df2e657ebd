# How the module and its library are compiled: C-style C++ with nothing from
# the C++ run time, so the same sources load on the receiver and on the PC.
set(QUARNEL_MODULE_COMPILE_OPTIONS
  -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
  -fno-threadsafe-statics -fno-stack-protector -fno-builtin -fPIC)

if(CMAKE_SYSTEM_PROCESSOR MATCHES "mips")
  set(QUARNEL_RECEIVER ON)
  list(APPEND QUARNEL_MODULE_COMPILE_OPTIONS -march=mips32 -mabi=32 -EL -ffreestanding)
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

function(quarnel_module_sources target)
  target_compile_options(${target} PRIVATE ${QUARNEL_MODULE_COMPILE_OPTIONS})
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# A shared object with the receiver library's soname that defines only the calls
# a module may make. It exists to be linked against and is never loaded.
function(quarnel_receiver_standin target soname source)
  add_library(${target} SHARED ${source})
  target_compile_options(${target} PRIVATE -ffreestanding -fno-builtin)
  target_link_options(${target} PRIVATE -nostdlib -Wl,-soname,${soname})
  set_target_properties(${target} PROPERTIES
    NO_SONAME ON
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/link-standins
    EXCLUDE_FROM_ALL ON)
endfunction()

# Links a module. On the receiver the needed libraries are exactly the platform
# library, the loader and the C library, in that order; -z defs turns any other
# dependency (helper routines of the compiler, the C++ run time) into a link error.
function(quarnel_link_module target)
  # Linked by the C++ driver, CMake adds no run-time libraries of its own; -nostdlib
  # keeps the driver from adding them.
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".tap" LINKER_LANGUAGE CXX)
  target_link_options(${target} PRIVATE -nostdlib)
  if(QUARNEL_RECEIVER)
    if(NOT TARGET quarnel_standin_dl)
      quarnel_receiver_standin(quarnel_standin_dl libdl.so.0 ${PROJECT_SOURCE_DIR}/cmake/standins/libdl.c)
      quarnel_receiver_standin(quarnel_standin_c libc.so.0 ${PROJECT_SOURCE_DIR}/cmake/standins/libc.c)
    endif()
    # The classic symbol hash table is the one every loader reads.
    target_link_options(${target} PRIVATE
      -Wl,--no-as-needed -Wl,-z,defs -Wl,--hash-style=sysv)
    target_link_libraries(${target} PRIVATE tap quarnel_standin_dl quarnel_standin_c)
    # No search path into the build tree: the stand-ins must never be found at run time.
    set_target_properties(${target} PROPERTIES NO_SONAME ON SKIP_BUILD_RPATH ON)
  else()
    target_link_libraries(${target} PRIVATE tap c)
  endif()
endfunction()

# The receiver gets a module without its symbol table, procedure descriptors
# and debug information: they stay beside it in <module>.debug, which the
# module names in .gnu_debuglink for debuggers and crash reports. The records,
# the dynamic symbols and everything the loader reads are kept.
function(quarnel_split_debug target)
  set(module $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${module} ${module}.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --remove-section=.pdr --remove-section=.comment ${module}
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=${module}.debug ${module}
    COMMENT "Stripping ${target}; its debug information goes beside it, in a .debug file"
    VERBATIM)
  set_property(TARGET ${target} APPEND PROPERTY ADDITIONAL_CLEAN_FILES ${module}.debug)
endfunction()
