// Settings files in the private-profile form: "[section]" lines and
// "key=value" lines. Section and key names match without regard to case;
// names and values are trimmed of spaces and tabs, and a value wrapped in a
// pair of matching quotes loses them on reading. Lines starting with ';' or
// '#' are comments. The file is read afresh on every read, and every write goes
// to the file at once (atomically), keeping every other line as it stands.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace win {

struct IniValue {
    std::string section, key, value;
};

class IniFile {
  public:
    explicit IniFile(std::string fileName) : fileName_(std::move(fileName)) {}

    const std::string& FileName() const { return fileName_; }

    std::string ReadString(std::string_view section, std::string_view key,
                           const std::string& defaultValue) const;
    // A value that is missing or not a whole decimal number (within 32 bits)
    // yields the default.
    int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
    // Any non-zero whole number is true.
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
    bool ValueExists(std::string_view section, std::string_view key) const;

    // False when the file could not be written; error (when given) explains.
    bool WriteString(std::string_view section, std::string_view key, std::string_view value,
                     std::string* error = nullptr);
    bool WriteInteger(std::string_view section, std::string_view key, int value,
                      std::string* error = nullptr);
    // Stored as "1" or "0".
    bool WriteBool(std::string_view section, std::string_view key, bool value,
                   std::string* error = nullptr);
    // Sets every value given in one replace of the file; flush false does not
    // wait for the disk (AtomicFile.h, ReplaceFileUnflushed).
    bool WriteValues(const std::vector<IniValue>& values, std::string* error = nullptr,
                     bool flush = true);

  private:
    // The file's text, or empty when there is none; false when it exists but
    // cannot be read.
    bool readForWriting(std::string& text, std::string* error) const;

    std::string fileName_;
};

// The same rules on text in memory, for the file functions above and for tests.
namespace ini {
std::optional<std::string> FindValue(std::string_view text, std::string_view section,
                                     std::string_view key);
std::string SetValue(std::string_view text, std::string_view section, std::string_view key,
                     std::string_view value);
std::optional<int> ParseInteger(std::string_view text);
}  // namespace ini

}  // namespace win
