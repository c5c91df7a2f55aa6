#include "platform/names/data_layout.h"

#include "platform/com/com_error.h"

namespace varnolt {

std::string DataFolderFromConstructorString(const std::string& constructor_string) {
  if (constructor_string.empty()) throw RuntimeError(kSubscriptOutOfRange);
  std::string folder = constructor_string.substr(0, constructor_string.find(';'));
  const size_t begin = folder.find_first_not_of(' ');
  folder = begin == std::string::npos ? "" : folder.substr(begin, folder.find_last_not_of(' ') - begin + 1);
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

std::string DomainDirectory(const std::string& data_folder, const std::string& domain) { return data_folder + domain; }

std::string UserDatabasePath(const std::string& data_folder, const std::string& domain, const std::string& user) {
  return DomainDirectory(data_folder, domain) + "\\" + user + ".dat";
}

std::string DomainModelPath(const std::string& data_folder, const std::string& domain) {
  return DomainDirectory(data_folder, domain) + "\\" + kDomainModelFileName;
}

std::string DomainModelPathBeside(const std::string& dat_path) {
  const size_t separator = dat_path.find_last_of("\\/");
  if (separator == std::string::npos) return kDomainModelFileName;
  return dat_path.substr(0, separator + 1) + kDomainModelFileName;
}

ModelPathParts SplitModelPath(const std::string& path) {
  ModelPathParts parts;
  const size_t file = path.find_last_of("\\/");
  if (file == std::string::npos) {
    parts.file = path;
    return parts;
  }
  parts.in_directory = true;
  parts.file = path.substr(file + 1);
  const size_t domain = file == 0 ? std::string::npos : path.find_last_of("\\/", file - 1);
  const size_t domain_start = domain == std::string::npos ? 0 : domain + 1;
  parts.domain = path.substr(domain_start, file - domain_start);
  if (domain != std::string::npos) parts.data_folder = path.substr(0, domain + 1);
  return parts;
}

bool IsModelFileName(const std::string& name) {
  return name == kDomainModelFileName || (name.size() > 4 && name.ends_with(".dat"));
}

std::string WhiteListPath(const std::string& dat_path) { return dat_path + ".wlt"; }

std::string LogFilePath(const std::string& data_folder) { return data_folder + kLogFileName; }

std::string UserManualSourcePath(const std::string& data_folder) { return data_folder + kUserManualSourceFile; }

std::string MailboxUrl(const std::string& domain, const std::string& user) {
  return std::string(kMailboxUrlPrefix) + domain + kMailboxUrlInfix + user;
}

std::string FolderUrl(const std::string& domain, const std::string& user, const std::string& path) {
  const size_t begin = path.find_first_not_of('/');
  if (begin == std::string::npos) return MailboxUrl(domain, user);
  return MailboxUrl(domain, user) + "/" + path.substr(begin, path.find_last_not_of('/') - begin + 1);
}

}  // namespace varnolt
