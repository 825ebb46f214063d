#include <gtest/gtest.h>

#include "support/test_locale.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!zentrowe::testing::setTestLocale()) {
        return 1;
    }
    return RUN_ALL_TESTS();
}
