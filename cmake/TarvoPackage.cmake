# The Debian package, built by CPack from a build configured for /usr
# (tools/build_package.sh): tarvo_<version>_<arch>.deb with its dependencies
# from dpkg-shlibdeps and maintainer scripts that register the component
# system-wide on installation and remove the registration on removal.
set(tarvo_component_path /usr/${CMAKE_INSTALL_LIBDIR}/tarvo/libTarvoSrv1.so)
set(tarvo_control ${CMAKE_BINARY_DIR}/debian-control)
foreach(script postinst prerm postrm)
  file(READ ${CMAKE_SOURCE_DIR}/packaging/debian/${script} text)
  string(REPLACE "@TARVO_COMPONENT@" "${tarvo_component_path}" text "${text}")
  file(WRITE ${tarvo_control}/${script} "${text}")
  file(CHMOD ${tarvo_control}/${script} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
endforeach()
file(COPY ${CMAKE_SOURCE_DIR}/packaging/debian/triggers DESTINATION ${tarvo_control})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvo)
set(CPACK_PACKAGE_VERSION ${TARVO_VERSION})
set(CPACK_PACKAGE_CONTACT "Tarvo developers <developers@tarvo.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SECS-I, HSMS and SECS-II driver for semiconductor equipment")
# The long description (CPack puts the summary line before it and indents it).
set(CPACK_PACKAGE_DESCRIPTION
"Tarvo is a communications driver for the semiconductor-equipment messaging
standards SECS-I (SEMI E4, serial lines), HSMS (SEMI E37, TCP/IP) and
SECS-II (SEMI E5). Host programs create its driver component through a small
component runtime and send and receive SML messages.

The package holds the driver component, the runtime library for host
programs with its headers, CMake package and pkg-config file, the scripting
host tarvosh, tarvo-regsvr, the example client TarvoClient2 and the Python
module tarvo.")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${tarvo_control}/postinst ${tarvo_control}/prerm ${tarvo_control}/postrm ${tarvo_control}/triggers)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL OFF)
include(CPack)
