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

// The same replacement without waiting for the disk: the file is whole or
// the previous one after a crash or kill of the program, but a power cut may
// lose the write. For small files written often on the GUI thread.
bool ReplaceFileUnflushed(const std::string& path, std::string_view data,
                          std::string* error = nullptr);

// Whether WriteFileAtomic could replace the file at path now: its temporary
// file can be made beside it, and the target, if it exists, is a regular file.
// False (with error) otherwise. Nothing is left behind.
bool CanReplaceFile(const std::string& path, std::string* error = nullptr);

// Removes the temporary files that writes of the file at path left behind
// when their process was killed (those of a running copy of this program are
// kept). Returns how many were removed.
int RemoveLeftoverTemporaries(const std::string& path);

// Reads the whole file into text. False (with error) when it cannot be opened
// or read, including when path names a directory.
bool ReadWholeFile(const std::string& path, std::string& text, std::string* error = nullptr);

}  // namespace win
