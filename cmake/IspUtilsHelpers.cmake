# Shared build helpers: every library, test program and fuzz target of the
# project is declared the same way, so SONAMEs, visibility, install rules, the
# package export and the way tests run stay uniform.

# isputils_shared_library(<target>
#     OUTPUT_NAME <name> VERSION <x.y.z> SOVERSION <n>
#     EXPORT_MACRO_DEFINE <BUILDING_MACRO>
#     INCLUDE_DIR <dir with public headers>
#     [NO_CXX_RUNTIME] [PLATFORM_STANDIN]
#     SOURCES ...)
# Builds <target> as a versioned shared library with hidden visibility, an
# alias IspUtils::<target>, and installs it with its public headers.
# A PLATFORM_STANDIN stands in for an outside library that a device brings
# itself, under the same link name but a file name of its own: it installs
# the same way, but the CMake package never names it. Our libraries link it
# through the interface target platform_<target> instead of the library
# itself, since CMake would record a library linked directly among the
# exported libraries' runtime dependencies (IMPORTED_LINK_DEPENDENT_LIBRARIES)
# and so insist on exporting it. Tests may link either.
function(isputils_shared_library target)
  cmake_parse_arguments(ARG "NO_CXX_RUNTIME;PLATFORM_STANDIN"
                        "OUTPUT_NAME;VERSION;SOVERSION;EXPORT_MACRO_DEFINE;INCLUDE_DIR"
                        "SOURCES" ${ARGN})
  add_library(${target} SHARED ${ARG_SOURCES})
  add_library(IspUtils::${target} ALIAS ${target})
  target_compile_features(${target} PUBLIC cxx_std_17)
  set_target_properties(${target} PROPERTIES
      OUTPUT_NAME ${ARG_OUTPUT_NAME}
      VERSION ${ARG_VERSION}
      SOVERSION ${ARG_SOVERSION}
      CXX_VISIBILITY_PRESET hidden
      VISIBILITY_INLINES_HIDDEN ON
      EXPORT_NAME ${target}
      # The build tree keeps every shared library in one directory, as the
      # install tree does, so "$ORIGIN" finds the neighbours in both and the
      # library is linked with its final search path from the start. A
      # build-tree path would be padded with ':' for CMake to rewrite it in
      # place at install time, and the loader reads each empty entry as the
      # current directory.
      LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib
      INSTALL_RPATH "$ORIGIN"
      BUILD_WITH_INSTALL_RPATH ON)
  if(ARG_EXPORT_MACRO_DEFINE)
    target_compile_definitions(${target} PRIVATE ${ARG_EXPORT_MACRO_DEFINE})
  endif()
  if(ARG_INCLUDE_DIR)
    target_include_directories(${target} PUBLIC
        $<BUILD_INTERFACE:${ARG_INCLUDE_DIR}>
        $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
    install(DIRECTORY ${ARG_INCLUDE_DIR}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
            FILES_MATCHING PATTERN "*.h")
  endif()
  # Refuse undefined symbols at link time: a library must name everything
  # it depends on, which keeps the NEEDED lists honest. clang's sanitizer
  # runtimes live in the executable, so its sanitized libraries leave their
  # hooks undefined until the program loads them.
  target_link_options(${target} PRIVATE -Wl,--as-needed)
  if(NOT (ISPUTILS_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES "Clang"))
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
  if(ARG_NO_CXX_RUNTIME)
    # Linked by the C driver: nothing of the C++ runtime is pulled in.
    set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
  endif()
  if(ARG_PLATFORM_STANDIN)
    add_library(platform_${target} INTERFACE)
    target_link_libraries(platform_${target} INTERFACE ${target})
    set(export_set "")
  else()
    set(export_set EXPORT IspUtilsTargets)
  endif()
  install(TARGETS ${target} ${export_set}
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(NOT ISPUTILS_INSTALL_RUNPATH)
    # A distribution package installs into the loader's own directories, so
    # the installed copy drops its "$ORIGIN" while the build tree keeps it
    # for the tests. Removing the entry, unlike rewriting it, needs no room
    # reserved at link time (which the loader would read as the current
    # directory).
    if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
      set(libdir "${CMAKE_INSTALL_LIBDIR}")
    else()
      set(libdir "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}")
    endif()
    install(CODE "file(RPATH_REMOVE FILE
        \"\$ENV{DESTDIR}${libdir}/$<TARGET_FILE_NAME:${target}>\")")
  endif()
endfunction()

# Installs the CMake package configuration for every exported target.
function(isputils_install_package)
  set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/IspUtils)
  install(EXPORT IspUtilsTargets NAMESPACE IspUtils:: DESTINATION ${config_dir})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/IspUtilsConfig.cmake.in
      ${PROJECT_BINARY_DIR}/IspUtilsConfig.cmake INSTALL_DESTINATION ${config_dir}
      PATH_VARS CMAKE_INSTALL_INCLUDEDIR)
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/IspUtilsConfigVersion.cmake
      COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/IspUtilsConfig.cmake
                ${PROJECT_BINARY_DIR}/IspUtilsConfigVersion.cmake
          DESTINATION ${config_dir})
endfunction()

# isputils_add_test(<name> [OWN_DIRECTORIES] SOURCES ... [LIBS ...])
# One GoogleTest program; every case is a ctest test of its own, so each
# runs in a fresh process. Its main() first moves into a private /run, for
# what reaches the system's store at its fixed path (the exported property
# API, and the libraries that read the log level through it), and where none
# can be had the case is reported skipped; with OWN_DIRECTORIES it does not,
# for the tests of the store engine and its clients, which work on
# directories of their own. Cases are listed when the tests run, not at
# build time.
function(isputils_add_test name)
  cmake_parse_arguments(ARG "OWN_DIRECTORIES" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_OWN_DIRECTORIES)
    target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock ${ARG_LIBS})
  else()
    target_link_libraries(${name} PRIVATE isputils_test_main ${ARG_LIBS})
  endif()
  # Death tests start a fresh copy of the program, except under an emulator
  # (tests/support/death_tests.h).
  if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
    target_compile_definitions(${name} PRIVATE ISPUTILS_TEST_EMULATED)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 DISCOVERY_MODE PRE_TEST
                       PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
endfunction()

# isputils_add_fuzz_target(<name> SOURCES ... [LIBS ...])
# One libFuzzer program, built against the project's libraries like any
# other target, and a ctest test (label "fuzz") that runs it for
# ISPUTILS_FUZZ_SECONDS from its seed corpus in tests/fuzz/corpus/<name>/.
# New inputs go to the build tree, never into the source tree; a finding
# fails the test and leaves its input beside them.
function(isputils_add_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}.work)
  file(MAKE_DIRECTORY ${work}/corpus ${work}/artifacts)
  add_test(NAME ${name}
           COMMAND ${name} -max_total_time=${ISPUTILS_FUZZ_SECONDS} -timeout=10
                   -rss_limit_mb=2048 -print_final_stats=1
                   -artifact_prefix=${work}/artifacts/
                   ${work}/corpus ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${name})
  set_tests_properties(${name} PROPERTIES
      LABELS fuzz
      TIMEOUT 600
      ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1")
endfunction()
