#include "client/line_type_selector.h"

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
    connect(secs1, &QRadioButton::clicked, this, [this] { done(ltSECSI); });
    connect(hsms, &QRadioButton::clicked, this, [this] { done(ltHSMS); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(secs1);
    layout->addWidget(hsms);
    layout->addWidget(cancel);
}

}  // namespace tarvo::client
