# What `cmake --install` installs, in two components that are also the two
# Debian packages (cmake/packaging.cmake): `varnolt` (the command, the filter,
# the dashboard's module, the man page, the systemd unit, the logrotate rule,
# an example configuration) and `dovecot` (the plugin's modules and a conf.d
# snippet). Destinations follow cmake/install_layout.cmake.

set(VARNOLT_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)

set(VARNOLT_SYSCONF_DIR "" CACHE STRING
    "Where configuration files (logrotate.d, dovecot/conf.d) are installed; empty: /etc for the prefix /usr, \
else etc/ under the prefix")

if(TARGET varnolt_dovecot AND IS_ABSOLUTE "${VARNOLT_DOVECOT_MODULE_DIR}")
  # The modules' run path reaches lib/ of the prefix they were built for:
  # checked before anything is installed.
  set(code [[
    if(NOT CMAKE_INSTALL_PREFIX STREQUAL "@CMAKE_INSTALL_PREFIX@")
      message(FATAL_ERROR "The Dovecot plugin goes into @VARNOLT_DOVECOT_MODULE_DIR@ and finds its libraries in "
                          "@CMAKE_INSTALL_PREFIX@/@VARNOLT_INSTALL_LIBDIR@, not in ${CMAKE_INSTALL_PREFIX}: configure "
                          "with -DCMAKE_INSTALL_PREFIX=${CMAKE_INSTALL_PREFIX} to install there")
    endif()
  ]])
  string(CONFIGURE "${code}" code @ONLY)
  install(CODE "${code}" COMPONENT dovecot)
endif()

install(TARGETS varnolt RUNTIME DESTINATION ${VARNOLT_INSTALL_BINDIR} COMPONENT varnolt)
install(TARGETS varnoltfilter varnolt_error_info LIBRARY DESTINATION ${VARNOLT_INSTALL_LIBDIR} COMPONENT varnolt)
if(TARGET varnolt_http)
  install(TARGETS varnolt_http LIBRARY DESTINATION ${VARNOLT_INSTALL_LIBDIR} COMPONENT varnolt)
endif()

# The man page, compressed as Debian keeps them.
find_program(VARNOLT_GZIP gzip)
if(VARNOLT_GZIP)
  set(page ${CMAKE_BINARY_DIR}/packaging/varnolt.1.gz)
  add_custom_command(OUTPUT ${page} COMMAND ${VARNOLT_GZIP} -9nc ${VARNOLT_PACKAGING_DIR}/varnolt.1 > ${page}
                     DEPENDS ${VARNOLT_PACKAGING_DIR}/varnolt.1 VERBATIM)
  add_custom_target(varnolt_man_page ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT varnolt)
else()
  install(FILES ${VARNOLT_PACKAGING_DIR}/varnolt.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT varnolt)
endif()
install(FILES ${VARNOLT_PACKAGING_DIR}/varnolt.conf.example DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/varnolt/examples
        RENAME varnolt.conf COMPONENT varnolt)

# A file installed into the configuration folder, which is only known at
# install time: a package installs with the prefix /usr, and its
# configuration belongs in /etc.
function(varnolt_install_config component source subdir name)
  set(code [[
    set(etc "@VARNOLT_SYSCONF_DIR@")
    if(etc STREQUAL "" AND CMAKE_INSTALL_PREFIX STREQUAL "/usr")
      set(etc /etc)
    elseif(etc STREQUAL "")
      set(etc "${CMAKE_INSTALL_PREFIX}/etc")
    elseif(NOT IS_ABSOLUTE "${etc}")
      set(etc "${CMAKE_INSTALL_PREFIX}/${etc}")
    endif()
    file(INSTALL DESTINATION "${etc}/@subdir@" TYPE FILE RENAME "@name@" FILES "@source@")
  ]])
  string(CONFIGURE "${code}" code @ONLY)
  install(CODE "${code}" COMPONENT ${component})
endfunction()

varnolt_install_config(varnolt ${VARNOLT_PACKAGING_DIR}/varnolt.logrotate logrotate.d varnolt)

# The dashboard's systemd unit names the command where this install puts it.
set(code [[
  set(VARNOLT_COMMAND "${CMAKE_INSTALL_PREFIX}/@VARNOLT_INSTALL_BINDIR@/varnolt")
  # Made in a folder of its own: installs to other places may run at the same time.
  string(MD5 key "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  set(unit "@CMAKE_BINARY_DIR@/packaging/${key}/varnolt-serve.service")
  configure_file("@VARNOLT_PACKAGING_DIR@/varnolt-serve.service.in" "${unit}" @ONLY)
  file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" TYPE FILE FILES "${unit}")
  file(REMOVE_RECURSE "@CMAKE_BINARY_DIR@/packaging/${key}")
]])
string(CONFIGURE "${code}" code @ONLY)
install(CODE "${code}" COMPONENT varnolt)

if(TARGET varnolt_dovecot)
  install(TARGETS varnolt_dovecot varnolt_dovecot_host varnolt_dovecot_postgres
          LIBRARY DESTINATION ${VARNOLT_DOVECOT_MODULE_DIR} COMPONENT dovecot)
  varnolt_install_config(dovecot ${CMAKE_SOURCE_DIR}/apps/dovecot/varnolt-plugin.conf dovecot/conf.d 95-varnolt.conf)
endif()

# `cmake --build build --target uninstall` removes what the last install put
# down (install_manifest.txt), the same as `xargs rm < install_manifest.txt`.
add_custom_target(uninstall COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
                                    -P ${CMAKE_SOURCE_DIR}/cmake/uninstall.cmake
                  COMMENT "Removing the files of the last install" VERBATIM)
