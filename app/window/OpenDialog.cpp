#include "OpenDialog.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QRegularExpression>

TOpenDialog::TOpenDialog(QWidget* parent) : dialog_(parent) {
    dialog_.setFileMode(QFileDialog::ExistingFiles);
    dialog_.setAcceptMode(QFileDialog::AcceptOpen);
    dialog_.setOption(QFileDialog::DontUseNativeDialog);
}

QStringList TOpenDialog::NameFilters(const std::string& filter) {
    QStringList parts = QString::fromStdString(filter).split('|');
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString text = parts[i].trimmed();
        text.remove(QRegularExpression(R"(\s*\([^()]*\)\s*$)"));
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        for (QString& p : patterns) p = p.trimmed();
        result << QString("%1 (%2)").arg(text, patterns.join(' '));
    }
    return result;
}

bool TOpenDialog::Execute() {
    QStringList filters = NameFilters(Filter);
    dialog_.setNameFilters(filters);
    if (FilterIndex >= 1 && FilterIndex <= filters.size())
        dialog_.selectNameFilter(filters[FilterIndex - 1]);
    dialog_.setDefaultSuffix(QString::fromStdString(DefaultExt));
    Files.clear();
    // Each run starts without the last run's choice.
    for (auto* view : dialog_.findChildren<QAbstractItemView*>())
        if (view->selectionModel()) view->selectionModel()->clearSelection();
    if (auto* name = dialog_.findChild<QLineEdit*>("fileNameEdit")) name->clear();
    if (dialog_.exec() != QDialog::Accepted) return false;
    FilterIndex = int(filters.indexOf(dialog_.selectedNameFilter())) + 1;
    for (const QString& f : dialog_.selectedFiles()) Files.push_back(f.toStdString());
    return !Files.empty();
}
