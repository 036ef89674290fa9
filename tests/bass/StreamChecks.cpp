#include "StreamChecks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/support/Capture.h"

namespace bass_test {

std::vector<std::string> stringList(const char* list) {
    std::vector<std::string> out;
    for (const char* p = list; p && *p; p += std::strlen(p) + 1) out.emplace_back(p);
    return out;
}

bool contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

void MetaLog::proc(HSYNC, DWORD, DWORD_PTR data, void* user) {
    auto* log = static_cast<MetaLog*>(user);
    const char* text = reinterpret_cast<const char*>(data);
    std::string all;
    for (const std::string& s : stringList(text)) all += s + ";";
    std::lock_guard<std::mutex> lk(log->mtx);
    log->texts.emplace_back(text ? text : "");
    log->lists.push_back(all);
}

size_t MetaLog::size() {
    std::lock_guard<std::mutex> lk(mtx);
    return texts.size();
}

void playToEndDownloadedOnce(DWORD h, std::chrono::milliseconds bound) {
    SyncCounter end, downloaded;
    BASS_ChannelSetSync(h, BASS_SYNC_END, 0, SyncCounter::proc, &end);
    BASS_ChannelSetSync(h, BASS_SYNC_DOWNLOAD, 0, SyncCounter::proc, &downloaded);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(waitFor([&] { return end.calls.load() > 0; }, bound));
    EXPECT_EQ(downloaded.calls.load(), 1);
}

void expectOneTone(Session& session, double seconds, double freq, double tolerance) {
    session.close();
    Capture c;
    ASSERT_TRUE(c.load(session.capturePath()));
    auto segs = segments(c.left, 1000, 441);
    ASSERT_EQ(segs.size(), 1u);
    EXPECT_NEAR(c.seconds(segs[0].length()), seconds, 0.05);
    EXPECT_NEAR(toneFrequency(c.left, segs[0].begin, segs[0].end, c.rate), freq, tolerance);
}

}  // namespace bass_test
