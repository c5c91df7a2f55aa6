// Reading and writing single values of the hive through the registry API,
// with failures turned into command errors that name the key and value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "backends/registry/value_text.h"
#include "platform/names/data_layout.h"
#include "platform/registry.h"

namespace varnolt::hosting {

// What `varnolt init --repair` does, for messages that send an administrator there.
inline constexpr const char* kRepairAdvice =
    "'varnolt init --repair' registers the filter again and restores missing settings, keeping all mail";

// What a failure status of the registry means for the administrator, as
// ": access denied" (with the way out where there is one); "" for others.
std::string StatusMeaning(int32_t status);

// Throws CommandError unless the hive file exists: only `init` may start one,
// any other command would make a hive without the filter's registration.
void RequireHiveFile(const std::string& path);

// The value, or nullopt when the key or the value does not exist. Throws
// CommandError when the hive cannot be read.
std::optional<RegValue> QueryValue(Registry& registry, HKEY root, const std::string& subkey,
                                   const std::string& name);

// Creates the key when missing and writes the value. Throws CommandError on failure.
void SetValue(Registry& registry, HKEY root, const std::string& subkey, const std::string& name,
              const RegValue& value);

// False when the key or the value did not exist. Throws CommandError on failure.
bool DeleteValue(Registry& registry, HKEY root, const std::string& subkey, const std::string& name);

RegValue StringValue(const std::string& text);
RegValue DwordValue(uint32_t number);

// REG_SZ: the text as the filter reads it (RegSzText); REG_DWORD: the number
// as the filter reads it (signed decimal); other types: their .reg hex form.
std::string DisplayText(const RegValue& value);

// "sz", "dword", or the .reg name of another type ("hex(2)", "hex"...).
std::string TypeName(uint32_t type);

}  // namespace varnolt::hosting
