// What the network tests read from a stream and check in what it played.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "Session.h"

namespace bass_test {

// A NUL-separated list of strings closed by an empty one, as tags come.
std::vector<std::string> stringList(const char* list);
bool contains(const std::vector<std::string>& v, const std::string& s);

// The data of each metadata sync: as one text (a title) and as a list of
// strings joined with ';' (an Ogg comment list).
struct MetaLog {
    std::mutex mtx;
    std::vector<std::string> texts;
    std::vector<std::string> lists;
    static void proc(HSYNC, DWORD, DWORD_PTR data, void* user);
    size_t size();
};

// Plays h until its end sync comes (within bound); the download sync must
// have come exactly once by then. Use with ASSERT_NO_FATAL_FAILURE.
void playToEndDownloadedOnce(DWORD h, std::chrono::milliseconds bound);

// Closes the session's output and checks the capture holds one stretch of
// sound: seconds long (within 0.05 s) at freq Hz (within tolerance).
void expectOneTone(Session& session, double seconds, double freq, double tolerance = 5);

}  // namespace bass_test
