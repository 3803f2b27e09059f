# Where `cmake --install` puts Tarvo (GNUInstallDirs):
#   lib/tarvo/libTarvoSrv1.so        the component (loaded by path from the
#                                    registration store, never linked)
#   lib/libtarvo-com.so.1            the component runtime for host programs
#   lib/libtarvo-gem.so.1            GEM equipment for host programs
#   bin/                             tarvosh, tarvo-regsvr, tarvo-gem, TarvoClient2
#   include/tarvo/                   ITarvo, its enumerations and identifiers,
#                                    the runtime's headers
#   lib/cmake/Tarvo, lib/pkgconfig   find_package(Tarvo) and pkg-config
#   share/tarvo/                     the client's catalogue
#   share/doc/tarvo/                 README, the interface reference
#   lib/python3/dist-packages/       the Python module
#   share/man/man1, share/applications, share/icons   manual pages, the
#                                    client's desktop entry and icon
include(GNUInstallDirs)
# Debian names the folder after the package (GNUInstallDirs would use the
# project name, and may have been set up by a dependency already).
set(tarvo_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/tarvo)
include(CMakePackageConfigHelpers)

set(TARVO_VERSION 1.0.0)
set(tarvo_component_dir ${CMAKE_INSTALL_LIBDIR}/tarvo)

# Programs find the runtime beside them in any prefix; a system install
# (/usr) needs no search path at all.
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(tarvo_rpath "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  foreach(t tarvosh tarvo-regsvr TarvoClient2 tarvo-gem)
    if(TARGET ${t})
      set_target_properties(${t} PROPERTIES INSTALL_RPATH "${tarvo_rpath}")
    endif()
  endforeach()
  # libtarvo-gem finds the runtime beside it.
  set_target_properties(tarvo_gem PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()

install(TARGETS TarvoSrv1 LIBRARY DESTINATION ${tarvo_component_dir} COMPONENT runtime)
set_target_properties(tarvo_com_shared PROPERTIES EXPORT_NAME com)
install(TARGETS tarvo_com_shared EXPORT TarvoTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarvo)
install(TARGETS tarvosh tarvo-regsvr tarvo-gem RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
# libtarvo-gem and its headers (include/tarvo/gem).
set_target_properties(tarvo_gem PROPERTIES EXPORT_NAME gem)
install(TARGETS tarvo_gem EXPORT TarvoTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarvo)
file(GLOB tarvo_gem_headers ${CMAKE_SOURCE_DIR}/gem/*.h)
list(FILTER tarvo_gem_headers EXCLUDE REGEX "/toml\\.h$")
install(FILES ${tarvo_gem_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarvo/gem COMPONENT development)
install(FILES ${CMAKE_SOURCE_DIR}/docs/gem-compliance.md DESTINATION ${tarvo_docdir} COMPONENT runtime)
if(TARGET TarvoClient2)
  install(TARGETS TarvoClient2 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
  install(FILES ${CMAKE_SOURCE_DIR}/client/catalogue/Secs_e.sml ${CMAKE_SOURCE_DIR}/client/catalogue/SEMI_II.txt
    DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvo COMPONENT client)
endif()
if(TARGET tarvo_python)
  # Where Debian's python3 looks for modules of packages (not multiarch).
  install(TARGETS tarvo_python LIBRARY DESTINATION lib/python3/dist-packages COMPONENT python)
endif()

# The headers a host program needs, under include/tarvo with their own
# relative paths (they include each other as "platform/com/..." and
# "driver/...").
file(GLOB tarvo_com_headers ${CMAKE_SOURCE_DIR}/platform/com/*.h)
install(FILES ${tarvo_com_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarvo/platform/com COMPONENT development)
install(FILES ${CMAKE_SOURCE_DIR}/driver/component/itarvo.h ${CMAKE_SOURCE_DIR}/driver/component/tarvo_guids.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarvo/driver/component COMPONENT development)
install(FILES ${CMAKE_SOURCE_DIR}/driver/line/line_type.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarvo/driver/line COMPONENT development)
install(FILES ${CMAKE_SOURCE_DIR}/driver/log/notify_code.h ${CMAKE_SOURCE_DIR}/driver/log/log_mask.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarvo/driver/log COMPONENT development)
install(FILES ${CMAKE_SOURCE_DIR}/driver/messages/elem_type.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarvo/driver/messages COMPONENT development)

# find_package(Tarvo): the imported target Tarvo::com, and where the component is.
install(EXPORT TarvoTargets NAMESPACE Tarvo:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Tarvo COMPONENT development)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/TarvoConfig.cmake.in
  ${CMAKE_BINARY_DIR}/TarvoConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Tarvo
  PATH_VARS tarvo_component_dir)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/TarvoConfigVersion.cmake
  VERSION ${TARVO_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/TarvoConfig.cmake ${CMAKE_BINARY_DIR}/TarvoConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Tarvo COMPONENT development)
configure_file(${CMAKE_SOURCE_DIR}/cmake/tarvo.pc.in ${CMAKE_BINARY_DIR}/tarvo.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/tarvo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${tarvo_docdir} COMPONENT runtime)

# Manual pages, the changelog and the copyright as Debian keeps them.
set(tarvo_packaging ${CMAKE_SOURCE_DIR}/packaging)
find_program(GZIP gzip)
foreach(page tarvosh.1 tarvo-regsvr.1 TarvoClient2.1 tarvo-gem.1)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${GZIP} -9n -c ${tarvo_packaging}/man/${page} > ${CMAKE_BINARY_DIR}/man/${page}.gz
    DEPENDS ${tarvo_packaging}/man/${page})
  list(APPEND tarvo_man_pages ${CMAKE_BINARY_DIR}/man/${page}.gz)
endforeach()
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/changelog.gz
  COMMAND ${GZIP} -9n -c ${tarvo_packaging}/debian/changelog > ${CMAKE_BINARY_DIR}/man/changelog.gz
  DEPENDS ${tarvo_packaging}/debian/changelog ${tarvo_man_pages})
add_custom_target(tarvo_man_pages ALL DEPENDS ${tarvo_man_pages} ${CMAKE_BINARY_DIR}/man/changelog.gz)
install(FILES ${tarvo_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
install(FILES ${CMAKE_BINARY_DIR}/man/changelog.gz ${tarvo_packaging}/debian/copyright
  DESTINATION ${tarvo_docdir} COMPONENT runtime)
if(TARGET TarvoClient2)
  install(FILES ${tarvo_packaging}/debian/tarvo-client.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
    COMPONENT client)
  install(FILES ${CMAKE_SOURCE_DIR}/client/client_icon.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps
    RENAME tarvo-client.png COMPONENT client)
endif()

include(${CMAKE_SOURCE_DIR}/cmake/TarvoPackage.cmake)
