#include "core/base/file_error.h"

#include <cstring>

namespace zentrowe {

std::string displayPath(const std::filesystem::path& path)
{
    return path.string();
}

Error fileError(ErrorCode code, const std::filesystem::path& path, std::string_view verb, int errnoValue)
{
    return fileError(code, path, verb, std::string_view(std::strerror(errnoValue)));
}

Error fileError(ErrorCode code, const std::filesystem::path& path, std::string_view verb, std::string_view reason)
{
    std::string message = displayPath(path);
    message += ": cannot ";
    message += verb;
    message += ": ";
    message += reason;
    return Error{code, std::move(message)};
}

Error outOfMemoryError()
{
    return Error{ErrorCode::OutOfMemory, "not enough memory to finish; no file was changed"};
}

}  // namespace zentrowe
