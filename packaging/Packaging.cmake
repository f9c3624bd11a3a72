# Installation and the Debian package: the server as a systemd service, the operator tool, and
# the commented default configuration.
#   cmake --install build [--prefix /usr]     (the unit's paths follow the prefix)
#   cd build && cpack -G DEB                   (parlowind-server_1.2.0_<arch>.deb)
# The server in a directory of its own: its program directory is where -INI= starts from.
install(TARGETS plserver RUNTIME DESTINATION lib/plserver)
if(TARGET plctl)
  install(TARGETS plctl RUNTIME DESTINATION bin)
endif()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/plserver.ini DESTINATION share/plserver)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION share/doc/parlowind-server)
install(CODE "set(PL_UNIT_SOURCE \"${CMAKE_CURRENT_LIST_DIR}/plserver.service\")")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/InstallUnit.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME parlowind-server)
set(CPACK_PACKAGE_VERSION 1.2.0)
set(CPACK_PACKAGE_VENDOR "Parlowind")
set(CPACK_PACKAGE_CONTACT "Parlowind maintainers <maintainers@parlowind.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Parlowind voice-chat server with its operator tool")
set(CPACK_PACKAGE_DESCRIPTION "A voice-chat server for small groups of players: TCP control \
connections for login, rooms, administration and statistics, and a UDP relay for voice. It runs \
as the systemd service plserver; plctl administers and diagnoses it from the command line.")
# The package installs under /usr whatever the build's own prefix; the install scripts see that
# final prefix (the unit's paths are fitted to it) and the staging directory lies in DESTDIR.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Parlowind maintainers <maintainers@parlowind.invalid>")
find_program(PL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(PL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
