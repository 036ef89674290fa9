// kavinfo FILE...: prints what the file-information readers find in each file,
// so a music folder can be checked from the command line. Exit status 1 when
// a file could not be read at all.
#include <iostream>

#include "ReaderReport.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: kavinfo FILE...\n";
        return 1;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i)
        if (ReportFile(argv[i], std::cout) == ReportResult::Unreadable) status = 1;
    return status;
}
