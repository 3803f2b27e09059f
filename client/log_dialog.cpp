#include "client/log_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "client/form_fields.h"

namespace tarvo::client {

LogDialog::LogDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("log_settings");
    setWindowTitle("Log file settings");
    const LogFields defaults;
    write_ = new QCheckBox("Write driver log to file", this);
    write_->setObjectName("write_log");
    write_->setChecked(defaults.write);
    file_name_ = new QLineEdit(qt_text(defaults.file_name), this);
    file_name_->setObjectName("log_file_name");
    auto* name_row = new QHBoxLayout;
    name_row->addWidget(file_name_);
    name_row->addWidget(new QLabel("log file name", this));
    auto* grid = new QGridLayout;
    for (int i = 0; i < LogFields::kBoxes; ++i) {
        boxes_[i] = new QCheckBox(LogFields::kLabels[i], this);
        boxes_[i]->setObjectName(QString("mask_%1").arg(LogFields::kBits[i]));
        boxes_[i]->setChecked(defaults.boxes[i]);
        grid->addWidget(boxes_[i], i / 2, i % 2);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
    // Kept from the dialog's first design, hidden and without effect.
    for (const char* name : {"Default", "Cancel"}) {
        auto* hidden = buttons->addButton(name, QDialogButtonBox::ActionRole);
        hidden->setObjectName(QString(name).toLower());
        hidden->hide();
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(write_);
    layout->addLayout(name_row);
    layout->addLayout(grid);
    layout->addWidget(buttons);
}

LogFields LogDialog::fields() const {
    LogFields f;
    f.write = write_->isChecked();
    f.file_name = byte_text(file_name_->text());
    for (int i = 0; i < LogFields::kBoxes; ++i) f.boxes[i] = boxes_[i]->isChecked();
    return f;
}

int LogDialog::run(ITarvo* driver, const DialogRunner& exec) {
    const int result = exec(*this);
    apply(fields(), driver);
    return result;
}

}  // namespace tarvo::client
