// The text rules of stream opening and the spectrum bands: no library needed.
#include <gtest/gtest.h>

#include <string>

#include "engine/BandLevels.h"
#include "engine/StreamText.h"
#include "plugins/PluginCtrl.h"

using namespace kav;

TEST(StreamText, ExtensionIsUpperCasedFromTheLastDotAndStopsAtSeparators) {
    EXPECT_EQ(UpperExt("/music/song.mp3"), ".MP3");
    EXPECT_EQ(UpperExt("/music/Song.Live.Ogg"), ".OGG");
    EXPECT_EQ(UpperExt("/music.d/song"), "");
    EXPECT_EQ(UpperExt("C:\\music.d\\song"), "");
    EXPECT_EQ(UpperExt("http://host.example:8000"), "");
    EXPECT_EQ(UpperExt("song.flac"), ".FLAC");
    EXPECT_EQ(UpperExt(""), "");
    EXPECT_EQ(ExtractFileName("/a/b/song.mp3"), "song.mp3");
    EXPECT_EQ(ExtractFileName("song.mp3"), "song.mp3");
}

TEST(StreamText, NetworkSchemesAreLowerCaseOnly) {
    EXPECT_TRUE(IsNetworkAddress("http://127.0.0.1/a.mp3"));
    EXPECT_TRUE(IsNetworkAddress("ftp://127.0.0.1/a.mp3"));
    EXPECT_TRUE(IsNetworkAddress("mms://127.0.0.1/a"));
    EXPECT_FALSE(IsNetworkAddress("HTTP://127.0.0.1/a.mp3"));
    EXPECT_TRUE(IsNetworkAddress("https://127.0.0.1/a.mp3"));
    EXPECT_FALSE(IsNetworkAddress("HTTPS://127.0.0.1/a.mp3"));
    EXPECT_FALSE(IsNetworkAddress("/tmp/http://x"));
}

TEST(StreamText, StreamTitleLiesBetweenTheQuotes) {
    EXPECT_EQ(StreamTitleOf("StreamTitle='Artist - Song';StreamUrl='';"), "Artist - Song");
    EXPECT_EQ(StreamTitleOf("StreamTitle='Song'"), "Song");
    EXPECT_EQ(StreamTitleOf("StreamTitle='';"), "");
    EXPECT_EQ(StreamTitleOf("StreamUrl='x';"), "");
    EXPECT_EQ(StreamTitleOf(""), "");
    // Degenerate texts stay inside the data.
    EXPECT_EQ(StreamTitleOf("StreamTitle="), "");
    EXPECT_EQ(StreamTitleOf("StreamTitle=;"), "");
    EXPECT_EQ(StreamTitleOf("StreamTitle='"), "");
    // A field before the title does not cut it short.
    EXPECT_EQ(StreamTitleOf("StreamUrl='u';StreamTitle='Late';"), "Late");
}

TEST(StreamText, MetadataTitleFromShoutcastTextOrCommentList) {
    EXPECT_EQ(MetaTitleFromData("StreamTitle='A - B';StreamUrl='';", false), "A - B");
    const char comments[] = "ARTIST=x\0TITLE=y\0\0";
    EXPECT_EQ(MetaTitleFromData(comments, true), "y");
    const char lowerCase[] = "artist=x\0title=y\0\0";
    EXPECT_EQ(MetaTitleFromData(lowerCase, true), "y");
    const char noTitle[] = "ARTIST=x\0GENRE=z\0\0";
    EXPECT_EQ(MetaTitleFromData(noTitle, true), "");
    // A single string is not read past its end.
    const char single[] = "ARTIST=x\0TITLE=hidden\0\0";
    EXPECT_EQ(MetaTitleFromData(single, false), "");
    EXPECT_EQ(MetaTitleFromData(nullptr, true), "");
    const std::string longTitle = "StreamTitle='" + std::string(300, 'x') + "';";
    EXPECT_EQ(MetaTitleFromData(longTitle.c_str(), false), std::string(255, 'x'));
}

TEST(StreamText, TagListSearchFindsTheFirstMatchingString) {
    const char headers[] = "ICY 200 OK\0icy-name:Test\0icy-br:128\0icy-br:64\0\0";
    EXPECT_EQ(FindTagString(headers, "icy-br:"), "icy-br:128");
    EXPECT_EQ(FindTagString(headers, "icy-genre:"), "");
    EXPECT_EQ(FindTagString(nullptr, "icy-br:"), "");
    // The search never goes past the bytes it is allowed to look at.
    const char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(FindTagString(unterminated, "zz", sizeof unterminated), "");
}

