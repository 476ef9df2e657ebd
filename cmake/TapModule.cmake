# The kit for module authors: how a module is compiled, linked, stripped and
# checked for the receiver, and screen tests against golden checksums. Quarnel
# is built with it (cmake/module.cmake says where its pieces are in this tree);
# authors get it from find_package(TapModule) (TapModuleConfig.cmake says where
# they are installed). Either one sets, before this file is included:
#
#   TAP_MODULE_FRAME_DIR     tap.h, firmware.h and tapinit.cpp (records and start-up entry)
#   TAP_MODULE_LIBRARY_DIR   taplib.h, the support library's header
#   TAP_MODULE_SUPPORT       the support library's objects (files or $<TARGET_OBJECTS:...>)
#   TAP_MODULE_LIBTAP        the platform library to link against (file or target)
#   TAP_MODULE_STANDINS      the receiver's loader library (a link-time stand-in) and C library
#   TAP_MODULE_TAPCHECK      tapcheck and mipsisa, when this build can run them (else empty)
#   TAP_MODULE_MIPSISA
#   TAP_MODULE_TAPSIM        tapsim and tapsim-screendiff, for screen tests
#   TAP_MODULE_SCREENDIFF
#   TAP_MODULE_UCLIBC        the receiver's C library for programs (include/, lib/ and the
#   TAP_MODULE_UCLIBC_HELPERS  compiler helpers for MIPS32 release 1), when installed
include_guard(GLOBAL)
set(TAP_MODULE_KIT_DIR ${CMAKE_CURRENT_LIST_DIR})

# What the build targets is known once project() has chosen the compilers, and
# an author's find_package may come before it: each function asks again.
macro(_tap_module_target)
  # C-style C++ with nothing from the C++ run time, so the same sources load on
  # the receiver and on the PC.
  set(TAP_MODULE_COMPILE_OPTIONS
    -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
    -fno-threadsafe-statics -fno-stack-protector -fno-builtin -fPIC)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "mips")
    set(TAP_MODULE_RECEIVER ON)
    list(APPEND TAP_MODULE_COMPILE_OPTIONS ${TAP_RECEIVER_COMPILE_OPTIONS} -ffreestanding)
  else()
    set(TAP_MODULE_RECEIVER OFF)
  endif()
  if(COMMAND _tap_module_installed)
    _tap_module_installed()
  endif()
endmacro()
_tap_module_target()

function(tap_module_compile target)
  _tap_module_target()
  target_compile_options(${target} PRIVATE ${TAP_MODULE_COMPILE_OPTIONS})
  target_include_directories(${target} PRIVATE ${TAP_MODULE_FRAME_DIR} ${TAP_MODULE_LIBRARY_DIR})
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# On the receiver the needed libraries are exactly the platform library, the
# loader and the C library, in that order; -z defs turns any other dependency
# (helper routines of the compiler, the C++ run time) into a link error.
function(tap_module_link target)
  _tap_module_target()
  # Linked by the C++ driver, CMake adds no run-time libraries of its own; -nostdlib
  # keeps the driver from adding them.
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".tap" LINKER_LANGUAGE CXX)
  target_link_options(${target} PRIVATE -nostdlib)
  if(TAP_MODULE_RECEIVER)
    target_link_options(${target} PRIVATE -Wl,--no-as-needed -Wl,-z,defs ${TAP_RECEIVER_LINK_OPTIONS})
    target_link_libraries(${target} PRIVATE ${TAP_MODULE_LIBTAP} ${TAP_MODULE_STANDINS})
    # No search path: the stand-ins must never be found at run time.
    set_target_properties(${target} PROPERTIES NO_SONAME ON SKIP_BUILD_RPATH ON)
  else()
    target_link_libraries(${target} PRIVATE ${TAP_MODULE_LIBTAP} c)
  endif()
endfunction()

# The receiver gets a module without its symbol table, procedure descriptors
# and debug information: they stay beside it in <module>.debug, which the
# module names in .gnu_debuglink for debuggers and crash reports. The records,
# the dynamic symbols and everything the loader reads are kept.
function(tap_module_split_debug target)
  set(module $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${module} ${module}.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --remove-section=.pdr --remove-section=.comment ${module}
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=${module}.debug ${module}
    COMMENT "Stripping ${target}; its debug information goes beside it, in a .debug file"
    VERBATIM)
  set_property(TARGET ${target} APPEND PROPERTY ADDITIONAL_CLEAN_FILES ${module}.debug)
endfunction()

