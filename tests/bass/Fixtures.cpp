#include "Fixtures.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <vector>

#include "tests/support/Pcm.h"

namespace bass_test {

using testsound::runQuiet;

const std::string& workDir() {
    // Kept for the whole process (never destroyed), removed with its files at exit.
    static const std::string* dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "kav-bass-XXXXXX").string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data())) return new std::string("/tmp");
        auto* made = new std::string(buf.data());
        std::atexit([] { std::filesystem::remove_all(workDir()); });
        return made;
    }();
    return *dir;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string makeToneWav(const std::string& name, double seconds, double freq, double right,
                        int channels, int rate, double volume) {
    const std::string path = workDir() + "/" + name;
    const bool ok =
        runQuiet(testsound::soxToneCommand(path, {seconds, freq, channels, rate, volume, right}));
    return ok ? path : std::string();
}

std::string encode(const std::string& wav, const std::string& ext, const std::string& extra) {
    const std::string out = wav.substr(0, wav.rfind('.')) + "." + ext;
    bool ok = false;
    if (ext == "mp3") {
        ok = runQuiet("lame --quiet -b 128 " + extra + " '" + wav + "' '" + out + "'");
    } else if (ext == "ogg") {
        ok = runQuiet("oggenc -Q " + extra + " '" + wav + "' -o '" + out + "'");
    } else {
        const std::string codec = ext == "wma" ? "wmav2" : ext;
        ok = runQuiet("ffmpeg -hide_banner -loglevel error -y -i '" + wav + "' -c:a " + codec +
                      " " + extra + " '" + out + "'");
    }
    return ok ? out : std::string();
}

std::string makeTwoTones(const std::string& name, double f1, double f2) {
    const std::string a = makeToneWav("a-" + name, 1.0, f1);
    const std::string b = makeToneWav("b-" + name, 1.0, f2);
    const std::string path = workDir() + "/" + name;
    return runQuiet("sox '" + a + "' '" + b + "' '" + path + "'") ? path : std::string();
}

namespace {
void put16be(std::vector<unsigned char>& v, unsigned x) {
    v.push_back(static_cast<unsigned char>(x >> 8));
    v.push_back(static_cast<unsigned char>(x));
}
}  // namespace

std::string makeModule(const std::string& name) {
    const std::string title = "kav test";
    std::vector<unsigned char> m(20, 0);
    for (size_t i = 0; i < title.size(); ++i) m[i] = static_cast<unsigned char>(title[i]);
    const unsigned sampleWords = 32;  // one 64-byte cycle of a sine, looped
    for (int s = 0; s < 31; ++s) {
        const size_t at = m.size();
        m.resize(at + 22, 0);
        if (s == 0) {
            put16be(m, sampleWords);
            m.push_back(0);   // finetune
            m.push_back(64);  // volume
            put16be(m, 0);
            put16be(m, sampleWords);
        } else {
            put16be(m, 0);
            m.push_back(0);
            m.push_back(0);
            put16be(m, 0);
            put16be(m, 1);
        }
    }
    m.push_back(1);    // one position in the song
    m.push_back(127);  // restart byte
    m.push_back(0);    // position 0 plays pattern 0
    m.resize(m.size() + 127, 0);
    for (char c : std::string("M.K.")) m.push_back(static_cast<unsigned char>(c));
    // Pattern 0: row 0, channel 0 plays sample 1 at period 428 and sets speed 1.
    std::vector<unsigned char> pattern(64 * 4 * 4, 0);
    const unsigned period = 428;
    pattern[0] = static_cast<unsigned char>(period >> 8);
    pattern[1] = static_cast<unsigned char>(period & 0xFF);
    pattern[2] = 0x10 | 0x0F;  // sample 1 (low nibble), effect F
    pattern[3] = 0x01;         // speed 1
    m.insert(m.end(), pattern.begin(), pattern.end());
    for (int i = 0; i < 64; ++i)
        m.push_back(static_cast<unsigned char>(
            static_cast<signed char>(std::lround(100 * std::sin(2 * std::numbers::pi * i / 64)))));
    const std::string path = workDir() + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(m.data()), static_cast<std::streamsize>(m.size()));
    return path;
}

}  // namespace bass_test
