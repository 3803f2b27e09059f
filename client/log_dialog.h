// "Log file settings": whether and where the driver writes its log, and
// which records (the mask bits). Applied however the dialog closes.
#pragma once

#include <QDialog>

#include "client/dialog_runner.h"
#include "client/settings_values.h"

class QCheckBox;
class QLineEdit;

namespace tarvo::client {

class LogDialog : public QDialog {
public:
    explicit LogDialog(QWidget* parent = nullptr);

    // Runs the dialog, then applies it to `driver` (OK or Escape alike).
    int run(ITarvo* driver, const DialogRunner& exec);
    LogFields fields() const;

private:
    QCheckBox* write_;
    QLineEdit* file_name_;
    QCheckBox* boxes_[LogFields::kBoxes];
};

}  // namespace tarvo::client
