# Exported symbols, install rules, the CMake package and the pkg-config file
# of libtarnintr. Included from the top-level CMakeLists.txt after the
# `tarnintr` target is defined.
include(CMakePackageConfigHelpers)

# Consumers compile the public headers, which need C++20.
target_compile_features(tarnintr PUBLIC cxx_std_20)

# Only the public symbols leave the shared library (cmake/tarnintr.map).
if(TARN_SHARED AND UNIX AND NOT APPLE)
  set(TARN_VERSION_SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/cmake/tarnintr.map)
  target_link_options(tarnintr PRIVATE "LINKER:--version-script=${TARN_VERSION_SCRIPT}")
  set_property(TARGET tarnintr APPEND PROPERTY LINK_DEPENDS ${TARN_VERSION_SCRIPT})
endif()

set(TARN_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tarnintr)

install(TARGETS tarnintr EXPORT tarnintrTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The public headers only: include/tarn/*.h. The internal headers beside the
# sources (platform/, interpreter/, support/, ...) stay out.
install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/include/tarn
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development
  FILES_MATCHING PATTERN "*.h")

install(EXPORT tarnintrTargets
  NAMESPACE tarn::
  FILE tarnintrTargets.cmake
  DESTINATION ${TARN_CMAKE_INSTALL_DIR} COMPONENT development)

configure_package_config_file(
  ${CMAKE_CURRENT_SOURCE_DIR}/cmake/tarnintrConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/tarnintrConfig.cmake
  INSTALL_DESTINATION ${TARN_CMAKE_INSTALL_DIR})
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/tarnintrConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/tarnintrConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/tarnintrConfigVersion.cmake
  DESTINATION ${TARN_CMAKE_INSTALL_DIR} COMPONENT development)

# pkg-config: the prefix is found from the .pc file's own place, so the
# package stays usable when `cmake --install --prefix` puts it elsewhere.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(TARN_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(TARN_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH TARN_PC_UP "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
  string(REGEX REPLACE "/$" "" TARN_PC_UP "${TARN_PC_UP}")
  set(TARN_PC_PREFIX "\${pcfiledir}/${TARN_PC_UP}")
  set(TARN_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(TARN_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(TARN_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/tarnintr.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/tarnintr.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tarnintr.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
