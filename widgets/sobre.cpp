#include "widgets/sobre.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

#include "platform/win/DataDir.h"
#include "platform/win/ProgramDir.h"
#include "widgets/LnkLabel.h"
#include "widgets/ProgramIcon.h"
#include "widgets/filever.h"

Tfsobre* fsobre = nullptr;

namespace {

QLabel* place(QLabel* label, const QString& text, const QRect& at) {
    label->setText(text);
    label->setGeometry(at);
    return label;
}

TLnkLabel* link(QWidget* parent, const QString& caption, const QString& target, const QRect& at) {
    auto* label = new TLnkLabel(parent);
    place(label, caption, at);
    label->Link = target;
    label->VisitedColor = Qt::blue;
    return label;
}

}  // namespace

Tfsobre::Tfsobre(QWidget* parent) : QDialog(parent, Qt::FramelessWindowHint) {
    setWindowTitle("Sobre...");
    setFixedSize(271, 109);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(237, 236, 227));
    setPalette(colours);
    setAutoFillBackground(true);

    Shape1 = new QWidget(this);
    Shape1->setGeometry(rect());
    Image2 = new QLabel(this);
    Image2->setGeometry(8, 8, 32, 32);
    Image2->setPixmap(ProgramIcon().pixmap(32, 32));
    Label1 = place(new QLabel(this), "KAV", QRect(48, 4, 150, 22));
    QFont big = Label1->font();
    big.setBold(true);
    big.setPixelSize(18);
    Label1->setFont(big);
    Label4 = place(new QLabel(this), QString::fromUtf8("Versão %s"), QRect(48, 26, 215, 16));
    Label4->setStyleSheet("font-weight: bold; color: maroon;");
    Label5 = place(new QLabel(this), QString::fromUtf8("Para emissão sem operador"),
                   QRect(48, 42, 215, 16));
    Label5->setStyleSheet("font-weight: bold;");
    LnkLabel1 = link(this, KAV_HOMEPAGE, KAV_HOMEPAGE, QRect(8, 64, 185, 16));
    LnkLabel2 = link(this, KAV_EMAIL, QStringLiteral("mailto:") + KAV_EMAIL, QRect(8, 84, 185, 16));
    Button1 = new QPushButton("&OK", this);
    Button1->setGeometry(200, 76, 63, 25);
    Button1->setDefault(true);  // Enter presses it; Esc closes the dialog as well
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    Shape1->installEventFilter(this);
    Image2->installEventFilter(this);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormCreate();
}

// The version is put into the label's own format once, at creation.
void Tfsobre::FormCreate() {
    const QString version = ShortVersionText() + "   (" + FileVersionText() + ")";
    Label4->setText(Label4->text().replace("%s", version));
    showDataFolder();
}

// Where the settings and lists are: in the tip of the version always, and on
// a line of its own when they are not beside the program.
void Tfsobre::showDataFolder() {
    const QString dir = QString::fromStdString(win::DataDir());
    Label4->setToolTip(QString::fromUtf8("Pasta de dados: ") + dir);
    if (win::DataDir() == win::ProgramDir()) return;
    setFixedSize(width(), height() + 18);
    Shape1->setGeometry(rect());
    DataLabel = new QLabel(this);
    DataLabel->setGeometry(8, 106, 255, 16);
    DataLabel->setToolTip(dir);
    DataLabel->setText(DataLabel->fontMetrics().elidedText(QString::fromUtf8("Dados: ") + dir,
                                                           Qt::ElideMiddle, DataLabel->width()));
}

bool Tfsobre::eventFilter(QObject* watched, QEvent* event) {
    if (watched != Shape1 && watched != Image2) return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            Shape1MouseDown(mouse);
            return true;
        case QEvent::MouseMove:
            Shape1MouseMove(mouse);
            return true;
        case QEvent::MouseButtonRelease:
            Shape1MouseUp(mouse);
            return true;
        default:
            return false;
    }
}

void Tfsobre::Shape1MouseDown(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    pressedAt_ = event->position().toPoint();
    dragging_ = true;
}

void Tfsobre::Shape1MouseMove(QMouseEvent* event) {
    if (!dragging_) return;
    const QPoint delta = event->position().toPoint() - pressedAt_;
    setGeometry(QRect(geometry().topLeft() + delta, size()));
}

void Tfsobre::Shape1MouseUp(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) dragging_ = false;
}
