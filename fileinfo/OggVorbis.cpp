#include "OggVorbis.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <string_view>

#include "FileReader.h"
#include "TextUtil.h"

using namespace fileinfo_detail;

namespace {

constexpr std::size_t PageHeaderLength = 282;  // 27 fixed bytes and up to 255 segments
constexpr std::size_t IdentificationLength = 30;
constexpr std::size_t CommentItemLength = 250;
constexpr int LastPageWindows = 50;
constexpr int64_t WindowStep = 241;

enum Field {
    FieldVendor,
    FieldTitle,
    FieldArtist,
    FieldAlbum,
    FieldTrackNumber,
    FieldDate,
    FieldGenre,
    FieldComment,
    FieldPerformer,
    FieldDescription,
    FieldCount
};

// Comment names by field; the vendor text has none.
constexpr std::string_view FieldNames[FieldCount] = {
    "",     "TITLE", "ARTIST",  "ALBUM",     "TRACKNUMBER",
    "DATE", "GENRE", "COMMENT", "PERFORMER", "DESCRIPTION"};

// What one read collects before the fields are set.
struct FileInfo {
    uint8_t firstPage[PageHeaderLength] = {};
    uint8_t secondPage[PageHeaderLength] = {};
    uint8_t identification[IdentificationLength] = {};
    uint8_t commentStart[7] = {};
    uint32_t commentCount = 0;
    std::array<std::string, FieldCount> texts;
    bool vendorStored = false;
    int64_t fileSize = 0;
    int32_t sampleCount = 0;
    int64_t id3v2Size = 0;
    int64_t secondPagePosition = 0;
};

int64_t ID3v2SizeAtStart(FileReader& file) {
    uint8_t header[10] = {};
    file.ReadAt(0, header, sizeof header);
    if (std::memcmp(header, "ID3", 3) != 0) return 0;
    int64_t size = (static_cast<int64_t>(header[6]) << 21) + (header[7] << 14) + (header[8] << 7) +
                   header[9] + 10;
    if (header[5] & 0x10) size += 10;
    return size > file.Size() ? 0 : size;
}

// UTF-8 to 16-bit text, sequences of at most three bytes; an ill-formed
// sequence ends the text there.
std::u16string DecodeUtf8(std::string_view text) {
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<uint8_t>(text[i]);
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            ++i;
            continue;
        }
        if (i + 1 >= text.size()) break;
        uint32_t value;
        std::size_t next = i + 1;
        if (lead & 0x20) {
            const auto middle = static_cast<uint8_t>(text[next]);
            if ((middle & 0xC0) != 0x80) break;
            value = ((lead & 0x1Fu) << 6) | (middle & 0x3Fu);
            if (++next >= text.size()) break;
        } else {
            value = lead & 0x3Fu;
        }
        const auto last = static_cast<uint8_t>(text[next]);
        if ((last & 0xC0) != 0x80) break;
        out += static_cast<char16_t>((value << 6) | (last & 0x3Fu));
        i = next + 1;
    }
    return out;
}

// Text that decodes to itself: UTF-8 with characters of at most three bytes,
// none of them a surrogate or in a longer form than needed.
bool IsPlainUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<uint8_t>(text[i]);
        const auto next = [&](std::size_t k) {
            return i + k < text.size() ? static_cast<uint8_t>(text[i + k]) : uint8_t{0};
        };
        if (lead < 0x80) {
            i += 1;
        } else if (lead >= 0xC2 && lead <= 0xDF && (next(1) & 0xC0) == 0x80) {
            i += 2;
        } else if (lead >= 0xE0 && lead <= 0xEF && (next(1) & 0xC0) == 0x80 &&
                   (next(2) & 0xC0) == 0x80 && (lead != 0xE0 || next(1) >= 0xA0) &&
                   (lead != 0xED || next(1) < 0xA0)) {
            i += 3;
        } else {
            return false;
        }
    }
    return true;
}

// A comment value as the system's text: taken as it is when it decodes to
// itself, otherwise decoded and converted.
std::string CommentText(std::string_view value) {
    if (IsPlainUtf8(value)) return std::string(value);
    return Utf16ToUtf8(DecodeUtf8(value));
}

// One comment, trimmed: "NAME=value" fills the field of that name (in any
// case); the first text without "=" is the vendor's.
void StoreItem(FileInfo& info, std::string_view text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        if (!info.vendorStored) {
            info.texts[FieldVendor] = text;
            info.vendorStored = true;
        }
        return;
    }
    const std::string_view name = text.substr(0, equals);
    for (int f = FieldTitle; f < FieldCount; ++f) {
        if (EqualsUpperAscii(name, FieldNames[f])) {
            info.texts[f] = CommentText(Trimmed(text.substr(equals + 1)));
            return;
        }
    }
}

// Reads the vendor text and the comments from right after "\003vorbis",
// each from its first CommentItemLength bytes where they lie in the reader's
// block. The count comes from the file, so the loop also ends where the file
// ends.
void ReadComments(FileReader& file, FileInfo& info) {
    for (uint32_t n = 0;; ++n) {
        uint8_t lengthBytes[4] = {};
        if (file.Read(lengthBytes, 4) < 4) break;
        const int64_t length = GetLE32(lengthBytes);
        const int64_t itemStart = file.Position();
        const std::span<const uint8_t> item = file.View(
            itemStart, static_cast<std::size_t>(std::min<int64_t>(length, CommentItemLength)));
        StoreItem(info, Trimmed(std::string_view(reinterpret_cast<const char*>(item.data()),
                                                 item.size())));
        if (!file.Seek(itemStart + length)) break;
        if (n == 0) {
            uint8_t countBytes[4] = {};
            file.Read(countBytes, 4);
            info.commentCount = GetLE32(countBytes);
        }
        if (static_cast<uint64_t>(n) + 1 > info.commentCount) break;
    }
}

