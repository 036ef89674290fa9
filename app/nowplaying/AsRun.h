// The as-run log's format: one CSV file per local day in the data folder's
// emissao/ folder, AAAA-MM-DD.csv, UTF-8, fields quoted as RFC 4180 says,
// lines ended by CR LF, a header line first. Every record is one physical
// line (line breaks inside a field become spaces), so a damaged line never
// takes the lines after it along.
//
// Columns, as the header names them (a reader finds them by name, so a later
// version may add columns):
//   inicio      local date and time of the item's first sound, to the ms
//   fim         of its last sound
//   duracao_ms  how long it was heard
//   lista       playlist | programa
//   linha       its row
//   regra       the programme entry's start rule; empty for the playlist
//   ficheiro    the file or address
//   artista, titulo
//   resultado   completo | cortado | falhou | interrompido
//   motivo      why it failed or was cut short (NowPlaying.h, reason::)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "NowPlaying.h"

namespace nowplaying {

constexpr const char* kAsRunFolder = "emissao";

// The column names, in the order this version writes them.
const std::vector<std::string>& AsRunColumns();
// The header line, CR LF included.
std::string AsRunHeader();
// The item's line, CR LF included.
std::string AsRunLine(const Played& played);
// The file of the day (local) on which the item began: "AAAA-MM-DD.csv".
std::string AsRunFileName(const Played& played);

// "AAAA-MM-DD hh:mm:ss.mmm", local time.
std::string LocalTimeText(std::int64_t ms);
// "AAAA-MM-DD", local time.
std::string LocalDayText(std::int64_t ms);
// The day `days` after the day "AAAA-MM-DD" (before it when negative); ""
// when the text is not a valid date.
std::string ShiftDay(const std::string& day, int days);

// A field as RFC 4180 writes it: quoted (quotes doubled) when it holds a
// comma or a quote; line breaks become spaces.
std::string CsvField(std::string_view text);
// The fields of one physical line (without its line end). False when the
// line is not well formed: a quote left open, or text after a closing quote.
bool SplitCsvLine(std::string_view line, std::vector<std::string>& fields);

}  // namespace nowplaying
