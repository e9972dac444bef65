# Installs, beside the tool, what other programs need to play its sounds:
# the decoder library (static, as libquarlix_decode.a, with its headers), its
# sources (which Quarlix::decode builds with the consuming project's own
# compiler), the CMake package lib/cmake/Quarlix and the pkg-config file
# quarlix-decode.pc. Both packages find the prefix from their own location,
# so a copy moved elsewhere, the Debian package's among them, stays right.
include(CMakePackageConfigHelpers)

set_target_properties(quarlix_runtime PROPERTIES OUTPUT_NAME quarlix_decode)
install(TARGETS quarlix_runtime ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/runtime/quarlix_decode.h ${PROJECT_SOURCE_DIR}/runtime/quarlix_codec_rules.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quarlix)
set(QUARLIX_RUNTIME_SOURCE_DIR ${CMAKE_INSTALL_DATADIR}/quarlix/runtime)
install(FILES ${PROJECT_SOURCE_DIR}/runtime/quarlix_decode.c DESTINATION ${QUARLIX_RUNTIME_SOURCE_DIR})

set(QUARLIX_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quarlix)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/QuarlixConfig.cmake.in
  ${PROJECT_BINARY_DIR}/QuarlixConfig.cmake
  INSTALL_DESTINATION ${QUARLIX_PACKAGE_DIR}
  PATH_VARS CMAKE_INSTALL_BINDIR CMAKE_INSTALL_INCLUDEDIR QUARLIX_RUNTIME_SOURCE_DIR)
# Architecture-independent: the package holds the host's tool and the
# library's sources, so a project cross-compiling for a 32-bit device finds it.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuarlixConfigVersion.cmake
  COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${PROJECT_BINARY_DIR}/QuarlixConfig.cmake ${PROJECT_BINARY_DIR}/QuarlixConfigVersion.cmake
              ${PROJECT_SOURCE_DIR}/cmake/QuarlixSounds.cmake ${PROJECT_SOURCE_DIR}/cmake/QuarlixEmbedSound.cmake
        DESTINATION ${QUARLIX_PACKAGE_DIR})

if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(QUARLIX_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
else()
  file(RELATIVE_PATH QUARLIX_PC_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
  string(REGEX REPLACE "/$" "" QUARLIX_PC_PREFIX "\${pcfiledir}/${QUARLIX_PC_PREFIX}")
endif()
# Relative folders are found from the prefix, absolute ones stand as given.
set(QUARLIX_PC_INCLUDEDIR [[${prefix}]])
set(QUARLIX_PC_LIBDIR [[${prefix}]])
cmake_path(APPEND QUARLIX_PC_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
cmake_path(APPEND QUARLIX_PC_LIBDIR ${CMAKE_INSTALL_LIBDIR})
configure_file(${PROJECT_SOURCE_DIR}/cmake/quarlix-decode.pc.in ${PROJECT_BINARY_DIR}/quarlix-decode.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quarlix-decode.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
