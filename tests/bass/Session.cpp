#include "Session.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "Fixtures.h"
#include "tests/support/BinDir.h"

namespace bass_test {

std::string binDir() {
    return TestBinDir().string();
}

bool bindLibraries() {
    const std::string bin = binDir();
    return Load_BASSDLL(bin + "/bass.dll") && Load_BASSWMADLL(bin + "/basswma.dll");
}

int nullDevice() {
    int last = 0;
    for (int n = 1; BASS_GetDeviceDescription(n); ++n) last = n;
    return last;
}

void SyncCounter::proc(HSYNC, DWORD, DWORD_PTR, void* user) {
    auto* c = static_cast<SyncCounter*>(user);
    if (c->calls.fetch_add(1) == 0 && !c->capturePath.empty()) {
        struct stat st {};
        if (::stat(c->capturePath.c_str(), &st) == 0) c->captureBytesAtFirst.store(st.st_size - 44);
    }
}

Session::Session(const std::string& name) {
    if (!bindLibraries()) return;
    capture_ = workDir() + "/capture-" + name + ".wav";
    ::setenv("KAV_CAPTURE_WAV", capture_.c_str(), 1);
    BASS_SetConfig(BASS_CONFIG_MAXVOL, 255);
    open_ = BASS_Init(nullDevice(), 44100, 0, nullptr, nullptr) != FALSE;
    ::unsetenv("KAV_CAPTURE_WAV");
    BASS_SetConfig(BASS_CONFIG_GVOL_STREAM, 255);
    BASS_SetConfig(BASS_CONFIG_GVOL_MUSIC, 255);
    ok_ = open_;
}

Session::~Session() {
    close();
}

void Session::close() {
    if (open_) BASS_Free();
    open_ = false;
}

bool waitFor(const std::function<bool()>& cond, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > until) return cond();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

double positionSeconds(DWORD handle) {
    return BASS_ChannelBytes2Seconds(handle, BASS_ChannelGetPosition(handle));
}

}  // namespace bass_test