// Granule position of the last page: the latest "OggS" in the last 12,060
// start positions of the file, none before the file's start, found in one
// read of the file's tail.
int32_t LastPageSampleCount(FileReader& file) {
    const int64_t size = file.Size();
    const int64_t last = size - 10;  // the latest start position looked at
    if (last < 0) return 0;
    const int64_t first = std::max<int64_t>(0, last - WindowStep * LastPageWindows);
    uint8_t tail[WindowStep * LastPageWindows + 10];
    const auto length = static_cast<std::size_t>(size - first);
    if (file.ReadAt(first, tail, length) != length) return 0;
    // Each candidate is an 'O' found by a backward search of the positions
    // still to be looked at.
    std::size_t positions = static_cast<std::size_t>(last - first) + 1;
    while (const void* found = ::memrchr(tail, 'O', positions)) {
        const auto* page = static_cast<const uint8_t*>(found);
        if (std::memcmp(page, "OggS", 4) == 0) return static_cast<int32_t>(GetLE32(page + 6));
        positions = static_cast<std::size_t>(page - tail);
    }
    return 0;
}

}  // namespace

void TOggVorbis::Clear() {
    FFileSize = 0;
    FChannels = 0;
    FSampleRate = 0;
    FNominalBitRate = 0;
    FSampleCount = 0;
    FID3v2Size = 0;
    FTrack = 0;
    for (std::string* text : {&FTitle, &FArtist, &FAlbum, &FDate, &FGenre, &FComment, &FVendor})
        text->clear();
}

bool TOggVorbis::LoadFromFile(const std::string& FileName) {
    Clear();
    FileInfo info;
    FileReader file;
    switch (file.OpenRegular(FileName)) {
        case FileReader::OpenResult::Opened:
            break;
        case FileReader::OpenResult::NotRegularFile:
            return false;
        case FileReader::OpenResult::CannotOpen:
            throw EOggFileOpenError(FileName);
    }
    info.fileSize = file.Size();
    info.id3v2Size = ID3v2SizeAtStart(file);

    file.ReadAt(info.id3v2Size, info.firstPage, PageHeaderLength);
    if (std::memcmp(info.firstPage, "OggS", 4) != 0) return false;
    file.ReadAt(info.id3v2Size + 27 + info.firstPage[26], info.identification,
                IdentificationLength);
    if (std::memcmp(info.identification, "\001vorbis", 7) != 0) return false;

    info.secondPagePosition = info.id3v2Size + 27 + info.firstPage[26] + IdentificationLength;
    file.ReadAt(info.secondPagePosition, info.secondPage, PageHeaderLength);
    file.ReadAt(info.secondPagePosition + 27 + info.secondPage[26], info.commentStart, 7);
    if (std::memcmp(info.commentStart, "\003vorbis", 7) == 0) ReadComments(file, info);
    info.sampleCount = LastPageSampleCount(file);
    file.Close();

    auto& t = info.texts;
    FFileSize = static_cast<int32_t>(info.fileSize);
    FID3v2Size = static_cast<int32_t>(info.id3v2Size);
    FSampleCount = info.sampleCount;
    FChannels = info.identification[11];
    FSampleRate = static_cast<uint16_t>(GetLE32(info.identification + 12));
    const auto nominal = static_cast<int32_t>(GetLE32(info.identification + 20));
    FNominalBitRate = static_cast<uint16_t>(RoundHalfEven(nominal / 1000.0));
    FTitle = std::move(t[FieldTitle]);
    FArtist = std::move(t[FieldArtist].empty() ? t[FieldPerformer] : t[FieldArtist]);
    FAlbum = std::move(t[FieldAlbum]);
    FTrack = static_cast<uint8_t>(NumberBeforeSlash(t[FieldTrackNumber]));
    FDate = std::move(t[FieldDate]);
    FGenre = std::move(t[FieldGenre]);
    FComment = std::move(t[FieldComment].empty() ? t[FieldDescription] : t[FieldComment]);
    FVendor = std::move(t[FieldVendor]);
    return true;
}

double TOggVorbis::Duration() const {
    if (FSampleCount > 0)
        return FSampleRate == 0 ? 0 : static_cast<double>(FSampleCount) / FSampleRate;
    if (FNominalBitRate > 0 && FChannels > 0)
        return (static_cast<double>(FFileSize) - FID3v2Size) / FNominalBitRate / FChannels / 125 *
               2;
    return 0;
}

uint16_t TOggVorbis::BitRate() const {
    const double duration = Duration();
    if (duration <= 0) return 0;
    return static_cast<uint16_t>(
        RoundHalfEven((static_cast<double>(FFileSize) - FID3v2Size) / duration / 125));
}

bool TOggVorbis::IsValid() const {
    return FChannels >= 1 && FChannels <= 6 && FSampleRate > 0 && Duration() > 0.1 &&
           BitRate() != 0;
}
