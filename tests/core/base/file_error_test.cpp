#include "core/base/file_error.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zentrowe {
namespace {

TEST(FileError, ACaughtExceptionBecomesOneSentenceSayingNothingIsHalfWritten)
{
    struct Case {
        const char* what;
        std::function<void()> raise;
        ErrorCode code;
        const char* subject;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"bad_alloc", [] { throw std::bad_alloc(); }, ErrorCode::OutOfMemory, "",
         "not enough memory to finish; no file was changed"},
        {"length_error", [] { std::vector<double>().reserve(std::vector<double>().max_size() + 1); },
         ErrorCode::OutOfMemory, "", "not enough memory to finish; no file was changed"},
        {"out_of_range", [] { throw std::out_of_range("no row 3"); }, ErrorCode::WriteFailed, "fault",
         "an internal fault stopped the work: no row 3; no file was left half-written"},
        {"a line break in the text", [] { throw std::runtime_error("two\nlines"); }, ErrorCode::WriteFailed, "fault",
         "an internal fault stopped the work: two\\x0Alines; no file was left half-written"},
        {"not an exception class", [] { throw 42; }, ErrorCode::WriteFailed, "fault",
         "an internal fault stopped the work: an exception of unknown type; no file was left half-written"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<Error> error;
        try {
            c.raise();
        } catch (...) {
            error = caughtExceptionError();
        }
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, c.code);
        EXPECT_EQ(error->subject, c.subject);
        EXPECT_EQ(error->message, c.message);
    }
}

}  // namespace
}  // namespace zentrowe
