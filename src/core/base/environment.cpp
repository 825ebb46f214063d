#include "core/base/environment.h"

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>

#include <vector>
#endif

namespace zentrowe {

#if defined(_WIN32)

namespace {

std::wstring wideText(const char* text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), size);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string utf8Text(const std::wstring& wide)
{
    const int wideSize = static_cast<int>(wide.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, text.data(), size, nullptr, nullptr);
    return text;
}

}  // namespace

std::optional<std::string> environmentVariable(const char* name)
{
    const std::wstring wideName = wideText(name);
    std::vector<wchar_t> value(256);
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) {
            // Set and empty, or not set at all: only the last error tells them apart.
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
                return std::nullopt;
            }
            return std::string();
        }
        if (length < value.size()) {
            return utf8Text(std::wstring(value.data(), length));
        }
        value.resize(length);  // the room the value needs, its terminating zero included
    }
}

#else

std::optional<std::string> environmentVariable(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

#endif

}  // namespace zentrowe
