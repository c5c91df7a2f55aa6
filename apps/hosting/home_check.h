// A home that was copied or moved by hand keeps the constructor string of
// the original: its filter would read and write another home's data folder.
// This finds such a home and says how to re-point it.
#pragma once

#include <optional>
#include <string>

namespace varnolt::hosting {

// The problem with the data folder (a file-system path, "" when the
// constructor string is empty) of the home, in words that include the
// command that fixes it; nullopt when there is none. A data folder outside
// the home is fine unless it lies in another home or does not exist.
std::optional<std::string> DataFolderProblem(const std::string& home, const std::string& data_folder);

// Whether path inner lies below outer (both absolute and normal).
bool IsPathWithin(const std::string& inner, const std::string& outer);

}  // namespace varnolt::hosting
