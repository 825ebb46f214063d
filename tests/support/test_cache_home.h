#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace zentrowe::testing {

// Points XDG_CACHE_HOME, for this test program and every program it starts, at a folder of its
// own that goes with it: a build keeps its sounds in the user's cache, and a test never touches
// the real one, nor sees what another test kept there.
inline void useTestCacheHome()
{
    static const TempDir cacheHome;
#ifdef _WIN32
    _putenv_s("XDG_CACHE_HOME", cacheHome.path().string().c_str());  // Windows' C library has no setenv
#else
    setenv("XDG_CACHE_HOME", cacheHome.path().c_str(), 1);
#endif
}

}  // namespace zentrowe::testing
