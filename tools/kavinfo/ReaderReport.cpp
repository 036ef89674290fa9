#include "ReaderReport.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "MPEGaudio.h"
#include "OggVorbis.h"
#include "WAVfile.h"
#include "WMAfile.h"

namespace {

// Writes Prefix.Name=value lines; Booleans as 0 or 1, times with three decimals.
class Lines {
  public:
    Lines(std::ostream& out, std::string prefix) : out_(out), prefix_(std::move(prefix)) {}
    void Text(const char* name, const std::string& value) {
        out_ << prefix_ << '.' << name << '=' << value << '\n';
    }
    void Number(const char* name, long long value) { Text(name, std::to_string(value)); }
    void Flag(const char* name, bool value) { Number(name, value ? 1 : 0); }
    void Seconds(const char* name, double value) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.3f", value);
        Text(name, buffer);
    }

  private:
    std::ostream& out_;
    std::string prefix_;
};

std::string Hex(const std::array<uint8_t, 4>& bytes) {
    char buffer[9];
    std::snprintf(buffer, sizeof buffer, "%02X%02X%02X%02X", bytes[0], bytes[1], bytes[2],
                  bytes[3]);
    return buffer;
}

void ReportID3v1(const TID3v1& tag, std::ostream& out) {
    Lines l(out, "TID3v1");
    l.Flag("Present", tag.Present());
    l.Number("Version", tag.Version());
    l.Text("Title", tag.Title());
    l.Text("Artist", tag.Artist());
    l.Text("Album", tag.Album());
    l.Text("Year", tag.Year());
    l.Text("Comment", tag.Comment());
    l.Number("Track", tag.Track());
    l.Number("GenreID", tag.GenreID());
    l.Text("GenreName", tag.GenreName());
}

void ReportID3v2(const TID3v2& tag, std::ostream& out) {
    Lines l(out, "TID3v2");
    l.Flag("Present", tag.Present());
    l.Number("Version", tag.Version());
    l.Number("TagSize", tag.TagSize());
    l.Text("Title", tag.Title());
    l.Text("Artist", tag.Artist());
    l.Text("Album", tag.Album());
    l.Number("Track", tag.Track());
    l.Text("TrackText", tag.TrackText());
    l.Text("Year", tag.Year());
    l.Text("Genre", tag.Genre());
    l.Text("Comment", tag.Comment());
    l.Text("Composer", tag.Composer());
    l.Text("Encoder", tag.Encoder());
    l.Text("Copyright", tag.Copyright());
    l.Text("Language", tag.Language());
    l.Text("Link", tag.Link());
}

void ReportFrame(const FrameInfo& f, Lines& l) {
    l.Flag("Frame.Present", f.Present);
    l.Number("Frame.Position", f.Position);
    l.Number("Frame.Length", f.Length);
    l.Flag("Frame.ZeroSideInfo", f.ZeroSideInfo);
    l.Text("Frame.HeaderBytes", Hex(f.HeaderBytes));
    l.Number("Frame.VersionIndex", f.VersionIndex);
    l.Number("Frame.LayerIndex", f.LayerIndex);
    l.Flag("Frame.CRCProtected", f.CRCProtected);
    l.Number("Frame.BitRateIndex", f.BitRateIndex);
    l.Number("Frame.SampleRateIndex", f.SampleRateIndex);
    l.Flag("Frame.Padded", f.Padded);
    l.Flag("Frame.Private", f.Private);
    l.Number("Frame.ModeIndex", f.ModeIndex);
    l.Number("Frame.ModeExtension", f.ModeExtension);
    l.Flag("Frame.Copyrighted", f.Copyrighted);
    l.Flag("Frame.IsOriginal", f.IsOriginal);
    l.Number("Frame.EmphasisIndex", f.EmphasisIndex);
}

void ReportMPEG(const std::string& path, std::ostream& out) {
    TMPEGaudio mpeg;
    const bool loaded = mpeg.LoadFromFile(path);
    Lines l(out, "TMPEGaudio");
    l.Flag("LoadFromFile", loaded);
    l.Number("FileSize", mpeg.FileSize());
    const VBRData& v = mpeg.VBR();
    l.Flag("VBR.Present", v.Present);
    l.Text("VBR.Signature", v.Signature);
    l.Number("VBR.FrameCount", v.FrameCount);
    l.Number("VBR.ByteCount", v.ByteCount);
    l.Number("VBR.Quality", v.Quality);
    l.Text("VBR.EncoderText", v.EncoderText);
    ReportFrame(mpeg.Frame(), l);
    l.Number("BitRate", mpeg.BitRate());
    l.Number("SampleRate", mpeg.SampleRate());
    l.Text("ChannelModeName", mpeg.ChannelModeName());
    l.Seconds("Duration", mpeg.Duration());
    l.Flag("IsValid", mpeg.IsValid());
    ReportID3v1(mpeg.ID3v1(), out);
    ReportID3v2(mpeg.ID3v2(), out);
}

