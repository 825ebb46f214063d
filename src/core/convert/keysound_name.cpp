#include "core/convert/keysound_name.h"

#include <string>

namespace zentrowe::convert {

namespace {

bool hasAcceptableCharacters(std::string_view name)
{
    if (name == "." || name == "..") {
        return false;
    }
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E) {
            return false;
        }
        if (std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool isAcceptableKeysoundName(std::string_view name)
{
    return name.size() <= kLongestKeysoundName && hasAcceptableCharacters(name);
}

bool isAcceptableFileStem(std::string_view stem)
{
    return !stem.empty() && stem.size() <= kLongestFileName - 4 && hasAcceptableCharacters(stem);
}

Status checkKeysoundName(std::string_view name)
{
    if (isAcceptableKeysoundName(name)) {
        return {};
    }
    if (hasAcceptableCharacters(name)) {
        return Error{ErrorCode::InvalidSetting, "the keysound name is " + std::to_string(name.size()) +
                                                    " bytes; file names allow it " +
                                                    std::to_string(kLongestKeysoundName)}
            .about("keysoundNameLength")
            .withNumber(static_cast<std::int64_t>(name.size()));
    }
    return Error{ErrorCode::InvalidSetting,
                 "the keysound name must be printable ASCII without / \\ : * ? \" < > |, not \"" + std::string(name) +
                     "\""}
        .about("keysoundName")
        .withValue(std::string(name));
}

}  // namespace zentrowe::convert
