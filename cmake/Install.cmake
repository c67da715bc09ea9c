# Installation and packaging: headers, the bridge with the SDK libraries in
# one folder, the capture tool, sample configurations, docs, a CMake package
# (QueltoBridge::QueltoBridge) and a pkg-config file (quelto-bridge.pc).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUELTO_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/quelto-bridge)
set(QUELTO_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/QueltoBridge)
set(QUELTO_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/quelto-bridge)

# Public headers: every header in a subsystem's include/ folder, into one
# folder. The configuration helpers name SDK types, so the SDK contract and
# the runtime header they need are public too.
set(QUELTO_PUBLIC_HEADERS "")
foreach(dir IN LISTS QUELTO_PUBLIC_INCLUDE_DIRS)
  file(GLOB headers CONFIGURE_DEPENDS ${dir}/*.h)
  list(APPEND QUELTO_PUBLIC_HEADERS ${headers})
endforeach()
install(FILES ${QUELTO_PUBLIC_HEADERS} DESTINATION ${QUELTO_INSTALL_INCLUDEDIR} COMPONENT Development)

target_include_directories(Quelto.bridge INTERFACE $<INSTALL_INTERFACE:${QUELTO_INSTALL_INCLUDEDIR}>)
set_target_properties(Quelto.bridge PROPERTIES EXPORT_NAME QueltoBridge)

# The bridge and the SDK libraries share one folder: the bridge looks for
# the SDK beside itself.
install(TARGETS Quelto.bridge EXPORT QueltoBridgeTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
set(QUELTO_SDK_DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(WIN32)
  set(QUELTO_SDK_DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS sim_device sim_common sim_reader
  LIBRARY DESTINATION ${QUELTO_SDK_DESTINATION} COMPONENT Runtime
  RUNTIME DESTINATION ${QUELTO_SDK_DESTINATION} COMPONENT Runtime)
# The managed backend's helper assembly goes beside the bridge, where the
# bridge looks for it when the SDK beside it is a set of .NET assemblies.
if(QUELTO_HAVE_MANAGED)
  install(FILES ${QUELTO_LIB_DIR}/QueltoBridgeHost.dll DESTINATION ${QUELTO_SDK_DESTINATION} COMPONENT Runtime)
  install(FILES ${QUELTO_LIB_DIR}/QueltoBridgeHost.pdb ${QUELTO_LIB_DIR}/QueltoBridgeHost.dll.mdb
    DESTINATION ${QUELTO_SDK_DESTINATION} COMPONENT Runtime OPTIONAL)
endif()

if(TARGET quelto-capture)
  if(NOT WIN32)
    set_property(TARGET quelto-capture APPEND PROPERTY INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  endif()
  install(TARGETS quelto-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
  # The live view's page (uPlot included), where the tool looks for it:
  # share/quelto-bridge/view beside its bin/ folder.
  install(DIRECTORY ${QUELTO_VIEW_DIR}/ DESTINATION ${QUELTO_INSTALL_DATADIR}/view COMPONENT Runtime)
endif()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/configs/ DESTINATION ${QUELTO_INSTALL_DATADIR}/configs
  COMPONENT Runtime FILES_MATCHING PATTERN "*.json")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Documentation)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Documentation)

# CMake package.
install(EXPORT QueltoBridgeTargets NAMESPACE QueltoBridge:: DESTINATION ${QUELTO_INSTALL_CMAKEDIR}
  COMPONENT Development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/QueltoBridgeConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/QueltoBridgeConfig.cmake
  INSTALL_DESTINATION ${QUELTO_INSTALL_CMAKEDIR}
  PATH_VARS QUELTO_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/QueltoBridgeConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/QueltoBridgeConfig.cmake
  ${PROJECT_BINARY_DIR}/package/QueltoBridgeConfigVersion.cmake
  ${PROJECT_SOURCE_DIR}/cmake/QueltoBridgeDeploy.cmake
  DESTINATION ${QUELTO_INSTALL_CMAKEDIR} COMPONENT Development)

# pkg-config; paths relative to the .pc file so the prefix can move.
file(RELATIVE_PATH QUELTO_PC_PREFIX_FROM_PC
  /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" QUELTO_PC_PREFIX_FROM_PC "${QUELTO_PC_PREFIX_FROM_PC}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/quelto-bridge.pc.in ${PROJECT_BINARY_DIR}/package/quelto-bridge.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/quelto-bridge.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)

if(QUELTO_BUILD_TESTS)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/install ${PROJECT_BINARY_DIR}/tests/install)
endif()
