#include "OnAirDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

std::string text(const QLineEdit* edit) {
    return edit->text().trimmed().toStdString();
}

QLineEdit* lineEdit(const std::string& value) {
    auto* edit = new QLineEdit(text(value));
    edit->setMinimumWidth(260);
    return edit;
}

constexpr onair::Format kFormats[] = {onair::Format::Mp3, onair::Format::Vorbis,
                                      onair::Format::Opus};

}  // namespace

std::string StateText(const onair::Status& status) {
    switch (status.state) {
        case onair::Status::State::OnAir:
            return "ligado";
        case onair::Status::State::Connecting:
            return "a ligar";
        case onair::Status::State::Error:
            return "erro: " + status.error;
        case onair::Status::State::Off:
            break;
    }
    return "desligado";
}

TOnAirDialog::TOnAirDialog(QWidget* parent, const onair::AllSettings& settings,
                           std::function<Statuses()> statuses,
                           std::function<void(const onair::AllSettings&)> apply)
    : QDialog(parent), statuses_(std::move(statuses)) {
    setWindowTitle(QString::fromUtf8("Transmissão"));
    auto* tabs = new QTabWidget;
    for (int i = 0; i < onair::kOutputs; ++i)
        tabs->addTab(createTab(fields_[size_t(i)], settings[size_t(i)]),
                     QString::fromUtf8("Saída %1").arg(i + 1));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Apply |
                                         QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText("OK");
    buttons->button(QDialogButtonBox::Apply)->setText("Aplicar");
    buttons->button(QDialogButtonBox::Cancel)->setText("Cancelar");
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
            [this, apply] { apply(Values()); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this, apply] {
        apply(Values());
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
    refresh_ = new QTimer(this);
    connect(refresh_, &QTimer::timeout, this, [this] { showStates(); });
    refresh_->start(500);
    showStates();
}

QWidget* TOnAirDialog::createTab(Fields& f, const onair::OutputSettings& s) {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    f.active = new QCheckBox("Ativa");
    f.active->setChecked(s.active);
    f.server = lineEdit(s.server);
    f.server->setPlaceholderText("vazio: desligada");
    f.port = new QSpinBox;
    f.port->setRange(1, 65535);
    f.port->setValue(s.port);
    f.mount = lineEdit(s.mount);
    f.user = lineEdit(s.user);
    f.password = lineEdit(s.password);
    f.password->setEchoMode(QLineEdit::Password);
    f.format = new QComboBox;
    f.format->addItems({"MP3", "Ogg Vorbis", "Opus"});
    f.format->setCurrentIndex(int(s.format));
    f.kbps = new QComboBox;
    fillBitRates(f, s.kbps);
    connect(f.format, &QComboBox::currentIndexChanged, this,
            [this, &f] { fillBitRates(f, f.kbps->currentData().toInt()); });
    f.name = lineEdit(s.name);
    f.genre = lineEdit(s.genre);
    f.description = lineEdit(s.description);
    f.url = lineEdit(s.url);
    f.listed = new QCheckBox(QString::fromUtf8("Listada no directório do servidor"));
    f.listed->setChecked(s.listed);
    f.state = new QLabel;
    f.state->setWordWrap(true);
    form->addRow(f.active);
    form->addRow("Servidor:", f.server);
    form->addRow("Porta:", f.port);
    form->addRow("Ponto de montagem:", f.mount);
    form->addRow("Utilizador:", f.user);
    form->addRow("Senha:", f.password);
    form->addRow("Formato:", f.format);
    form->addRow("kbit/s:", f.kbps);
    form->addRow("Nome:", f.name);
    form->addRow(QString::fromUtf8("Género:"), f.genre);
    form->addRow(QString::fromUtf8("Descrição:"), f.description);
    form->addRow("URL:", f.url);
    form->addRow(f.listed);
    form->addRow("Estado:", f.state);
    return page;
}

void TOnAirDialog::fillBitRates(Fields& f, int kbps) {
    const onair::Format format = kFormats[std::max(0, f.format->currentIndex())];
    f.kbps->clear();
    for (int rate : onair::BitRates(format)) f.kbps->addItem(QString::number(rate), rate);
    f.kbps->setCurrentIndex(f.kbps->findData(onair::NearestBitRate(format, kbps)));
}

onair::AllSettings TOnAirDialog::Values() const {
    onair::AllSettings all;
    for (size_t i = 0; i < all.size(); ++i) {
        const Fields& f = fields_[i];
        onair::OutputSettings& s = all[i];
        s.active = f.active->isChecked();
        s.server = text(f.server);
        s.port = f.port->value();
        s.mount = text(f.mount);
        if (s.mount.empty() || s.mount[0] != '/') s.mount = "/" + s.mount;
        s.user = text(f.user).empty() ? "source" : text(f.user);
        s.password = f.password->text().toStdString();
        s.format = kFormats[std::max(0, f.format->currentIndex())];
        s.kbps = f.kbps->currentData().toInt();
        s.name = text(f.name);
        s.genre = text(f.genre);
        s.description = text(f.description);
        s.url = text(f.url);
        s.listed = f.listed->isChecked();
    }
    return all;
}

void TOnAirDialog::showStates() {
    const Statuses now = statuses_();
    for (size_t i = 0; i < fields_.size(); ++i) fields_[i].state->setText(text(StateText(now[i])));
}
