# CLI11, header-only, from Debian's libcli11-dev. The cross build cannot put
# the host's /usr/include on its include path (the host's C library headers
# would shadow the target's), so it sees the CLI folder alone through a link.
if(TARGET pelmok_cli11)
  return()
endif()
add_library(pelmok_cli11 INTERFACE)
if(CMAKE_CROSSCOMPILING)
  find_path(PELMOK_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(link_root ${CMAKE_BINARY_DIR}/cli11-include)
  file(MAKE_DIRECTORY ${link_root})
  file(CREATE_LINK ${PELMOK_CLI11_INCLUDE}/CLI ${link_root}/CLI SYMBOLIC)
  target_include_directories(pelmok_cli11 SYSTEM INTERFACE ${link_root})
else()
  find_package(CLI11 CONFIG REQUIRED)
  target_link_libraries(pelmok_cli11 INTERFACE CLI11::CLI11)
endif()
