// The now-playing files in the data folder, for encoders, RDS coders and web
// pages: agora.json describes what plays, agora.txt is one line of text.
//
// agora.json, UTF-8:
//   {"estado": "a tocar" | "parado", "titulo", "artista", "ficheiro",
//    "lista": "playlist" | "programa" | "", "linha": N,
//    "inicio": "AAAA-MM-DD hh:mm:ss.mmm" (local, its first sound) | "",
//    "duracao_ms": its length (0 when not known)}
// Every field is there in every state; while nothing plays the texts are
// empty and the numbers 0.
// agora.txt: "Artista - Título" (DisplayText), or an empty line when nothing
// plays.
#pragma once

#include <string>
#include <string_view>

#include "NowPlaying.h"

namespace nowplaying {

constexpr const char* kJsonFileName = "agora.json";
constexpr const char* kTextFileName = "agora.txt";

std::string NowPlayingJson(const Snapshot& now);
std::string NowPlayingText(const Snapshot& now);

// A JSON string, quotes included; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(std::string_view text);

}  // namespace nowplaying
