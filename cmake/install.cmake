# What cmake --install lays out under the prefix, and the Debian package made of it:
#
#   bin/                       tapsim, tapcheck, fwdat, mipsisa
#   libexec/quarnel/           tapsim-board (the PC board) and the PC libtap.so it loads;
#                              tapsim-window.so and tapsim-crash.so, the parts tapsim
#                              loads for a window and for a crash report
#   libexec/quarnel/mipsel/    the receiver build's sim/tapsim-board and sysroot/, shaped
#                              like that build, so TAPSIM_MIPSEL_DIR may name either
#   share/quarnel/receiver/    Quarnel.tap for the receiver, stripped, and Quarnel.tap.debug
#   share/quarnel/pc/          Quarnel.tap for the PC
#   share/man/man1/            the manual pages
#   share/cmake/TapModule/     the kit for module authors: find_package(TapModule), the
#                              receiver's toolchain file, add_tap_module, screen tests
#   share/quarnel/kit/         the frame (headers, records and start-up entry), the support
#                              library's header, and the template of tapsim-new-module
#   lib/quarnel/kit/           the support library's objects for each build, the receiver's
#                              link-time stand-ins, and its C library's headers and start
#                              files for test programs (tap_receiver_program)
#
# libexec rather than lib: nothing there is for other programs to link against;
# it is what tapsim starts and what those programs load. Under /usr lib/ would
# also gain the multiarch triplet, and tapsim's path to its boards with it.
set(QUARNEL_INSTALL_BOARDDIR ${CMAKE_INSTALL_LIBEXECDIR}/quarnel)
set(QUARNEL_INSTALL_MODULEDIR ${CMAKE_INSTALL_DATADIR}/quarnel)

set(quarnel_tools tapsim tapcheck fwdat mipsisa tapsim-screendiff)
install(TARGETS ${quarnel_tools} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${PROJECT_BINARY_DIR}/tools/new-module/tapsim-new-module DESTINATION ${CMAKE_INSTALL_BINDIR})
list(TRANSFORM quarnel_tools REPLACE "^(.+)$" "${PROJECT_BINARY_DIR}/man/\\1.1" OUTPUT_VARIABLE quarnel_pages)
list(APPEND quarnel_pages ${PROJECT_BINARY_DIR}/man/tapsim-new-module.1)
install(FILES ${quarnel_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(TARGETS tapsim-board RUNTIME DESTINATION ${QUARNEL_INSTALL_BOARDDIR})
install(TARGETS tap tapsim-window tapsim-crash LIBRARY DESTINATION ${QUARNEL_INSTALL_BOARDDIR})
install(TARGETS Quarnel LIBRARY DESTINATION ${QUARNEL_INSTALL_MODULEDIR}/pc)

# The kit. Its files find one another by their places relative to the prefix
# (TapModuleConfig.cmake, the toolchain's sysroot, the template command).
set(QUARNEL_INSTALL_KITDIR ${CMAKE_INSTALL_DATADIR}/quarnel/kit)
set(QUARNEL_INSTALL_KITLIBDIR lib/quarnel/kit)
set(quarnel_cmakedir ${CMAKE_INSTALL_DATADIR}/cmake/TapModule)
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TapModuleConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/TapModuleConfig.cmake ${PROJECT_BINARY_DIR}/TapModuleConfigVersion.cmake
              ${PROJECT_SOURCE_DIR}/cmake/TapModule.cmake ${PROJECT_SOURCE_DIR}/cmake/tap-screen-test.cmake
        DESTINATION ${quarnel_cmakedir})
install(FILES ${PROJECT_SOURCE_DIR}/cmake/toolchains/mipsel-linux-gnu.cmake
        DESTINATION ${quarnel_cmakedir} RENAME receiver-toolchain.cmake)
install(FILES ${PROJECT_SOURCE_DIR}/frame/tap.h ${PROJECT_SOURCE_DIR}/frame/firmware.h
              ${PROJECT_SOURCE_DIR}/frame/tapinit.cpp DESTINATION ${QUARNEL_INSTALL_KITDIR}/frame)
install(FILES ${PROJECT_SOURCE_DIR}/lib/taplib.h DESTINATION ${QUARNEL_INSTALL_KITDIR}/lib)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/cmake/template/ DESTINATION ${QUARNEL_INSTALL_KITDIR}/template)
install(DIRECTORY ${PROJECT_BINARY_DIR}/kit/support/ DESTINATION ${QUARNEL_INSTALL_KITLIBDIR}/pc/support
        FILES_MATCHING PATTERN "*.o")

# The receiver's part comes from its own build tree (a separate, cross build),
# copied when installing: it may be built after this tree was configured.
option(QUARNEL_INSTALL_RECEIVER "Install the receiver build's board, sysroot and Quarnel.tap from QUARNEL_MIPSEL_DIR" ON)
if(QUARNEL_INSTALL_RECEIVER)
  install(CODE "
    set(quarnel_receiver_build [[${QUARNEL_MIPSEL_DIR}]])
    set(quarnel_receiver_boards [[${QUARNEL_INSTALL_BOARDDIR}/mipsel]])
    set(quarnel_receiver_module [[${QUARNEL_INSTALL_MODULEDIR}/receiver]])
    set(quarnel_receiver_kit [[${QUARNEL_INSTALL_KITLIBDIR}/receiver]])")
  install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/install-receiver.cmake)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/package.cmake)
