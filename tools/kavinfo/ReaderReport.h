#pragma once
// Name=value reports of the file-information readers, one line per field or
// function result, named Class.Field.

#include <ostream>
#include <string>

// The upper-cased extension, dot included, as stream opening takes it: empty
// when there is no full stop or a path separator or colon follows the last one.
std::string UpperExtension(const std::string& path);

enum class ReportResult { Read, NoReader, Unreadable };

// Prints File=, the reader's lines and a blank line for one file.
ReportResult ReportFile(const std::string& path, std::ostream& out);
