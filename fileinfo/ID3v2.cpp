#include "ID3v2.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "FileReader.h"
#include "TextUtil.h"

using namespace fileinfo_detail;

namespace {

constexpr std::size_t HeaderLength = 10;
constexpr std::size_t SlotSize = 500;
constexpr int SlotCount = 16;
constexpr uint8_t FooterFlag = 0x10;
constexpr uint8_t NoContentFlag = 0x80;  // second frame flags byte, versions 3 and 4

enum Slot {
    SlotTitle,
    SlotArtist,
    SlotAlbum,
    SlotTrack,
    SlotYear,
    SlotGenre,
    SlotComment,
    SlotComposer,
    SlotEncoder,
    SlotCopyright,
    SlotLanguage,
    SlotLink,
    SlotRecordingTime,
    SlotOriginalArtist,
    SlotContentGroup,
    SlotOriginalAlbum
};

// Frame identifiers by slot: versions 3 and 4, then version 2.
constexpr const char* FrameIds[SlotCount][2] = {
    {"TIT2", "TT2"}, {"TPE1", "TP1"}, {"TALB", "TAL"}, {"TRCK", "TRK"},
    {"TYER", "TYE"}, {"TCON", "TCO"}, {"COMM", "COM"}, {"TCOM", "TCM"},
    {"TENC", "TEN"}, {"TCOP", "TCR"}, {"TLAN", "TLA"}, {"WXXX", "WXX"},
    {"TDRC", "TOR"}, {"TOPE", "TOA"}, {"TIT1", "TT1"}, {"TOAL", "TOT"}};

using Slots = std::array<std::string, SlotCount>;

bool HasTagId(const uint8_t* header) {
    return std::memcmp(header, "ID3", 3) == 0;
}

bool IsReadVersion(uint8_t version) {
    return version >= 2 && version <= 4;
}

// Header and footer included; 0 when larger than the limit.
int32_t TagSizeOf(const uint8_t* header, int64_t limit) {
    int64_t size = (static_cast<int64_t>(header[6]) << 21) + (header[7] << 14) + (header[8] << 7) +
                   header[9] + 10;
    if (header[5] & FooterFlag) size += 10;
    return size > limit ? 0 : static_cast<int32_t>(size);
}

// Where the frame walk takes its bytes from.
class TagSource {
  public:
    virtual ~TagSource() = default;
    // Reads count bytes at position into buffer; returns how many it delivered.
    virtual std::size_t ReadAt(int64_t position, uint8_t* buffer, std::size_t count) = 0;
};

class FileSource : public TagSource {
  public:
    explicit FileSource(FileReader& file) : file_(file) {}
    std::size_t ReadAt(int64_t position, uint8_t* buffer, std::size_t count) override {
        return file_.ReadAt(position, buffer, count);
    }

  private:
    FileReader& file_;
};

// A tag in memory: bytes at or beyond the tag's end are never read and count
// as zero bytes.
class MemorySource : public TagSource {
  public:
    MemorySource(const uint8_t* data, int64_t tagSize) : data_(data), size_(tagSize) {}
    std::size_t ReadAt(int64_t position, uint8_t* buffer, std::size_t count) override {
        std::memset(buffer, 0, count);
        if (position < size_) {
            auto available = static_cast<std::size_t>(size_ - position);
            std::memcpy(buffer, data_ + position, std::min(count, available));
        }
        return count;
    }

