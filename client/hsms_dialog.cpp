#include "client/hsms_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStringList>
#include <QVBoxLayout>

#include "client/form_fields.h"
#include "client/line_dialog_run.h"

namespace tarvo::client {

HsmsDialog::HsmsDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("hsms_settings");
    setWindowTitle("HSMS Settings");
    auto* modes = new QGroupBox("Connection Mode", this);
    auto* mode_row = new QHBoxLayout(modes);
    active_ = new QRadioButton("Active", modes);
    active_->setObjectName("active");
    passive_ = new QRadioButton("Passive", modes);
    passive_->setObjectName("passive");
    alternating_ = new QRadioButton("Alternating", modes);
    alternating_->setObjectName("alternating");
    for (QRadioButton* b : {active_, passive_, alternating_}) mode_row->addWidget(b);

    auto* form = new QFormLayout;
    auto* host_row = new QHBoxLayout;
    for (int i = 0; i < 4; ++i) {
        host_[i] = new QSpinBox(this);
        host_[i]->setRange(0, 255);
        host_[i]->setObjectName(QString("host_%1").arg(i + 1));
        host_[i]->setButtonSymbols(QAbstractSpinBox::NoButtons);
        host_row->addWidget(host_[i]);
        if (i < 3) host_row->addWidget(new QLabel(".", this));
    }
    form->addRow("Host", host_row);
    port_ = add_field(form, this, "port", "Port", nullptr, true);
    t3_ = add_field(form, this, "t3", "T3", nullptr, true);
    t5_ = add_field(form, this, "t5", "T5", nullptr, true);
    t6_ = add_field(form, this, "t6", "T6", nullptr, true);
    t7_ = add_field(form, this, "t7", "T7", nullptr, true);
    t8_ = add_field(form, this, "t8", "T8", nullptr, true);
    connects_ = add_field(form, this, "connects", "Connects", nullptr, true);
    retry_ = add_field(form, this, "retry", "Retry", nullptr, true);
    device_ = add_field(form, this, "out_device_id", "OutDeviceID", nullptr, false);
    transaction_ = add_field(form, this, "out_transaction_id", "OutTransactionID", nullptr, false);
    source_ = add_field(form, this, "out_source_id", "OutSourceID", nullptr, false);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
    auto* defaults = buttons->addButton("Default", QDialogButtonBox::ResetRole);
    defaults->setObjectName("default");
    connect(defaults, &QPushButton::clicked, this, [this] { fill_line_defaults(*this); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(modes);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

HsmsFields HsmsDialog::fields() const {
    HsmsFields f;
    f.mode = active_->isChecked() ? cmACTIVE : passive_->isChecked() ? cmPASSIVE : cmALTERN;
    QStringList parts;
    for (const QSpinBox* b : host_) parts << QString::number(b->value());
    f.host = byte_text(parts.join('.'));
    f.port = byte_text(port_->text());
    f.t3 = byte_text(t3_->text());
    f.t5 = byte_text(t5_->text());
    f.t6 = byte_text(t6_->text());
    f.t7 = byte_text(t7_->text());
    f.t8 = byte_text(t8_->text());
    f.connects = byte_text(connects_->text());
    f.retry = byte_text(retry_->text());
    f.device_id = byte_text(device_->text());
    f.transaction = byte_text(transaction_->text());
    f.source_id = byte_text(source_->text());
    return f;
}

void HsmsDialog::show_fields(const HsmsFields& f) {
    (f.mode == cmACTIVE ? active_ : f.mode == cmPASSIVE ? passive_ : alternating_)->setChecked(true);
    const QStringList parts = qt_text(f.host).split('.');
    for (int i = 0; i < 4; ++i) host_[i]->setValue(i < parts.size() ? parts[i].toInt() : 0);
    port_->setText(qt_text(f.port));
    t3_->setText(qt_text(f.t3));
    t5_->setText(qt_text(f.t5));
    t6_->setText(qt_text(f.t6));
    t7_->setText(qt_text(f.t7));
    t8_->setText(qt_text(f.t8));
    connects_->setText(qt_text(f.connects));
    retry_->setText(qt_text(f.retry));
    device_->setText(qt_text(f.device_id));
    transaction_->setText(qt_text(f.transaction));
    source_->setText(qt_text(f.source_id));
}

int HsmsDialog::run(SharedValues& shared, ITarvo* driver, const DialogRunner& exec, bool fresh) {
    return run_line_dialog(*this, shared, driver, exec, fresh);
}

}  // namespace tarvo::client
