// WMA reader: the object walk of the ASF Header Object.
#include "FuzzFile.h"
#include "WMAfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TWMAfile wma;
    if (wma.LoadFromFile(kav_fuzz::WriteFuzzFile(data, size, ".wma"))) {
        volatile double sink = wma.Duration() + wma.BitRate() + wma.Title().size() + wma.Track();
        (void)sink;
    }
    return 0;
}
