#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace zentrowe::testing {

// Text as the system's environment holds it: UTF-16 on Windows, bytes elsewhere.
using NativeText = std::filesystem::path::string_type;

inline NativeText nativeText(std::string_view utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end())).native();
}

// An environment variable's value as the system's own call gives it; none when it is not set.
inline std::optional<NativeText> nativeVariable(const NativeText& name)
{
#ifdef _WIN32
    SetLastError(ERROR_SUCCESS);
    const DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (size == 0) {
        return GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt : std::optional<NativeText>(NativeText());
    }
    NativeText value(size, L'\0');
    value.resize(GetEnvironmentVariableW(name.c_str(), value.data(), size));
    return value;
#else
    const char* value = std::getenv(name.c_str());
    return value != nullptr ? std::optional<NativeText>(value) : std::nullopt;
#endif
}

// Sets the variable for this process and the programs it starts; none unsets it.
inline void setNativeVariable(const NativeText& name, const std::optional<NativeText>& value)
{
#ifdef _WIN32
    SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
#else
    if (value) {
        setenv(name.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
#endif
}

// Environment variables set (or unset) for a test's length; each goes back as it was after.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            setNativeVariable(it->first, it->second);
        }
    }

    // `value` is UTF-8 text; none unsets the variable.
    void set(std::string_view name, std::optional<std::string_view> value)
    {
        const NativeText nativeName = nativeText(name);
        m_saved.emplace_back(nativeName, nativeVariable(nativeName));
        setNativeVariable(nativeName, value ? std::optional<NativeText>(nativeText(*value)) : std::nullopt);
    }

private:
    std::vector<std::pair<NativeText, std::optional<NativeText>>> m_saved;
};

}  // namespace zentrowe::testing
