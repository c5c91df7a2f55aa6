# SQLite, GMime and inih as the targets link them: varnolt_sqlite3,
# varnolt_gmime and varnolt_inih.
#
# The varnolt command is started once per message by scripts and other mail
# systems (`varnolt check`). Linked with the shared GMime, the dynamic loader
# maps and relocates 24 libraries before main, most of them what GMime brings
# (glib, gobject, gio, gpgme, idn2...), and that costs more than the command's
# own work. So the command links these libraries statically, and the loader
# maps 10. Everything else (the filter component, the Dovecot plugin, tests,
# benchmarks) keeps the shared libraries: the Dovecot plugin in particular
# lives in a process whose other plugins may use glib, and two copies of glib's
# type system in one process would be a fault. The component the command loads
# uses none of these libraries, so the command's process holds one copy.
#
# A target links the static archives when its property VARNOLT_STATIC_LIBRARIES
# is true (only the command sets it), else the shared libraries.

option(VARNOLT_STATIC_COMMAND "Link SQLite, GMime (with glib) and inih statically into the varnolt command" ON)

pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(GMIME REQUIRED IMPORTED_TARGET gmime-3.0)
pkg_check_modules(INIH REQUIRED IMPORTED_TARGET inih)

# The archives, in link order. GMime needs gio for its GIO streams, and gio
# needs libmount, which Debian ships shared only: it stays shared, and so do
# libselinux and pcre2, which libmount loads anyway.
set(VARNOLT_GMIME_ARCHIVES gmime-3.0 gio-2.0 gobject-2.0 gmodule-2.0 glib-2.0 gpgme assuan gpg-error idn2
                           unistring ffi z)
set(VARNOLT_GMIME_SHARED_REST mount selinux pcre2-8)

set(missing)
foreach(name IN LISTS VARNOLT_GMIME_ARCHIVES ITEMS sqlite3 inih)
  find_library(VARNOLT_ARCHIVE_${name} NAMES lib${name}.a)
  if(NOT VARNOLT_ARCHIVE_${name})
    list(APPEND missing lib${name}.a)
  endif()
endforeach()
if(VARNOLT_STATIC_COMMAND AND missing)
  message(STATUS "varnolt command: no ${missing} (scripts/setup installs them); linking the shared libraries")
  set(VARNOLT_STATIC_COMMAND OFF)
endif()

add_library(varnolt_sqlite3_static INTERFACE)
target_include_directories(varnolt_sqlite3_static SYSTEM INTERFACE ${SQLITE3_INCLUDE_DIRS})
target_link_libraries(varnolt_sqlite3_static INTERFACE ${VARNOLT_ARCHIVE_sqlite3} m ${CMAKE_DL_LIBS} Threads::Threads)

add_library(varnolt_gmime_static INTERFACE)
target_include_directories(varnolt_gmime_static SYSTEM INTERFACE ${GMIME_INCLUDE_DIRS})
target_compile_options(varnolt_gmime_static INTERFACE ${GMIME_CFLAGS_OTHER})
set(archives)
foreach(name IN LISTS VARNOLT_GMIME_ARCHIVES)
  list(APPEND archives ${VARNOLT_ARCHIVE_${name}})
endforeach()
list(JOIN archives "," archives)
# RESCAN: the archives refer to each other in both directions (gio and glib).
target_link_libraries(varnolt_gmime_static INTERFACE "$<LINK_GROUP:RESCAN,${archives}>"
                      ${VARNOLT_GMIME_SHARED_REST} m ${CMAKE_DL_LIBS} Threads::Threads)

add_library(varnolt_inih_static INTERFACE)
target_include_directories(varnolt_inih_static SYSTEM INTERFACE ${INIH_INCLUDE_DIRS})
target_link_libraries(varnolt_inih_static INTERFACE ${VARNOLT_ARCHIVE_inih})

foreach(name IN ITEMS sqlite3 gmime inih)
  string(TOUPPER ${name} prefix)
  add_library(varnolt_${name} INTERFACE)
  target_link_libraries(varnolt_${name} INTERFACE
                        "$<IF:$<BOOL:$<TARGET_PROPERTY:VARNOLT_STATIC_LIBRARIES>>,varnolt_${name}_static,PkgConfig::${prefix}>")
endforeach()
