// Finds the ID3v1 block (the last 128 bytes, "TAG") and the ID3v2 block
// (header, frames and footer at the start) of an MPEG audio file.
#pragma once

#include <string>

namespace kavbass {

// The ID3v2 block at the start of data, or empty; data may be truncated.
std::string id3v2Block(const std::string& head);
// The ID3v1 block when the last 128 bytes are one, or empty.
std::string id3v1Block(const std::string& tail);
// The bytes of head after its ID3v2 block.
std::string afterId3v2(const std::string& head);

// Reads the start (ID3v2 block and 64 KB after it) and the last 128 bytes of a file.
bool readHeadTail(const std::string& path, std::string& head, std::string& tail, long long& size);

}  // namespace kavbass
