# The Debian package (cpack -G DEB in a PC build; scripts/package builds both
# presets and makes it): the installation of install.cmake under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarnel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quarnel developers <quarnel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test-pattern module for receivers, and a receiver simulator for the PC")
set(CPACK_PACKAGE_DESCRIPTION "Quarnel fills a receiver's on-screen display with 21 test pages.
This package holds the module for the receiver (MIPS) and for the PC, tapsim to
run either on a PC (the receiver's build under qemu-mipsel), tapcheck to tell
whether a file is a loadable module, fwdat for firmware database files and
mipsisa to find code the receiver's processor cannot run.
.
It is also a kit for writing modules: tapsim-new-module writes a project
that builds for the PC and the receiver with the CMake package TapModule
(add_tap_module, the receiver's toolchain, the support library) and tests
its screens against golden checksums in tapsim.")
# What the kit builds modules with; tapsim itself needs none of it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cmake (>= 3.25), g++, g++-mipsel-linux-gnu, gdb-multiarch")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# CPack's own dependency reading would give the mipsel files to dpkg-shlibdeps too.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/package-depends.cmake)
get_property(CPACK_QUARNEL_LOADED_BY_NAME GLOBAL PROPERTY QUARNEL_LOADED_BY_NAME)
set(CPACK_QUARNEL_BOARDDIR ${CPACK_PACKAGING_INSTALL_PREFIX}/${QUARNEL_INSTALL_BOARDDIR})
include(CPack)
