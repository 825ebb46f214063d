#include "core/base/program_folder.h"

#if defined(_WIN32)
#include <windows.h>

#include <string>
#endif

namespace zentrowe {

std::filesystem::path programFolder()
{
#if defined(_WIN32)
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) {
            return {};
        }
        if (length < name.size()) {
            name.resize(length);
            return std::filesystem::path(name).parent_path();
        }
        name.resize(name.size() * 2);  // a long path (\\?\...) cut short: ask again with more room
    }
#else
    return {};
#endif
}

}  // namespace zentrowe
