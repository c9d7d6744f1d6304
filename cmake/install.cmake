# Install rules: the daemon's binary, its man page, the systemd unit and
# account, the configuration and the database schema. Paths follow
# GNUInstallDirs, so `cmake --install` honours the prefix and DESTDIR.

# systemd's own directories, from its pkg-config file where systemd is
# installed; otherwise the conventional place below the prefix.
function(trackmend_systemd_dir out variable fallback)
  pkg_get_variable(dir systemd ${variable})
  if(NOT dir)
    set(dir ${CMAKE_INSTALL_PREFIX}/${fallback})
  endif()
  set(${out} ${dir} PARENT_SCOPE)
endfunction()

if(NOT DEFINED TRACKMEND_SYSTEMD_UNIT_DIR)
  trackmend_systemd_dir(unit_dir systemdsystemunitdir lib/systemd/system)
  set(TRACKMEND_SYSTEMD_UNIT_DIR ${unit_dir} CACHE PATH "Directory of systemd system units")
endif()
if(NOT DEFINED TRACKMEND_SYSUSERS_DIR)
  trackmend_systemd_dir(sysusers_dir sysusersdir lib/sysusers.d)
  set(TRACKMEND_SYSUSERS_DIR ${sysusers_dir} CACHE PATH "Directory of systemd sysusers.d snippets")
endif()

# Debian installs man pages compressed, without a time stamp in the header.
set(trackmend_man_page ${PROJECT_BINARY_DIR}/docs/trackmend.1.gz)
add_custom_command(OUTPUT ${trackmend_man_page}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/docs
  COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/docs/trackmend.1 > ${trackmend_man_page}
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/trackmend.1
  VERBATIM)
add_custom_target(trackmend_man_page ALL DEPENDS ${trackmend_man_page})
install(FILES ${trackmend_man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(TARGET trackmend)
  install(TARGETS trackmend RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Building the binary alone is enough for `cmake --install` and cpack.
  add_dependencies(trackmend trackmend_man_page)
endif()

# Two units from one text: trackmend.service for the one site of a host, and
# the template trackmend@.service for many sites, where instance SITE reads
# /etc/trackmend/SITE.json and gets /var/lib/trackmend/SITE and
# /run/trackmend-SITE for its state files and PID file.
set(TRACKMEND_UNIT_COMMENT "One daemon per host; trackmend@.service runs one per site.")
set(TRACKMEND_UNIT_DESCRIPTION "trackmend position post-processor (positions_raw to positions)")
set(TRACKMEND_UNIT_CONFIG trackmend)
set(TRACKMEND_UNIT_STATE_DIRECTORY trackmend)
set(TRACKMEND_UNIT_RUNTIME_DIRECTORY trackmend)
configure_file(packaging/trackmend.service.in ${PROJECT_BINARY_DIR}/packaging/trackmend.service @ONLY)
set(TRACKMEND_UNIT_COMMENT "Instance SITE: configuration SITE.json, \"persistent_data_dir\": /var/lib/trackmend/SITE,\n# \"pidfile\": /run/trackmend-SITE/trackmend.pid. Start with systemctl enable --now trackmend@SITE.")
set(TRACKMEND_UNIT_DESCRIPTION "trackmend position post-processor for site %i")
set(TRACKMEND_UNIT_CONFIG %i)
set(TRACKMEND_UNIT_STATE_DIRECTORY trackmend/%i)
# Not below /run/trackmend, which trackmend.service removes when it stops.
set(TRACKMEND_UNIT_RUNTIME_DIRECTORY trackmend-%i)
configure_file(packaging/trackmend.service.in ${PROJECT_BINARY_DIR}/packaging/trackmend@.service @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/trackmend.service ${PROJECT_BINARY_DIR}/packaging/trackmend@.service
  DESTINATION ${TRACKMEND_SYSTEMD_UNIT_DIR})
install(FILES packaging/trackmend.sysusers DESTINATION ${TRACKMEND_SYSUSERS_DIR} RENAME trackmend.conf)

# The configuration holds the database password: not readable by others. The
# package's postinst hands it to the daemon's group.
install(FILES examples/trackmend.json
  DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/trackmend
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)
install(FILES examples/trackmend.json DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES sql/schema.sql DESTINATION ${CMAKE_INSTALL_DATADIR}/trackmend)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(PROGRAMS tools/plot_tracks DESTINATION ${CMAKE_INSTALL_DATADIR}/trackmend/tools)
