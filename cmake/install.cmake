# Installation: the four libraries with versioned SONAMEs, Pellam's headers
# (pellam.h and the readable names of pellam-names.h), ravel, the Java jar and
# the default deployment, with a CMake package and a pkg-config file through
# which applications link Pellam. Run paths are relative ($ORIGIN).
include(CMakePackageConfigHelpers)

set(JOR_DATA_DIR ${CMAKE_INSTALL_DATADIR}/jor-speaker)
set(JOR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Pellam)

foreach(lib Ravel Pellam Drumlin Brindle)
  set_target_properties(${lib} PROPERTIES VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR})
endforeach()
set_target_properties(ravel PROPERTIES INSTALL_RPATH "$ORIGIN/${JOR_LIB_FROM_BIN}")
target_include_directories(Pellam INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS Pellam Ravel Brindle Drumlin EXPORT PellamTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ravel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES pellam/pellam.h pellam/pellam-names.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pellam)
install(DIRECTORY models/default/ DESTINATION ${JOR_DATA_DIR}/models/default)
if(TARGET jor_diarization_wrapper)
  get_target_property(jor_wrapper_jar jor_diarization_wrapper JAR_FILE)
  install(FILES ${jor_wrapper_jar} DESTINATION ${CMAKE_INSTALL_DATADIR}/java)
endif()

install(EXPORT PellamTargets NAMESPACE Pellam:: DESTINATION ${JOR_CMAKE_DIR})
configure_package_config_file(cmake/PellamConfig.cmake.in
  ${CMAKE_BINARY_DIR}/cmake/PellamConfig.cmake
  INSTALL_DESTINATION ${JOR_CMAKE_DIR}
  PATH_VARS JOR_DATA_DIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/PellamConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/cmake/PellamConfig.cmake
  ${CMAKE_BINARY_DIR}/cmake/PellamConfigVersion.cmake DESTINATION ${JOR_CMAKE_DIR})
file(RELATIVE_PATH JOR_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" JOR_PC_TO_PREFIX "${JOR_PC_TO_PREFIX}")
configure_file(cmake/pellam.pc.in ${CMAKE_BINARY_DIR}/cmake/pellam.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/cmake/pellam.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Installs into a temporary prefix and builds and runs a small C program
# against it, once through find_package and once through pkg-config. The
# program cannot load sanitizer-built libraries, so that build skips it.
if(JOR_BUILD_TESTS AND NOT JOR_SANITIZE)
  add_test(NAME InstallAndLinkPellam
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/install/install-test.sh ${CMAKE_BINARY_DIR}
      ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/install-test)
  set_tests_properties(InstallAndLinkPellam PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()
