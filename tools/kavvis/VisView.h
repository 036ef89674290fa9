// The visualiser's window: both channels' spectra as log-frequency bars with
// falling peaks, the waveform, and the stream's title, rate, bit rate, state
// and position from the records.
#pragma once

#include <QWidget>

#include <array>
#include <cstdint>
#include <string>

class VisView : public QWidget {
  public:
    static constexpr int kBars = 40;

    explicit VisView(QWidget* parent = nullptr);
    // Takes what the block holds after a notification.
    void Take(const uint8_t* block, uintptr_t what, intptr_t bytes);
    void SetAttached(bool attached);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    struct Bars {
        std::array<float, kBars> level{}, peak{};
    };
    void TakeFrame(const uint8_t* block);
    void TakeRecord(const uint8_t* block, intptr_t bytes);
    static void Update(Bars& bars, const uint8_t* spectrum);
    void PaintBars(QPainter& p, const Bars& bars, const QRect& area, const QColor& colour) const;
    void PaintWave(QPainter& p, const QRect& area) const;
    QString StatusLine() const;

    Bars left_, right_;
    std::array<int8_t, 2 * 576> wave_{};
    bool attached_ = false;
    int rate_ = 0, kbps_ = 0, channels_ = 0, durationMs_ = 0, positionMs_ = 0, state_ = -1;
    std::string title_;
};
