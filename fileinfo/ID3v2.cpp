#include "ID3v2.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <string_view>

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
constexpr std::string_view FrameIds[SlotCount][2] = {
    {"TIT2", "TT2"}, {"TPE1", "TP1"}, {"TALB", "TAL"}, {"TRCK", "TRK"},
    {"TYER", "TYE"}, {"TCON", "TCO"}, {"COMM", "COM"}, {"TCOM", "TCM"},
    {"TENC", "TEN"}, {"TCOP", "TCR"}, {"TLAN", "TLA"}, {"WXXX", "WXX"},
    {"TDRC", "TOR"}, {"TOPE", "TOA"}, {"TIT1", "TT1"}, {"TOAL", "TOT"}};

// The text of each slot, decoded from the last frame that filled it.
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

// Where the frame walk takes its bytes from, without copying them.
class TagSource {
  public:
    virtual ~TagSource() = default;
    // How many of the count bytes at position the walk may take; fewer ends it.
    virtual std::size_t Available(int64_t position, std::size_t count) = 0;
    // The bytes at position, up to count, where they lie; good until the next call.
    virtual std::span<const uint8_t> View(int64_t position, std::size_t count) = 0;
};

class FileSource : public TagSource {
  public:
    explicit FileSource(FileReader& file) : file_(file) {}
    std::size_t Available(int64_t position, std::size_t count) override {
        return file_.Available(position, count);
    }
    std::span<const uint8_t> View(int64_t position, std::size_t count) override {
        return file_.View(position, count);
    }

  private:
    FileReader& file_;
};

// A tag in memory: bytes at or beyond the tag's end are never read and count
// as zero bytes, so every count is available.
class MemorySource : public TagSource {
  public:
    MemorySource(const uint8_t* data, int64_t tagSize) : data_(data), size_(tagSize) {}
    std::size_t Available(int64_t, std::size_t count) override { return count; }
    std::span<const uint8_t> View(int64_t position, std::size_t count) override {
        if (position >= size_) return {};
        return {data_ + position, std::min<std::size_t>(count, size_ - position)};
    }

  private:
    const uint8_t* data_;
    int64_t size_;
};

// The first SlotSize bytes of a frame's content, taken where they lie: the
// bytes the source delivered, then zero bytes up to SlotSize.
class Content {
  public:
    explicit Content(std::span<const uint8_t> bytes)
        : bytes_(bytes.first(std::min(bytes.size(), SlotSize))) {}
    uint8_t At(std::size_t i) const { return i < bytes_.size() ? bytes_[i] : 0; }
    bool Complete() const { return bytes_.size() == SlotSize; }
    // The delivered bytes from offset on; the zero bytes after them are left out.
    std::string_view From(std::size_t offset) const {
        if (offset >= bytes_.size()) return {};
        return {reinterpret_cast<const char*>(bytes_.data()) + offset, bytes_.size() - offset};
    }

  private:
    std::span<const uint8_t> bytes_;
};

// The text from byte start of the content to its SlotSize-th byte: 16-bit
// units (encoding byte 1) up to the first zero unit, or 8-bit text.
std::string DecodeText(const Content& content, std::size_t start) {
    if (content.At(0) != 1) return EightBitToUtf8(Trimmed(content.From(start)));
    char16_t units[SlotSize / 2];
    std::size_t kept = 0;
    const std::size_t count = (SlotSize - start) / 2;
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t low = content.At(start + 2 * i);
        const uint8_t high = content.At(start + 2 * i + 1);
        const auto unit = static_cast<char16_t>(low | (high << 8));
        if (unit == 0) break;
        if (low == 0xFF) continue;  // the byte-order mark FF FE, and any unit like it
        units[kept++] = unit;
    }
    return Utf16ToUtf8(TrimmedUnits(std::u16string_view(units, kept)));
}

// Comment and link frames: language (comment only) and description go before
// the text. The 16-bit separator is looked for at whole units only, so the
// end of a description such as "c\0" "\0\0" is not mistaken for it.
std::string TextAfterDescription(const Content& content, std::size_t prefixLength) {
    std::size_t start = prefixLength;
    if (content.At(0) == 1) {
        std::size_t cut = 1;
        for (std::size_t i = prefixLength; i + 1 < SlotSize; i += 2)
            if (content.At(i) == 0 && content.At(i + 1) == 0) {
                cut = i + 2 - prefixLength;
                break;
            }
        start += cut;
    } else {
        const std::size_t zero = content.From(prefixLength).find('\0');
        if (zero != std::string_view::npos)
            start += zero + 1;
        else if (!content.Complete())
            return std::string();  // the separator is the first zero after the delivered bytes
    }
    return DecodeText(content, start);
}

