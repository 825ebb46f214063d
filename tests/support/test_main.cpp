#include <gtest/gtest.h>

#include "support/test_cache_home.h"
#include "support/test_locale.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    zentrowe::testing::useTestCacheHome();
    if (!zentrowe::testing::setTestLocale()) {
        return 1;
    }
    return RUN_ALL_TESTS();
}
