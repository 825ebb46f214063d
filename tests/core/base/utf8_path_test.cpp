#include "core/base/utf8_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/base/file_system.h"
#include "support/test_support.h"

namespace zentrowe::testing {
namespace {

// A name made from UTF-8 text is the file the system lists under that text, and comes back from
// the path as the same bytes: on Windows the path holds UTF-16, and a character outside the
// Basic Multilingual Plane takes two units there.
TEST(Utf8Path, ANameInAnyScriptReachesTheDiskAndComesBackAsWritten)
{
    const char* names[] = {
        "ode-to-joy_N.bms",
        "\xE5\xA4\x9C\xE6\x98\x8E\xE3\x81\x91_N.bms",  // 夜明け_N.bms
        "out put \xE6\x9B\xB2",                        // "out put 曲"
        "caf\xC3\xA9 \xF0\x9F\x8E\xB9.wav",            // "café 🎹.wav"
    };
    TempDir dir;
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const auto path = dir.path() / utf8Path(name);
        EXPECT_EQ(path.filename().string(), name);
        writeFile(path, std::string_view("x"));
        const auto listed = realFileSystem().list(dir.path());
        EXPECT_NE(std::find(listed.begin(), listed.end(), std::string(name)), listed.end());
        EXPECT_EQ(realFileSystem().status(dir.path() / utf8Path(name)).kind, FileKind::File);
    }
}

}  // namespace
}  // namespace zentrowe::testing
