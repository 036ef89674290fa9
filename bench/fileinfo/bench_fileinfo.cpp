// bench_fileinfo [FILES_PER_KIND]: generates at least 1000 files of four kinds
// (MP3, Ogg Vorbis, WMA, WAV; 250 of each by default) in a temporary folder,
// derived from a few encoded files with varied tags, then reads every file
// with our readers and with TagLib (tags and audio properties) in the same
// run and prints files per second for both and their ratio.
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "MPEGaudio.h"
#include "OggVorbis.h"
#include "WAVfile.h"
#include "WMAfile.h"

namespace fs = std::filesystem;
using Bytes = std::vector<char>;

namespace {

void Run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
        std::cerr << "failed: " << command << "\n";
        std::exit(1);
    }
}

Bytes ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const Bytes& a, const Bytes& b = {}, const Bytes& c = {}) {
    std::ofstream out(path, std::ios::binary);
    for (const Bytes* part : {&a, &b, &c})
        out.write(part->data(), static_cast<std::streamsize>(part->size()));
}

void PutBE32(Bytes& b, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        b.push_back(static_cast<char>((v >> shift) & 0xFF));
}

// An ID3v2.3 tag with 8-bit text frames.
Bytes ID3v2Tag(const std::vector<std::pair<std::string, std::string>>& frames, size_t padding) {
    Bytes body;
    for (const auto& [id, text] : frames) {
        body.insert(body.end(), id.begin(), id.end());
        PutBE32(body, static_cast<uint32_t>(text.size() + 1));
        body.push_back(0), body.push_back(0), body.push_back(0);
        body.insert(body.end(), text.begin(), text.end());
    }
    body.resize(body.size() + padding, 0);
    const auto size = static_cast<uint32_t>(body.size());
    Bytes tag = {'I', 'D', '3', 3, 0, 0};
    for (int shift = 21; shift >= 0; shift -= 7)
        tag.push_back(static_cast<char>((size >> shift) & 0x7F));
    tag.insert(tag.end(), body.begin(), body.end());
    return tag;
}

Bytes ID3v1Tag(const std::string& title, const std::string& artist, int track, int genre) {
    Bytes tag(128, 0);
    std::copy_n("TAG", 3, tag.begin());
    std::copy_n(title.begin(), std::min<size_t>(title.size(), 30), tag.begin() + 3);
    std::copy_n(artist.begin(), std::min<size_t>(artist.size(), 30), tag.begin() + 33);
    tag[126] = static_cast<char>(track);
    tag[127] = static_cast<char>(genre);
    return tag;
}

// Encodes a few base files, then derives count files of each kind from them.
std::vector<fs::path> Generate(const fs::path& dir, int count) {
    const fs::path base = dir / "base";
    fs::create_directories(base);
    const std::string wav = (base / "tone.wav").string();
    Run("sox -n -r 44100 -c 2 -b 16 " + wav + " synth 4 sine 440 sine 660");
    Run("lame --quiet -b 128 " + wav + " " + (base / "cbr.mp3").string());
    Run("lame --quiet -V 4 " + wav + " " + (base / "vbr.mp3").string());
    const int variants = 5;
    for (int v = 0; v < variants; ++v) {
        const std::string n = std::to_string(v);
        Run("oggenc --quiet -q " + std::to_string(v) + " -t 'Ogg Title " + n + "' -a 'Artist " + n +
            "' -l 'Album " + n + "' -N " + n + " " + wav + " -o " +
            (base / ("v" + n + ".ogg")).string());
        Run("ffmpeg -loglevel error -y -i " + wav + " -c:a wmav2 -b:a " +
            std::to_string(64 + 32 * v) + "k -metadata title='WMA Title " + n +
            "' -metadata artist='Artist " + n + "' -metadata album='Album " + n + "' " +
            (base / ("v" + n + ".wma")).string());
    }
    const Bytes cbr = ReadAll(base / "cbr.mp3"), vbr = ReadAll(base / "vbr.mp3"),
                wave = ReadAll(wav);
    std::vector<fs::path> files;
    std::mt19937 random(42);
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        const fs::path mp3 = dir / ("song" + n + ".mp3");
        Bytes v2 = ID3v2Tag({{"TIT2", "Title " + n},
                             {"TPE1", "Artist " + std::to_string(i % 37)},
                             {"TALB", "Album " + std::to_string(i % 11)},
                             {"TRCK", std::to_string(i % 20 + 1)},
                             {"TYER", std::to_string(1970 + i % 50)}},
                            random() % 2048);
        const Bytes v1 = i % 3 ? ID3v1Tag("Title " + n, "Artist", i % 20 + 1, i % 148) : Bytes();
        WriteAll(mp3, v2, i % 2 ? cbr : vbr, v1);
        const fs::path w = dir / ("clip" + n + ".wav");
        WriteAll(w, wave);
        const fs::path o = dir / ("track" + n + ".ogg"), m = dir / ("piece" + n + ".wma");
        fs::copy_file(base / ("v" + std::to_string(i % variants) + ".ogg"), o);
        fs::copy_file(base / ("v" + std::to_string(i % variants) + ".wma"), m);
        files.insert(files.end(), {mp3, w, o, m});
    }
    return files;
}

