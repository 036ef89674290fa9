#include "widgets/sobre.h"

#include <QLabel>
#include <QVBoxLayout>

Tfsobre* fsobre = nullptr;

Tfsobre::Tfsobre(QWidget* parent) : QDialog(parent, Qt::FramelessWindowHint) {
    setWindowTitle("Sobre...");
    setFixedSize(271, 109);
    setStyleSheet("background: rgb(237, 236, 227);");
    auto* layout = new QVBoxLayout(this);
    auto* name = new QLabel("KAV", this);
    name->setStyleSheet("font-weight: bold; font-size: 16px;");
    auto* version = new QLabel(QString("Versão %1").arg(KAV_VERSION), this);
    version->setStyleSheet("font-weight: bold; color: maroon;");
    layout->addWidget(name);
    layout->addWidget(version);
}

// Any click closes the box.
void Tfsobre::mousePressEvent(QMouseEvent*) {
    accept();
}
