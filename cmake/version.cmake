# The project's version for the PC tools (--version, the man pages), taken from
# project() so that there is one place to change it.
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${PROJECT_BINARY_DIR}/generated/quarnel_version.h @ONLY)
add_library(quarnel_version INTERFACE)
target_include_directories(quarnel_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
