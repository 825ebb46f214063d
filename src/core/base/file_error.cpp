#include "core/base/file_error.h"

#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>

namespace zentrowe {

std::string escapeControlBytes(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            escaped += "\\x";
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 0x0F];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string displayPath(const std::filesystem::path& path)
{
    return escapeControlBytes(path.string());
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
    return Error{code, std::move(message)}
        .inFile(displayPath(path))
        .about(std::string(verb))
        .withValue(std::string(reason));
}

Error outOfMemoryError()
{
    return Error{ErrorCode::OutOfMemory, "not enough memory to finish; no file was changed"};
}

Error caughtExceptionError()
{
    std::string what;
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return outOfMemoryError();
    } catch (const std::length_error&) {
        return outOfMemoryError();
    } catch (const std::exception& exception) {
        what = exception.what();
    } catch (...) {
        what = "an exception of unknown type";
    }
    // Every file is written through a temporary file beside it, which the unwinding removed.
    return Error{ErrorCode::WriteFailed,
                 "an internal fault stopped the work: " + escapeControlBytes(what) + "; no file was left half-written"}
        .about("fault")
        .withValue(what);
}

}  // namespace zentrowe