TEST(StreamText, IcyBitRateReadsTheLeadingDigits) {
    EXPECT_EQ(IcyBitRate("icy-br:128"), 128);
    EXPECT_EQ(IcyBitRate("icy-br:96,128"), 96);
    EXPECT_EQ(IcyBitRate("icy-br:fast"), 0);
    EXPECT_EQ(IcyBitRate("icy-br:"), 0);
    EXPECT_EQ(IcyBitRate("icy-br:99999999999"), 0);
    // Servers may put blanks after the colon.
    EXPECT_EQ(IcyBitRate("icy-br: 128"), 128);
    EXPECT_EQ(IcyBitRate("icy-br:\t 64"), 64);
    EXPECT_EQ(IcyBitRate("icy-br: "), 0);
    EXPECT_EQ(IcyBitRate("icy-br: x1"), 0);
}

TEST(StreamText, UrlFileNameIsTheLastSegmentWithoutItsExtension) {
    EXPECT_EQ(UrlFileName("http://host/music/song.mp3"), "song");
    EXPECT_EQ(UrlFileName("http://127.0.0.1:8000/a/b/Long name.ogg"), "Long name");
    EXPECT_EQ(UrlFileName("ftp://h/song.mp3"), "song");
    EXPECT_EQ(UrlFileName("ftp://x.mp3"), "");
    EXPECT_EQ(UrlFileName("short"), "");
    EXPECT_EQ(UrlFileName(""), "");
}

TEST(StreamText, RoundingHalvesToEven) {
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(3.5), 4);
    EXPECT_EQ(RoundHalfEven(-0.5), 0);
    EXPECT_EQ(RoundHalfEven(1499.6), 1500);
}

TEST(Spectrum, BandsTakeTheWeightedPeakOfTheirBins) {
    float magnitudes[kFFTBins] = {};
    magnitudes[0] = 1.0f;    // the constant part belongs to no band
    magnitudes[16] = 0.5f;   // band 5 holds bins 13..18
    magnitudes[200] = 1.0f;  // above the last band
    TBandOut bands{};
    UpdateBands(magnitudes, bands);
    for (std::size_t i = 0; i < bands.size(); ++i)
        EXPECT_EQ(bands[i], i == 5 ? 70 : 0) << "band " << i;  // (5 * 0.15 + 1) * 0.5 * 80
}

TEST(Spectrum, BandsFallByTwoAndRiseAtOnce) {
    float loud[kFFTBins] = {};
    loud[1] = 0.05f;  // band 0: 0.05 * 80 = 4
    float silent[kFFTBins] = {};
    TBandOut bands{};
    UpdateBands(loud, bands);
    EXPECT_EQ(bands[0], 4);
    UpdateBands(silent, bands);
    EXPECT_EQ(bands[0], 2);
    UpdateBands(silent, bands);
    EXPECT_EQ(bands[0], 0);
    UpdateBands(silent, bands);
    EXPECT_EQ(bands[0], 0);
    bands[1] = 1;
    UpdateBands(silent, bands);
    EXPECT_EQ(bands[1], 0);
    // Negative and huge magnitudes stay inside the 16-bit range.
    float odd[kFFTBins] = {};
    odd[2] = -3.0f;
    odd[180] = 1.0e9f;
    TBandOut fresh{};
    UpdateBands(odd, fresh);
    EXPECT_EQ(fresh[1], 0);
    EXPECT_EQ(fresh[24], 65535);
}

TEST(PluginManager, BeforeItsStartNothingLoads) {
    EXPECT_EQ(LoadWinampPlugin("in_mp3.dll"), PLUGIN_NOT_READY);
    EXPECT_EQ(UnloadWinampPlugin("in_mp3.dll"), PLUGIN_NOT_LOADED);
    EXPECT_EQ(GetPluginIndex("in_mp3.dll"), -1);
    EXPECT_EQ(FindPluginForExt("MP3"), -1);
    for (int index : {-1, 0, 7, 8}) {
        EXPECT_EQ(GetPlugin(index), nullptr);
        const TPluginInfo info = GetPluginInfo(index);
        EXPECT_TRUE(info.Name.empty() && info.FileExtensions.empty());
        EXPECT_EQ(info.DLLHandle, nullptr);
    }
    EXPECT_EQ(SelectInputPlugin(0), -1);  // empty slot
    EXPECT_EQ(SelectInputPlugin(8), -1);
    EXPECT_EQ(SelectInputPlugin(-1), 0);  // none is always accepted
    EXPECT_EQ(GetPluginOutputTime(true), 0);
    EXPECT_EQ(GetEmulatorWindow(), 0u);
}
