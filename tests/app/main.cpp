#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (gtest_discover_tests does it at build time) needs no display.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();

    QApplication app(argc, argv);
    // The window itself must end the program; Qt's own rule would hide a window that forgets to.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
