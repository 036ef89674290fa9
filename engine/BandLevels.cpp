#include "engine/BandLevels.h"

#include <algorithm>

#include "engine/StreamText.h"

namespace kav {

void UpdateBands(const float (&magnitudes)[kFFTBins], TBandOut& bands) {
    int lower = 1;
    for (std::size_t i = 0; i < bands.size(); ++i) {
        const int upper = kBandUpperBin[i];
        float peak = 0.0f;
        for (int bin = lower; bin <= upper; ++bin) peak = std::max(peak, magnitudes[bin]);
        lower = upper + 1;
        // Higher bands carry less energy; the weight lifts them.
        const double weighted = (static_cast<double>(i) * 0.15 + 1.0) * peak * 80.0;
        const auto value =
            static_cast<uint16_t>(std::clamp<int64_t>(RoundHalfEven(weighted), 0, 65535));
        if (bands[i] < value)
            bands[i] = value;
        else
            bands[i] = bands[i] < 2 ? 0 : static_cast<uint16_t>(bands[i] - 2);
    }
}

}  // namespace kav
