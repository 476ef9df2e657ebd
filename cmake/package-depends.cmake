# Run by cpack once the files are staged (CPACK_PRE_BUILD_SCRIPTS): the package
# depends on what its PC programs and libraries load, as dpkg-shlibdeps reads
# it from the staged files, and on qemu-user for the receiver's build. The
# mipsel files are left out: their libraries are in the package (the sysroot).
set(staged ${CPACK_TEMPORARY_DIRECTORY})
file(GLOB_RECURSE files LIST_DIRECTORIES false ${staged}/*)
list(SORT files)
set(pc_files)
foreach(file IN LISTS files)
  if(IS_SYMLINK ${file})
    continue()
  endif()
  # An ELF file's class is byte 4 (2: 64-bit) and its machine bytes 18-19 (0x3e: x86-64).
  file(READ ${file} header LIMIT 20 HEX)
  if(header MATCHES "^7f454c4602.*3e00$")
    list(APPEND pc_files ${file})
  endif()
endforeach()
if(NOT pc_files)
  message(FATAL_ERROR "no PC program in ${staged}: nothing to read dependencies from")
endif()

# dpkg-shlibdeps wants to be run where a debian/control is.
set(work ${CPACK_TOPLEVEL_DIRECTORY}/shlibdeps)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work}/debian)
file(TOUCH ${work}/debian/control)
execute_process(
  COMMAND dpkg-shlibdeps -O -l${staged}${CPACK_QUARNEL_BOARDDIR} ${pc_files}
  WORKING_DIRECTORY ${work}
  OUTPUT_VARIABLE found ERROR_VARIABLE complaints RESULT_VARIABLE failed)
if(failed OR NOT found MATCHES "shlibs:Depends=([^\n]+)")
  message(FATAL_ERROR "dpkg-shlibdeps could not read the package's dependencies:\n${complaints}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}, qemu-user")
# Libraries loaded by name only when needed (Capstone), which no staged file links.
foreach(library IN LISTS CPACK_QUARNEL_LOADED_BY_NAME)
  execute_process(COMMAND dpkg-query -S ${library} OUTPUT_VARIABLE owner RESULT_VARIABLE failed ERROR_QUIET)
  if(failed OR NOT owner MATCHES "^([^:, ]+)")
    message(FATAL_ERROR "no Debian package holds ${library}, which the programs load by name")
  endif()
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${CMAKE_MATCH_1}")
endforeach()
message(STATUS "Depends: ${CPACK_DEBIAN_PACKAGE_DEPENDS}")
