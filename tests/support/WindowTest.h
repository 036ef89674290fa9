// The main window on the real engine, in a program directory of the test's
// own (see ProgramFolder.h) that each test starts without settings or lists.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "Unit1.h"
#include "platform/win/Clock.h"
#include "platform/win/MessageBox.h"
#include "platform/win/ProgramDir.h"
#include "tests/support/ProgramFolder.h"

class WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        dir = TestProgramFolder();
        for (const char* name : {"kav.ini", "pl.m3u", "prgm.m3u"})
            std::filesystem::remove(dir / name);
        win::SetProgramDir(dir.string());
    }
    void TearDown() override {
        form.reset();
        win::SetClock(nullptr);
        win::SetMessageBoxHandler({});
        win::SetProgramDir("");
    }

    // A 440 Hz sine as a 16-bit WAV file in the program directory.
    std::string Tone(const std::string& name, double seconds, int channels = 2) {
        const std::string path = (dir / name).string();
        const std::string command = "sox -n -r 44100 -c " + std::to_string(channels) + " -b 16 '" +
                                    path + "' synth " + std::to_string(seconds) +
                                    " sine 440 vol 0.5";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return path;
    }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
    }
    // kav.ini on the null output, nothing marked, plus the lines given.
    void Settings(const std::string& more = {}) {
        Write("kav.ini",
              "[varios]\r\ndev=" + std::to_string(TestNullDevice()) + "\r\npln=0\r\n" + more);
    }

    std::filesystem::path dir;
    std::unique_ptr<TForm1> form;
};
