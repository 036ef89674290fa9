// Stream information of local files, the files that are refused, and the
// boxes of the failure table, on the real library and readers.
#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

#include "EngineTestSupport.h"
#include "platform/win/MessageBox.h"
#include "platform/win/ProgramDir.h"
#include "tests/support/BoundedCall.h"

using namespace enginetest;
using namespace std::chrono_literals;

namespace {

class StreamInfoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseNullOutput();
        player = std::make_unique<TBASSPlayer>();
        ASSERT_TRUE(player->PlayerReady());
    }
    BoxRecorder boxes;
    std::unique_ptr<TBASSPlayer> player;
};

}  // namespace

TEST_F(StreamInfoTest, CbrMp3WithBothTagsTakesTheId3v1Fields) {
    const std::string path =
        CbrMp3("tagged.mp3", 1.0, "--id3v2-only --tt V2Title --ta V2Artist --tl V2Album");
    AppendId3v1(path, "V1Title", "V1Artist", 17, 5);  // 17: Rock
    ASSERT_TRUE(player->OpenStream(path));
    const TStreamInfo& info = player->StreamInfo();
    EXPECT_EQ(info.FileName, path);
    EXPECT_EQ(info.Title, "V1Title");
    EXPECT_EQ(info.Artist, "V1Artist");
    EXPECT_EQ(info.Album, "");
    EXPECT_EQ(info.Year, "2001");
    EXPECT_EQ(info.Genre, "Rock");
    EXPECT_EQ(info.GenreID, 17);
    EXPECT_EQ(info.Track, 5);
    EXPECT_EQ(info.BitRate, 128);
    EXPECT_EQ(info.SampleRate, 44100);
    EXPECT_EQ(info.Channels, 2);
    EXPECT_EQ(info.BitsPerSample, 16);
    EXPECT_EQ(info.FileSize, std::filesystem::file_size(path));
    EXPECT_NEAR(static_cast<double>(info.Duration), 1000.0, 80.0);
}

TEST_F(StreamInfoTest, Id3v2AloneGivesTheTitleAndNoGenreNumber) {
    const std::string path =
        CbrMp3("v2only.mp3", 1.0, "--id3v2-only --tt V2Title --ta V2Artist --tn 7");
    ASSERT_TRUE(player->OpenStream(path));
    EXPECT_EQ(player->StreamInfo().Title, "V2Title");
    EXPECT_EQ(player->StreamInfo().Artist, "V2Artist");
    EXPECT_EQ(player->StreamInfo().Track, 7);
    EXPECT_EQ(player->StreamInfo().GenreID, 0);
}

TEST_F(StreamInfoTest, UntaggedFileIsTitledByItsFileName) {
    const std::string path = CbrMp3("plain name.mp3", 0.5);
    ASSERT_TRUE(player->OpenStream(path));
    EXPECT_EQ(player->StreamInfo().Title, "plain name.mp3");
}

TEST_F(StreamInfoTest, VbrMp3DurationComesFromItsHeader) {
    const std::string path = VbrMp3("vbr.mp3", 3.0);
    ASSERT_TRUE(player->OpenStream(path));
    const TStreamInfo& info = player->StreamInfo();
    EXPECT_NEAR(static_cast<double>(info.Duration), 3000.0, 80.0);
    EXPECT_EQ(info.SampleRate, 44100);
    // The average rate follows from the file's size and length.
    const double average = std::filesystem::file_size(path) * 8.0 / info.Duration;
    EXPECT_NEAR(info.BitRate, average, average * 0.1);
    EXPECT_NEAR(static_cast<double>(player->LengthMs()), 3000.0, 80.0);
}

TEST_F(StreamInfoTest, OggVorbisCommentsAndFormat) {
    const std::string path =
        OggFile("song.ogg", 1.0, "-t OggTitle -a OggArtist -l OggAlbum -d 1999 -N 3 -G Jazz");
    ASSERT_TRUE(player->OpenStream(path));
    const TStreamInfo& info = player->StreamInfo();
    EXPECT_EQ(info.Title, "OggTitle");
    EXPECT_EQ(info.Artist, "OggArtist");
    EXPECT_EQ(info.Album, "OggAlbum");
    EXPECT_EQ(info.Year, "1999");
    EXPECT_EQ(info.Genre, "Jazz");
    EXPECT_EQ(info.Track, 3);
    EXPECT_EQ(info.SampleRate, 44100);
    EXPECT_EQ(info.Channels, 2);
    EXPECT_GT(info.BitRate, 32);
    EXPECT_NEAR(static_cast<double>(info.Duration), 1000.0, 30.0);
    EXPECT_EQ(player->ChannelKind(), CHANNEL_STREAM);
}

