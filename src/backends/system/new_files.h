// Files and folders this system makes in a home. None is for other users of
// the machine: new files are for their owner and group only. And a home is
// often served by a mail user while an administrator runs the command as
// root: what root makes there is handed to the owner of the folder it lies
// in (the home, the data folder, a domain's folder), so that the mail server
// can go on using it. An existing file keeps its owner.
//
// Every function returns 0 or the errno of the step that failed.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace varnolt {

// Readable and writable by the owner and the group, less the umask.
inline constexpr mode_t kPrivateFileMode = 0660;

// Gives a file or folder this process just made at fs_path the owner and
// group of the folder that holds it, when this process runs as root and they
// differ. fd is the open file, or -1 for a folder. Best effort: what cannot
// be handed over stays as it was made.
void HandOverNewFile(int fd, const std::string& fs_path);

// Opens fs_path with flags (O_CREAT is implied, O_EXCL must not be given).
// A missing file is made with mode and handed over. Returns the descriptor,
// or -1 with errno set.
int OpenOrCreate(const std::string& fs_path, int flags, mode_t mode = kPrivateFileMode);

// Makes an empty file at fs_path with mode, handed over, when nothing is
// there. 0 when made or already there.
int CreateFileIfMissing(const std::string& fs_path, mode_t mode = kPrivateFileMode);

// Makes one folder (not its parents) with mode, handed over. EEXIST when
// something of that name is there.
int CreateFolder(const std::string& fs_path, mode_t mode = 0777);

// Replaces the file at fs_path by bytes so that no reader, crash or power cut
// ever finds half of it: written to "<fs_path>.tmp.<pid>.<n>" beside it,
// synced, renamed over it, and the rename synced in the folder. The file
// keeps the mode and owner it had; a new one gets new_file_mode (less the
// umask) and is handed over.
int ReplaceWholeFile(const std::string& fs_path, std::string_view bytes, mode_t new_file_mode = kPrivateFileMode);

}  // namespace varnolt
