#pragma once

#include <filesystem>

namespace zentrowe {

// The folder the running program's file is in, where the Windows zip puts what the program needs
// beside it (the soundfont, OpenCC's dictionaries); empty on systems that install those in fixed
// places of their own (Linux: /usr/share).
std::filesystem::path programFolder();

}  // namespace zentrowe
