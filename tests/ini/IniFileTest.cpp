#include "platform/win/IniFile.h"

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

using win::IniFile;

namespace {

const char* kSample =
    "; settings\r\n"
    "[Varios]\r\n"
    "  Volume = 200  \r\n"
    "pln=3\r\n"
    "name=\"  quoted  \"\r\n"
    "\r\n"
    "[other]\r\n"
    "volume=7\r\n";

TEST(IniRead, SectionsAndKeysMatchWithoutCaseAndValuesAreTrimmed) {
    TempDir dir;
    TempDir::Write(dir.File("a.ini"), kSample);
    IniFile ini(dir.File("a.ini"));
    EXPECT_EQ(ini.ReadInteger("varios", "volume", 0), 200);
    EXPECT_EQ(ini.ReadInteger("VARIOS", "PLN", 0), 3);
    EXPECT_EQ(ini.ReadInteger("other", "Volume", 0), 7);
    EXPECT_EQ(ini.ReadString("varios", "name", ""), "  quoted  ");
    EXPECT_EQ(ini.ReadString("varios", "missing", "def"), "def");
    EXPECT_EQ(ini.ReadString("nosuch", "volume", "def"), "def");
    EXPECT_TRUE(ini.ValueExists("Varios", "pln"));
    EXPECT_FALSE(ini.ValueExists("other", "pln"));
}

TEST(IniRead, NonNumbersAndMissingFileGiveDefaults) {
    TempDir dir;
    TempDir::Write(dir.File("a.ini"),
                   "[s]\nempty=\nword=abc\nmixed=12abc\nbig=99999999999\nneg=-5\nplus=+4\n"
                   "t=2\nf=0\n");
    IniFile ini(dir.File("a.ini"));
    EXPECT_EQ(ini.ReadInteger("s", "empty", 11), 11);
    EXPECT_EQ(ini.ReadInteger("s", "word", 11), 11);
    EXPECT_EQ(ini.ReadInteger("s", "mixed", 11), 11);
    EXPECT_EQ(ini.ReadInteger("s", "big", 11), 11);
    EXPECT_EQ(ini.ReadInteger("s", "neg", 11), -5);
    EXPECT_EQ(ini.ReadInteger("s", "plus", 11), 4);
    EXPECT_TRUE(ini.ReadBool("s", "t", false));
    EXPECT_FALSE(ini.ReadBool("s", "f", true));
    EXPECT_TRUE(ini.ReadBool("s", "word", true));
    EXPECT_FALSE(ini.ReadBool("s", "word", false));

    IniFile none(dir.File("none.ini"));
    EXPECT_EQ(none.ReadInteger("s", "t", 42), 42);
    EXPECT_FALSE(std::filesystem::exists(dir.File("none.ini")));
}

TEST(IniRead, FirstSectionAndFirstKeyWinAndCommentsAreNoKeys) {
    std::string text = "k=top\n[a]\n;k=comment\n#k=hash\nk=first\nk=second\n[A]\nk=third\n";
    EXPECT_EQ(win::ini::FindValue(text, "a", "k"), "first");
    EXPECT_EQ(win::ini::FindValue(text, "a", ";k"), std::nullopt);
    EXPECT_EQ(win::ini::FindValue(text, "", "k"), std::nullopt);
}

TEST(IniWrite, ReplacesInPlaceAndKeepsEveryOtherLine) {
    TempDir dir;
    TempDir::Write(dir.File("a.ini"), kSample);
    IniFile ini(dir.File("a.ini"));
    ASSERT_TRUE(ini.WriteInteger("VARIOS", "volume", 5));
    EXPECT_EQ(TempDir::Read(dir.File("a.ini")),
              "; settings\r\n[Varios]\r\nvolume=5\r\npln=3\r\nname=\"  quoted  \"\r\n\r\n"
              "[other]\r\nvolume=7\r\n");
}

TEST(IniWrite, NewKeyJoinsItsSectionBeforeTheBlankLinesAndNewSectionGoesLast) {
    TempDir dir;
    TempDir::Write(dir.File("a.ini"), "[varios]\nvolume=1\n\n[tamanhos]\nplc1=4");
    IniFile ini(dir.File("a.ini"));
    ASSERT_TRUE(ini.WriteBool("varios", "repetepl", true));
    ASSERT_TRUE(ini.WriteString("novo", "x", "y"));
    EXPECT_EQ(TempDir::Read(dir.File("a.ini")),
              "[varios]\nvolume=1\nrepetepl=1\n\n[tamanhos]\nplc1=4\n[novo]\nx=y\n");
    EXPECT_TRUE(ini.ReadBool("varios", "repetepl", false));
    EXPECT_EQ(ini.ReadInteger("tamanhos", "plc1", 0), 4);
}

TEST(IniWrite, CreatesTheFileWithCrLfAndEveryKeyReadsBack) {
    TempDir dir;
    IniFile ini(dir.File("new.ini"));
    ASSERT_TRUE(ini.WriteInteger("varios", "pln", 2));
    ASSERT_TRUE(ini.WriteBool("varios", "compressor", false));
    ASSERT_TRUE(ini.WriteInteger("tamanhos", "plc1", 403));
    EXPECT_EQ(TempDir::Read(dir.File("new.ini")),
              "[varios]\r\npln=2\r\ncompressor=0\r\n[tamanhos]\r\nplc1=403\r\n");
    EXPECT_EQ(ini.ReadInteger("varios", "pln", 0), 2);
    EXPECT_FALSE(ini.ReadBool("varios", "compressor", true));
}

TEST(IniWrite, ByteOrderMarkBeforeTheFirstSectionIsReadPastAndKept) {
    TempDir dir;
    TempDir::Write(dir.File("a.ini"), "\xEF\xBB\xBF[varios]\r\nvolume=9\r\n");
    IniFile ini(dir.File("a.ini"));
    EXPECT_EQ(ini.ReadInteger("varios", "volume", 0), 9);
    ASSERT_TRUE(ini.WriteInteger("varios", "volume", 10));
    EXPECT_EQ(TempDir::Read(dir.File("a.ini")), "\xEF\xBB\xBF[varios]\r\nvolume=10\r\n");
}

TEST(IniWrite, LineBreaksInAValueCannotAddLines) {
    TempDir dir;
    IniFile ini(dir.File("a.ini"));
    ASSERT_TRUE(ini.WriteString("s", "k", "a\r\n[evil]\nk=1"));
    EXPECT_FALSE(ini.ValueExists("evil", "k"));
    EXPECT_EQ(ini.ReadString("s", "k", ""), "a  [evil] k=1");
}

TEST(IniWrite, ManyValuesGoInOneReplaceKeepingEveryOtherLine) {
    TempDir dir;
    const std::string path = dir.File("kav.ini");
    TempDir::Write(path, "; notes\n[varios]\nvolume=1\nmine=kept\n[other]\nx=y\n");
    win::IniFile ini(path);
    ASSERT_TRUE(ini.WriteValues({{"varios", "volume", "200"},
                                 {"VARIOS", "pln", "3"},
                                 {"tamanhos", "plc1", "403"},
                                 {"varios", "tfade", "1000"}}));
    EXPECT_EQ(TempDir::Read(path),
              "; notes\n[varios]\nvolume=200\nmine=kept\npln=3\ntfade=1000\n"
              "[other]\nx=y\n[tamanhos]\nplc1=403\n");
}

TEST(IniWrite, UnreadableFileIsNotReplaced) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("dir.ini"));
    IniFile ini(dir.File("dir.ini"));
    std::string error;
    EXPECT_FALSE(ini.WriteInteger("s", "k", 1, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("dir.ini")));
}

}  // namespace

// A file whose lines end in several CRs before the LF, written back with LF
// ends: each write must still read back, and the section keeps its keys.
TEST(IniWrite, StrayCarriageReturnsDoNotChangeWhatTheFileSaysOnceWritten) {
    const std::string text = "[tamanhos\r\r\nplc1=9\r\r\n[varios]\n";
    std::string written = win::ini::SetValue(text, "varios", "pln", "17");
    EXPECT_EQ(win::ini::FindValue(written, "varios", "pln").value_or(""), "17");
    EXPECT_EQ(win::ini::FindValue(written, "tamanhos", "plc1").value_or(""), "9");
    written = win::ini::SetValue(written, "tamanhos", "plc2", "5");
    EXPECT_EQ(win::ini::FindValue(written, "varios", "pln").value_or(""), "17");
    EXPECT_EQ(win::ini::FindValue(written, "tamanhos", "plc2").value_or(""), "5");
}