// A frame identifier's letters as one number, first letter highest.
constexpr uint32_t IdKey(std::string_view id) {
    uint32_t key = 0;
    for (char c : id) key = (key << 8) | static_cast<uint8_t>(c);
    return key;
}

// FrameIds as numbers, so a frame's identifier is matched without comparing text.
constexpr auto FrameKeys = [] {
    std::array<std::array<uint32_t, 2>, SlotCount> keys{};
    for (int i = 0; i < SlotCount; ++i) keys[i] = {IdKey(FrameIds[i][0]), IdKey(FrameIds[i][1])};
    return keys;
}();

// The slot of the frame whose header begins at header; -1 when it has none.
int SlotOf(const uint8_t* header, bool version2) {
    const uint32_t key = version2 ? GetBE24(header) : GetBE32(header);
    for (int i = 0; i < SlotCount; ++i)
        if (key == FrameKeys[i][version2 ? 1 : 0]) return i;
    return -1;
}

std::string DecodeSlot(int slot, const Content& content) {
    if (slot == SlotComment) return TextAfterDescription(content, 4);
    if (slot == SlotLink) return TextAfterDescription(content, 1);
    return DecodeText(content, 1);
}

// Walks the frames from right after the tag header up to the tag's end,
// decoding the text of each frame kept where its bytes lie. A frame size
// never moves the walk backwards, and a short read ends it, so a hostile size
// cannot make it loop or read outside the tag.
void WalkFrames(TagSource& source, uint8_t version, int64_t tagSize, Slots& slots) {
    const bool version2 = version == 2;
    const std::size_t headerLength = version2 ? 6 : 10;
    int64_t position = HeaderLength;
    while (position < tagSize) {
        if (source.Available(position, headerLength) < headerLength) break;
        uint8_t header[10] = {};
        const std::span<const uint8_t> headerBytes = source.View(position, headerLength);
        std::copy(headerBytes.begin(), headerBytes.end(), header);
        if (header[0] < 'A' || header[0] > 'Z') break;  // padding or garbage
        const int64_t size = version2 ? GetBE24(header + 3) : GetBE32(header + 4);
        const int64_t contentStart = position + static_cast<int64_t>(headerLength);
        const auto wanted = static_cast<std::size_t>(std::min<int64_t>(size, SlotSize));
        if (source.Available(contentStart, wanted) < wanted) break;
        const int slot = SlotOf(header, version2);
        if (slot >= 0 && (version2 || !(header[9] & NoContentFlag))) {
            const Content content(source.View(contentStart, wanted));
            if (content.At(0) <= 1)
                slots[slot] = DecodeSlot(slot, content);  // 8-bit and 16-bit text only
        }
        position = contentStart + size;
    }
}

// The reader's text fields as derived from the slots.
struct Derived {
    std::string Title, Artist, Album, TrackText, Year, Genre, Comment, Composer, Encoder, Copyright,
        Language, Link;
    uint16_t Track = 0;
};

std::string Either(Slots& slots, int first, int second) {
    return std::move(slots[first].empty() ? slots[second] : slots[first]);
}

Derived DeriveFields(Slots& slots) {
    Derived d;
    d.Title = Either(slots, SlotTitle, SlotContentGroup);
    d.Artist = Either(slots, SlotArtist, SlotOriginalArtist);
    d.Album = Either(slots, SlotAlbum, SlotOriginalAlbum);
    d.TrackText = std::move(slots[SlotTrack]);
    d.Track = static_cast<uint16_t>(NumberBeforeSlash(d.TrackText));
    d.Year = std::move(slots[SlotYear]);
    if (d.Year.empty()) d.Year = FirstCharacters(slots[SlotRecordingTime], 4);
    d.Genre = std::move(slots[SlotGenre]);
    const std::size_t paren = d.Genre.rfind(')');
    if (paren != std::string::npos) d.Genre.erase(0, paren + 1);
    d.Comment = std::move(slots[SlotComment]);
    d.Link = std::move(slots[SlotLink]);
    d.Composer = std::move(slots[SlotComposer]);
    d.Encoder = std::move(slots[SlotEncoder]);
    d.Copyright = std::move(slots[SlotCopyright]);
    d.Language = std::move(slots[SlotLanguage]);
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
