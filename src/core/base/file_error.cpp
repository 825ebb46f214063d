#include "core/base/file_error.h"

#include <cstring>

namespace zentrowe {

std::string displayPath(const std::filesystem::path& path)
{
    return path.string();
}

Error fileError(ErrorCode code, const std::filesystem::path& path, std::string_view verb, int errnoValue)
{
    Error error = fileError(code, path, verb, std::string_view(std::strerror(errnoValue)));
    error.systemError = errnoValue;
    return error;
}

Error fileError(ErrorCode code, const std::filesystem::path& path, std::string_view verb, std::string_view reason)
{
    std::string message = displayPath(path);
    message += ": cannot ";
    message += verb;
    message += ": ";
    message += reason;
    return Error{code, std::move(message)}.inFile(displayPath(path)).about(std::string(verb)).withValue(std::string(reason));
}

Error outOfMemoryError()
{
    return Error{ErrorCode::OutOfMemory, "not enough memory to finish; no file was changed"};
}

}  // namespace zentrowe
