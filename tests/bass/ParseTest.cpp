// The parsers of what servers send, fed the same bytes in pieces of every
// size: what they find must not depend on where the reads end.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Fixtures.h"
#include "HttpParse.h"
#include "OggComments.h"

using namespace kavbass;

namespace kavbass {
void PrintTo(const StreamNews& n, std::ostream* os) {
    *os << "at " << n.at << ": " << testing::PrintToString(n.text);
}
}  // namespace kavbass

namespace {

const uint8_t* bytes(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

// Calls take(piece) for consecutive pieces of data of the given size (0:
// pieces of 1, 2, 3 ... bytes in turn).
template <typename Take>
void inPieces(const std::string& data, size_t size, Take take) {
    size_t step = 1;
    for (size_t at = 0; at < data.size();) {
        const size_t n = std::min(size ? size : step++, data.size() - at);
        take(data.substr(at, n));
        at += n;
    }
}

struct Decoded {
    std::string out;
    ChunkedDecoder::State state = ChunkedDecoder::State::Body;
};

Decoded decodeChunked(const std::string& raw, size_t piece) {
    Decoded d;
    ChunkedDecoder dec;
    inPieces(raw, piece,
             [&](const std::string& p) { d.state = dec.feed(bytes(p), p.size(), d.out); });
    return d;
}

}  // namespace

TEST(Chunked, DecodesWhateverTheReadBoundaries) {
    struct Case {
        const char* name;
        std::string raw;
        std::string body;
        ChunkedDecoder::State state;
    };
    const std::string big(300, 'x');
    const std::vector<Case> cases = {
        {"plain", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", "hello world",
         ChunkedDecoder::State::Done},
        {"extensions and upper-case hex",
         "5;name=value\r\nhello\r\n12C ; x\r\n" + big + "\r\n0;last\r\n\r\n", "hello" + big,
         ChunkedDecoder::State::Done},
        {"trailers", "3\r\nabc\r\n0\r\nExpires: never\r\nX-A: b\r\n\r\n", "abc",
         ChunkedDecoder::State::Done},
        {"bare line feeds", "3\nabc\n0\n\n", "abc", ChunkedDecoder::State::Done},
        {"not yet ended", "3\r\nabc\r\n4\r\nde", "abcde", ChunkedDecoder::State::Body},
        {"bad hex", "3\r\nabc\r\nzz\r\nmore\r\n", "abc", ChunkedDecoder::State::Error},
        {"empty size line", "\r\nabc\r\n", "", ChunkedDecoder::State::Error},
        {"data longer than its size", "2\r\nabc\r\n0\r\n\r\n", "ab", ChunkedDecoder::State::Error},
        {"size beyond any body", "FFFFFFFFFFFFFFFFFFFF\r\n", "", ChunkedDecoder::State::Error},
        {"endless size line", std::string(10000, '1'), "", ChunkedDecoder::State::Error},
        {"endless trailers", "0\r\n" + std::string(100000, 'T'), "", ChunkedDecoder::State::Error},
    };
    for (const auto& c : cases) {
        for (size_t piece : {size_t(0), size_t(1), size_t(2), size_t(7), c.raw.size()}) {
            const Decoded d = decodeChunked(c.raw, piece);
            EXPECT_EQ(d.out, c.body) << c.name << ", pieces of " << piece;
            EXPECT_EQ(d.state, c.state) << c.name << ", pieces of " << piece;
        }
    }
}

TEST(HttpHead, FindsTheBlockAndRefusesWhatIsNoResponse) {
    size_t at = 0;
    EXPECT_EQ(scanHead("HTT", at), HeadScan::NeedMore);
    EXPECT_EQ(scanHead("ICY 200 OK\r\n", at), HeadScan::NeedMore);
    EXPECT_EQ(scanHead("\x89PNG", at), HeadScan::NotHttp);  // garbage: no wait for more
    EXPECT_EQ(scanHead("X", at), HeadScan::NotHttp);
    EXPECT_EQ(scanHead("HTTP/1.0 200 OK\r\n" + std::string(70000, 'a'), at), HeadScan::NotHttp);
    ASSERT_EQ(scanHead("HTTP/1.0 200 OK\r\nA: b\r\n\r\nbody", at), HeadScan::Complete);
    EXPECT_EQ(at, 25u);

    HttpHead h;
    ASSERT_TRUE(
        parseHead("HTTP/1.1 200 OK\r\nTRANSFER-ENCODING: Chunked\r\nContent-Length: 99\r\n"
                  "icy-metaint: 8192 \r\nicy-br: 128",
                  h));
    EXPECT_FALSE(h.icy);
    EXPECT_EQ(h.code, 200);
    EXPECT_TRUE(h.chunked);
    EXPECT_EQ(h.contentLength, -1);  // the chunks decide
    EXPECT_EQ(h.metaint, 8192u);
    EXPECT_EQ(std::string(h.headerList.c_str()), "HTTP/1.1 200 OK");
    HttpHead icy;
    ASSERT_TRUE(parseHead("ICY 200 OK\nicy-metaint:99999999999", icy));
    EXPECT_TRUE(icy.icy);
    EXPECT_EQ(icy.metaint, 0u);  // no block that large is meant
    HttpHead none;
    EXPECT_FALSE(parseHead("SSH-2.0-OpenSSH", none));
}

TEST(IcyDemux, SplitsAudioAndTitlesWhateverTheReadBoundaries) {
    // metaint 4: audio "abcd", a title, "efgh", an empty block, "ijkl", the
    // same title again, "mnop", a second title cut short by the end.
    const std::string t1 = "StreamTitle='One';";
    std::string block1(1, char(2));
    block1 += t1;
    block1.resize(33, '\0');
    const std::string raw = "abcd" + block1 + "efgh" + std::string(1, '\0') + "ijkl" + block1 +
                            "mnop" + std::string(1, char(1)) + "StreamTitle='Tw";
    for (size_t piece : {size_t(0), size_t(1), size_t(3), size_t(5), raw.size()}) {
        IcyDemux d(4);
        std::string audio;
        std::vector<StreamNews> titles;
        inPieces(raw, piece,
                 [&](const std::string& p) { d.feed(bytes(p), p.size(), audio, titles); });
        EXPECT_EQ(audio, "abcdefghijklmnop") << piece;
        // The title holds from the audio after "abcd" on.
        EXPECT_EQ(titles, (std::vector<StreamNews>{{4, t1}})) << piece;
    }
}

// Three songs of a chained Ogg stream; the comments of the second and third
// must be found, whole and in order, whether the bytes come one at a time,
// in odd pieces, with the first pages (what a live server sends on
// connecting) in a read of their own, or all in one read.
TEST(OggChain, FindsTheNextSongsWhateverTheReadBoundaries) {
    using bass_test::encode;
    using bass_test::makeToneWav;
    using bass_test::readFile;
    std::string songs[3];
    const char* titles[3] = {"First", "Second", "Third"};
    for (int i = 0; i < 3; ++i) {
        songs[i] = readFile(encode(makeToneWav("pc-" + std::to_string(i) + ".wav", 0.3, 440), "ogg",
                                   std::string("-t ") + titles[i] + " -a Band"));
        ASSERT_GT(songs[i].size(), 1000u);
    }
    const std::string stream = songs[0] + songs[1] + songs[2];
    auto find = [&](size_t piece, const std::string& lead) {
        OggChainScanner scan;
        std::vector<StreamNews> found;
        auto take = [&](const std::string& p) {
            for (auto& song : scan.feed(bytes(p), p.size())) found.push_back(song);
        };
        take(lead);  // an empty read first: the server sent its headers alone
        inPieces(stream.substr(lead.size()), piece, take);
        return found;
    };
    // Each with where its song begins.
    const std::vector<StreamNews> expected = {
        {songs[0].size(), oggCommentList(songs[1])},
        {songs[0].size() + songs[1].size(), oggCommentList(songs[2])}};
    ASSERT_NE(expected[0].text.find("title=Second"), std::string::npos);
    ASSERT_NE(expected[0].text.find("artist=Band"), std::string::npos);
    ASSERT_NE(expected[1].text.find("title=Third"), std::string::npos);
    for (size_t piece : {size_t(1), size_t(0), size_t(13), size_t(4093), stream.size()}) {
        for (const std::string& lead :
             {std::string(), songs[0].substr(0, 4096), songs[0].substr(0, 3)})
            EXPECT_EQ(find(piece, lead), expected)
                << "pieces of " << piece << ", lead " << lead.size();
    }
    // Not Ogg: nothing, however it begins.
    OggChainScanner mp3;
    EXPECT_TRUE(mp3.feed(bytes(std::string("ID")), 2).empty());
    EXPECT_TRUE(mp3.feed(bytes(stream), stream.size()).empty());
}

TEST(OggChain, LastGranuleGivesTheLengthOfAWholeFile) {
    using bass_test::encode;
    using bass_test::makeToneWav;
    using bass_test::readFile;
    const std::string ogg =
        readFile(encode(makeToneWav("pc-len.wav", 3.0, 440, 0, 2, 44100), "ogg"));
    ASSERT_GT(ogg.size(), 8000u);
    EXPECT_EQ(oggLastGranule(ogg), 3 * 44100);
    EXPECT_EQ(oggLastGranule(ogg.substr(ogg.size() - 6000)), 3 * 44100);  // a tail is enough
    // The last page cut off: the one before it counts, never a guess past the data.
    const int64_t cut = oggLastGranule(ogg.substr(0, ogg.size() - 10));
    EXPECT_GT(cut, 0);
    EXPECT_LT(cut, 3 * 44100);
    EXPECT_EQ(oggLastGranule("no pages here"), -1);
}
