#include "InProgress.h"

#include <charconv>

namespace nowplaying {
namespace {

template <class Number>
std::optional<Number> parse(const std::string& text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

StateValues InProgressValues(const Item& item, std::uint32_t heardMs) {
    return {{"inicio", std::to_string(item.startMs)},
            {"regra", item.rule},
            {"artista", item.artist},
            {"titulo", item.title},
            {"duracao_ms", std::to_string(item.lengthMs)},
            {"ouvido_ms", std::to_string(heardMs)}};
}

StateValues NothingInProgress() {
    StateValues values = InProgressValues({}, 0);
    for (auto& [key, value] : values) value.clear();
    return values;
}

std::optional<Played> InterruptedItem(const std::function<std::string(const char*)>& valueOf) {
    const std::optional<std::int64_t> start = parse<std::int64_t>(valueOf("inicio"));
    if (!start) return std::nullopt;
    Played p;
    p.item.list = valueOf("lista");
    p.item.row = parse<unsigned>(valueOf("linha")).value_or(0);
    p.item.rule = valueOf("regra");
    p.item.file = valueOf("ficheiro");
    p.item.artist = valueOf("artista");
    p.item.title = valueOf("titulo");
    p.item.startMs = *start;
    p.item.lengthMs = parse<std::uint32_t>(valueOf("duracao_ms")).value_or(0);
    p.heardMs = parse<std::uint32_t>(valueOf("ouvido_ms")).value_or(0);
    p.endMs = *start + p.heardMs;
    p.result = Result::Interrupted;
    return p;
}

}  // namespace nowplaying
