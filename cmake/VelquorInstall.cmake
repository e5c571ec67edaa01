# What `cmake --install` puts beside the targets' own install rules: the SDK
# headers, the CMake package VelquorSDK (imported targets, version file,
# velquor_add_package) and a pkg-config file for the engine library.
#
# Components: `runtime` holds what runs diagrams (the tool, its man page, the
# packages, libvelquor.so.4); `sdk` what builds packages and engine hosts
# (headers, static libraries, the package entry object, CMake and pkg-config
# files, the libvelquor.so link). Both go into the Debian package.
#
# The CMake and pkg-config files name their folders relative to themselves,
# so the install tree works wherever its prefix is.
include_guard(GLOBAL)
include(CMakePackageConfigHelpers)

set(VELQUOR_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VelquorSDK)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/daxo_public_api/include/
  DESTINATION ${VELQUOR_SDK_INCLUDE_DIR} COMPONENT sdk
  FILES_MATCHING PATTERN "*.h")

install(EXPORT VelquorSdkTargets
  NAMESPACE velquor::
  DESTINATION ${VELQUOR_CMAKE_INSTALL_DIR}
  COMPONENT sdk)
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/VelquorSDKConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VelquorSDKConfig.cmake
  INSTALL_DESTINATION ${VELQUOR_CMAKE_INSTALL_DIR})
# Packages built against one minor release load into the engines of the
# same major release.
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/VelquorSDKConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/VelquorSDKConfig.cmake
    ${PROJECT_BINARY_DIR}/VelquorSDKConfigVersion.cmake
    ${CMAKE_CURRENT_LIST_DIR}/VelquorPackage.cmake
    ${CMAKE_CURRENT_LIST_DIR}/package.map
  DESTINATION ${VELQUOR_CMAKE_INSTALL_DIR}
  COMPONENT sdk)

# pkg-config: ${pcfiledir} makes the prefix follow the file.
file(RELATIVE_PATH VELQUOR_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" VELQUOR_PC_TO_PREFIX "${VELQUOR_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/velquor.pc.in ${PROJECT_BINARY_DIR}/velquor.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/velquor.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT sdk)
