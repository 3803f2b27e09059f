#include "client/secs1_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "client/form_fields.h"
#include "client/line_dialog_run.h"

namespace tarvo::client {

Secs1Dialog::Secs1Dialog(QWidget* parent) : QDialog(parent) {
    setObjectName("secs1_settings");
    setWindowTitle("SECS-I Settings");
    auto* form = new QFormLayout;
    port_ = add_field(form, this, "port", "Port", "serial port number", true);
    baud_ = add_field(form, this, "baud_rate", "Baud Rate", "baud rate", true);
    master_ = new QCheckBox(this);
    master_->setObjectName("master");
    auto* master_row = new QHBoxLayout;
    master_row->addWidget(master_);
    master_row->addWidget(new QLabel("Master/Slave", this));
    form->addRow("Master", master_row);
    t1_ = add_field(form, this, "t1", "T1", "Inter-character timeout", true);
    t2_ = add_field(form, this, "t2", "T2", "Protocol timeout", true);
    t3_ = add_field(form, this, "t3", "T3", "Reply timeout", true);
    t4_ = add_field(form, this, "t4", "T4", "Inter-block timeout", true);
    retry_ = add_field(form, this, "retry", "Retry", "Retry", true);
    device_ = add_field(form, this, "out_device_id", "OutDeviceID", nullptr, false);
    transaction_ = add_field(form, this, "out_transaction_id", "OutTransactionID", nullptr, false);
    source_ = add_field(form, this, "out_source_id", "OutSourceID", nullptr, false);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
    auto* defaults = new QPushButton("Default", this);
    defaults->setObjectName("default");
    auto* default_row = new QHBoxLayout;
    default_row->addWidget(defaults);
    default_row->addWidget(new QLabel("Set to default", this));
    default_row->addStretch();
    connect(defaults, &QPushButton::clicked, this, [this] { fill_line_defaults(*this); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(default_row);
    layout->addWidget(buttons);
}

Secs1Fields Secs1Dialog::fields() const {
    Secs1Fields f;
    f.port = byte_text(port_->text());
    f.baud = byte_text(baud_->text());
    f.master = master_->isChecked();
    f.t1 = byte_text(t1_->text());
    f.t2 = byte_text(t2_->text());
    f.t3 = byte_text(t3_->text());
    f.t4 = byte_text(t4_->text());
    f.retry = byte_text(retry_->text());
    f.device_id = byte_text(device_->text());
    f.transaction = byte_text(transaction_->text());
    f.source_id = byte_text(source_->text());
    return f;
}

void Secs1Dialog::show_fields(const Secs1Fields& f) {
    port_->setText(qt_text(f.port));
    baud_->setText(qt_text(f.baud));
    master_->setChecked(f.master);
    t1_->setText(qt_text(f.t1));
    t2_->setText(qt_text(f.t2));
    t3_->setText(qt_text(f.t3));
    t4_->setText(qt_text(f.t4));
    retry_->setText(qt_text(f.retry));
    device_->setText(qt_text(f.device_id));
    transaction_->setText(qt_text(f.transaction));
    source_->setText(qt_text(f.source_id));
}

int Secs1Dialog::run(SharedValues& shared, ITarvo* driver, const DialogRunner& exec, bool fresh) {
    return run_line_dialog(*this, shared, driver, exec, fresh);
}

}  // namespace tarvo::client
