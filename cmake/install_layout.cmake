# Where `cmake --install` puts things, and the run paths that find our own
# libraries from there. Every destination is relative to the install prefix
# unless an administrator names an absolute one, so that `--prefix` and
# DESTDIR hold for all of it.
#
#   bin/varnolt                      the command
#   lib/libvarnoltfilter.so          the filter component, its error slot and
#   lib/libvarnolt_error_info.so     the dashboard's HTTP module (the command
#   lib/libvarnolt_http.so           looks for them in ../lib beside bin/)
#   VARNOLT_DOVECOT_MODULE_DIR/      the Dovecot plugin's three modules
#
# Installed text files that name installed paths (the systemd unit) are made
# at install time, from the prefix the install really uses.

include(GNUInstallDirs)

# Fixed: the command finds the component and the HTTP module in ../lib.
set(VARNOLT_INSTALL_BINDIR bin)
set(VARNOLT_INSTALL_LIBDIR lib)

set(VARNOLT_DOVECOT_MODULE_DIR "lib/dovecot/modules" CACHE STRING
    "Where the Dovecot plugin is installed: relative to the install prefix, or absolute (e.g. Dovecot's own \
/usr/lib/dovecot/modules when the prefix is /usr/local). Dovecot loads plugins from its mail_plugin_dir.")

# The Dovecot modules find the error slot in lib/ relative to where they lie.
# An absolute module folder is only reached from the prefix given here, so an
# install to another prefix is refused (cmake/install_rules.cmake).
if(IS_ABSOLUTE "${VARNOLT_DOVECOT_MODULE_DIR}")
  set(_varnolt_module_dir "${VARNOLT_DOVECOT_MODULE_DIR}")
  set(_varnolt_lib_dir "${CMAKE_INSTALL_PREFIX}/${VARNOLT_INSTALL_LIBDIR}")
else()
  set(_varnolt_module_dir "/prefix/${VARNOLT_DOVECOT_MODULE_DIR}")
  set(_varnolt_lib_dir "/prefix/${VARNOLT_INSTALL_LIBDIR}")
endif()
file(RELATIVE_PATH VARNOLT_DOVECOT_TO_LIBDIR "${_varnolt_module_dir}" "${_varnolt_lib_dir}")
string(REGEX REPLACE "/$" "" VARNOLT_DOVECOT_TO_LIBDIR "${VARNOLT_DOVECOT_TO_LIBDIR}")
if(VARNOLT_DOVECOT_TO_LIBDIR STREQUAL "")
  set(VARNOLT_DOVECOT_TO_LIBDIR ".")
endif()

# Each binary carries one run path for both trees (see the top CMakeLists.txt
# for why): the installed place first, then the build tree's.
#   the command: ../lib installed, the top build folder from apps/varnolt/.
set(VARNOLT_COMMAND_RUN_PATH "$ORIGIN/../${VARNOLT_INSTALL_LIBDIR}" "$ORIGIN/../..")
#   the Dovecot modules: beside them (the tests' copies), lib/ installed, the
#   top build folder from dovecot/.
set(VARNOLT_DOVECOT_RUN_PATH "$ORIGIN")
if(NOT VARNOLT_DOVECOT_TO_LIBDIR STREQUAL ".")
  list(APPEND VARNOLT_DOVECOT_RUN_PATH "$ORIGIN/${VARNOLT_DOVECOT_TO_LIBDIR}")
endif()
list(APPEND VARNOLT_DOVECOT_RUN_PATH "$ORIGIN/..")
list(REMOVE_DUPLICATES VARNOLT_DOVECOT_RUN_PATH)

# The command as installed, for the examples its help prints.
set(VARNOLT_INSTALLED_COMMAND "${CMAKE_INSTALL_PREFIX}/${VARNOLT_INSTALL_BINDIR}/varnolt")

# Install rules without a component of their own belong to the command's package.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME varnolt)
