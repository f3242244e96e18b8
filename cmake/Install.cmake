# Install rules and Debian packages.
#
#   <prefix>/<libdir>/libquarnel.so.<version>      runtime   (package libquarnel<abi>)
#   <prefix>/<libdir>/libquarnel.so.<abi>          runtime   (SONAME link)
#   <prefix>/bin/quarnel                           tools     (package quarnel)
#   <prefix>/<libexecdir>/quarnel/quarnel-sim-rtsp tools     (the simulated camera's media process)
#   <prefix>/include/quarnel/*.h                   dev       (package libquarnel-dev)
#   <prefix>/<libdir>/libquarnel.so                dev       (link-time name)
#   <prefix>/<libdir>/pkgconfig/quarnel.pc         dev
#   <prefix>/<libdir>/cmake/Quarnel/*.cmake        dev
#
# Nothing installed names the prefix: the CLI finds the library and the media
# process relative to its own file, the pkg-config file relative to itself
# (${pcfiledir}) and the CMake package relative to itself, so the tree works
# wherever it is unpacked.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS quarnel EXPORT QuarnelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/quarnel DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT dev FILES_MATCHING PATTERN "*.h")
install(FILES ${QUARNEL_GENERATED_INCLUDE_DIR}/quarnel/Version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quarnel COMPONENT dev)
install(TARGETS quarnel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(TARGETS quarnel-sim-rtsp RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/quarnel COMPONENT tools)

set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Quarnel)
install(EXPORT QuarnelTargets NAMESPACE Quarnel:: DESTINATION ${cmake_dir} COMPONENT dev)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/QuarnelConfig.cmake.in
  ${CMAKE_BINARY_DIR}/QuarnelConfig.cmake INSTALL_DESTINATION ${cmake_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/QuarnelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/QuarnelConfig.cmake ${CMAKE_BINARY_DIR}/QuarnelConfigVersion.cmake
  DESTINATION ${cmake_dir} COMPONENT dev)

file(RELATIVE_PATH QUARNEL_PC_PREFIX_FROM_PCDIR /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" QUARNEL_PC_PREFIX_FROM_PCDIR "${QUARNEL_PC_PREFIX_FROM_PCDIR}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/quarnel.pc.in ${CMAKE_BINARY_DIR}/quarnel.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/quarnel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# Debian packages, one per component. dpkg-shlibdeps finds the libraries each
# binary links (libcurl and pugixml for the driver; GStreamer for the simulated
# camera); the GStreamer plug-ins the simulated camera loads at run time and the
# driver the CLI loads with dlopen are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarnel)
set(CPACK_PACKAGE_VENDOR "Quarnel developers")
set(CPACK_PACKAGE_CONTACT "Quarnel developers <maintainers@quarnel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Capture driver for Vista and Hitron IP cameras")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime tools dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libquarnel${QUARNEL_ABI_VERSION})
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "Capture driver for Vista and Hitron IP cameras (library)
 The driver a video recorder loads to stream live video from Vista and Hitron
 IP cameras over RTSP/RTP, drive their PTZ, read alarm inputs, switch relay
 outputs and probe a device's capabilities.")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME quarnel)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "Capture driver for Vista and Hitron IP cameras (command line and simulated camera)
 quarnel opens devices as a recorder does (stream, probe, io, ptz) and runs a
 simulated camera on 127.0.0.1 for trying the driver without a device.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS
  "libquarnel${QUARNEL_ABI_VERSION} (= ${PROJECT_VERSION}), gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-ugly, gstreamer1.0-plugins-bad, gstreamer1.0-libav")
set(CPACK_DEBIAN_TOOLS_PACKAGE_RECOMMENDS ffmpeg)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libquarnel-dev)
set(CPACK_DEBIAN_DEV_DESCRIPTION "Capture driver for Vista and Hitron IP cameras (SDK)
 Headers a recorder builds against, with pkg-config and CMake package files.")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libquarnel${QUARNEL_ABI_VERSION} (= ${PROJECT_VERSION})")
include(CPack)
