# What the build takes from the machine. A missing tool or library stops the
# configuration saying which Debian package brings it, how to install
# everything the build with its tests needs, and which option builds without
# the part that needs it, rather than CMake's bare "Could not find".

# isputils_missing(<what> <needed by> <Debian packages> <options> [LIBRARY])
# Stops the configuration: <what> (a program or library, needed by
# <needed by>) is missing; <Debian packages> bring it (a LIBRARY's are the
# target architecture's in a cross build: name:arm64); <options> build
# without it.
function(isputils_missing what needed_by packages options)
  cmake_parse_arguments(ARG "LIBRARY" "" "" ${ARGN})
  set(stage unit)
  if(CMAKE_CROSSCOMPILING)
    set(stage arm64)
    if(ARG_LIBRARY AND CMAKE_LIBRARY_ARCHITECTURE STREQUAL "aarch64-linux-gnu")
      list(TRANSFORM packages APPEND ":arm64")
    endif()
  endif()
  list(JOIN packages " " package_list)
  list(JOIN options " " option_list)
  message(FATAL_ERROR
    "${what} was not found, and ${needed_by} need it.\n"
    "On Debian it comes with: ${package_list}\n"
    "  sudo apt-get install ${package_list}\n"
    "or install everything this build and its tests need (from the source tree):\n"
    "  bash scripts/install-deps.sh ${stage}\n"
    "To build without ${needed_by}, configure with:\n"
    "  ${option_list}")
endfunction()
