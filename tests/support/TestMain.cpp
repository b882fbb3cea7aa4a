// One main for every test executable: an offscreen QApplication (widgets and the event loop
// are available to every test) and a fixed Brazilian locale, as on the stations' systems.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>

#include <clocale>
#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("TESSIVO_AUDIO_DEVICE", "virtual", 0);
    // A BaseQuelt.ini of the user running the tests is never read by them.
    setenv("XDG_CONFIG_HOME", "/nonexistent/tessivo-tests-config", 1);
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
