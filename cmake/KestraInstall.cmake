# Installation of KestraSDK: the versioned shared library, the public headers of the SDK's
# folders (kept in their folder layout under include/KestraSDK), a CMake package
# configuration (find_package(KestraSDK) gives the target KestraSDK::KestraSDK) and a
# pkg-config file.

if(NOT TARGET KestraSDK)
  return()
endif()

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KESTRA_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/KestraSDK)
set(KESTRA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/KestraSDK)

install(TARGETS KestraSDK EXPORT KestraSDKTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

foreach(folder IN LISTS KESTRA_SDK_FOLDERS)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${folder} AND (NOT KESTRA_ONLY OR folder IN_LIST KESTRA_ONLY))
    install(DIRECTORY ${CMAKE_SOURCE_DIR}/${folder}/
      DESTINATION ${KESTRA_INSTALL_INCLUDEDIR}/${folder}
      FILES_MATCHING PATTERN "*.h" PATTERN "*.inc"
      PATTERN "*TestSupport.h" EXCLUDE
      PATTERN "install-test" EXCLUDE)
  endif()
endforeach()

install(EXPORT KestraSDKTargets NAMESPACE KestraSDK:: DESTINATION ${KESTRA_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/KestraSDKConfig.cmake.in
  ${CMAKE_BINARY_DIR}/KestraSDKConfig.cmake INSTALL_DESTINATION ${KESTRA_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/KestraSDKConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/KestraSDKConfig.cmake ${CMAKE_BINARY_DIR}/KestraSDKConfigVersion.cmake
  DESTINATION ${KESTRA_INSTALL_CMAKEDIR})

# The prefix is found from the .pc file's own place, so an install with --prefix works.
file(RELATIVE_PATH KESTRA_PC_TO_PREFIX "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
configure_file(${CMAKE_SOURCE_DIR}/cmake/KestraSDK.pc.in ${CMAKE_BINARY_DIR}/KestraSDK.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/KestraSDK.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
