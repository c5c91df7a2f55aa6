// Where the filter keeps its data and how it names mailboxes: the rules the
// filter and every host share. Compiled into the filter library and into each
// host, so that a host never restates them. Paths are the filter's composed
// texts ("\" separators; the file layer maps them).
#pragma once

#include <string>

namespace varnolt {

// The registry key of the filter's settings, below HKEY_LOCAL_MACHINE.
inline constexpr const char* kSettingsKey = "Software\\Varnolt";
// Where a host keeps the component's constructor string (REG_SZ, kept exactly
// as entered), below HKEY_LOCAL_MACHINE.
inline constexpr const char* kHostKey = "Software\\VarnoltHost\\VarnoltFilter";
inline constexpr const char* kConstructorStringValue = "ConstructorString";

// Files in the data folder.
inline constexpr const char* kLogFileName = "Varnolt.log";
inline constexpr const char* kUserManualSourceFile = "vnusrmnl.sys";

// The data folder named by the constructor string: the first ";"-separated
// field, blanks (only " ") trimmed on both sides, with a "\" appended unless
// it already ends in one (a "/" does not count). An empty string has no first
// field: throws ComError 9 "Subscript out of range".
std::string DataFolderFromConstructorString(const std::string& constructor_string);

// data_folder + domain: one directory per mail domain.
std::string DomainDirectory(const std::string& data_folder, const std::string& domain);
// The user's spam database: the domain directory + "\" + user + ".dat".
std::string UserDatabasePath(const std::string& data_folder, const std::string& domain, const std::string& user);
// The domain's shared spam model, beside its users' databases: the domain
// directory + "\" + kDomainModelFileName. Every user file of the folder ends
// in ".dat" (or ".dat" + ".wlt", ".create", SQLite's "-journal"), so no
// mailbox name can ever name this file, and its existence never makes a user
// known.
inline constexpr const char* kDomainModelFileName = "@domain.model";
std::string DomainModelPath(const std::string& data_folder, const std::string& domain);
// The shared model of the domain whose directory holds dat_path (a user's
// database as UserDatabasePath composes it; "/" separators are taken too).
std::string DomainModelPathBeside(const std::string& dat_path);
// A model's path read back into what it was composed from, the inverse of
// UserDatabasePath and DomainModelPath ("\" or "/" separators).
struct ModelPathParts {
  std::string data_folder;    // up to the separator before the domain directory, with it; "" when none
  std::string domain;         // the directory that holds the file; "" when none
  std::string file;           // user + ".dat", or kDomainModelFileName
  bool in_directory = false;  // the path has a directory part at all
};
ModelPathParts SplitModelPath(const std::string& path);
// Whether a file of a domain directory holds a model: a user's database
// (user + ".dat") or the domain's shared model.
bool IsModelFileName(const std::string& name);
// The user's whitelist beside the database: dat_path + ".wlt".
std::string WhiteListPath(const std::string& dat_path);
// data_folder + "Varnolt.log".
std::string LogFilePath(const std::string& data_folder);
// data_folder + "vnusrmnl.sys".
std::string UserManualSourcePath(const std::string& data_folder);

// Mailbox URLs: file://./backofficestorage/<domain>/MBX/<user>/<folder path>/<item name>.
inline constexpr const char* kMailboxUrlPrefix = "file://./backofficestorage/";
inline constexpr const char* kMailboxUrlInfix = "/MBX/";
// kMailboxUrlPrefix + domain + "/MBX/" + user. Pure text.
std::string MailboxUrl(const std::string& domain, const std::string& user);
// The mailbox URL + "/" + path ("Inbox/Sub"); a leading or trailing "/" of
// the path is dropped. Pure text; nothing is looked up.
std::string FolderUrl(const std::string& domain, const std::string& user, const std::string& path);

}  // namespace varnolt
