#include "cli/utf8_arguments.h"

#if defined(_WIN32)
#include <windows.h>
// after windows.h, whose types it uses
#include <shellapi.h>
#endif

namespace zentrowe::cli {

#if defined(_WIN32)

namespace {

std::string utf8Of(const wchar_t* wide)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) {
        return {};
    }
    std::string text(static_cast<std::size_t>(bytes - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), bytes, nullptr, nullptr);
    return text;
}

}  // namespace

std::vector<std::string> utf8Arguments(int argc, char** argv)
{
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return {argv, argv + argc};
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        arguments.push_back(utf8Of(wide[i]));
    }
    LocalFree(wide);
    return arguments;
}

#else

std::vector<std::string> utf8Arguments(int argc, char** argv)
{
    return {argv, argv + argc};
}

#endif

}  // namespace zentrowe::cli