// What a reader reports of a file, folded into one number so no work is skipped.
struct Summary {
    long long checksum = 0;
    int recognised = 0;
};

void Fold(Summary& s, const std::string& title, long long durationMs, int sampleRate) {
    s.checksum += static_cast<long long>(title.size()) + durationMs + sampleRate;
}

Summary ReadOurs(const std::vector<fs::path>& files) {
    TMPEGaudio mpeg;
    TOggVorbis ogg;
    TWMAfile wma;
    TWAVfile wav;
    Summary s;
    for (const fs::path& f : files) {
        const std::string ext = f.extension().string(), path = f.string();
        if (ext == ".mp3" && mpeg.LoadFromFile(path) && mpeg.IsValid()) {
            const std::string& title =
                mpeg.ID3v1().Present() ? mpeg.ID3v1().Title() : mpeg.ID3v2().Title();
            Fold(s, title, std::llround(mpeg.Duration() * 1000), mpeg.SampleRate());
            ++s.recognised;
        } else if (ext == ".ogg" && ogg.LoadFromFile(path) && ogg.IsValid()) {
            Fold(s, ogg.Title(), std::llround(ogg.Duration() * 1000), ogg.SampleRate());
            ++s.recognised;
        } else if (ext == ".wma" && wma.LoadFromFile(path) && wma.Valid()) {
            Fold(s, wma.Title(), std::llround(wma.Duration() * 1000), wma.SampleRate());
            ++s.recognised;
        } else if (ext == ".wav" && wav.LoadFromFile(path) && wav.Valid()) {
            Fold(s, "", std::llround(wav.Duration() * 1000), wav.SampleRate());
            ++s.recognised;
        }
    }
    return s;
}

Summary ReadTagLib(const std::vector<fs::path>& files) {
    Summary s;
    for (const fs::path& f : files) {
        TagLib::FileRef ref(f.c_str(), true, TagLib::AudioProperties::Average);
        if (ref.isNull() || !ref.audioProperties()) continue;
        const std::string title = ref.tag() ? ref.tag()->title().to8Bit(true) : std::string();
        Fold(s, title, ref.audioProperties()->lengthInMilliseconds(),
             ref.audioProperties()->sampleRate());
        ++s.recognised;
    }
    return s;
}

// Best of a few passes (the files are in the page cache after the first).
template <typename Reader>
double FilesPerSecond(Reader read, const std::vector<fs::path>& files, Summary& summary) {
    double best = 0;
    for (int pass = 0; pass < 3; ++pass) {
        const auto start = std::chrono::steady_clock::now();
        summary = read(files);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::max(best, files.size() / took.count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int perKind = argc > 1 ? std::max(1, std::atoi(argv[1])) : 250;
    const fs::path dir = fs::temp_directory_path() /
                         ("kav_bench_fileinfo_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    const std::vector<fs::path> files = Generate(dir, perKind);
    std::cout << "files: " << files.size() << " (" << perKind
              << " each of MP3, WAV, Ogg Vorbis, WMA)\n";

    Summary ours, taglib;
    ReadOurs(files);  // warm the page cache
    const double oursRate = FilesPerSecond(ReadOurs, files, ours);
    const double taglibRate = FilesPerSecond(ReadTagLib, files, taglib);
    std::printf("KAV readers: %10.0f files/s (%d recognised)\n", oursRate, ours.recognised);
    std::printf("TagLib:      %10.0f files/s (%d recognised)\n", taglibRate, taglib.recognised);
    std::printf("ratio (KAV / TagLib): %.2f\n", oursRate / taglibRate);
    fs::remove_all(dir);
    return ours.recognised == static_cast<int>(files.size()) ? 0 : 1;
}
