#include "MonthOfLogs.h"

#include <cstdio>
#include <fstream>

#include "AsRun.h"

namespace month {
namespace {

// A small generator of its own, so the month is the same on every run.
class Draw {
  public:
    std::uint32_t Below(std::uint32_t n) {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return std::uint32_t((state_ >> 33) % n);
    }

  private:
    std::uint64_t state_ = 20250301;
};

std::string timeText(int day, std::int64_t ms) {
    char text[40];
    std::snprintf(text, sizeof text, "2025-03-%02d %02lld:%02lld:%02lld.%03lld", day,
                  (long long)(ms / 3'600'000), (long long)(ms / 60'000 % 60),
                  (long long)(ms / 1000 % 60), (long long)(ms % 1000));
    return text;
}

std::string csv(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i)
        line += (i ? "," : "") + nowplaying::CsvField(fields[i]);
    return line + "\r\n";
}

// Songs whose names need quoting too.
std::pair<std::string, std::string> song(std::uint32_t n) {
    const std::string artist =
        n % 7 == 0 ? "Banda, a " + std::to_string(n % 5) : "Artista " + std::to_string(n % 13);
    const std::string title =
        n % 11 == 0 ? "Canção \"" + std::to_string(n) + "\"" : "Título " + std::to_string(n);
    return {artist, title};
}

// What a damaged line looks like: cut short, a quote left open, fields
// missing, a date that is none, bytes that are no text.
std::string damage(int k) {
    const std::string kinds[] = {"2025-03-0", "2025-03-01 10:00:00.000,\"open,1,playlist",
                                 "2025-03-01 10:00:00.000,x,1",
                                 "ontem,2025-03-01 10:00:00.000,1,playlist,1,,f,a,t,completo,",
                                 std::string("\x01\x02\xff\xfe\0\0\0 garbage", 15)};
    return kinds[k % 5];
}

}  // namespace

Expected Write(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    Draw draw;
    Expected e;
    const char* results[] = {"completo", "completo", "completo",
                             "cortado",  "falhou",   "interrompido"};
    for (int day = 1; day <= 30; ++day) {
        char name[32];
        std::snprintf(name, sizeof name, "2025-03-%02d.csv", day);
        std::ofstream out(folder / name, std::ios::binary);
        std::string text = nowplaying::AsRunHeader();
        int lineNo = 1;
        std::int64_t at = 6 * 3'600'000 + draw.Below(60'000);
        bool newsDone = false;
        // News at 08:00 each day: on time, late (days divisible by 7) or missing (by 10).
        const bool newsMissing = day % 10 == 0, newsLate = day % 7 == 0;
        ++e.newsDue;
        for (int i = 0; i < 333; ++i) {
            if (!newsDone && at >= 8 * 3'600'000) {
                newsDone = true;
                if (!newsMissing) {
                    const std::int64_t start = 8 * 3'600'000 + (newsLate ? 95'000 : 1'200);
                    text += csv({timeText(day, start), timeText(day, start + 60'000), "60000",
                                 "programa", "1", kNewsRule, kNewsFile, "", "Notícias", "completo",
                                 ""});
                    ++lineNo;
                    ++e.newsOut;
                    e.all[{"", "Notícias"}].times++;
                    e.all[{"", "Notícias"}].heardMs += 60'000;
                    if (newsLate) ++e.newsLate;
                } else {
                    ++e.newsMissed;
                }
            }
            const auto [artist, title] = song(draw.Below(60));
            const std::string result = results[draw.Below(6)];
            const std::uint32_t heard = result == "falhou" ? 0 : 20'000 + draw.Below(150'000);
            if (i % 71 == 70) {
                text += damage(int(e.damaged.size())) + "\r\n";
                e.damaged.push_back({name, ++lineNo});
            }
            text += csv({timeText(day, at), timeText(day, at + heard), std::to_string(heard),
                         "playlist", std::to_string(1 + draw.Below(200)), "", "/srv/musica/x.mp3",
                         artist, title, result, result == "falhou" ? "inexistente" : ""});
            ++lineNo;
            if (heard > 0) {
                for (auto* totals : {&e.music, &e.all}) {
                    (*totals)[{artist, title}].times++;
                    (*totals)[{artist, title}].heardMs += heard;
                }
            }
            at += heard + 200;
        }
        out << text;
        e.lines += lineNo - 1;
    }
    return e;
}

}  // namespace month