  private:
    const uint8_t* data_;
    int64_t size_;
};

void StoreFrame(Slots& slots, bool version2, std::string_view id, const uint8_t* content) {
    if (content[0] > 1) return;  // only 8-bit and 16-bit text is kept
    for (int i = 0; i < SlotCount; ++i) {
        if (id == FrameIds[i][version2 ? 1 : 0]) {
            slots[i].assign(reinterpret_cast<const char*>(content), SlotSize);
            return;
        }
    }
}

// Walks the frames from right after the tag header up to the tag's end. A
// frame size never moves the walk backwards, and a short read ends it, so a
// hostile size cannot make it loop or read outside the tag.
void WalkFrames(TagSource& source, uint8_t version, int64_t tagSize, Slots& slots) {
    const bool version2 = version == 2;
    const std::size_t headerLength = version2 ? 6 : 10;
    const std::size_t idLength = version2 ? 3 : 4;
    int64_t position = HeaderLength;
    while (position < tagSize) {
        uint8_t header[10] = {};
        if (source.ReadAt(position, header, headerLength) < headerLength) break;
        if (header[0] < 'A' || header[0] > 'Z') break;  // padding or garbage
        const int64_t size = version2 ? GetBE24(header + 3) : GetBE32(header + 4);
        const int64_t contentStart = position + static_cast<int64_t>(headerLength);
        uint8_t content[SlotSize] = {};
        const auto wanted = static_cast<std::size_t>(std::min<int64_t>(size, SlotSize));
        if (source.ReadAt(contentStart, content, wanted) < wanted) break;
        if (version2 || !(header[9] & NoContentFlag))
            StoreFrame(slots, version2,
                       std::string_view(reinterpret_cast<const char*>(header), idLength), content);
        position = contentStart + size;
    }
}

// Text of one slot: 16-bit text (encoding byte 1) or 8-bit text.
std::string DecodeText(std::string_view slot) {
    if (!slot.empty() && slot[0] == 1) {
        std::u16string units;
        const std::size_t count = (slot.size() - 1) / 2;
        for (std::size_t i = 0; i < count; ++i) {
            const auto low = static_cast<uint8_t>(slot[1 + 2 * i]);
            const auto high = static_cast<uint8_t>(slot[2 + 2 * i]);
            const auto unit = static_cast<char16_t>(low | (high << 8));
            if (unit == 0) break;
            if (low == 0xFF) continue;  // the byte-order mark FF FE, and any unit like it
            units += unit;
        }
        return Utf16ToUtf8(TrimUnits(units));
    }
    return EightBitToUtf8(TrimBytes(slot));
}

// Comment and link frames: language (comment only) and description go before
// the text. The 16-bit separator is looked for at whole units only, so the
// end of a description such as "c\0" "\0\0" is not mistaken for it.
std::string ExtractAfterDescription(const std::string& slot, std::size_t prefixLength) {
    if (slot.empty()) return std::string();
    const char encoding = slot[0];
    const bool wide = encoding == 1;
    std::string rest = slot.size() > prefixLength ? slot.substr(prefixLength) : std::string();
    std::size_t cut = std::string::npos;
    if (wide) {
        for (std::size_t i = 0; i + 1 < rest.size(); i += 2)
            if (rest[i] == 0 && rest[i + 1] == 0) {
                cut = i + 2;
                break;
            }
        if (cut == std::string::npos) cut = std::min<std::size_t>(1, rest.size());
    } else {
        std::size_t zero = rest.find('\0');
        cut = zero == std::string::npos ? 0 : zero + 1;
    }
    return DecodeText(std::string(1, encoding) + rest.substr(cut));
}

// The reader's text fields as derived from the slots.
struct Derived {
    std::string Title, Artist, Album, TrackText, Year, Genre, Comment, Composer, Encoder, Copyright,
        Language, Link;
    uint16_t Track = 0;
};

std::string Either(const Slots& slots, int first, int second) {
    std::string text = DecodeText(slots[first]);
    return text.empty() ? DecodeText(slots[second]) : text;
}

Derived DeriveFields(const Slots& slots) {
    Derived d;
    d.Title = Either(slots, SlotTitle, SlotContentGroup);
    d.Artist = Either(slots, SlotArtist, SlotOriginalArtist);
    d.Album = Either(slots, SlotAlbum, SlotOriginalAlbum);
    d.TrackText = DecodeText(slots[SlotTrack]);
    d.Track = static_cast<uint16_t>(NumberBeforeSlash(d.TrackText));
    d.Year = DecodeText(slots[SlotYear]);
    if (d.Year.empty()) d.Year = FirstCharacters(DecodeText(slots[SlotRecordingTime]), 4);
    d.Genre = DecodeText(slots[SlotGenre]);
    const std::size_t paren = d.Genre.rfind(')');
    if (paren != std::string::npos) d.Genre.erase(0, paren + 1);
    d.Comment = ExtractAfterDescription(slots[SlotComment], 4);
    d.Link = ExtractAfterDescription(slots[SlotLink], 1);
    d.Composer = DecodeText(slots[SlotComposer]);
    d.Encoder = DecodeText(slots[SlotEncoder]);
    d.Copyright = DecodeText(slots[SlotCopyright]);
    d.Language = DecodeText(slots[SlotLanguage]);
    return d;
}

}  // namespace

void TID3v2::Clear() {
    FPresent = false;
    FVersion = 0;
    FTagSize = 0;
    FTrack = 0;
    for (std::string* text : {&FTitle, &FArtist, &FAlbum, &FTrackText, &FYear, &FGenre, &FComment,
                              &FComposer, &FEncoder, &FCopyright, &FLanguage, &FLink})
        text->clear();
}

bool TID3v2::LoadFromFile(const std::string& FileName) {
    Clear();
    FileReader file;
    return file.Open(FileName) && LoadFromReader(file);
}

bool TID3v2::LoadFromReader(FileReader& file) {
    Clear();
    uint8_t header[HeaderLength] = {};
    if (!file.IsOpen() || file.ReadAt(0, header, HeaderLength) < HeaderLength) return false;
    if (!HasTagId(header)) return true;

    FPresent = true;
    FVersion = header[3];
    FTagSize = TagSizeOf(header, file.Size());
    if (!IsReadVersion(FVersion) || FTagSize == 0) return true;

    Slots slots;
    FileSource source(file);
    WalkFrames(source, FVersion, FTagSize, slots);
    Derived d = DeriveFields(slots);
    FTitle = std::move(d.Title);
    FArtist = std::move(d.Artist);
    FAlbum = std::move(d.Album);
    FTrack = d.Track;
    FTrackText = std::move(d.TrackText);
    FYear = std::move(d.Year);
    FGenre = std::move(d.Genre);
    FComment = std::move(d.Comment);
    FComposer = std::move(d.Composer);
    FEncoder = std::move(d.Encoder);
    FCopyright = std::move(d.Copyright);
    FLanguage = std::move(d.Language);
    FLink = std::move(d.Link);
    return true;
}

bool TID3v2::ReadFromMemory(const void* Data, int32_t Limit, TMP3TagInfo& Info) {
    if (!Data) return false;
    const auto* data = static_cast<const uint8_t*>(Data);
    // A block shorter than the header is read only as far as it goes.
    uint8_t header[HeaderLength] = {};
    std::memcpy(header, data, static_cast<std::size_t>(std::clamp<int32_t>(Limit, 0, 10)));
    if (!HasTagId(header)) return false;

    FVersion = header[3];
    FTagSize = TagSizeOf(header, Limit);
    if (!IsReadVersion(FVersion) || FTagSize == 0) return true;

    Slots slots;
    MemorySource source(data, FTagSize);
    WalkFrames(source, FVersion, FTagSize, slots);
    Derived d = DeriveFields(slots);
    Info.Title = std::move(d.Title);
    Info.Artist = std::move(d.Artist);
    Info.Album = std::move(d.Album);
    Info.Track = d.Track;
    Info.Year = std::move(d.Year);
    Info.Genre = std::move(d.Genre);
    Info.Comment = std::move(d.Comment);
    return true;
}
