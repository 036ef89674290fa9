// Whole-file writes that never leave a half-written file behind: the data goes
// to a temporary file beside the target, is flushed to disk and then renamed
// over the target, so a failed or interrupted write keeps the previous file.
#pragma once

#include <string>
#include <string_view>

namespace win {

// Replaces the file at path with data. On failure the previous file (if any)
// is untouched, the temporary file is removed and error (when given) explains.
bool WriteFileAtomic(const std::string& path, std::string_view data, std::string* error = nullptr);

// Reads the whole file into text. False (with error) when it cannot be opened
// or read, including when path names a directory.
bool ReadWholeFile(const std::string& path, std::string& text, std::string* error = nullptr);

}  // namespace win
