// The binding, the device list, the configuration and the error codes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "Fixtures.h"
#include "Session.h"

using namespace bass_test;
using namespace std::chrono_literals;

TEST(Binding, LoadsOnceAndRefusesIncompleteLibraries) {
    ASSERT_TRUE(bindLibraries());
    EXPECT_TRUE(BASS_Loaded());
    EXPECT_TRUE(BASSWMA_Loaded());
    EXPECT_TRUE(bindLibraries());  // a second load succeeds at once
    EXPECT_EQ(BASS_GetVersion(), 2u);
    EXPECT_NE(BASS_WMA_StreamCreateFile, nullptr);

    // A library with only some of the entry points is refused and released.
    Unload_BASSDLL();
    EXPECT_FALSE(BASS_Loaded());
    EXPECT_EQ(BASS_GetVersion, nullptr);
    const std::string dir = binDir();
    EXPECT_FALSE(Load_BASSDLL(dir + "/../tests/incomplete_bass.dll"));
    EXPECT_EQ(BASS_GetVersion, nullptr);
    EXPECT_FALSE(BASS_Loaded());
    EXPECT_EQ(BASS_Init, nullptr);
    EXPECT_FALSE(Load_BASSDLL(dir + "/no-such-library.dll"));
    ASSERT_TRUE(bindLibraries());
    EXPECT_EQ(BASS_GetVersion(), 2u);
}

TEST(Binding, UnloadFreesTheDeviceFirst) {
    ASSERT_TRUE(bindLibraries());
    ASSERT_TRUE(BASS_Init(nullDevice(), 44100, 0, nullptr, nullptr));
    Unload_BASSDLL();
    ASSERT_TRUE(bindLibraries());
    // Had the device stayed open, this would fail with "already".
    EXPECT_TRUE(BASS_Init(nullDevice(), 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    EXPECT_TRUE(BASS_Free());
}

TEST(Devices, NullOutputIsLastAndOpens) {
    ASSERT_TRUE(bindLibraries());
    const int last = nullDevice();
    ASSERT_GE(last, 1);
    EXPECT_STREQ(BASS_GetDeviceDescription(last), "No sound (null output)");
    EXPECT_EQ(BASS_GetDeviceDescription(last + 1), nullptr);
    EXPECT_EQ(BASS_GetDeviceDescription(0), nullptr);
    EXPECT_EQ(BASS_GetDevice(), 0xFFFFFFFFu);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_Init(last + 1, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DEVICE);

    ASSERT_TRUE(BASS_Init(last, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_GetDevice(), static_cast<DWORD>(last));
    EXPECT_FALSE(BASS_Init(last, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
    unsigned char record[60];
    std::memset(record, 0xEE, sizeof record);
    DWORD size = 60;
    std::memcpy(record, &size, 4);
    ASSERT_TRUE(BASS_GetInfo(reinterpret_cast<BASS_INFO*>(record)));
    DWORD dsver = 0;
    std::memcpy(&dsver, record + 40, 4);
    EXPECT_EQ(dsver, 9u);
    EXPECT_EQ(reinterpret_cast<BASS_INFO*>(record)->size, 60u);
    EXPECT_EQ(reinterpret_cast<BASS_INFO*>(record)->freq, 44100u);
    EXPECT_TRUE(BASS_Free());
    EXPECT_FALSE(BASS_Free());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
}

TEST(Config, VolumesAreKeptAndUnknownOptionsRefused) {
    ASSERT_TRUE(bindLibraries());
    EXPECT_EQ(BASS_SetConfig(BASS_CONFIG_MAXVOL, 255), 255u);
    EXPECT_EQ(BASS_SetConfig(BASS_CONFIG_GVOL_STREAM, 17), 17u);
    EXPECT_EQ(BASS_SetConfig(BASS_CONFIG_GVOL_MUSIC, 99), 99u);
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_MAXVOL), 255u);
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_GVOL_STREAM), 17u);
    EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_GVOL_MUSIC), 99u);
    EXPECT_EQ(BASS_SetConfig(1000, 1), 0xFFFFFFFFu);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLTYPE);
    BASS_SetConfig(BASS_CONFIG_GVOL_STREAM, 255);
    BASS_SetConfig(BASS_CONFIG_GVOL_MUSIC, 255);
}

