// The "Compressor" option of the main window on the real engine: it runs the
// program directory's dsp_wd.dll while checked, and a plug-in that cannot be
// used ends the program the way closing the window does, with the option
// saved unchecked so that the next start does not fail again.
#include <gtest/gtest.h>

#include <QAction>
#include <QEvent>

#include <filesystem>
#include <string>
#include <vector>

#include "Unit1.h"
#include "platform/win/IniFile.h"
#include "plugins/DSPHost.h"
#include "tests/support/BinDir.h"
#include "tests/support/PumpUntil.h"
#include "tests/support/WindowTest.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class CloseCounter : public QObject {
  public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close) ++closes;
        return false;
    }
    int closes = 0;
};

class CompressorTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        win::SetMessageBoxHandler([this](const std::string&, const std::string& text, unsigned) {
            boxes.push_back(text);
            return 1;
        });
    }
    void TearDown() override {
        form.reset();
        fs::remove(dir / "dsp_wd.dll");
        WindowTest::TearDown();
    }
    std::string SavedOption() {
        return win::IniFile((dir / "kav.ini").string()).ReadString("varios", "compressor", "");
    }

    std::vector<std::string> boxes;
};

TEST_F(CompressorTest, TheCheckedOptionRunsTheProgramDirectorysPlugIn) {
    fs::copy_file(TestBinDir() / "dsp_wd.dll", dir / "dsp_wd.dll");
    Settings("compressor=1\r\n");
    form = std::make_unique<TForm1>();
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(DSPActive());
    EXPECT_EQ(DSPDllPath(), (dir / "dsp_wd.dll").string());
    form->compressor->trigger();  // unchecks
    EXPECT_FALSE(DSPActive());
    EXPECT_EQ(DSPModuleCount(), 1);  // the library stays until the end
    form->compressor->trigger();
    EXPECT_TRUE(DSPActive());
    form->close();
    EXPECT_EQ(DSPModuleCount(), 0);
    EXPECT_EQ(DSPDllPath(), "");
    form.reset();
    EXPECT_EQ(SavedOption(), "1");
}

TEST_F(CompressorTest, AnUnusablePlugInEndsTheProgramAndIsSavedUnchecked) {
    Settings("compressor=1\r\n");  // no dsp_wd.dll in the folder
    form = std::make_unique<TForm1>();
    CloseCounter counter;
    form->installEventFilter(&counter);
    EXPECT_TRUE(PumpUntil([&] { return counter.closes > 0; }, 2s));
    EXPECT_EQ(boxes, std::vector<std::string>{"Specified plug-in is invalid"});
    EXPECT_FALSE(form->compressor->isChecked());
    form.reset();
    EXPECT_EQ(SavedOption(), "0");
}

}  // namespace
