#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

// The window tests need a QApplication; they run on Qt's offscreen platform unless told otherwise.
int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
