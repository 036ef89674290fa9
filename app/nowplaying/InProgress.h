// The item in progress, kept in the run's state file so that the next start
// can log it after a crash or a kill: its line is then written with the
// result `interrompido`, as far as it was known to have been heard.
//
// Keys of the state's section (beside its own lista, linha and ficheiro,
// which the state sets for each item before the engine starts it):
//   inicio=MS       its first sound, ms since the epoch; empty: none in progress
//   regra, artista, titulo, duracao_ms (its length)
//   ouvido_ms=MS    how long it had been heard when last kept
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "NowPlaying.h"

namespace nowplaying {

using StateValues = std::vector<std::pair<std::string, std::string>>;

// The values that describe the item in progress.
StateValues InProgressValues(const Item& item, std::uint32_t heardMs);
// The values that say nothing is in progress.
StateValues NothingInProgress();

// The last run's item in progress, from the state's values (valueOf gives a
// key's value, "" when absent); none when nothing was in progress.
std::optional<Played> InterruptedItem(const std::function<std::string(const char*)>& valueOf);

}  // namespace nowplaying
