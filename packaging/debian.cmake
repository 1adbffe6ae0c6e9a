# The Debian package, built with CPack's DEB generator by scripts/package
# (preset "package": prefix /usr, QZ_DEB on). Its program folder follows the
# Filesystem Hierarchy Standard: the system daemon's settings and log are
# state it rewrites, in /var/lib/qznotes; /etc/qznotes links there, so the
# administrator finds the settings under /etc while the server's writes stay
# inside one program folder (writes through links out of it are refused).

install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION "${CMAKE_INSTALL_DOCDIR}")

if(QZ_DEB)
  file(MAKE_DIRECTORY "${QZ_GENERATED}/deb/var-lib-qznotes")
  file(CREATE_LINK "${QZ_SYSTEM_FOLDER}" "${QZ_GENERATED}/deb/qznotes" SYMBOLIC)
  install(FILES "${QZ_GENERATED}/deb/qznotes" DESTINATION /etc)
  install(DIRECTORY "${QZ_GENERATED}/deb/var-lib-qznotes/" DESTINATION "${QZ_SYSTEM_FOLDER}")
  install(FILES debian/copyright DESTINATION "${CMAKE_INSTALL_DOCDIR}")
  # A native package's changelog, compressed as Debian policy wants it.
  add_custom_command(OUTPUT "${QZ_GENERATED}/deb/changelog.gz"
                     COMMAND sh -c "gzip -9n -c \"$1\" >\"$2\"" sh
                             "${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog" "${QZ_GENERATED}/deb/changelog.gz"
                     DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog" VERBATIM)
  add_custom_target(qznotes-deb-changelog ALL DEPENDS "${QZ_GENERATED}/deb/changelog.gz")
  install(FILES "${QZ_GENERATED}/deb/changelog.gz" DESTINATION "${CMAKE_INSTALL_DOCDIR}")
  install(FILES debian/qznotes.sysusers DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/sysusers.d"
          RENAME qznotes.conf)
  install(FILES debian/qznotes.lintian-overrides DESTINATION "${CMAKE_INSTALL_DATADIR}/lintian/overrides"
          RENAME qznotes)
  install(FILES debian/qznotes.tmpfiles DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/tmpfiles.d"
          RENAME qznotes.conf)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qznotes)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "QzNotes maintainers <maintainers@qznotes.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "notification server for mail, SNPP, SMS and TAP paging over D-Bus")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Monitoring agents, schedulers and scripts hand qznotesd notification\nrequests over D-Bus; it delivers them by SMTP mail, SNPP paging servers,\nSMS web gateways and TAP paging terminals, calls the client back with the\noutcome and logs what failed. Includes the command-line client qznotes.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # qznotes_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# systemd-tmpfiles hands the program folder to the daemon's user.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, dbus, glib-networking, systemd | systemd-standalone-tmpfiles")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ca-certificates")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "dbus-broker")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst"
    "${CMAKE_CURRENT_SOURCE_DIR}/debian/prerm"
    "${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Absolute destinations (/etc, /var/lib) go under the staging root too.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES ON)
include(CPack)