function(_tap_module_c_string out value limit what)
  string(LENGTH "${value}" length)
  if(length GREATER_EQUAL limit)
    message(FATAL_ERROR "add_tap_module: ${what} \"${value}\" has ${length} bytes; "
      "the record holds at most ${limit} with the terminator")
  endif()
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  set(${out} "\"${value}\"" PARENT_SCOPE)
endfunction()

# tap_module_records(<target> PROGRAM_NAME .. VERSION .. AUTHOR .. DESCRIPTION .. ID ..):
# an object library with the identification records and the start-up entry.
function(tap_module_records target)
  _tap_module_target()
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "PROGRAM_NAME;VERSION;AUTHOR;DESCRIPTION;ID" "")
  _tap_module_c_string(name "${arg_PROGRAM_NAME}" 64 PROGRAM_NAME)
  _tap_module_c_string(version "${arg_VERSION}" 64 VERSION)
  _tap_module_c_string(author "${arg_AUTHOR}" 64 AUTHOR)
  _tap_module_c_string(description "${arg_DESCRIPTION}" 128 DESCRIPTION)
  if(NOT arg_ID MATCHES "^0[xX][0-9a-fA-F]+$")
    message(FATAL_ERROR "add_tap_module: ID \"${arg_ID}\" is not a hexadecimal number such as 0x81C4D2A7")
  endif()
  add_library(${target} OBJECT ${TAP_MODULE_FRAME_DIR}/tapinit.cpp)
  tap_module_compile(${target})
  # The records stay in the order they are written, so every build lays them out alike.
  target_compile_options(${target} PRIVATE -fno-toplevel-reorder)
  target_compile_definitions(${target} PRIVATE TAP_PROGRAM_NAME=${name} TAP_PROGRAM_VERSION=${version}
    TAP_AUTHOR_NAME=${author} TAP_DESCRIPTION=${description} TAP_ID=${arg_ID}u)
endfunction()

# add_tap_module(<name> SOURCES <file>... PROGRAM_NAME <text> VERSION <text>
#                AUTHOR <text> DESCRIPTION <text> [ID <0x...>] [WITH_SUPPORT_LIBRARY])
# <name>.tap: the module with its records and start-up entry. For the receiver
# it is stripped, <name>.tap.debug lies beside it, and the build fails with
# tapcheck's words when the receiver would not load it.
function(add_tap_module name)
  _tap_module_target()
  cmake_parse_arguments(PARSE_ARGV 1 arg "WITH_SUPPORT_LIBRARY"
    "PROGRAM_NAME;VERSION;AUTHOR;DESCRIPTION;ID" "SOURCES")
  foreach(needed SOURCES PROGRAM_NAME VERSION AUTHOR DESCRIPTION)
    if(NOT DEFINED arg_${needed})
      message(FATAL_ERROR "add_tap_module(${name}): ${needed} is missing")
    endif()
  endforeach()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "add_tap_module(${name}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT DEFINED arg_ID)
    # A module without an ID of its own gets one from its name, the same in every build.
    string(SHA256 digest "${arg_PROGRAM_NAME}")
    string(SUBSTRING ${digest} 0 8 digest)
    set(arg_ID 0x${digest})
  endif()
  tap_module_records(${name}_records PROGRAM_NAME ${arg_PROGRAM_NAME} VERSION ${arg_VERSION}
    AUTHOR ${arg_AUTHOR} DESCRIPTION ${arg_DESCRIPTION} ID ${arg_ID})
  set(support)
  if(arg_WITH_SUPPORT_LIBRARY)
    # The whole library, in its own order: a new call never moves the rest of the module.
    set(support ${TAP_MODULE_SUPPORT})
  endif()
  add_library(${name} SHARED ${arg_SOURCES} $<TARGET_OBJECTS:${name}_records> ${support})
  tap_module_compile(${name})
  tap_module_link(${name})
  if(NOT TAP_MODULE_RECEIVER)
    return()
  endif()
  # The instruction check runs before stripping, so that it can name functions;
  # tapcheck then checks the file as the receiver gets it.
  if(TAP_MODULE_MIPSISA)
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND ${TAP_MODULE_MIPSISA} $<TARGET_FILE:${name}>
      COMMENT "Checking that the receiver's processor runs every instruction of ${name}.tap"
      VERBATIM)
  endif()
  tap_module_split_debug(${name})
  if(TAP_MODULE_TAPCHECK)
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND ${TAP_MODULE_TAPCHECK} --quiet $<TARGET_FILE:${name}>
      COMMENT "Checking that the receiver loads ${name}.tap"
      VERBATIM)
  endif()
endfunction()

