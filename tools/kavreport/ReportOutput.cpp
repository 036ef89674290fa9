#include "ReportOutput.h"

#include <cstdio>

#include "AsRun.h"

namespace report {
namespace {

std::string pad(std::string text, size_t width, bool right) {
    // Widths count characters, not bytes: UTF-8 continuation bytes take no room.
    size_t chars = 0;
    for (unsigned char c : text) chars += (c & 0xC0) != 0x80;
    if (chars >= width) return text;
    const std::string fill(width - chars, ' ');
    return right ? fill + text : text + fill;
}

std::string titleText(const TitleTotal& t) {
    return t.artist.empty() ? t.title : t.artist + " - " + t.title;
}

std::string csvLine(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i)
        line += (i ? "," : "") + nowplaying::CsvField(fields[i]);
    return line + "\r\n";
}

std::string dueText(const EntryTotal& e, unsigned EntryTotal::*field) {
    return e.due ? std::to_string(e.*field) : "-";
}

std::string slotText(const Slot& s) {
    if (!s.went) return "não saiu";
    return "saiu às " + DateTimeText(*s.went).substr(11) + " (+" +
           std::to_string((*s.went - s.due) / 1000) + " s)";
}

void textTitles(const Report& r, std::string& out) {
    out += "\nTítulos ouvidos (por número de vezes)\n";
    out += "  Vezes     Tempo  Artista - Título\n";
    for (const TitleTotal& t : r.titles)
        out += pad(std::to_string(t.times), 7, true) + pad(Duration(t.heardMs), 10, true) + "  " +
               titleText(t) + "\n";
    if (r.titles.empty()) out += "  (nenhum)\n";
}

void textProgramme(const ProgrammeTotals& p, std::string& out) {
    out += "\nEntradas do programa (saídas contra as devidas)\n";
    out += "  Linha  Regra       Saídas  Devidas  Atrasadas  Em falta  Ficheiro\n";
    for (const EntryTotal& e : p.entries) {
        out += pad(std::to_string(e.entry.row), 7, true) + "  " + pad(e.entry.rule, 10, false) +
               pad(std::to_string(e.out), 8, true) +
               pad(e.due ? std::to_string(*e.due) : "-", 9, true) +
               pad(dueText(e, &EntryTotal::late), 11, true) +
               pad(dueText(e, &EntryTotal::missed), 10, true) + "  " + e.entry.file + "\n";
    }
    if (p.entries.empty()) out += "  (nenhuma)\n";
    if (p.lateOrMissed.empty()) return;
    out += "\nHoras atrasadas ou em falta\n";
    for (const Slot& s : p.lateOrMissed)
        out += "  " + DateTimeText(s.due) + "  " + pad(s.rule, 10, false) + "  " +
               pad(slotText(s), 26, false) + "  " + s.file + "\n";
}

}  // namespace

std::string DamagedLines(const Report& report) {
    std::string out;
    for (const Damaged& d : report.damaged)
        out += d.source + ":" + std::to_string(d.line) + ": " + d.why + "\n";
    return out;
}

std::string TextReport(const Report& r) {
    std::string out = "Emissão de " + r.firstDay + " a " + r.lastDay + ": " +
                      std::to_string(r.records.size()) + " linhas lidas em " +
                      std::to_string(r.files) + " ficheiros\n";
    textTitles(r, out);
    if (r.programme) textProgramme(*r.programme, out);
    if (r.damaged.empty()) return out;
    out += "\nLinhas que não se leem: " + std::to_string(r.damaged.size()) + "\n";
    for (const Damaged& d : r.damaged)
        out += "  " + d.source + ":" + std::to_string(d.line) + ": " + d.why + "\n";
    return out;
}

std::string CsvReport(const Report& r) {
    std::string out = csvLine({"artista", "titulo", "vezes", "duracao_ms"});
    for (const TitleTotal& t : r.titles)
        out += csvLine({t.artist, t.title, std::to_string(t.times), std::to_string(t.heardMs)});
    if (!r.programme) return out;
    out += "\r\n" +
           csvLine({"linha", "regra", "ficheiro", "saidas", "devidas", "atrasadas", "em_falta"});
    for (const EntryTotal& e : r.programme->entries)
        out +=
            csvLine({std::to_string(e.entry.row), e.entry.rule, e.entry.file, std::to_string(e.out),
                     e.due ? std::to_string(*e.due) : "", e.due ? std::to_string(e.late) : "",
                     e.due ? std::to_string(e.missed) : ""});
    out += "\r\n" + csvLine({"devida", "regra", "ficheiro", "saiu", "atraso_s"});
    for (const Slot& s : r.programme->lateOrMissed)
        out += csvLine({DateTimeText(s.due), s.rule, s.file, s.went ? DateTimeText(*s.went) : "",
                        s.went ? std::to_string((*s.went - s.due) / 1000) : ""});
    return out;
}

}  // namespace report
