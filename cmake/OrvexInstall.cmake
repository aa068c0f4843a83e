# Installs vekrun for programs outside this tree:
#   <prefix>/lib/libvekrun.so.<version> with its SONAME link,
#   <prefix>/include/orvex/<folder>/*.h, the engine's headers and those of the
#     layers they include (a program includes "dataset/vekDatabase.h"),
#   <prefix>/lib/cmake/Orvex, the package find_package(Orvex) reads,
#   <prefix>/lib/pkgconfig/orvex.pc.
include(CMakePackageConfigHelpers)

set(ORVEX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Orvex)

install(TARGETS vekrun EXPORT OrvexTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Every folder whose headers the engine's public headers reach.
set(ORVEX_PUBLIC_HEADER_FOLDERS platform host host/forms storage dataset sql query)
foreach(folder ${ORVEX_PUBLIC_HEADER_FOLDERS})
  if(IS_DIRECTORY ${PROJECT_SOURCE_DIR}/${folder})
    file(GLOB _headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h)
    install(FILES ${_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvex/${folder})
  endif()
endforeach()

install(EXPORT OrvexTargets NAMESPACE Orvex:: DESTINATION ${ORVEX_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/OrvexConfig.cmake.in
  ${PROJECT_BINARY_DIR}/OrvexConfig.cmake INSTALL_DESTINATION ${ORVEX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/OrvexConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/OrvexConfig.cmake ${PROJECT_BINARY_DIR}/OrvexConfigVersion.cmake
  DESTINATION ${ORVEX_CMAKE_DIR})

# pkg-config: the sanitizer run-time goes with a sanitized build's link line.
set(ORVEX_PC_LIBS_EXTRA "")
if(ORVEX_SANITIZE)
  set(ORVEX_PC_LIBS_EXTRA " -fsanitize=address,undefined")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/orvex.pc.in ${PROJECT_BINARY_DIR}/orvex.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/orvex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
