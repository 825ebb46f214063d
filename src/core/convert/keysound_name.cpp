#include "core/convert/keysound_name.h"

#include <string>

namespace zentrowe::convert {

bool isAcceptableKeysoundName(std::string_view name)
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

bool isAcceptableFileStem(std::string_view stem)
{
    return !stem.empty() && isAcceptableKeysoundName(stem);
}

Status checkKeysoundName(std::string_view name)
{
    if (isAcceptableKeysoundName(name)) {
        return {};
    }
    return Error{ErrorCode::InvalidSetting,
                 "输入有误: the keysound name must be printable ASCII without / \\ : * ? \" < > |, not \"" +
                     std::string(name) + "\""}
        .about("keysoundName")
        .withValue(std::string(name));
}

}  // namespace zentrowe::convert
