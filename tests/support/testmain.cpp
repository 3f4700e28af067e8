// Test entry point: the code under test needs a Qt core application for the
// program directory and Qt's text classes.
#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    // The programs the tests start report sanitizer findings with statuses
    // of their own, and leave third-party leaks out (see lsan.supp).
    setenv("ASAN_OPTIONS", "exitcode=86:detect_leaks=1:abort_on_error=0", 0);
    setenv("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1:exitcode=87", 0);
    setenv("LSAN_OPTIONS", "suppressions=" KELVANE_LSAN_SUPP ":print_suppressions=0", 0);
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
