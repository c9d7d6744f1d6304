# Debian package of the daemon: `cpack -G DEB` in a build directory. The
# package's dependencies are the Debian runtime packages of the libraries the
# binary links, found by dpkg-shlibdeps (package dpkg-dev).

set(CPACK_PACKAGE_NAME trackmend)
set(CPACK_PACKAGE_VENDOR "trackmend")
set(CPACK_PACKAGE_CONTACT "trackmend maintainers <trackmend@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "post-processor of indoor real-time locating positions")
set(CPACK_PACKAGE_DESCRIPTION
  "trackmend cleans the position stream of an indoor real-time locating system:\n\
per tracked object it smooths x and y with a median over one second and fills\n\
gaps of 1.5 to 5 seconds with interpolated positions. As a daemon it moves\n\
positions from the MariaDB table positions_raw to positions; in batch mode it\n\
processes files.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# useradd (passwd) is the fallback where systemd-sysusers is missing.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "mariadb-server, mariadb-client, gnuplot-nox, python3")

# The package installs below CMAKE_INSTALL_PREFIX, which must be /usr for a
# Debian package: the unit file, the maintainer scripts and the conffile list
# name the installed paths, fixed when the build directory is configured.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/packaging/cpack-project.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "\
if(CPACK_GENERATOR STREQUAL \"DEB\" AND NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL \"/usr\")
  message(FATAL_ERROR \"A Debian package needs a build directory configured with -DCMAKE_INSTALL_PREFIX=/usr (this one has \${CPACK_PACKAGING_INSTALL_PREFIX})\")
endif()
")

set(trackmend_control_dir ${PROJECT_BINARY_DIR}/packaging/debian)
set(trackmend_script_permissions
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
configure_file(packaging/debian/postinst.in ${trackmend_control_dir}/postinst @ONLY
  FILE_PERMISSIONS ${trackmend_script_permissions})
file(COPY packaging/debian/prerm packaging/debian/postrm DESTINATION ${trackmend_control_dir}
  FILE_PERMISSIONS ${trackmend_script_permissions})
file(WRITE ${trackmend_control_dir}/conffiles "${CMAKE_INSTALL_FULL_SYSCONFDIR}/trackmend/trackmend.json\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  "${trackmend_control_dir}/conffiles;${trackmend_control_dir}/postinst;${trackmend_control_dir}/prerm;${trackmend_control_dir}/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
