// Audio fixtures made at test time by sox, lame, oggenc and ffmpeg, in a
// temporary directory of the test process.
#pragma once

#include <string>

namespace bass_test {

// The directory for this process's fixtures and captures.
const std::string& workDir();
// The whole content of a file (empty when unreadable).
std::string readFile(const std::string& path);

// A 16-bit PCM WAV sine tone; name is the file name inside workDir().
// A second frequency plays on the right channel when right > 0.
std::string makeToneWav(const std::string& name, double seconds, double freq, double right = 0,
                        int channels = 2, int rate = 44100, double volume = 0.5);
// The same tone encoded: ext is "mp3", "mp2", "ogg" or "wma".
std::string encode(const std::string& wav, const std::string& ext, const std::string& extra = "");
// 1 s at f1 followed by 1 s at f2 (for landing points of a seek).
std::string makeTwoTones(const std::string& name, double f1, double f2);
// A tiny 4-channel module: one sine sample played for 64 rows at speed 1.
std::string makeModule(const std::string& name);

}  // namespace bass_test
