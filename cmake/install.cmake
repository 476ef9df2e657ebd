# What cmake --install lays out under the prefix, and the Debian package made of it:
#
#   bin/                       tapsim, tapcheck, fwdat, mipsisa
#   libexec/quarnel/           tapsim-board (the PC board) and the PC libtap.so it loads
#   libexec/quarnel/mipsel/    the receiver build's sim/tapsim-board and sysroot/, shaped
#                              like that build, so TAPSIM_MIPSEL_DIR may name either
#   share/quarnel/receiver/    Quarnel.tap for the receiver, stripped, and Quarnel.tap.debug
#   share/quarnel/pc/          Quarnel.tap for the PC
#   share/man/man1/            the manual pages
#
# libexec rather than lib: nothing there is for other programs to link against;
# it is what tapsim starts and what those programs load. Under /usr lib/ would
# also gain the multiarch triplet, and tapsim's path to its boards with it.
set(QUARNEL_INSTALL_BOARDDIR ${CMAKE_INSTALL_LIBEXECDIR}/quarnel)
set(QUARNEL_INSTALL_MODULEDIR ${CMAKE_INSTALL_DATADIR}/quarnel)

set(quarnel_tools tapsim tapcheck fwdat mipsisa)
install(TARGETS ${quarnel_tools} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
list(TRANSFORM quarnel_tools REPLACE "^(.+)$" "${PROJECT_BINARY_DIR}/man/\\1.1" OUTPUT_VARIABLE quarnel_pages)
install(FILES ${quarnel_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(TARGETS tapsim-board RUNTIME DESTINATION ${QUARNEL_INSTALL_BOARDDIR})
install(TARGETS tap LIBRARY DESTINATION ${QUARNEL_INSTALL_BOARDDIR})
install(TARGETS Quarnel LIBRARY DESTINATION ${QUARNEL_INSTALL_MODULEDIR}/pc)

# The receiver's part comes from its own build tree (a separate, cross build),
# copied when installing: it may be built after this tree was configured.
option(QUARNEL_INSTALL_RECEIVER "Install the receiver build's board, sysroot and Quarnel.tap from QUARNEL_MIPSEL_DIR" ON)
if(QUARNEL_INSTALL_RECEIVER)
  install(CODE "
    set(quarnel_receiver_build [[${QUARNEL_MIPSEL_DIR}]])
    set(quarnel_receiver_boards [[${QUARNEL_INSTALL_BOARDDIR}/mipsel]])
    set(quarnel_receiver_module [[${QUARNEL_INSTALL_MODULEDIR}/receiver]])")
  install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/install-receiver.cmake)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/package.cmake)
