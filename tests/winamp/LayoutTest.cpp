// The plug-in records have the byte layout plug-ins built elsewhere rely on,
// in C and in C++ alike.
#include <gtest/gtest.h>

#include <cstddef>

#define KAV_WINAMP_HOST
#include "platform/winamp/DSP.h"
#include "platform/winamp/In_Module.h"
#include "platform/winamp/Out_Module.h"

extern "C" std::size_t kav_c_layout(int which);

TEST(PluginLayout, CAndCppAgreeOnEverySizeAndOffset) {
    struct Row {
        const char* what;
        std::size_t cpp;
        std::size_t expected;
    };
    const Row rows[] = {
        {"sizeof In_Module", sizeof(In_Module), 296},
        {"In_Module.FileExtensions", offsetof(In_Module, FileExtensions), 32},
        {"In_Module.is_seekable", offsetof(In_Module, is_seekable), 40},
        {"In_Module.UsesOutputPlug", offsetof(In_Module, UsesOutputPlug), 44},
        {"In_Module.Config", offsetof(In_Module, Config), 48},
        {"In_Module.outMod", offsetof(In_Module, outMod), 288},
        {"sizeof Out_Module", sizeof(Out_Module), 160},
        {"Out_Module.id", offsetof(Out_Module, id), 16},
        {"Out_Module.Config", offsetof(Out_Module, Config), 40},
        {"sizeof winampDSPHeader", sizeof(winampDSPHeader), 24},
        {"sizeof winampDSPModule", sizeof(winampDSPModule), 64},
    };
    for (int i = 0; i < static_cast<int>(std::size(rows)); ++i) {
        SCOPED_TRACE(rows[i].what);
        EXPECT_EQ(rows[i].cpp, rows[i].expected);
        EXPECT_EQ(kav_c_layout(i), rows[i].expected);
    }
}
