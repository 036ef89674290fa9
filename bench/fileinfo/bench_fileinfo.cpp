// bench_fileinfo [ROUNDS]: makes a corpus of at least 1,000 varied files with
// the real encoders (lame CBR and VBR with ID3v2.3 and 2.4 tags, 8-bit and
// UTF-16 text, pictures and ID3v1; oggenc with pictures; ffmpeg WMA with
// tags; sox and ffmpeg WAV with LIST chunks), then reads all of it in
// interleaved rounds with our readers, with TagLib, and with the floor (open,
// fstat, pread of the bytes our readers look at, close). Prints the median
// files per second of each, the ratios, and a checksum of everything our
// readers report, which must not change when the readers do. sox runs in its
// repeatable mode (no random dither), so every corpus made with the same
// encoders is the same, and so is the checksum.
//
// KAV_BENCH_CORPUS=DIR keeps the corpus in DIR and uses it again next time.
#include <fcntl.h>
#include <sys/stat.h>
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "MPEGaudio.h"
#include "OggVorbis.h"
#include "WAVfile.h"
#include "WMAfile.h"

namespace fs = std::filesystem;

namespace {

constexpr int kCopies = 14;  // each made file is read under this many names

void Run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
        std::cerr << "failed: " << command << "\n";
        std::exit(1);
    }
}

std::string Quote(const fs::path& p) {
    return "'" + p.string() + "'";
}