TEST_F(StreamInfoTest, OggFileThatCannotBeOpenedIsRefusedAndKeepsTheChannel) {
    ASSERT_TRUE(player->OpenStream(ToneWav("kept.wav", 0.5)));
    const DWORD handle = player->ChannelHandle();
    bool opened = true;
    EXPECT_NO_THROW(opened = player->OpenStream(TempDir() + "/missing.ogg"));
    EXPECT_FALSE(opened);
    EXPECT_EQ(player->ChannelHandle(), handle);
    EXPECT_EQ(player->PlayState(), PLAYSTATE_READY);
    EXPECT_EQ(player->CurrentFile(), ToneWav("kept.wav", 0.5));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(StreamInfoTest, PathsThatAreNoRegularFilesAreRefusedAtOnce) {
    ASSERT_TRUE(player->OpenStream(ToneWav("kept2.wav", 0.5)));
    const DWORD handle = player->ChannelHandle();
    const std::string folder = TempDir() + "/special";
    std::filesystem::create_directories(folder);
    for (const std::string ext : {".mp3", ".ogg", ".wav", ".wma"}) {
        const std::string pipe = folder + "/fifo" + ext;
        const std::string directory = folder + "/dir" + ext;
        ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0) << pipe;
        ASSERT_TRUE(std::filesystem::create_directory(directory)) << directory;
        for (const std::string& path : {pipe, directory}) {
            bool opened = true;
            const bool inTime =
                ReturnsWithin(3000ms, path == pipe ? PipeRelease(pipe) : nullptr, [&] {
                    try {
                        opened = player->OpenStream(path);
                    } catch (const std::exception& e) {
                        ADD_FAILURE() << path << ": " << e.what();
                        opened = false;
                    }
                });
            EXPECT_TRUE(inTime) << path << " held the open";
            EXPECT_FALSE(opened) << path;
        }
    }
    EXPECT_EQ(player->ChannelHandle(), handle);
    EXPECT_EQ(player->PlayState(), PLAYSTATE_READY);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(StreamInfoTest, WavBitRateLeavesOutTheChannelCount) {
    for (int channels : {1, 2}) {
        const std::string path = ToneWav("rate" + std::to_string(channels) + ".wav", 0.5, channels);
        ASSERT_TRUE(player->OpenStream(path));
        const TStreamInfo& info = player->StreamInfo();
        EXPECT_EQ(info.BitRate, 705) << channels;
        EXPECT_EQ(info.Channels, channels);
        EXPECT_EQ(info.SampleRate, 44100);
        EXPECT_EQ(info.BitsPerSample, 16);
        EXPECT_EQ(info.Duration, 500u);
        EXPECT_EQ(info.Title, "rate" + std::to_string(channels) + ".wav");
    }
    // 22050 Hz gives 352 whatever the channels.
    ASSERT_TRUE(player->OpenStream(ToneWav("low.wav", 0.5, 2, 1000, 22050)));
    EXPECT_EQ(player->StreamInfo().BitRate, 352);
}

TEST_F(StreamInfoTest, WmaFileFromItsHeader) {
    ASSERT_TRUE(player->WMAReady());
    const std::string path =
        WmaFile("song.wma", 1.5, "-metadata title=WmaTitle -metadata artist=WmaArtist");
    ASSERT_TRUE(player->OpenStream(path));
    const TStreamInfo& info = player->StreamInfo();
    EXPECT_EQ(info.Title, "WmaTitle");
    EXPECT_EQ(info.Artist, "WmaArtist");
    EXPECT_EQ(info.SampleRate, 44100);
    EXPECT_EQ(info.Channels, 2);
    EXPECT_NEAR(info.BitRate, 128, 8);
    // The header's estimate (file size over the maximum bit rate) counts the
    // container's overhead too; the library measures the audio itself.
    EXPECT_GE(info.Duration, 1450u);
    EXPECT_LE(info.Duration, 2300u);
    EXPECT_NEAR(static_cast<double>(player->LengthMs()), 1500.0, 100.0);
    EXPECT_NE(player->ChannelKind(), CHANNEL_NONE);
    player->StartPlayback();
    EXPECT_EQ(player->PlayState(), PLAYSTATE_PLAYING);
}

TEST_F(StreamInfoTest, UnrecognisedNamesAreRefusedSilently) {
    ASSERT_TRUE(player->OpenStream(ToneWav("current.wav", 0.5)));
    const DWORD handle = player->ChannelHandle();
    // A real Ogg stream under a four-letter extension, and a file with none.
    const std::string flac = TempDir() + "/song.flac";
    const std::string bare = TempDir() + "/song";
    std::filesystem::copy_file(OggFile("src.ogg", 0.5), flac,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(CbrMp3("src.mp3", 0.5), bare,
                               std::filesystem::copy_options::overwrite_existing);
    for (const std::string& path : {flac, bare, std::string("HTTP://127.0.0.1:1/song.mp3")}) {
        EXPECT_FALSE(player->OpenStream(path)) << path;
        TStreamInfo info;
        int32_t index = 0;
        TPlayableBy verdict = 0;
        EXPECT_FALSE(player->GetStreamInfo(path, info, index, verdict)) << path;
        EXPECT_EQ(verdict, PLAYABLE_UNDECIDED);
        EXPECT_EQ(index, -1);
    }
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(player->ChannelHandle(), handle);  // the current stream is untouched
    EXPECT_EQ(player->CurrentFile(), TempDir() + "/current.wav");
}

TEST_F(StreamInfoTest, VerdictIsLibraryWhenNoPluginIsLoaded) {
    TStreamInfo info;
    int32_t index = 0;
    TPlayableBy verdict = 0;
    ASSERT_TRUE(player->GetStreamInfo(CbrMp3("verdict.mp3", 0.5), info, index, verdict));
    EXPECT_EQ(verdict, PLAYABLE_BASS);
    EXPECT_EQ(index, -1);
}

TEST_F(StreamInfoTest, FileTheLibraryCannotPlayShowsTheLibraryError) {
    // A valid WAV header over data that is not a sound format the library has.
    ASSERT_TRUE(player->OpenStream(ToneWav("before.wav", 0.5)));
    std::vector<char> bytes = ReadAll(ToneWav("header.wav", 0.2));
    bytes[20] = 0x34;  // format tag 0x1234
    bytes[21] = 0x12;
    const std::string path = TempDir() + "/odd.wav";
    WriteAll(path, bytes);
    EXPECT_FALSE(player->OpenStream(path));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Error");
    EXPECT_EQ(boxes.boxes[0].flags, win::MB_ICONERROR);
    EXPECT_TRUE(boxes.boxes[0].text.starts_with("Can't play the file\r\n(error code: "))
        << boxes.boxes[0].text;
    EXPECT_TRUE(boxes.boxes[0].text.ends_with(")"));
    // The previous channel is gone, the state is what it was.
    EXPECT_EQ(player->ChannelKind(), CHANNEL_NONE);
    EXPECT_EQ(player->PlayState(), PLAYSTATE_READY);
    player->StartPlayback();
    EXPECT_EQ(player->PlayState(), PLAYSTATE_READY);
}

TEST_F(StreamInfoTest, NetworkWmaNeedsAPlugin) {
    EXPECT_FALSE(player->OpenStream("http://127.0.0.1:9/radio.wma"));
    EXPECT_FALSE(player->OpenStream("http://127.0.0.1:9/radio.asf"));
    ASSERT_EQ(boxes.boxes.size(), 2u);
    for (const auto& box : boxes.boxes) {
        EXPECT_EQ(box.caption, "Confirm");
        EXPECT_EQ(box.text, "Winamp input plug-in for ASF (or WMA) file is not loaded.");
    }
}

TEST(PlayerFailures, PlayerWithoutLibraryRefusesToOpen) {
    BoxRecorder boxes;
    win::SetProgramDir(TempDir());  // no bass.dll there
    TBASSPlayer player;
    EXPECT_FALSE(player.PlayerReady());
    EXPECT_EQ(player.BASSDLLVer(), "");
    EXPECT_FALSE(player.OpenStream(ToneWav("unready.wav", 0.2)));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Confirm");
    EXPECT_EQ(boxes.boxes[0].text, "Player is not ready !");
    player.SetOutputVolume(100);
    player.StartPlayback();
    EXPECT_EQ(player.PlayState(), PLAYSTATE_IDLE);
}

TEST(PlayerFailures, DeviceThatCannotBeInitialisedIsReported) {
    UseNullOutput();
    BoxRecorder boxes;
    const uint8_t device = StartupDevice;
    StartupDevice = 250;
    {
        TBASSPlayer player;
        EXPECT_FALSE(player.PlayerReady());
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].caption, "Error");
        EXPECT_TRUE(boxes.boxes[0].text.starts_with("Can't initialize device\r\n(error code: "))
            << boxes.boxes[0].text;
    }
    StartupDevice = device;
}