# tap_add_screen_test(<name> MODULE <target> KEYS <script> GOLDEN <file> [MODEL <id>]
#                     [OPTIONS <tapsim option>...])
# Runs the module headless through the keys and compares every synced screen
# with the golden checksums; the reference pictures lie beside them in
# <golden>.screens/. TAP_UPDATE_GOLDEN=1 ctest rewrites both.
function(tap_add_screen_test name)
  _tap_module_target()
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "MODULE;KEYS;GOLDEN;MODEL" "OPTIONS")
  foreach(needed MODULE KEYS GOLDEN)
    if(NOT DEFINED arg_${needed})
      message(FATAL_ERROR "tap_add_screen_test(${name}): ${needed} is missing")
    endif()
  endforeach()
  if(DEFINED arg_MODEL)
    list(APPEND arg_OPTIONS --model ${arg_MODEL})
  endif()
  string(REPLACE ";" "|" options "${arg_OPTIONS}")
  get_filename_component(golden ${arg_GOLDEN} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -DTAPSIM=${TAP_MODULE_TAPSIM} -DSCREENDIFF=${TAP_MODULE_SCREENDIFF}
            -DMODULE=$<TARGET_FILE:${arg_MODULE}> -DKEYS=${arg_KEYS} -DGOLDEN=${golden}
            -DOPTIONS=${options} -DOUT=${CMAKE_CURRENT_BINARY_DIR}/${name}
            -P ${TAP_MODULE_KIT_DIR}/tap-screen-test.cmake)
endfunction()

# tap_receiver_program(<target>): in the receiver build, makes the executable
# <target> (C, or C-style C++) run on the receiver's C library and processor,
# so that add_test runs it under qemu-mipsel through CMAKE_CROSSCOMPILING_EMULATOR.
# Call it after the target's own target_link_libraries. In the PC build it
# does nothing.
function(tap_receiver_program target)
  _tap_module_target()
  if(NOT TAP_MODULE_RECEIVER)
    return()
  endif()
  if(NOT TAP_MODULE_UCLIBC)
    message(FATAL_ERROR "tap_receiver_program(${target}): this kit has no receiver C library for programs")
  endif()
  set(uclibc ${TAP_MODULE_UCLIBC})
  set(kit ${CMAKE_BINARY_DIR}/tap-receiver-program)
  # The kernel's headers sit beside the cross glibc's; only they are taken from there.
  foreach(folder asm asm-generic linux)
    if(NOT EXISTS ${kit}/kernel-headers/${folder})
      file(MAKE_DIRECTORY ${kit}/kernel-headers)
      file(CREATE_LINK ${CMAKE_FIND_ROOT_PATH}/include/${folder} ${kit}/kernel-headers/${folder} SYMBOLIC)
    endif()
  endforeach()
  # Even with -nostdlib the driver hands the linker the cross glibc's folders;
  # this specs file drops them, so a -lm cannot quietly find glibc's.
  file(WRITE ${kit}/link.specs "*link_libgcc:\n%{!nostdlib:%D}\n\n")
  execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=include
                  OUTPUT_VARIABLE compiler_include OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=libgcc.a
                  OUTPUT_VARIABLE compiler_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(lib ${uclibc}/usr/lib)
  set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C SKIP_BUILD_RPATH ON
    LINK_DEPENDS "${lib}/crt1.o;${lib}/crti.o")
  target_compile_options(${target} PRIVATE -nostdinc ${TAP_RECEIVER_COMPILE_OPTIONS}
    "SHELL:-isystem ${compiler_include}" "SHELL:-isystem ${uclibc}/usr/include"
    "SHELL:-isystem ${kit}/kernel-headers")
  target_link_options(${target} PRIVATE -specs=${kit}/link.specs -nostdlib -Wl,-nostdlib -L${lib}
    -no-pie ${TAP_RECEIVER_COMPILE_OPTIONS} -rdynamic ${TAP_RECEIVER_LINK_OPTIONS}
    -Wl,-dynamic-linker,/lib/ld-uClibc.so.0 -Wl,-rpath-link,${TAP_RECEIVER_SYSROOT}/lib
    ${lib}/crt1.o ${lib}/crti.o)
  # By its path, as a file CMake will not turn into -lc.
  target_link_libraries(${target} PRIVATE -Wl,${TAP_RECEIVER_SYSROOT}/lib/libc.so.0 ${lib}/uclibc_nonshared.a
    ${TAP_MODULE_UCLIBC_HELPERS} ${compiler_libgcc} ${lib}/crtn.o)
endfunction()
