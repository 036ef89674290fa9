// The program's command line. Options of its own begin with "--"; any other
// argument is left to the toolkit (its "-platform offscreen" and the like).
#pragma once

#include <string>
#include <vector>

namespace station {

struct Options {
    bool help = false;      // --help, -h: print the usage and end
    bool version = false;   // --version: print the version and end
    bool play = false;      // --play: play by itself at the end of start-up, this once
    bool headless = false;  // --headless: no window, no display needed
    std::string error;      // an option not known: the text to print
};

Options ParseOptions(const std::vector<std::string>& args);  // without the program's name
std::string UsageText();

}  // namespace station
