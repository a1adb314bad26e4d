# Shared build helpers: every library of the project is declared the same way,
# so SONAMEs, visibility, install rules and the package export stay uniform.

# Adds a source folder when it has been created; lets the tree grow one
# component at a time without editing the top level.
function(isputils_add_component dir)
  if(EXISTS "${PROJECT_SOURCE_DIR}/${dir}/CMakeLists.txt")
    add_subdirectory(${PROJECT_SOURCE_DIR}/${dir} ${PROJECT_BINARY_DIR}/${dir})
  endif()
endfunction()

# isputils_shared_library(<target>
#     OUTPUT_NAME <name> VERSION <x.y.z> SOVERSION <n>
#     EXPORT_MACRO_DEFINE <BUILDING_MACRO>
#     INCLUDE_DIR <dir with public headers>
#     [NO_CXX_RUNTIME] [STANDIN]
#     SOURCES ...)
# Builds <target> as a versioned shared library with hidden visibility, an
# alias IspUtils::<target>, and installs it with its public headers.
function(isputils_shared_library target)
  cmake_parse_arguments(ARG "NO_CXX_RUNTIME;STANDIN"
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
  # it depends on, which keeps the NEEDED lists honest.
  target_link_options(${target} PRIVATE -Wl,--no-undefined -Wl,--as-needed)
  if(ARG_NO_CXX_RUNTIME)
    # Linked by the C driver: nothing of the C++ runtime is pulled in.
    set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
  endif()
  install(TARGETS ${target} EXPORT IspUtilsTargets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

# Installs the CMake package configuration for every exported target.
function(isputils_install_package)
  set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/IspUtils)
  install(EXPORT IspUtilsTargets NAMESPACE IspUtils:: DESTINATION ${config_dir})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/IspUtilsConfig.cmake.in
      ${PROJECT_BINARY_DIR}/IspUtilsConfig.cmake INSTALL_DESTINATION ${config_dir})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/IspUtilsConfigVersion.cmake
      COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/IspUtilsConfig.cmake
                ${PROJECT_BINARY_DIR}/IspUtilsConfigVersion.cmake
          DESTINATION ${config_dir})
endfunction()
