# The Debian packages, made by CPack from the install components
# (cmake/install_rules.cmake): `varnolt` and `varnolt-dovecot`. scripts/package
# configures a build for the prefix /usr and runs CPack on it.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnolt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "VarnoltFilter maintainers <root@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEB_COMPONENT_INSTALL ON)
# Installed with DESTDIR and the packages' prefix, so that install-time
# destinations (configuration in /etc, the unit naming /usr/bin/varnolt) see /usr.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries' dependencies from dpkg-shlibdeps; ours are found by their run paths.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_COMPONENTS_ALL varnolt)
set(CPACK_DEBIAN_VARNOLT_PACKAGE_NAME varnolt)
# The first line is the synopsis; CPack indents the rest.
set(CPACK_DEBIAN_VARNOLT_DESCRIPTION
    "mailbox-side learning spam filter: command, filter library, dashboard
VarnoltFilter judges mail as a mail store saves it: internal and whitelisted
senders are trusted, the rest is scored by a learning spam engine with a model
per user and one per domain, and SPAM is stamped and moved into the junk
folder. Users' moves into and out of the junk folder teach it.

This package holds the varnolt command (a mail store, delivery for mail
transfer agents, training, administration), the filter library, the
dashboard (varnolt serve, with a systemd unit) and a logrotate rule.")
set(CPACK_DEBIAN_VARNOLT_PACKAGE_RECOMMENDS logrotate)
set(CPACK_DEBIAN_VARNOLT_PACKAGE_SUGGESTS varnolt-dovecot)
set(CPACK_DEBIAN_VARNOLT_PACKAGE_CONTROL_EXTRA
    "${CMAKE_SOURCE_DIR}/packaging/debian-varnolt/conffiles;${CMAKE_SOURCE_DIR}/packaging/debian-varnolt/postinst;\
${CMAKE_SOURCE_DIR}/packaging/debian-varnolt/prerm;${CMAKE_SOURCE_DIR}/packaging/debian-varnolt/postrm")

if(TARGET varnolt_dovecot)
  list(APPEND CPACK_COMPONENTS_ALL dovecot)
  set(CPACK_DEBIAN_DOVECOT_PACKAGE_NAME varnolt-dovecot)
  set(CPACK_DEBIAN_DOVECOT_DESCRIPTION
      "VarnoltFilter spam filter plugin for Dovecot
Runs the VarnoltFilter spam filter inside Dovecot 2.3: every message
delivered through LMTP or dovecot-lda is judged before the delivery is
answered, and a user's IMAP move into or out of the junk folder teaches it.
It shares its home (settings, log, models) with the varnolt command.")
  # Dovecot loads only plugins built for its ABI (DOVECOT_ABI_VERSION of its
  # config.h, "2.3.ABIv19(2.3.19.1)": Debian's dovecot-core provides
  # dovecot-abi-2.3.abiv19).
  set(dovecot_depends "varnolt (= ${PROJECT_VERSION})")
  get_target_property(dovecot_includes varnolt_dovecot INCLUDE_DIRECTORIES)
  foreach(dir IN LISTS dovecot_includes)
    if(EXISTS ${dir}/config.h)
      file(STRINGS ${dir}/config.h abi_line REGEX "^#define DOVECOT_ABI_VERSION ")
      if(abi_line MATCHES "\"([0-9]+\\.[0-9]+)\\.(ABIv[0-9]+)")
        string(TOLOWER "dovecot-abi-${CMAKE_MATCH_1}.${CMAKE_MATCH_2}" abi_package)
        string(APPEND dovecot_depends ", ${abi_package}")
      endif()
    endif()
  endforeach()
  set(CPACK_DEBIAN_DOVECOT_PACKAGE_DEPENDS "${dovecot_depends}")
  set(CPACK_DEBIAN_DOVECOT_PACKAGE_CONTROL_EXTRA "${CMAKE_SOURCE_DIR}/packaging/debian-varnolt-dovecot/conffiles")
endif()

include(CPack)
