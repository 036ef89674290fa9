#include "Options.h"

namespace station {

Options ParseOptions(const std::vector<std::string>& args) {
    Options o;
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h")
            o.help = true;
        else if (a == "--version")
            o.version = true;
        else if (a == "--play")
            o.play = true;
        else if (a == "--headless")
            o.headless = true;
        else if (a.starts_with("--") && o.error.empty())
            o.error = "opção desconhecida: " + a;
    }
    return o;
}

std::string UsageText() {
    return "Utilização: kav [opções]\n"
           "\n"
           "Leitor para emissão sem operador: a playlist e a lista de programas ficam em\n"
           "pl.m3u e prgm.m3u, as definições em kav.ini, na pasta de dados.\n"
           "\n"
           "Opções:\n"
           "  --play       tocar a playlist ao iniciar, desta vez (como [estacao] autoplay=1)\n"
           "  --headless   sem janela, sem ecrã (por exemplo, como serviço)\n"
           "  --version    mostrar a versão e sair\n"
           "  -h, --help   mostrar esta ajuda e sair\n";
}

}  // namespace station
