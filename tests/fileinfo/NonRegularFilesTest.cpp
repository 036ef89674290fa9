// Paths that name something other than a regular file: every reader refuses
// them at once, and none waits on a named pipe that nobody writes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "ID3v1.h"
#include "ID3v2.h"
#include "MPEGaudio.h"
#include "OggVorbis.h"
#include "TestFiles.h"
#include "WAVfile.h"
#include "WMAfile.h"
#include "tests/support/BoundedCall.h"

namespace {

using namespace std::chrono_literals;

struct Reader {
    const char* name;
    const char* extension;
    std::function<bool(const std::string&)> load;
};

const Reader kReaders[] = {
    {"ID3v1", ".mp3", [](const std::string& p) { return TID3v1().LoadFromFile(p); }},
    {"ID3v2", ".mp3", [](const std::string& p) { return TID3v2().LoadFromFile(p); }},
    {"MPEGaudio", ".mp3", [](const std::string& p) { return TMPEGaudio().LoadFromFile(p); }},
    {"OggVorbis", ".ogg", [](const std::string& p) { return TOggVorbis().LoadFromFile(p); }},
    {"WAVfile", ".wav", [](const std::string& p) { return TWAVfile().LoadFromFile(p); }},
    {"WMAfile", ".wma", [](const std::string& p) { return TWMAfile().LoadFromFile(p); }},
};

enum class Kind { Pipe, Directory, Device };

// Makes the path as the kind says; false when the system refuses.
bool Make(Kind kind, const std::string& path) {
    switch (kind) {
        case Kind::Pipe:
            return ::mkfifo(path.c_str(), 0644) == 0;
        case Kind::Directory:
            return std::filesystem::create_directory(path);
        case Kind::Device: {
            std::error_code ec;
            std::filesystem::create_symlink("/dev/zero", path, ec);
            return !ec;
        }
    }
    return false;
}

}  // namespace

TEST(NonRegularFiles, EveryReaderRefusesWhatIsNotARegularFileWithoutWaiting) {
    TempDir dir;
    const std::pair<Kind, const char*> kinds[] = {
        {Kind::Pipe, "fifo"}, {Kind::Directory, "dir"}, {Kind::Device, "zero"}};
    for (const auto& [kind, kindName] : kinds) {
        for (const Reader& reader : kReaders) {
            const std::string path =
                dir.Path(std::string(kindName) + "-" + reader.name + reader.extension);
            ASSERT_TRUE(Make(kind, path)) << path;
            bool loaded = true;
            const bool inTime =
                ReturnsWithin(2000ms, kind == Kind::Pipe ? PipeRelease(path) : nullptr, [&] {
                    try {
                        loaded = reader.load(path);
                    } catch (const std::exception& e) {
                        ADD_FAILURE() << reader.name << " on " << kindName << ": " << e.what();
                        loaded = false;
                    }
                });
            EXPECT_TRUE(inTime) << reader.name << " waited on " << kindName;
            EXPECT_FALSE(loaded) << reader.name << " accepted " << kindName;
        }
    }
}

TEST(NonRegularFiles, RegularFileBehindALinkIsStillRead) {
    TempDir dir;
    ByteWriter w;
    w.Raw("RIFF").LE32(8036).Raw("WAVE").Raw("fmt ").LE32(16).LE16(1).LE16(1).LE32(8000);
    w.LE32(8000).LE16(1).LE16(8).Raw("data").LE32(8000).Fill(8000);
    const std::string target = dir.Write("target.wav", w.bytes());
    const std::string link = dir.Path("link.wav");
    std::filesystem::create_symlink(target, link);
    TWAVfile wav;
    ASSERT_TRUE(wav.LoadFromFile(link));
    EXPECT_TRUE(wav.Valid());
    EXPECT_DOUBLE_EQ(wav.Duration(), 1.0);
}
