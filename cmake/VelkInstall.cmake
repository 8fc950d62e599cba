# SPDX-License-Identifier: MIT
# What `cmake --install` puts under the prefix: the public headers, the shared
# libraries with their SONAMEs and version links, the programs and their
# manual pages, a pkg-config file and a CMake package per library
# (velkcore::velkcore, velkpay::velkpay), and the README and the licence in
# share/doc/velk.
# The programs and libvelkpay are installed when their targets are part of
# the build.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VELK_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/velkcore)

# The exported target names its include directory itself ($<INSTALL_INTERFACE>
# in lib/CMakeLists.txt).
set_target_properties(velkcore PROPERTIES EXPORT_NAME velkcore)
install(TARGETS velkcore EXPORT velkcoreTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT runtime NAMELINK_COMPONENT development)
install(FILES
  ${PROJECT_SOURCE_DIR}/lib/include/velkcore.h
  ${PROJECT_SOURCE_DIR}/lib/include/velkcore.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/man/velkcore.3
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT development)

# The README and the licence travel with the library and the programs alike.
# CMAKE_INSTALL_DOCDIR is share/doc/velk (the project's name) unless the
# builder chose another place.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)

# Each program with its page, when it is built. The velkpay program's target
# is velkpay_tool, since the library holds the name velkpay.
set(VELK_INSTALLED_PROGRAMS)
foreach(program velkfile velktext velkkey velkpay)
  set(target ${program})
  if(program STREQUAL "velkpay")
    set(target velkpay_tool)
  endif()
  if(TARGET ${target})
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
    install(FILES ${PROJECT_SOURCE_DIR}/man/${program}.1
      DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
    list(APPEND VELK_INSTALLED_PROGRAMS ${program})
  endif()
endforeach()

# The CMake package. Its paths are relative to the file's own place, so the
# tree may be moved or installed with a --prefix chosen at install time.
install(EXPORT velkcoreTargets NAMESPACE velkcore::
  DESTINATION ${VELK_CMAKE_PACKAGE_DIR} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/velkcoreConfig.cmake.in
  ${PROJECT_BINARY_DIR}/velkcoreConfig.cmake
  INSTALL_DESTINATION ${VELK_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/velkcoreConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/velkcoreConfig.cmake
  ${PROJECT_BINARY_DIR}/velkcoreConfigVersion.cmake
  DESTINATION ${VELK_CMAKE_PACKAGE_DIR} COMPONENT development)

# The pkg-config file finds the prefix from its own place too (${pcfiledir}),
# unless the library directory was given as an absolute path.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(VELK_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(VELK_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH _velk_pc_up "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
  string(REGEX REPLACE "/$" "" _velk_pc_up "${_velk_pc_up}")
  set(VELK_PC_PREFIX "\${pcfiledir}/${_velk_pc_up}")
  set(VELK_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(VELK_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(VELK_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/velkcore.pc.in
  ${PROJECT_BINARY_DIR}/velkcore.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/velkcore.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# libvelkpay: its own library, headers, page, CMake package and pkg-config
# file, beside velkcore's and built the same way. Its package finds velkcore
# first, because the shared library needs libvelkcore.so.
set(VELK_INSTALLED_LIBRARIES velkcore)
if(TARGET velkpay)
  set(VELK_PAY_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/velkpay)
  set_target_properties(velkpay PROPERTIES EXPORT_NAME velkpay)
  # libvelkpay.so loads libvelkcore.so.1, which lies beside it. Outside the
  # loader's own directories it looks there itself ($ORIGIN), so that a
  # program linked against it in any prefix, or in a moved tree, needs a run
  # path to that one directory only; in a system directory it carries no
  # run path, as distributions require.
  list(FIND CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES "${CMAKE_INSTALL_FULL_LIBDIR}" _velk_system)
  list(FIND CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES "${CMAKE_INSTALL_FULL_LIBDIR}" _velk_system_cxx)
  if(_velk_system EQUAL -1 AND _velk_system_cxx EQUAL -1)
    set_target_properties(velkpay PROPERTIES INSTALL_RPATH "$ORIGIN")
  endif()
  install(TARGETS velkpay EXPORT velkpayTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
      COMPONENT runtime NAMELINK_COMPONENT development)
  install(FILES
    ${PROJECT_SOURCE_DIR}/lib/include/velkpay.h
    ${PROJECT_SOURCE_DIR}/lib/include/velkpay.hpp
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
  install(FILES ${PROJECT_SOURCE_DIR}/man/velkpay.3
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT development)
  install(EXPORT velkpayTargets NAMESPACE velkpay::
    DESTINATION ${VELK_PAY_PACKAGE_DIR} COMPONENT development)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/velkpayConfig.cmake.in
    ${PROJECT_BINARY_DIR}/velkpayConfig.cmake
    INSTALL_DESTINATION ${VELK_PAY_PACKAGE_DIR})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/velkpayConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES
    ${PROJECT_BINARY_DIR}/velkpayConfig.cmake
    ${PROJECT_BINARY_DIR}/velkpayConfigVersion.cmake
    DESTINATION ${VELK_PAY_PACKAGE_DIR} COMPONENT development)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/velkpay.pc.in
    ${PROJECT_BINARY_DIR}/velkpay.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/velkpay.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
  list(APPEND VELK_INSTALLED_LIBRARIES velkpay)
endif()
