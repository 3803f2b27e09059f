#include "client/line_type_selector.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "driver/component/itarvo.h"

namespace tarvo::client {

LineTypeSelector::LineTypeSelector(QWidget* parent) : QDialog(parent) {
    setObjectName("line_type_selector");
    setWindowTitle("Line type selector");
    auto* secs1 = new QRadioButton("SECS-I", this);
    secs1->setObjectName("secs1");
    auto* hsms = new QRadioButton("HSMS", this);
    hsms->setObjectName("hsms");
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("cancel");
    // No default button: Enter takes the focused choice, never "Cancel".
    cancel->setAutoDefault(false);
    cancel->setDefault(false);
    connect(secs1, &QRadioButton::clicked, this, [this] { done(ltSECSI); });
    connect(hsms, &QRadioButton::clicked, this, [this] { done(ltHSMS); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(secs1);
    layout->addWidget(hsms);
    layout->addWidget(cancel);
    secs1->setFocus();
}

void LineTypeSelector::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* choice = qobject_cast<QRadioButton*>(focusWidget())) choice->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);  // Escape cancels
}

}  // namespace tarvo::client
