#pragma once

#include <filesystem>

namespace cellverter {

// The user's home folder: $HOME, else the password database's entry.
std::filesystem::path HomeFolder();

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute path (relative
// values are invalid by the XDG rules), else ~/.config.
std::filesystem::path UserConfigFolder();

}  // namespace cellverter
