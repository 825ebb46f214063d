#pragma once

#include <string>
#include <vector>

namespace zentrowe::cli {

// The program's arguments as UTF-8, the text every path and option is kept in. On Windows they
// are read again as the system keeps them (UTF-16, GetCommandLineW), since argv holds them in
// the console's code page, where a name such as 夜明け.mid does not fit; elsewhere argv is taken
// as it is.
std::vector<std::string> utf8Arguments(int argc, char** argv);

}  // namespace zentrowe::cli