std::string Base64(const std::string& in) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < in.size(); i += 3) {
        uint32_t v = static_cast<uint8_t>(in[i]) << 16;
        if (i + 1 < in.size()) v |= static_cast<uint8_t>(in[i + 1]) << 8;
        if (i + 2 < in.size()) v |= static_cast<uint8_t>(in[i + 2]);
        for (int k = 0; k < 4; ++k)
            out += i * 8 + k * 6 < in.size() * 8 ? digits[(v >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void PutBE32(std::string& b, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b += static_cast<char>((v >> shift) & 0xFF);
}

// A picture as an Ogg comment carries it: a FLAC picture block in base64.
std::string OggPictureComment(const std::string& png) {
    std::string block;
    PutBE32(block, 3);  // front cover
    const std::string mime = "image/png";
    PutBE32(block, static_cast<uint32_t>(mime.size()));
    block += mime;
    PutBE32(block, 0);  // no description
    for (uint32_t v : {64u, 64u, 24u, 0u}) PutBE32(block, v);
    PutBE32(block, static_cast<uint32_t>(png.size()));
    block += png;
    return "METADATA_BLOCK_PICTURE=" + Base64(block);
}

// The files made with the encoders, each with its own tags; varied lengths.
std::vector<fs::path> Encode(const fs::path& dir) {
    const fs::path base = dir / "base";
    fs::create_directories(base);
    const fs::path png = base / "cover.png";
    Run("ffmpeg -y -loglevel error -f lavfi -i testsrc=size=96x96 -frames:v 1 " + Quote(png));
    const std::string picture = OggPictureComment(ReadText(png));
    std::vector<fs::path> made;
    auto add = [&](const std::string& name, const std::string& command) {
        Run(command);
        made.push_back(base / name);
    };
    for (int v = 0; v < 12; ++v) {
        const std::string n = std::to_string(v), seconds = std::to_string(2 + v * 3);
        const fs::path wav = base / ("tone" + n + ".wav");
        Run("sox -R -n -r " + std::string(v % 3 ? "44100" : "22050") + " -c " +
            (v % 4 ? "2" : "1") + " -b 16 " + Quote(wav) + " synth " + seconds + " sine " +
            std::to_string(200 + 40 * v) + " vol 0.3");
        const std::string tags = " --tt 'Title " + n + "' --ta 'Artist " + n + "' --tl 'Album " +
                                 n + "' --ty " + std::to_string(1980 + v) + " --tn " +
                                 std::to_string(v + 1) + " --tg Rock --tc 'Comment " + n + "'";
        const std::string rate = v % 2 ? " -b " + std::to_string(96 + 32 * (v % 4)) : " -V " + n;
        const std::string mp3 = "m" + n + ".mp3";
        // lame writes ID3v2.3 (8-bit or UTF-16 text, a picture) and ID3v1.
        const std::string kind = v % 3 == 0   ? " --add-id3v2"
                                 : v % 3 == 1 ? " --id3v2-only --id3v2-utf16 --ti " + Quote(png)
                                              : " --id3v1-only";
        add(mp3, "lame --quiet" + rate + tags + kind + " " + Quote(wav) + " " + Quote(base / mp3));
        // ffmpeg rewrites the tag as ID3v2.4 or 2.3 with an ID3v1 after the audio.
        const std::string retag = "t" + n + ".mp3";
        add(retag, "ffmpeg -y -loglevel error -i " + Quote(base / mp3) +
                       " -c copy -id3v2_version " + (v % 2 ? "4" : "3") +
                       " -write_id3v1 1 -metadata title='Retagged Title " + n +
                       " ÄÖÜ' -metadata artist='Künstler " + n + "' " + Quote(base / retag));
        const std::string ogg = "o" + n + ".ogg";
        add(ogg, "oggenc --quiet -s " + std::to_string(1000 + v) + " -q " + std::to_string(v % 8) +
                     " -t 'Ogg Title " + n + "' -a 'Artist " + n + "' -l 'Album " + n + "' -N " +
                     n + " -G Jazz -d 2001 -c 'COMMENT=Ogg comment " + n + "'" +
                     (v % 2 ? " -c '" + picture + "'" : std::string()) + " " + Quote(wav) + " -o " +
                     Quote(base / ogg));
        const std::string wma = "w" + n + ".wma";
        add(wma, "ffmpeg -y -loglevel error -i " + Quote(wav) + " -c:a " +
                     (v % 2 ? "wmav2" : "wmav1") + " -b:a " + std::to_string(64 + 16 * v) +
                     "k -metadata title='WMA Title " + n + "' -metadata artist='Artist " + n +
                     "' -metadata album='Album " + n + "' -metadata genre=Pop -metadata date=" +
                     std::to_string(1990 + v) + " -metadata track=" + n + " -metadata comment='" +
                     std::string(10 * v, 'c') + "' " + Quote(base / wma));
        const std::string riff = "r" + n + ".wav";
        add(riff, "ffmpeg -y -loglevel error -i " + Quote(wav) + " -metadata title='WAV " + n +
                      "' -metadata artist='Artist " + n + "' " + Quote(base / riff));
        const std::string soxWav = "s" + n + ".wav";
        add(soxWav, "sox -R " + Quote(wav) + " --comment 'Sox comment " + n + "' " +
                        Quote(base / soxWav) + " trim 0 1");
    }
    return made;
}

std::vector<fs::path> Corpus(const fs::path& dir) {
    // The list of made files marks a corpus already complete.
    const fs::path list = dir / "base" / "made.txt";
    std::vector<fs::path> made;
    if (fs::exists(list)) {
        std::ifstream in(list);
        for (std::string line; std::getline(in, line);) made.emplace_back(line);
    } else {
        made = Encode(dir);
        std::ofstream out(list);
        for (const fs::path& m : made) out << m.string() << "\n";
    }
    std::sort(made.begin(), made.end());
    std::vector<fs::path> files;
    for (int c = 0; c < kCopies; ++c)
        for (const fs::path& m : made) {
            const fs::path copy = dir / (std::to_string(c) + "-" + m.filename().string());
            if (!fs::exists(copy)) fs::copy_file(m, copy);
            files.push_back(copy);
        }
    return files;
}

// FNV-1a over everything the readers report.
struct Digest {
    uint64_t value = 1469598103934665603ull;
    int recognised = 0;
    void add(const void* data, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            value ^= static_cast<const uint8_t*>(data)[i];
            value *= 1099511628211ull;
        }
    }
    void add(const std::string& s) { add(s.data(), s.size() + 1); }
    void add(long long v) { add(&v, sizeof v); }
    void add(double v) { add(std::llround(v * 1e6)); }
};

void AddTags(Digest& d, const TID3v1& t) {
    for (const std::string* s : {&t.Title(), &t.Artist(), &t.Album(), &t.Year(), &t.Comment()})
        d.add(*s);
    for (long long v : {(long long)t.Present(), (long long)t.Version(), (long long)t.Track(),
                        (long long)t.GenreID()})
        d.add(v);
}

void AddTags(Digest& d, const TID3v2& t) {
    for (const std::string* s :
         {&t.Title(), &t.Artist(), &t.Album(), &t.TrackText(), &t.Year(), &t.Genre(), &t.Comment(),
          &t.Composer(), &t.Encoder(), &t.Copyright(), &t.Language(), &t.Link()})
        d.add(*s);
    for (long long v : {(long long)t.Present(), (long long)t.Version(), (long long)t.TagSize(),
                        (long long)t.Track()})
        d.add(v);
}

Digest ReadOurs(const std::vector<fs::path>& files) {
    TMPEGaudio mpeg;
    TOggVorbis ogg;
    TWMAfile wma;
    TWAVfile wav;
    Digest d;
    for (const fs::path& f : files) {
        const std::string ext = f.extension().string(), path = f.string();
        if (ext == ".mp3") {
            d.add((long long)mpeg.LoadFromFile(path));
            d.recognised += mpeg.IsValid();
            AddTags(d, mpeg.ID3v1());
            AddTags(d, mpeg.ID3v2());
            d.add(mpeg.VBR().Signature);
            d.add(mpeg.VBR().EncoderText);
            for (long long v : {(long long)mpeg.BitRate(), (long long)mpeg.SampleRate(),
                                (long long)mpeg.FileSize(), (long long)mpeg.VBR().FrameCount,
                                (long long)mpeg.Frame().Position, (long long)mpeg.Frame().Length})
                d.add(v);
            d.add(mpeg.ChannelModeName());
            d.add(mpeg.Duration());
        } else if (ext == ".ogg") {
            d.add((long long)ogg.LoadFromFile(path));
            d.recognised += ogg.IsValid();
            for (const std::string* s : {&ogg.Title(), &ogg.Artist(), &ogg.Album(), &ogg.Date(),
                                         &ogg.Genre(), &ogg.Comment(), &ogg.Vendor()})
                d.add(*s);
            for (long long v :
                 {(long long)ogg.FileSize(), (long long)ogg.Channels(), (long long)ogg.SampleRate(),
                  (long long)ogg.NominalBitRate(), (long long)ogg.SampleCount(),
                  (long long)ogg.ID3v2Size(), (long long)ogg.Track(), (long long)ogg.BitRate()})
                d.add(v);
            d.add(ogg.Duration());
        } else if (ext == ".wma") {
            d.add((long long)wma.LoadFromFile(path));
            d.recognised += wma.Valid();
            for (const std::string* s : {&wma.Title(), &wma.Artist(), &wma.Album(), &wma.Year(),
                                         &wma.Genre(), &wma.Comment()})
                d.add(*s);
            for (long long v :
                 {(long long)wma.FileSize(), (long long)wma.Channels(), (long long)wma.SampleRate(),
                  (long long)wma.BitRate(), (long long)wma.Track()})
                d.add(v);
            d.add(wma.Duration());
        } else if (ext == ".wav") {
            d.add((long long)wav.LoadFromFile(path));
            d.recognised += wav.Valid();
            for (long long v : {(long long)wav.Channels(), (long long)wav.SampleRate(),
                                (long long)wav.BitsPerSample(), (long long)wav.FileSize()})
                d.add(v);
            d.add(wav.Duration());
        }
    }
    return d;
}

Digest ReadTagLib(const std::vector<fs::path>& files) {
    Digest d;
    for (const fs::path& f : files) {
        TagLib::FileRef ref(f.c_str(), true, TagLib::AudioProperties::Average);
        if (ref.isNull() || !ref.audioProperties()) continue;
        d.add(ref.tag() ? ref.tag()->title().to8Bit(true) : std::string());
        d.add((long long)ref.audioProperties()->lengthInMilliseconds());
        d.add((long long)ref.audioProperties()->sampleRate());
        ++d.recognised;
    }
    return d;
}

// The least any reader must do: open, fstat, and read the bytes our readers
// look at (the head, the ID3v2 tag's frame headers and text, the first audio
// frame, the ID3v1 block, the Ogg tail, the WMA header), then close.
size_t ReadRange(int fd, uint8_t* buf, size_t count, off_t at) {
    const ssize_t n = ::pread(fd, buf, count, at);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

Digest ReadFloor(const std::vector<fs::path>& files) {
    static uint8_t buf[1 << 16];
    Digest d;
    for (const fs::path& f : files) {
        const int fd = ::open(f.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        ::fstat(fd, &st);
        const off_t size = st.st_size;
        const std::string ext = f.extension().string();
        const size_t head = ReadRange(fd, buf, ext == ".wav" ? 44 : 4096, 0);
        if (ext == ".mp3" && head >= 10) {
            const off_t tag = std::memcmp(buf, "ID3", 3) == 0
                                  ? 10 + ((buf[6] << 21) | (buf[7] << 14) | (buf[8] << 7) | buf[9])
                                  : 0;
            if (tag + 3458 > 4096) ReadRange(fd, buf, 3458, tag);
            ReadRange(fd, buf, 128, size - 128);
        } else if (ext == ".ogg") {
            const off_t tail = std::min<off_t>(size, 12070);
            ReadRange(fd, buf, static_cast<size_t>(tail), size - tail);
        } else if (ext == ".wma" && head >= 24) {
            uint64_t header = 0;
            std::memcpy(&header, buf + 16, 8);
            if (header > 4096) ReadRange(fd, buf, std::min<uint64_t>(header, sizeof buf), 4096);
        }
        ::close(fd);
        d.add(static_cast<long long>(buf[0]));
        ++d.recognised;
    }
    return d;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const char* keep = std::getenv("KAV_BENCH_CORPUS");
    const fs::path dir = keep && *keep ? fs::path(keep)
                                       : fs::temp_directory_path() /
                                             ("kav_bench_fileinfo_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::vector<fs::path> files = Corpus(dir);
    std::printf("files: %zu (%d made by the encoders, each under %d names)\n", files.size(),
                static_cast<int>(files.size() / kCopies), kCopies);

    struct Side {
        const char* name;
        std::function<Digest(const std::vector<fs::path>&)> read;
        std::vector<double> rates;
        Digest last;
    };
    std::vector<Side> sides = {{"KAV readers", ReadOurs, {}, {}},
                               {"TagLib", ReadTagLib, {}, {}},
                               {"floor (open, fstat, pread, close)", ReadFloor, {}, {}}};
    for (Side& s : sides) s.read(files);  // the page cache holds every file from here on
    for (int r = 0; r < rounds; ++r)
        for (Side& s : sides) {
            const auto start = std::chrono::steady_clock::now();
            s.last = s.read(files);
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            s.rates.push_back(files.size() / took.count());
        }
    for (const Side& s : sides)
        std::printf("%-34s %10.0f files/s (median of %d rounds; %d recognised)\n", s.name,
                    Median(s.rates), rounds, s.last.recognised);
    const double ours = Median(sides[0].rates);
    std::printf("ratio KAV / TagLib: %.2f\n", ours / Median(sides[1].rates));
    std::printf("ratio floor / KAV (time per file, KAV over the floor): %.2f\n",
                Median(sides[2].rates) / ours);
    std::printf("checksum of what the KAV readers report: %016llx\n",
                static_cast<unsigned long long>(sides[0].last.value));
    if (!(keep && *keep)) fs::remove_all(dir);
    return 0;
}
