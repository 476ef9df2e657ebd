# Run by cmake --install (see install.cmake): copies the receiver build's part of
# the installation, its mipsel board and sysroot, and the receiver's Quarnel.tap
# with its debug file, and the kit's receiver part: the support library's
# objects, the loader library's link-time stand-in, named by its soname, and
# the C library's headers and start files for test programs.
#
# The build's sysroot links to the files it names (the cross C library, libtap);
# the installation holds the files themselves. Names that are one file in the
# build stay one file, the others linking to it: the loader tells libraries
# apart by inode, and two copies of the C library would both be loaded.

set(build ${quarnel_receiver_build})
foreach(part sim/tapsim-board sysroot/etc/ld.so.cache sysroot/tapapi/TMS/libtap.so
             app/Quarnel.tap app/Quarnel.tap.debug kit/support/.copied
             link-standins/libquarnel_standin_dl.so
             uclibc/stage/usr/include/stdio.h uclibc/stage/usr/lib/crt1.o uclibc/libquarnel_libgcc_mips32r1.a)
  if(NOT EXISTS ${build}/${part})
    message(FATAL_ERROR "cannot install the receiver's part: ${build} has no ${part} "
      "(build the receiver preset first: cmake --preset receiver && cmake --build --preset receiver; "
      "or configure with -DQUARNEL_MIPSEL_DIR=<receiver build>, or -DQUARNEL_INSTALL_RECEIVER=OFF to leave it out)")
  endif()
endforeach()

function(quarnel_destination out dir)
  if(IS_ABSOLUTE ${dir})
    set(${out} ${dir} PARENT_SCOPE)
  else()
    set(${out} ${CMAKE_INSTALL_PREFIX}/${dir} PARENT_SCOPE)
  endif()
endfunction()

# Names a link inside the sysroot points to: the one that holds the file when
# the build names it by several.
function(quarnel_is_alias out sysroot name)
  set(${out} FALSE PARENT_SCOPE)
  if(IS_SYMLINK ${sysroot}/${name})
    file(READ_SYMLINK ${sysroot}/${name} target)
    if(NOT IS_ABSOLUTE ${target})
      set(${out} TRUE PARENT_SCOPE)
    endif()
  endif()
endfunction()

quarnel_destination(boards ${quarnel_receiver_boards})
quarnel_destination(module ${quarnel_receiver_module})
quarnel_destination(kit ${quarnel_receiver_kit})
file(INSTALL ${build}/sim/tapsim-board DESTINATION ${boards}/sim USE_SOURCE_PERMISSIONS)
file(INSTALL ${build}/app/Quarnel.tap ${build}/app/Quarnel.tap.debug DESTINATION ${module}
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(GLOB support_objects ${build}/kit/support/*.o)
file(INSTALL ${support_objects} DESTINATION ${kit}/support)
# The C library a module links against is the sysroot's, installed below.
file(INSTALL ${build}/link-standins/libquarnel_standin_dl.so DESTINATION ${kit}/link-standins RENAME libdl.so.0)
# The C library's headers and start files, for programs the kit links against it.
file(INSTALL ${build}/uclibc/stage/usr/include DESTINATION ${kit}/uclibc/usr)
foreach(file crt1.o crti.o crtn.o uclibc_nonshared.a)
  file(INSTALL ${build}/uclibc/stage/usr/lib/${file} DESTINATION ${kit}/uclibc/usr/lib)
endforeach()
file(INSTALL ${build}/uclibc/libquarnel_libgcc_mips32r1.a DESTINATION ${kit}/uclibc RENAME libgcc-mips32r1.a)

set(sysroot ${build}/sysroot)
file(GLOB_RECURSE names LIST_DIRECTORIES false RELATIVE ${sysroot} ${sysroot}/*)
list(SORT names)
# First pass: which name holds each file.
foreach(name IN LISTS names)
  file(REAL_PATH ${sysroot}/${name} real)
  string(MD5 file_key ${real})
  quarnel_is_alias(alias ${sysroot} ${name})
  if(NOT DEFINED holder_${file_key} OR (holder_alias_${file_key} AND NOT alias))
    set(holder_${file_key} ${name})
    set(holder_alias_${file_key} ${alias})
  endif()
endforeach()
# Second pass: the holder gets the file, every other name a link to it.
foreach(name IN LISTS names)
  file(REAL_PATH ${sysroot}/${name} real)
  string(MD5 file_key ${real})
  set(holder ${holder_${file_key}})
  set(installed ${boards}/sysroot/${name})
  get_filename_component(folder ${installed} DIRECTORY)
  get_filename_component(file_name ${installed} NAME)
  if(name STREQUAL holder)
    file(INSTALL ${real} DESTINATION ${folder} RENAME ${file_name} USE_SOURCE_PERMISSIONS)
  else()
    # file(INSTALL) would copy the build's link, which points into the build.
    file(RELATIVE_PATH target ${folder} ${boards}/sysroot/${holder})
    message(STATUS "Linking: $ENV{DESTDIR}${installed} -> ${target}")
    file(MAKE_DIRECTORY $ENV{DESTDIR}${folder})
    file(REMOVE $ENV{DESTDIR}${installed})
    file(CREATE_LINK ${target} $ENV{DESTDIR}${installed} SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES ${installed})
  endif()
endforeach()
