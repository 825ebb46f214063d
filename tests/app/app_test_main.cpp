#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

#include "support/test_cache_home.h"
#include "support/test_locale.h"

// The window tests need a QApplication; they run on Qt's offscreen platform unless told otherwise.
int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    zentrowe::testing::useTestCacheHome();
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    // After QApplication, which sets the locale from the environment as it does for users.
    if (!zentrowe::testing::setTestLocale()) {
        return 1;
    }
    return RUN_ALL_TESTS();
}
