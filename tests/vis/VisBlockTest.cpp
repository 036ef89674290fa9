// The block's byte conversions and layout as a reader sees them.
#include <gtest/gtest.h>

#include <vector>

#include "plugins/VisBlock.h"

namespace {

TEST(VisBlockTest, SpectrumBytesKeepTheLowEightBitsOfTheScaledMagnitude) {
    struct Case {
        float magnitude;
        uint16_t scale;
        int byte;
    } cases[] = {{0.6f, 512, 51}, {0.0f, 512, 0},   {0.49f, 512, 250},
                 {0.5f, 512, 0},  {1.0f, 100, 100}, {1e30f, 512, 255}};
    for (const Case& c : cases)
        EXPECT_EQ(vis::SpectrumByte(c.magnitude, c.scale), c.byte)
            << c.magnitude << " x " << c.scale;
}

TEST(VisBlockTest, WaveBytesAreTheSampleOver256TruncatedTowardsZero) {
    const std::pair<int16_t, int> cases[] = {{-255, 0}, {-256, -1}, {32767, 127}, {-32768, -128},
                                             {255, 0},  {256, 1},   {-511, -1}};
    for (const auto& [sample, byte] : cases) EXPECT_EQ(vis::WaveByte(sample), byte) << sample;
}

TEST(VisBlockTest, AFrameSeparatesTheChannelsAndAMonoFrameRepeatsIt) {
    std::vector<float> fft(2048, 0.0f);
    fft[7 * 2] = 0.4f;        // left, bin 7
    fft[300 * 2 + 1] = 0.3f;  // right, bin 300
    std::vector<int16_t> pcm(576 * 2, 0);
    pcm[10 * 2] = -12800;     // left: -50
    pcm[20 * 2 + 1] = 25600;  // right: 100
    uint8_t block[vis::kBlockSize] = {};
    vis::WriteFrame(block, {44100, 2, 1234, fft.data(), 2, pcm.data(), 2}, 512);
    EXPECT_EQ(vis::Describe(block, vis::kFrameWritten, vis::kBlockSize),
              "frame rate=44100 channels=2 pos=1234 bin1=7 bin2=300 wave=100");
    EXPECT_EQ(static_cast<int8_t>(block[vis::kWave1 + 10]), -50);
    EXPECT_EQ(block[vis::kWave2 + 10], 0);

    vis::WriteFrame(block, {22050, 1, 5, fft.data(), 1, pcm.data(), 1}, 512);
    // Mono: the one channel's bins are at every index.
    EXPECT_EQ(block[vis::kSpectrum1 + 13], vis::SpectrumByte(0.4f, 512));
    EXPECT_EQ(block[vis::kSpectrum2 + 13], vis::SpectrumByte(0.4f, 512));
    EXPECT_EQ(static_cast<int8_t>(block[vis::kWave2 + 20]), -50);
}

TEST(VisBlockTest, RecordsCutTheTitleTo255Characters) {
    uint8_t block[vis::kBlockSize];
    std::fill(std::begin(block), std::end(block), 0xEE);
    const std::string title(300, 'x');
    EXPECT_EQ(vis::WriteStreamRecord(block, 44100, 128, 2, 60000, title), 276u);
    EXPECT_EQ(vis::Describe(block, vis::kRecordWritten, 276),
              "record 2 rate=44100 kbps=128 channels=2 ms=60000 title=" + std::string(255, 'x'));
    EXPECT_EQ(block[20 + 255], 0);
    EXPECT_EQ(vis::WriteStateRecord(block, 3), 8u);
    EXPECT_EQ(vis::Describe(block, vis::kRecordWritten, 8), "record 1 state=3");
    EXPECT_EQ(vis::WriteSyncRecord(block, true), 8u);
    EXPECT_EQ(vis::Describe(block, vis::kRecordWritten, 8), "record 3 sync=1");
    EXPECT_EQ(vis::Describe(block, vis::kRecordWritten, 276), "") << "a record of the wrong size";
}

}  // namespace
