#pragma once

#include <filesystem>

#include "support/scoped_environment.h"
#include "support/test_support.h"

namespace zentrowe::testing {

// Points the user's cache folder (XDG_CACHE_HOME; on Windows LOCALAPPDATA), for this test program
// and every program it starts, at a folder of its own that goes with it: a build keeps its sounds
// in the user's cache, and a test never touches the real one, nor sees what another test kept there.
inline void useTestCacheHome()
{
    static const TempDir cacheHome;
#ifdef _WIN32
    setNativeVariable(L"LOCALAPPDATA", cacheHome.path().native());
#else
    setNativeVariable("XDG_CACHE_HOME", cacheHome.path().native());
#endif
}

}  // namespace zentrowe::testing
