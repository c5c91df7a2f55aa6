# Removes the files an install listed in its manifest (cmake -DMANIFEST=... -P).
# Folders stay: others' files may share them (/usr/lib, /etc/logrotate.d).
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "${MANIFEST} not found: nothing was installed from this build folder")
endif()
file(STRINGS "${MANIFEST}" files)
foreach(file IN LISTS files)
  set(path "$ENV{DESTDIR}${file}")
  if(EXISTS "${path}" OR IS_SYMLINK "${path}")
    message(STATUS "Removing ${path}")
    file(REMOVE "${path}")
  endif()
endforeach()
