#include "client/form_fields.h"

#include <QDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include "client/dialog_runner.h"

namespace tarvo::client {

DialogRunner exec_runner() {
    return [](QDialog& d) { return d.exec(); };
}

QLineEdit* add_field(QFormLayout* form, QWidget* parent, const char* object_name, const char* label,
                     const char* explanation, bool digits_only) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(object_name);
    if (digits_only) {
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
    }
    if (explanation && *explanation) {
        auto* row = new QHBoxLayout;
        row->addWidget(edit);
        row->addWidget(new QLabel(explanation, parent));
        form->addRow(label, row);
    } else {
        form->addRow(label, edit);
    }
    return edit;
}

}  // namespace tarvo::client