bool ReportOgg(const std::string& path, std::ostream& out) {
    TOggVorbis ogg;
    Lines l(out, "TOggVorbis");
    bool loaded;
    try {
        loaded = ogg.LoadFromFile(path);
    } catch (const EOggFileOpenError& error) {
        l.Text("Error", error.what());
        return false;
    }
    l.Flag("LoadFromFile", loaded);
    l.Number("FileSize", ogg.FileSize());
    l.Number("Channels", ogg.Channels());
    l.Number("SampleRate", ogg.SampleRate());
    l.Number("NominalBitRate", ogg.NominalBitRate());
    l.Number("SampleCount", ogg.SampleCount());
    l.Number("ID3v2Size", ogg.ID3v2Size());
    l.Text("Title", ogg.Title());
    l.Text("Artist", ogg.Artist());
    l.Text("Album", ogg.Album());
    l.Number("Track", ogg.Track());
    l.Text("Date", ogg.Date());
    l.Text("Genre", ogg.Genre());
    l.Text("Comment", ogg.Comment());
    l.Text("Vendor", ogg.Vendor());
    l.Seconds("Duration", ogg.Duration());
    l.Number("BitRate", ogg.BitRate());
    l.Flag("IsValid", ogg.IsValid());
    return true;
}

void ReportWMA(const std::string& path, std::ostream& out) {
    TWMAfile wma;
    const bool loaded = wma.LoadFromFile(path);
    Lines l(out, "TWMAfile");
    l.Flag("LoadFromFile", loaded);
    l.Flag("Valid", wma.Valid());
    l.Number("FileSize", wma.FileSize());
    l.Number("Channels", wma.Channels());
    l.Number("SampleRate", wma.SampleRate());
    l.Seconds("Duration", wma.Duration());
    l.Number("BitRate", wma.BitRate());
    l.Text("Title", wma.Title());
    l.Text("Artist", wma.Artist());
    l.Text("Album", wma.Album());
    l.Number("Track", wma.Track());
    l.Text("Year", wma.Year());
    l.Text("Genre", wma.Genre());
    l.Text("Comment", wma.Comment());
}

void ReportWAV(const std::string& path, std::ostream& out) {
    TWAVfile wav;
    const bool loaded = wav.LoadFromFile(path);
    Lines l(out, "TWAVfile");
    l.Flag("LoadFromFile", loaded);
    l.Flag("Valid", wav.Valid());
    l.Number("Channels", wav.Channels());
    l.Number("SampleRate", wav.SampleRate());
    l.Number("BitsPerSample", wav.BitsPerSample());
    l.Number("FileSize", wav.FileSize());
    l.Seconds("Duration", wav.Duration());
}

bool CanOpen(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) return false;
    std::ifstream file(path, std::ios::binary);
    return file.is_open();
}

}  // namespace

std::string UpperExtension(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find_first_of("\\:/", dot) != std::string::npos)
        return std::string();
    std::string ext = path.substr(dot);
    for (char& c : ext)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return ext;
}

ReportResult ReportFile(const std::string& path, std::ostream& out) {
    out << "File=" << path << '\n';
    const std::string ext = UpperExtension(path);
    ReportResult result = ReportResult::Read;
    if (ext == ".MP1" || ext == ".MP2" || ext == ".MP3") {
        out << "Reader=TMPEGaudio\n";
        ReportMPEG(path, out);
    } else if (ext == ".OGG") {
        out << "Reader=TOggVorbis\n";
        if (!ReportOgg(path, out)) result = ReportResult::Unreadable;
    } else if (ext == ".WMA") {
        out << "Reader=TWMAfile\n";
        ReportWMA(path, out);
    } else if (ext == ".WAV") {
        out << "Reader=TWAVfile\n";
        ReportWAV(path, out);
    } else {
        out << "Reader=none\n";
        result = ReportResult::NoReader;
    }
    if (result != ReportResult::Unreadable && !CanOpen(path)) {
        out << "Error=cannot open the file\n";
        result = ReportResult::Unreadable;
    }
    out << '\n';
    return result;
}
