// The main of every test program: GoogleTest inside a Qt application object,
// so that tests can use events, timers and coroutines. Programs built with
// VELUNTA_TEST_GUI get a QApplication (offscreen when there is no display).
#include <QCoreApplication>
#include <gtest/gtest.h>

#ifdef VELUNTA_TEST_GUI
#include <QApplication>
#endif

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
#ifdef VELUNTA_TEST_GUI
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    QCoreApplication::setOrganizationName("Velunta");
    QCoreApplication::setApplicationName("Velunta");
    return RUN_ALL_TESTS();
}
