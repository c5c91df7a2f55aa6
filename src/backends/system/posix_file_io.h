// Whole-file reads and whole-line appends on file system paths; errors as errno.
#pragma once

#include <string>

namespace varnolt {

// Opens fs_path with O_APPEND (creating the file, never its folder, readable
// and writable by its owner and group only: mode 0660 less the umask, handed
// over as new_files.h says) and appends
// text + ending with a single write(). When the file's last byte is not LF (a
// hand-edited last line without ending), `ending` is written first in the same
// write, so two entries never end up on one line. Appenders using this
// function, in any thread, process or server sharing the file over NFS, take
// turns through an fcntl write lock on the whole file. Returns 0, or the
// errno of the step that failed.
int AppendWholeLine(const std::string& fs_path, const std::string& text, const std::string& ending);

// Reads the whole file into *content. Returns 0, or the errno of the step that failed.
int ReadWholeFile(const std::string& fs_path, std::string* content);

// Reads what is left of an open descriptor (a file, a pipe) into *content,
// leaving it open. Returns 0, or the errno of the read that failed.
int ReadWholeDescriptor(int fd, std::string* content);

}  // namespace varnolt