// Files that are not of the stream formats fail with a code, so the caller
// can go on to the WMA add-on and to music; errors are kept per thread.
TEST(Errors, UnplayableInputFailsWithACode) {
    const std::string wav = makeToneWav("err.wav", 0.2, 440);
    const std::string wma = encode(wav, "wma");
    const std::string junk = workDir() + "/junk.mp3";
    std::ofstream(junk) << std::string(5000, 'x');
    Session s("errors");
    ASSERT_TRUE(s.ok());

    EXPECT_EQ(BASS_StreamCreateFile(FALSE, "/no/such/file.mp3", 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, junk.c_str(), 0, 0, 0), 0u);
    EXPECT_NE(BASS_ErrorGetCode(), BASS_OK);
    EXPECT_EQ(BASS_MusicLoad(FALSE, junk.c_str(), 0, 0, BASS_MUSIC_CALCLEN, 0), 0u);
    EXPECT_NE(BASS_ErrorGetCode(), BASS_OK);
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, wma.c_str(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
    EXPECT_EQ(BASS_WMA_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);

    int otherThread = -1;
    std::thread([&] {
        BASS_StreamPlay(12345, FALSE, 0);
        otherThread = BASS_ErrorGetCode();
    }).join();
    EXPECT_EQ(otherThread, BASS_ERROR_HANDLE);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);  // this thread's own

    DWORD h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    EXPECT_FALSE(BASS_MusicFree(h));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_TRUE(BASS_StreamFree(h));
    EXPECT_FALSE(BASS_StreamFree(h));
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
    EXPECT_EQ(BASS_StreamGetTags(h, BASS_TAG_ID3), nullptr);
    EXPECT_EQ(BASS_StreamCreate(44100, 2, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    EXPECT_EQ(BASS_WMA_GetIWMReader(h), nullptr);
    EXPECT_NE(BASS_ErrorGetCode(), BASS_OK);
}

TEST(Errors, NothingOpensBeforeInit) {
    const std::string wav = makeToneWav("noinit.wav", 0.2, 440);
    ASSERT_TRUE(bindLibraries());
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
}

// Tags: the ID3v1 and ID3v2 blocks of an MP3 file, the comments of an Ogg file.
TEST(Tags, Id3BlocksAndOggComments) {
    const std::string wav = makeToneWav("tags.wav", 0.3, 440);
    const std::string mp3 = encode(wav, "mp3", "--add-id3v2 --tt SongTitle --ta SongArtist");
    const std::string ogg = encode(wav, "ogg", "-t OggTitle -a OggArtist");
    const std::string plain = encode(makeToneWav("plain.wav", 0.3, 440), "mp3");
    Session s("tags");
    ASSERT_TRUE(s.ok());
    DWORD h = BASS_StreamCreateFile(FALSE, mp3.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    const char* v1 = BASS_StreamGetTags(h, BASS_TAG_ID3);
    ASSERT_NE(v1, nullptr);
    EXPECT_EQ(std::string(v1, 3), "TAG");
    EXPECT_EQ(std::string(v1 + 3, 9), "SongTitle");
    EXPECT_EQ(std::string(v1 + 33, 10), "SongArtist");
    const char* v2 = BASS_StreamGetTags(h, BASS_TAG_ID3V2);
    ASSERT_NE(v2, nullptr);
    EXPECT_EQ(std::string(v2, 3), "ID3");
    const size_t size =
        10 + ((v2[6] & 0x7F) << 21 | (v2[7] & 0x7F) << 14 | (v2[8] & 0x7F) << 7 | (v2[9] & 0x7F));
    EXPECT_NE(std::string(v2, size).find("TIT2"), std::string::npos);
    EXPECT_EQ(std::string(v2, size).find("\xFF\xFB"), std::string::npos);  // no audio frame
    EXPECT_EQ(BASS_StreamGetTags(h, BASS_TAG_OGG), nullptr);
    std::ifstream f(mp3, std::ios::binary | std::ios::ate);
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), static_cast<DWORD>(f.tellg()));

    DWORD p = BASS_StreamCreateFile(FALSE, plain.c_str(), 0, 0, 0);
    ASSERT_NE(p, 0u);
    EXPECT_EQ(BASS_StreamGetTags(p, BASS_TAG_ID3), nullptr);
    EXPECT_EQ(BASS_StreamGetTags(p, BASS_TAG_ID3V2), nullptr);

    DWORD o = BASS_StreamCreateFile(FALSE, ogg.c_str(), 0, 0, 0);
    ASSERT_NE(o, 0u);
    const char* list = BASS_StreamGetTags(o, BASS_TAG_OGG);
    ASSERT_NE(list, nullptr);
    std::vector<std::string> comments;
    for (const char* q = list; *q; q += std::strlen(q) + 1) comments.emplace_back(q);
    // Written as the encoder wrote them (it writes the keys in lower case).
    EXPECT_NE(std::find(comments.begin(), comments.end(), "title=OggTitle"), comments.end());
    EXPECT_NE(std::find(comments.begin(), comments.end(), "artist=OggArtist"), comments.end());
}

// Damaged files play what they hold and end; nothing hangs.
TEST(Errors, DamagedFilesPlayWhatTheyHold) {
    const std::string wav = makeToneWav("damaged.wav", 1.0, 440);
    const std::string mp3 = encode(wav, "mp3");
    std::ifstream in(mp3, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const std::string cut = workDir() + "/cut.mp3";
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    // A WAV header announcing far more data than the file holds.
    std::ifstream win(wav, std::ios::binary);
    std::string w((std::istreambuf_iterator<char>(win)), {});
    w.resize(44 + 44100);  // a quarter of a second of stereo frames
    w[40] = w[41] = w[42] = '\xFF';
    w[43] = '\x7F';
    const std::string liar = workDir() + "/liar.wav";
    std::ofstream(liar, std::ios::binary) << w;

    Session s("damaged");
    ASSERT_TRUE(s.ok());
    for (const std::string& path : {cut, liar}) {
        SCOPED_TRACE(path);
        DWORD h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
        ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
        SyncCounter end;
        ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, SyncCounter::proc, &end), 0u);
        ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
        ASSERT_TRUE(waitFor([&] { return end.calls.load() > 0; }, 3000ms));
        const double heard = positionSeconds(h);
        EXPECT_NEAR(heard, path == cut ? 0.5 : 0.25, 0.05);
        EXPECT_TRUE(BASS_StreamFree(h));
    }
}
