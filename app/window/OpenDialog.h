// The file-open dialog with a filter in "text|patterns|text|patterns" form.
// One dialog serves several buttons, so its folder and chosen filter persist.
#pragma once

#include <QFileDialog>
#include <string>
#include <vector>

class TOpenDialog {
  public:
    explicit TOpenDialog(QWidget* parent);

    std::string Filter;
    int FilterIndex = 1;  // counted from 1
    std::string DefaultExt;

    // Runs the dialog modally; true when the user confirmed. Files then holds
    // the chosen files in the dialog's order.
    bool Execute();
    std::vector<std::string> Files;

    QFileDialog& Dialog() { return dialog_; }

    // The filter as Qt name filters, one per choice: "MP3 (*.mp3)".
    static QStringList NameFilters(const std::string& filter);

  private:
    QFileDialog dialog_;
};
