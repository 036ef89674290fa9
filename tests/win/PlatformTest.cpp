#include "platform/win/DynLib.h"
#include "platform/win/MessageBox.h"
#include "platform/win/ProgramDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

using namespace win;

TEST(ProgramDir, IsTheExecutablesFolderUnlessOverridden) {
    std::string dir = ProgramDir();
    EXPECT_TRUE(FileExists(dir + PathDelim + "win_tests"));
    EXPECT_NE(dir.back(), PathDelim);
    SetProgramDir("/tmp/kavdir///");
    EXPECT_EQ(ProgramDir(), "/tmp/kavdir");
    SetProgramDir("");
    EXPECT_EQ(ProgramDir(), dir);
    EXPECT_FALSE(FileExists(dir)) << "a folder is not a file";
}

TEST(DynLib, LoadsLooksUpAndReleases) {
    HMODULE m = LoadLibrary("libm.so.6");
    ASSERT_NE(m, nullptr);
    using CosFn = double (*)(double);
    auto cosine = reinterpret_cast<CosFn>(GetProcAddress(m, "cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(GetProcAddress(m, "no_such_entry_point"), nullptr);
    EXPECT_FALSE(LastLibraryError().empty());
    EXPECT_TRUE(FreeLibrary(m));
    EXPECT_EQ(LoadLibrary("/nonexistent/bass.dll"), nullptr);
}

TEST(MessageBoxFacade, HandlerSeesCaptionTextAndFlags) {
    struct Box {
        std::string caption, text;
        unsigned flags;
    };
    std::vector<Box> boxes;
    auto previous =
        SetMessageBoxHandler([&](const std::string& c, const std::string& t, unsigned f) {
            boxes.push_back({c, t, f});
            return IDOK;
        });
    EXPECT_EQ(MessageBox(0, "Terminado!", "KAV"), IDOK);
    MessageBox(0, "Can't play the file", "Error", MB_ICONERROR);
    SetMessageBoxHandler(previous);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, "KAV");
    EXPECT_EQ(boxes[0].text, "Terminado!");
    EXPECT_EQ(boxes[1].flags, MB_ICONERROR);
    EXPECT_EQ(MessageBox(0, "headless", "KAV"), IDOK) << "default answers OK";
}
