// The engine tests' main: the audio library stays bound to the very end, and
// the process ends at once after the tests, without unloading it, so that no
// thread the library started runs on into unloaded code.
#include <gtest/gtest.h>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::fflush(nullptr);
    std::_Exit(result);
}
