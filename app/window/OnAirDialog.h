// "Transmissão": the four stream outputs' settings, one tab each, with a
// state line per output that follows what the outputs do. "Aplicar" hands
// the settings over at once (the program restarts only the outputs that
// changed); the dialog never waits for a server.
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <array>
#include <functional>

#include "app/onair/OnAirSettings.h"
#include "app/onair/StreamOutput.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTimer;

class TOnAirDialog : public QDialog {
  public:
    using Statuses = std::array<onair::Status, onair::kOutputs>;
    TOnAirDialog(QWidget* parent, const onair::AllSettings& settings,
                 std::function<Statuses()> statuses,
                 std::function<void(const onair::AllSettings&)> apply);

    onair::AllSettings Values() const;

  private:
    struct Fields {
        QCheckBox* active;
        QLineEdit *server, *mount, *user, *password, *name, *genre, *description, *url;
        QSpinBox* port;
        QComboBox *format, *kbps;
        QCheckBox* listed;
        QLabel* state;
    };
    QWidget* createTab(Fields& f, const onair::OutputSettings& s);
    void fillBitRates(Fields& f, int kbps);
    void showStates();

    std::array<Fields, onair::kOutputs> fields_{};
    std::function<Statuses()> statuses_;
    QTimer* refresh_ = nullptr;
};

// "ligado", "a ligar", "erro: ...", "desligado".
std::string StateText(const onair::Status& status);
