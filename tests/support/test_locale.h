#pragma once

// The locale a test run asks for. The window takes the user's locale (QApplication sets it from
// the environment) and the command line keeps the C locale; `ctest -L locale` runs the chart and
// build tests again as the window would under a decimal-comma locale, naming it in
// ZENTROWE_TEST_LOCALE. A machine without that locale fails the run rather than passing it in C.

#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace zentrowe::testing {

// False, with a line on stderr, when the asked-for locale cannot be set.
inline bool setTestLocale()
{
    const char* wanted = std::getenv("ZENTROWE_TEST_LOCALE");
    if (wanted == nullptr || *wanted == '\0') {
        return true;
    }
    if (std::setlocale(LC_ALL, wanted) == nullptr) {
        std::fprintf(stderr, "the locale %s is not installed (scripts/install-deps test generates it)\n", wanted);
        return false;
    }
    return true;
}

}  // namespace zentrowe::testing
