// main() of the window tests: a QApplication on Qt's offscreen platform; the
// process ends at once after the tests, with the audio library still bound.
#include <gtest/gtest.h>
#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::fflush(nullptr);
    std::_Exit(result);
}
