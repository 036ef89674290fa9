#include "tools/kavvis/VisView.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#include "plugins/VisBlock.h"

namespace {

constexpr float kPeakFall = 1.5f;   // per frame
constexpr float kLevelFall = 6.0f;  // per frame: bars fall smoothly, rise at once

// First bin (0-based) of bar i: bins spaced evenly on a log scale, at least
// one per bar.
int BarStart(int i) {
    const double edge = std::pow(double(vis::kBins), double(i) / VisView::kBars);
    return std::min(vis::kBins - 1, std::max(i, int(edge) - 1));
}

QString Clock(int ms) {
    const int s = std::max(0, ms) / 1000;
    return QString("%1:%2").arg(s / 60, 2, 10, QChar('0')).arg(s % 60, 2, 10, QChar('0'));
}

}  // namespace

VisView::VisView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(480, 300);
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(12, 14, 20));
    setPalette(palette);
    setAutoFillBackground(true);
}

void VisView::SetAttached(bool attached) {
    attached_ = attached;
    update();
}

void VisView::Take(const uint8_t* block, uintptr_t what, intptr_t bytes) {
    if (what == vis::kFrameWritten && bytes == intptr_t(vis::kBlockSize)) TakeFrame(block);
    if (what == vis::kRecordWritten) TakeRecord(block, bytes);
    update();
}

void VisView::Update(Bars& bars, const uint8_t* spectrum) {
    for (int i = 0; i < kBars; ++i) {
        const int end = i + 1 < kBars ? BarStart(i + 1) : vis::kBins;
        const int begin = BarStart(i);
        const float value =
            float(*std::max_element(spectrum + begin, spectrum + std::max(end, begin + 1)));
        bars.level[i] = std::max(value, bars.level[i] - kLevelFall);
        bars.peak[i] = std::max(value, bars.peak[i] - kPeakFall);
    }
}

void VisView::TakeFrame(const uint8_t* block) {
    rate_ = vis::ReadInt(block, 0);
    channels_ = vis::ReadInt(block, 4);
    positionMs_ = vis::ReadInt(block, 8);
    Update(left_, block + vis::kSpectrum1);
    Update(right_, block + vis::kSpectrum2);
    std::copy(block + vis::kWave1, block + vis::kBlockSize,
              reinterpret_cast<uint8_t*>(wave_.data()));
}

// A record is read only when its size fits its type: the block may already
// hold the next write.
void VisView::TakeRecord(const uint8_t* block, intptr_t bytes) {
    const int type = vis::ReadInt(block, 0);
    if (type == 1 && bytes == intptr_t(vis::kStateRecordSize)) state_ = vis::ReadInt(block, 4);
    if (type == 2 && bytes == intptr_t(vis::kStreamRecordSize)) {
        rate_ = vis::ReadInt(block, 4);
        kbps_ = vis::ReadInt(block, 8);
        channels_ = vis::ReadInt(block, 12);
        durationMs_ = vis::ReadInt(block, 16);
        const char* text = reinterpret_cast<const char*>(block + 20);
        title_.assign(text, strnlen(text, vis::kTitleBytes));
    }
}

QString VisView::StatusLine() const {
    static const char* const states[] = {"idle", "ready", "stopped", "playing"};
    const QString state = state_ >= 0 && state_ <= 3 ? states[state_] : "";
    const QString channels = channels_ == 1   ? "mono"
                             : channels_ == 2 ? "stereo"
                                              : QString::number(channels_) + " ch";
    return QString("%1 Hz   %2 kbps   %3   %4   %5 / %6")
        .arg(rate_)
        .arg(kbps_)
        .arg(channels, state, Clock(positionMs_), Clock(durationMs_));
}

void VisView::PaintBars(QPainter& p, const Bars& bars, const QRect& area,
                        const QColor& colour) const {
    const double w = double(area.width()) / kBars;
    for (int i = 0; i < kBars; ++i) {
        const int x = area.left() + int(i * w);
        const int bw = std::max(1, int(w) - 2);
        const int h = int(area.height() * bars.level[i] / 255.0);
        p.fillRect(x, area.bottom() - h, bw, h, colour);
        const int py = area.bottom() - int(area.height() * bars.peak[i] / 255.0);
        p.fillRect(x, py - 2, bw, 2, Qt::white);
    }
}

void VisView::PaintWave(QPainter& p, const QRect& area) const {
    const QColor colours[] = {QColor(90, 200, 255), QColor(255, 150, 90)};
    for (int c = 0; c < 2; ++c) {
        QPolygonF line;
        for (int i = 0; i < 576; ++i)
            line << QPointF(area.left() + area.width() * i / 575.0,
                            area.center().y() - area.height() / 2.0 * wave_[c * 576 + i] / 128.0);
        p.setPen(colours[c]);
        p.drawPolyline(line);
    }
}

void VisView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(Qt::white);
    const QRect text = rect().adjusted(10, 6, -10, 0);
    if (!attached_) {
        p.drawText(rect(), Qt::AlignCenter, "Waiting for a player...");
        return;
    }
    QFont bold = font();
    bold.setBold(true);
    p.setFont(bold);
    p.drawText(text, Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(title_));
    p.setFont(font());
    p.drawText(text.adjusted(0, 20, 0, 0), Qt::AlignLeft | Qt::AlignTop, StatusLine());
    const int top = 52, gap = 10;
    const int spectrumHeight = (height() - top) * 3 / 5;
    const int half = (width() - 3 * gap) / 2;
    PaintBars(p, left_, QRect(gap, top, half, spectrumHeight), QColor(60, 170, 255));
    PaintBars(p, right_, QRect(2 * gap + half, top, half, spectrumHeight), QColor(255, 130, 60));
    PaintWave(p, QRect(gap, top + spectrumHeight + gap, width() - 2 * gap,
                       height() - top - spectrumHeight - 2 * gap));
}
