#include "WMAfile.h"

#include <array>
#include <cstring>
#include <span>
#include <string_view>

#include "FileReader.h"
#include "TextUtil.h"

using namespace fileinfo_detail;

namespace {

using Guid = std::array<uint8_t, 16>;

// GUIDs in their stored layout: the first three groups little-endian.
constexpr Guid HeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                               0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid FilePropertiesObject = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                       0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid StreamPropertiesObject = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                         0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid ContentDescriptionObject = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                           0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid ExtendedContentDescriptionObject = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                                   0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};

constexpr int64_t ObjectHeaderLength = 24;  // identifier and 64-bit size
constexpr std::size_t MaxTextUnits = 250;

enum Slot {
    SlotTitle,
    SlotArtist,
    SlotAlbum,
    SlotTrack,
    SlotYear,
    SlotGenre,
    SlotComment,
    SlotCount
};

constexpr std::string_view DescriptorNames[SlotCount] = {
    "WM/TITLE", "WM/AUTHOR", "WM/ALBUMTITLE", "WM/TRACK", "WM/YEAR", "WM/GENRE", "WM/DESCRIPTION"};

// What one read collects before the fields are set.
struct FileData {
    int64_t FileSize = 0;
    int32_t MaxBitRate = 0;
    uint16_t Channels = 0;
    int32_t SampleRate = 0;
    int32_t ByteRate = 0;
    std::array<std::string, SlotCount> Tag;
};

// A read that falls short ends the whole header walk.
struct ShortRead {};

class HeaderReader {
  public:
    explicit HeaderReader(FileReader& file) : file_(file) {}

    void Bytes(void* buffer, std::size_t count) {
        if (!file_.ReadExact(buffer, count)) throw ShortRead{};
    }
    uint16_t U16() {
        uint8_t b[2];
        Bytes(b, 2);
        return GetLE16(b);
    }
    uint32_t U32() {
        uint8_t b[4];
        Bytes(b, 4);
        return GetLE32(b);
    }
    void Skip(int64_t count) {
        if (!file_.Skip(count)) throw ShortRead{};
    }
    void At(int64_t position) {
        if (!file_.Seek(position)) throw ShortRead{};
    }
    // A text of length bytes, its first 250 units (zero units included) where
    // they lie in the reader's block, the rest skipped; good until the next read.
    std::span<const uint8_t> Text(uint16_t length) {
        const std::size_t units = std::min<std::size_t>(length / 2, MaxTextUnits);
        const int64_t start = file_.Position();
        const std::span<const uint8_t> bytes = file_.View(start, units * 2);
        if (bytes.size() < units * 2) throw ShortRead{};
        At(start + length);
        return bytes;
    }
    // The same text as UTF-8, without its leading and trailing units of 0x20 or less.
    std::string TrimmedText(uint16_t length) {
        const std::span<const uint8_t> bytes = Text(length);
        return TrimmedUtf16LEToUtf8(bytes.data(), bytes.size() / 2);
    }

  private:
    FileReader& file_;
};

void ReadContentDescription(HeaderReader& in, int64_t object, FileData& data) {
    in.At(object + 24);
    uint16_t lengths[5];
    for (uint16_t& length : lengths) length = in.U16();
    // Title, author, copyright, description, rating; copyright and rating are dropped.
    constexpr int slots[5] = {SlotTitle, SlotArtist, -1, SlotComment, -1};
    for (int i = 0; i < 5; ++i) {
        if (lengths[i] == 0) continue;
        if (slots[i] >= 0)
            data.Tag[slots[i]] = in.TrimmedText(lengths[i]);
        else
            in.Text(lengths[i]);
    }
}

// The slot a descriptor name stands for: the name without its leading and
// trailing units of 0x20 or less, ASCII letters upper-cased, is one of
// DescriptorNames; -1 for any other.
int SlotOfName(std::span<const uint8_t> name) {
    std::size_t begin = 0, end = name.size() / 2;
    const auto unit = [name](std::size_t i) { return GetLE16(name.data() + 2 * i); };
    while (begin < end && unit(begin) <= 0x20) ++begin;
    while (end > begin && unit(end - 1) <= 0x20) --end;
    char key[16];
    if (end - begin > sizeof key) return -1;
    for (std::size_t i = begin; i < end; ++i) {
        if (unit(i) >= 0x80) return -1;
        key[i - begin] = static_cast<char>(unit(i));
    }
    for (int slot = 0; slot < SlotCount; ++slot)
        if (EqualsUpperAscii(std::string_view(key, end - begin), DescriptorNames[slot]))
            return slot;
    return -1;
}

