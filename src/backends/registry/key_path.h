// Key paths of the hive: "HKEY_LOCAL_MACHINE\Software\Varnolt". Compared
// ignoring letter case; HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\Software\Classes.
#pragma once

#include <string>
#include <vector>

namespace varnolt {

inline constexpr const char* kMachineRoot = "HKEY_LOCAL_MACHINE";
inline constexpr const char* kClassesRoot = "HKEY_LOCAL_MACHINE\\Software\\Classes";

// ASCII lower case, for comparing names.
std::string FoldCase(const std::string& text);

// Segments of a path, empty ones (doubled or outer "\") dropped.
std::vector<std::string> SplitKeyPath(const std::string& path);

// The path in its one written form: segments joined by single "\", the root
// spelled out (HKLM -> HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT\X and HKCR\X ->
// HKEY_LOCAL_MACHINE\Software\Classes\X). Other roots stay as written.
std::string CanonicalKeyPath(const std::string& path);

// base + "\" + subkey, canonical; subkey "" is base itself.
std::string JoinKeyPath(const std::string& base, const std::string& subkey);

// Whether path names key or a key below it (ignoring letter case).
bool IsSameOrBelow(const std::string& path, const std::string& key);

}  // namespace varnolt
