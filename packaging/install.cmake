# Installation (cmake --install) and the Debian package (cpack -G DEB in the build
# directory). The package is built with -DCMAKE_INSTALL_PREFIX=/usr; every path that the
# unit and the maintainer scripts name follows the prefix, so a package built with another
# prefix is still consistent with itself.
include(GNUInstallDirs)

set(CONFSERVER_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(CONFSERVER_PACKAGING_OUT ${CMAKE_CURRENT_BINARY_DIR}/packaging)
# Not CMAKE_INSTALL_LIBDIR: on Debian that is a multiarch directory, and units live in
# lib/systemd/system under the prefix.
set(CONFSERVER_SYSTEMD_UNITDIR "lib/systemd/system" CACHE STRING
    "Directory of the systemd unit, relative to the install prefix")

# The binary.
install(TARGETS confserver RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The service's configuration template (copied to /etc/confserver/omvarc.ini by the
# package's postinst when that file does not exist), the example of the README, the README.
install(FILES ${CONFSERVER_PACKAGING_DIR}/omvarc.ini
        DESTINATION ${CMAKE_INSTALL_DATADIR}/confserver)
install(FILES ${CMAKE_SOURCE_DIR}/examples/omvarc.ini
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The machine-readable copyright file, and the changelog compressed as Debian keeps it.
install(FILES ${CONFSERVER_PACKAGING_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The systemd units, with the binary's installed path in ExecStart: the single conference
# and the template of one conference per instance (confserver@NAME).
foreach(unit confserver.service confserver@.service)
  file(READ ${CONFSERVER_PACKAGING_DIR}/${unit} CONFSERVER_UNIT)
  string(REPLACE "ExecStart=/usr/bin/confserver "
                 "ExecStart=${CMAKE_INSTALL_FULL_BINDIR}/confserver "
                 CONFSERVER_UNIT "${CONFSERVER_UNIT}")
  file(CONFIGURE OUTPUT ${CONFSERVER_PACKAGING_OUT}/${unit}
       CONTENT "${CONFSERVER_UNIT}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${CONFSERVER_PACKAGING_DIR}/${unit})
  install(FILES ${CONFSERVER_PACKAGING_OUT}/${unit}
          DESTINATION ${CONFSERVER_SYSTEMD_UNITDIR})
endforeach()

# The manual page, compressed as Debian keeps them when gzip is there.
find_program(CONFSERVER_GZIP gzip)
if(CONFSERVER_GZIP)
  set(CONFSERVER_MANPAGE ${CONFSERVER_PACKAGING_OUT}/man/confserver.1.gz)
  add_custom_command(
    OUTPUT ${CONFSERVER_MANPAGE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CONFSERVER_PACKAGING_OUT}/man
    COMMAND ${CMAKE_COMMAND} -E copy ${CONFSERVER_PACKAGING_DIR}/confserver.1
            ${CONFSERVER_PACKAGING_OUT}/man/confserver.1
    COMMAND ${CONFSERVER_GZIP} -9nf ${CONFSERVER_PACKAGING_OUT}/man/confserver.1
    DEPENDS ${CONFSERVER_PACKAGING_DIR}/confserver.1
    COMMENT "Compressing the manual page"
    VERBATIM)
else()
  set(CONFSERVER_MANPAGE ${CONFSERVER_PACKAGING_DIR}/confserver.1)
endif()
add_custom_target(confserver_manpage ALL DEPENDS ${CONFSERVER_MANPAGE})
install(FILES ${CONFSERVER_MANPAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(CONFSERVER_GZIP)
  set(CONFSERVER_CHANGELOG ${CONFSERVER_PACKAGING_OUT}/doc/changelog.gz)
  add_custom_command(
    OUTPUT ${CONFSERVER_CHANGELOG}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CONFSERVER_PACKAGING_OUT}/doc
    COMMAND ${CMAKE_COMMAND} -E copy ${CONFSERVER_PACKAGING_DIR}/changelog
            ${CONFSERVER_PACKAGING_OUT}/doc/changelog
    COMMAND ${CONFSERVER_GZIP} -9nf ${CONFSERVER_PACKAGING_OUT}/doc/changelog
    DEPENDS ${CONFSERVER_PACKAGING_DIR}/changelog
    COMMENT "Compressing the changelog"
    VERBATIM)
  add_custom_target(confserver_changelog ALL DEPENDS ${CONFSERVER_CHANGELOG})
  install(FILES ${CONFSERVER_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# Maintainer scripts: postinst names the installed configuration template.
set(CONFSERVER_TEMPLATE "${CMAKE_INSTALL_FULL_DATADIR}/confserver/omvarc.ini")
configure_file(${CONFSERVER_PACKAGING_DIR}/debian/postinst.in
               ${CONFSERVER_PACKAGING_OUT}/debian/postinst @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
configure_file(${CONFSERVER_PACKAGING_DIR}/debian/prerm
               ${CONFSERVER_PACKAGING_OUT}/debian/prerm COPYONLY)
configure_file(${CONFSERVER_PACKAGING_DIR}/debian/postrm
               ${CONFSERVER_PACKAGING_OUT}/debian/postrm COPYONLY)

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME confserver)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "confserver maintainers <confserver@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "conference server for an amateur-radio voice-over-IP linking network")
# One string (set() with several strings would join them with ';'): the extended
# description, one line of dpkg's "Description" field per line; an empty line becomes
# dpkg's paragraph separator " .".
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
       "Stations (voice clients, radio links, repeaters) join the server over UDP\n"
       "ports 5198 and 5199; every audio datagram that one station sends is copied\n"
       "unchanged to every other station, one talker at a time, and every station\n"
       "hears who is connected and who is talking. The server signs off from the\n"
       "network's directory server over TCP port 5200 when it stops.\n"
       "\n"
       "The package runs it as the systemd service confserver under its own system\n"
       "user, with its configuration in /etc/confserver/omvarc.ini.")
set(CPACK_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A native package: the source is its own packaging, and packaging/changelog (shipped as
# changelog.gz) is its Debian changelog, whose top entry names this version.
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES TRUE)
# postinst creates the system user with adduser (useradd where it is missing). The
# HTTP library and the journal's are opened at run time (when the HTTP view starts, when the
# event log goes to the journal), so dpkg-shlibdeps, which reads only the linked libraries,
# does not see them: their packages are named here, with the name the HTTP library's package
# took in Debian's 64-bit time transition as the alternative.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "adduser, libmicrohttpd12 | libmicrohttpd12t64, libsystemd0, liburing2")
find_program(CONFSERVER_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(CONFSERVER_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
         ", libc6, libstdc++6, libgcc-s1, libncursesw6, libtinfo6")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CONFSERVER_PACKAGING_OUT}/debian/postinst
    ${CONFSERVER_PACKAGING_OUT}/debian/prerm
    ${CONFSERVER_PACKAGING_OUT}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