void ReadExtendedContentDescription(HeaderReader& in, int64_t object, FileData& data) {
    in.At(object + 24);
    const uint16_t count = in.U16();
    for (uint16_t i = 0; i < count; ++i) {
        const int slot = SlotOfName(in.Text(in.U16()));
        const uint16_t type = in.U16();
        const uint16_t length = in.U16();
        if (type != 0) {
            in.Skip(length);
            continue;
        }
        if (slot >= 0)
            data.Tag[slot] = in.TrimmedText(length);
        else
            in.Text(length);
    }
}

void ReadObject(HeaderReader& in, const Guid& id, int64_t object, FileData& data) {
    if (id == FilePropertiesObject) {
        in.At(object + 100);
        data.MaxBitRate = static_cast<int32_t>(in.U32());
    } else if (id == StreamPropertiesObject) {
        in.At(object + 80);
        data.Channels = in.U16();
        data.SampleRate = static_cast<int32_t>(in.U32());
        data.ByteRate = static_cast<int32_t>(in.U32());
    } else if (id == ContentDescriptionObject) {
        ReadContentDescription(in, object, data);
    } else if (id == ExtendedContentDescriptionObject) {
        ReadExtendedContentDescription(in, object, data);
    }
}

// Walks the objects inside the Header Object. The object count and sizes come
// from the file: the end of the file, or an object smaller than its own header
// or reaching past the end of the file, ends the walk, keeping what was found
// before it. A read that falls short inside an object still fails the read.
void WalkHeader(FileReader& file, FileData& data) {
    HeaderReader in(file);
    Guid id;
    in.Bytes(id.data(), id.size());
    if (id != HeaderObject) return;
    in.Skip(8);
    const uint32_t count = in.U32();
    in.Skip(2);
    for (uint32_t i = 0; i < count; ++i) {
        const int64_t object = file.Position();
        if (object + ObjectHeaderLength > file.Size()) break;  // fewer objects than counted
        uint8_t sizeBytes[8];
        in.Bytes(id.data(), id.size());
        in.Bytes(sizeBytes, sizeof sizeBytes);
        const int64_t size = GetLE32(sizeBytes);
        if (size < ObjectHeaderLength || object + size > file.Size()) break;
        ReadObject(in, id, object, data);
        in.At(object + size);
    }
}

bool PassesValidity(const FileData& d) {
    return d.MaxBitRate > 0 && d.MaxBitRate < 320000 && d.Channels >= 1 && d.Channels <= 6 &&
           d.SampleRate >= 8000 && d.SampleRate <= 96000 && d.ByteRate > 0 && d.ByteRate < 40000;
}

}  // namespace

void TWMAfile::Clear() {
    FValid = false;
    FFileSize = 0;
    FChannels = 0;
    FSampleRate = 0;
    FDuration = 0;
    FBitRate = 0;
    FTrack = 0;
    for (std::string* text : {&FTitle, &FArtist, &FAlbum, &FYear, &FGenre, &FComment})
        text->clear();
}

bool TWMAfile::LoadFromFile(const std::string& FileName) {
    Clear();
    FileData data;
    FileReader file;
    if (!file.Open(FileName)) return false;
    data.FileSize = file.Size();
    try {
        WalkHeader(file, data);
    } catch (const ShortRead&) {
        return false;
    }
    file.Close();
    if (!PassesValidity(data)) return true;

    FValid = true;
    FFileSize = static_cast<int32_t>(data.FileSize);
    FChannels = static_cast<uint8_t>(data.Channels);
    FSampleRate = data.SampleRate;
    FDuration = static_cast<double>(FFileSize) * 8 / data.MaxBitRate;
    FBitRate = data.ByteRate * 8 / 1000;
    FTitle = std::move(data.Tag[SlotTitle]);
    FArtist = std::move(data.Tag[SlotArtist]);
    FAlbum = std::move(data.Tag[SlotAlbum]);
    FTrack = WholeNumberOrZero(data.Tag[SlotTrack]);
    FYear = std::move(data.Tag[SlotYear]);
    FGenre = std::move(data.Tag[SlotGenre]);
    FComment = std::move(data.Tag[SlotComment]);
    return true;
}
