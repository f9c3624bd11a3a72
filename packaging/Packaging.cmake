# Installation and the Debian package: the server as a systemd service (one server, or several
# through the template unit), the operator tool, the commented default configuration, the
# manual pages and the Debian documentation.
#   cmake --install build [--prefix /usr]     (the units' paths follow the prefix)
#   scripts/package.sh                         (parlowind-server_1.2.0_<arch>.deb, no tests built)
# The server in a directory of its own: its program directory is where -INI= starts from.
install(TARGETS plserver RUNTIME DESTINATION lib/plserver)
if(TARGET plctl)
  install(TARGETS plctl RUNTIME DESTINATION bin)
endif()
install(PROGRAMS ${CMAKE_CURRENT_LIST_DIR}/plserver-prepare DESTINATION lib/plserver)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/plserver.ini DESTINATION share/plserver)
# Log rotation: an absolute destination, since logrotate reads /etc/logrotate.d whatever the
# prefix; the package marks it as a configuration file the operator may edit.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/logrotate/plserver DESTINATION /etc/logrotate.d)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/fail2ban/plserver.conf
              ${CMAKE_CURRENT_LIST_DIR}/fail2ban/plserver.jail.local
        DESTINATION share/plserver/fail2ban)

# Manual pages and the changelog, compressed as Debian wants them: gzip -9 without a name or
# time stamp, so the same sources give the same package.
find_program(PL_GZIP gzip REQUIRED)
set(pl_compressed "")
foreach(pl_source IN ITEMS man/plserver.8 man/plctl.1 debian/changelog)
  get_filename_component(pl_name ${pl_source} NAME)
  set(pl_output ${CMAKE_BINARY_DIR}/packaging/${pl_name}.gz)
  add_custom_command(
    OUTPUT ${pl_output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND sh -c "\"$0\" -9nc \"$1\" > \"$2\"" ${PL_GZIP} ${CMAKE_CURRENT_LIST_DIR}/${pl_source}
            ${pl_output}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/${pl_source}
    VERBATIM)
  list(APPEND pl_compressed ${pl_output})
endforeach()
add_custom_target(pl_package_docs ALL DEPENDS ${pl_compressed})
install(FILES ${CMAKE_BINARY_DIR}/packaging/plserver.8.gz DESTINATION share/man/man8)
install(FILES ${CMAKE_BINARY_DIR}/packaging/plctl.1.gz DESTINATION share/man/man1)
set(pl_doc_dir share/doc/parlowind-server)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${pl_doc_dir})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${CMAKE_SOURCE_DIR}/README.md
        DESTINATION ${pl_doc_dir})

install(CODE "set(PL_UNIT_SOURCES \"${CMAKE_CURRENT_LIST_DIR}/plserver.service;${CMAKE_CURRENT_LIST_DIR}/plserver@.service\")")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/InstallUnit.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME parlowind-server)
set(CPACK_PACKAGE_VERSION 1.2.0)
set(CPACK_PACKAGE_VENDOR "Parlowind")
set(CPACK_PACKAGE_CONTACT "Parlowind maintainers <maintainers@parlowind.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Parlowind voice-chat server with its operator tool")
# The extended description: lines of at most 80 characters (CPack indents the ones after the
# first).
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "A voice-chat server for small groups of players: TCP control connections for\n"
  "login, rooms, administration and statistics, and a UDP relay for voice. It runs\n"
  "as the confined systemd service plserver, or as several instances of\n"
  "plserver@.service on one host; plctl administers and diagnoses it from the\n"
  "command line.")
# The package installs under /usr whatever the build's own prefix; the install scripts see that
# final prefix (the unit's paths are fitted to it) and the staging directory lies in DESTDIR.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Programs without their debug sections (a package is not where debugging happens).
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Parlowind maintainers <maintainers@parlowind.invalid>")
# postinst creates the plserver user and group with adduser; dpkg-shlibdeps adds the libraries.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
find_program(PL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(PL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libc6, libstdc++6, libgcc-s1, libcpp-httplib0.11")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
    ${CMAKE_CURRENT_LIST_DIR}/debian/postrm ${CMAKE_CURRENT_LIST_DIR}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
