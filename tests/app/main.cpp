#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (gtest_discover_tests does it at build time) needs no display.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();

    // A window that ends with a run still going ends the process (RunThread); in a test that is
    // a fault, never a pass.
    std::at_quick_exit([] {
        std::fputs("FAIL: the window ended while its export run was still going\n", stderr);
        std::_Exit(3);
    });
    QApplication app(argc, argv);
    // The window itself must end the program; Qt's own rule would hide a window that forgets to.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
