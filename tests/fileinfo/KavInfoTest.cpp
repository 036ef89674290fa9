// The kavinfo tool, run as a separate program on files made here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "TestFiles.h"
#include "tests/support/BinDir.h"

namespace {

std::string KavInfo() {
    return (TestBinDir() / "kavinfo").string();
}

// One file's block of the output: its lines in order and as a map.
struct Block {
    std::vector<std::string> lines;
    std::map<std::string, std::string> values;
};

std::vector<Block> RunKavInfo(const std::vector<std::string>& files, int* status) {
    std::string command = Quote(KavInfo());
    for (const std::string& f : files) command += " " + Quote(f);
    std::istringstream out(Capture(command + " 2>/dev/null", status));
    std::vector<Block> blocks(1);
    std::string line;
    while (std::getline(out, line)) {
        if (line.empty()) {
            blocks.emplace_back();
            continue;
        }
        blocks.back().lines.push_back(line);
        const size_t eq = line.find('=');
        if (eq != std::string::npos) blocks.back().values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (blocks.back().lines.empty()) blocks.pop_back();
    return blocks;
}

Bytes Mp3WithTags() {
    Bytes file;
    const uint8_t header[4] = {0xFF, 0xFB, 0x90, 0xC4};  // 128 kbit/s, 44100 Hz, mono
    for (int i = 0; i < 300; ++i) {
        Bytes frame(417, 0);
        std::memcpy(frame.data(), header, 4);
        file.insert(file.end(), frame.begin(), frame.end());
    }
    Bytes tag(128, 0);
    std::memcpy(tag.data(), "TAGTool Title", 13);
    tag[126] = 9;
    tag[127] = 13;
    file.insert(file.end(), tag.begin(), tag.end());
    return file;
}

}  // namespace

TEST(KavInfo, PrintsEveryFieldOfTheChosenReader) {
    TempDir dir;
    const std::string mp3 = dir.Write("song.MP3", Mp3WithTags());
    int status = -1;
    auto blocks = RunKavInfo({mp3}, &status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(blocks.size(), 1u);
    const Block& b = blocks[0];
    EXPECT_EQ(b.lines[0], "File=" + mp3);
    EXPECT_EQ(b.values.at("Reader"), "TMPEGaudio");
    EXPECT_EQ(b.values.at("TMPEGaudio.FileSize"), std::to_string(300 * 417 + 128));
    EXPECT_EQ(b.values.at("TMPEGaudio.Frame.Position"), "0");
    EXPECT_EQ(b.values.at("TMPEGaudio.Frame.Length"), "417");
    EXPECT_EQ(b.values.at("TMPEGaudio.Frame.Present"), "1");
    EXPECT_EQ(b.values.at("TMPEGaudio.VBR.Present"), "0");
    EXPECT_EQ(b.values.at("TMPEGaudio.BitRate"), "128");
    EXPECT_EQ(b.values.at("TMPEGaudio.SampleRate"), "44100");
    EXPECT_EQ(b.values.at("TMPEGaudio.ChannelModeName"), "Mono");
    EXPECT_EQ(b.values.at("TMPEGaudio.Duration"), "7.819");  // 125100 / 128 / 1000 * 8
    EXPECT_EQ(b.values.at("TMPEGaudio.IsValid"), "1");
    EXPECT_EQ(b.values.at("TID3v1.Present"), "1");
    EXPECT_EQ(b.values.at("TID3v1.Title"), "Tool Title");
    EXPECT_EQ(b.values.at("TID3v1.Track"), "9");
    EXPECT_EQ(b.values.at("TID3v1.GenreID"), "13");
    EXPECT_EQ(b.values.at("TID3v1.GenreName"), "Pop");
    EXPECT_EQ(b.values.at("TID3v2.Present"), "0");
    EXPECT_EQ(b.values.at("TID3v2.TagSize"), "0");
    for (const char* name :
         {"TMPEGaudio.VBR.Signature", "TMPEGaudio.VBR.FrameCount", "TID3v1.Version",
          "TID3v2.Version", "TID3v2.TrackText", "TID3v2.Comment", "TID3v2.Link"})
        EXPECT_EQ(b.values.count(name), 1u) << name;
    // Every line after File= is Name=value with a class prefix, Reader= aside.
    for (size_t i = 2; i < b.lines.size(); ++i) EXPECT_EQ(b.lines[i][0], 'T') << b.lines[i];
}

TEST(KavInfo, ChoosesTheReaderByExtension) {
    TempDir dir;
    Bytes wav;
    ByteWriter w;
    w.Raw("RIFF").LE32(88236).Raw("WAVEfmt ").LE32(16).LE16(1).LE16(1).LE32(44100).LE32(88200);
    w.LE16(2).LE16(16).Raw("data").LE32(88200);
    const std::string wavPath = dir.Write("a.Wav", w.bytes());
    const std::string other = dir.Write("notes.flac", Bytes(10, 0));
    std::filesystem::create_directory(dir.Path("folder.mp3"));
    const std::string inFolder = dir.Write("folder.mp3/noext", Bytes(10, 0));
    const std::string wma = dir.Write("x.wma", Bytes(200, 0));
    const std::string ogg = dir.Write("x.ogg", Bytes(200, 0));
    int status = -1;
    auto blocks = RunKavInfo({wavPath, other, inFolder, wma, ogg}, &status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(blocks.size(), 5u);
    EXPECT_EQ(blocks[0].values.at("Reader"), "TWAVfile");
    EXPECT_EQ(blocks[0].values.at("TWAVfile.Valid"), "1");
    EXPECT_EQ(blocks[0].values.at("TWAVfile.Duration"), "1.000");
    EXPECT_EQ(blocks[1].lines, (std::vector<std::string>{"File=" + other, "Reader=none"}));
    EXPECT_EQ(blocks[2].values.at("Reader"), "none");
    EXPECT_EQ(blocks[3].values.at("Reader"), "TWMAfile");
    EXPECT_EQ(blocks[3].values.at("TWMAfile.Valid"), "0");
    EXPECT_EQ(blocks[4].values.at("Reader"), "TOggVorbis");
    EXPECT_EQ(blocks[4].values.at("TOggVorbis.LoadFromFile"), "0");
    EXPECT_EQ(blocks[4].values.at("TOggVorbis.IsValid"), "0");
}

TEST(KavInfo, UnreadableFilesGiveStatusOne) {
    TempDir dir;
    const std::string good = dir.Write("ok.wav", Bytes(44, 0));
    int status = -1;
    auto blocks = RunKavInfo({good, dir.Path("missing.ogg")}, &status);
    EXPECT_EQ(status, 1);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].values.at("TWAVfile.LoadFromFile"), "1");
    EXPECT_EQ(blocks[1].values.at("Reader"), "TOggVorbis");
    EXPECT_EQ(blocks[1].values.count("TOggVorbis.Error"), 1u);
    RunKavInfo({dir.Path("missing.mp3")}, &status);
    EXPECT_EQ(status, 1);
    RunKavInfo({good}, &status);
    EXPECT_EQ(status, 0);
}
