#include "client/main_window.h"

#include <cstdio>
#include <ctime>

#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTextEdit>
#include <QVBoxLayout>

#include "client/companion_windows.h"
#include "client/form_fields.h"
#include "client/hsms_dialog.h"
#include "client/line_type_selector.h"
#include "client/log_dialog.h"
#include "client/message_boxes.h"
#include "client/notify_text.h"
#include "client/secs1_dialog.h"
#include "driver/log/notify_code.h"
#include "platform/com/bstr.h"

namespace tarvo::client {

namespace {

// A driver text as bytes (one per character); "" when the call failed.
std::string take_bytes(HRESULT hr, BSTR text) {
    if (FAILED(hr) || !text) return {};
    std::string bytes = BytesFromBstr(text);
    SysFreeString(text);
    return bytes;
}

std::string text_call(ITarvo* d, HRESULT (ITarvo::*method)(BSTR*)) {
    BSTR text = nullptr;
    const HRESULT hr = (d->*method)(&text);
    return take_bytes(hr, text);
}

void call_with_text(ITarvo* d, HRESULT (ITarvo::*method)(BSTR), const std::string& text) {
    BSTR b = BstrFromBytes(text);
    (d->*method)(b);
    SysFreeString(b);
}

std::string name_of(int stream, int function, bool w) {
    char text[32];
    std::snprintf(text, sizeof text, w ? "S%dF%dW" : "S%dF%d", stream, function);
    return text;
}

QPushButton* button(QWidget* parent, const char* name, const char* text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    return b;
}

}  // namespace

// ---- construction ----------------------------------------------------------------

MainWindow::MainWindow(const std::vector<std::string>& catalogue_folders) : catalogue_(catalogue_folders) {
    build();
}

MainWindow::~MainWindow() { close_connections(); }

void MainWindow::close_connections() {
    // No driver event may be posted to a window that is going away.
    client_.RemoveAll();
}

void MainWindow::done(int result) {
    close_connections();
    QDialog::done(result);
}

void MainWindow::build() {
    setObjectName("main_window");
    setWindowTitle("Tarvo Example Client");
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);

    menu_ = new QMenuBar(this);
    auto action = [this](QMenu* menu, const char* name, const char* text, auto slot) {
        QAction* a = menu->addAction(text);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, slot);
    };
    QMenu* file = menu_->addMenu("&File");
    action(file, "action_exit", "&Exit", [this] { done(QDialog::Accepted); });
    QMenu* line = menu_->addMenu("&LineType");
    action(line, "action_secs1", "&SECS-I", [this] { choose_line_type(ltSECSI, true); });
    action(line, "action_hsms", "&HSMS", [this] { choose_line_type(ltHSMS, true); });
    QMenu* settings = menu_->addMenu("&Settings");
    action(settings, "action_settings_secs1", "&SESC-I", [this] { open_secs1_settings(); });
    action(settings, "action_settings_hsms", "&HSMS", [this] { open_hsms_settings(); });
    action(settings, "action_settings_log", "&LogFile", [this] { open_log_settings(); });
    QMenu* help = menu_->addMenu("&Help");
    action(help, "action_about", "&About", [this] {
        MessageBoxes::current().show("TarvoClient2 Version 1.0", "About TarvoClient2", this);
    });

    // Messages and their short description.
    auto* messages_group = new QGroupBox("Messages", this);
    messages_ = new QListWidget(messages_group);
    messages_->setObjectName("messages");
    messages_->setFont(fixed);
    (new QVBoxLayout(messages_group))->addWidget(messages_);
    auto* short_group = new QGroupBox("Short Description", this);
    short_description_ = new QListWidget(short_group);
    short_description_->setObjectName("short_description");
    short_description_->setFont(fixed);
    short_description_->setMaximumHeight(60);
    (new QVBoxLayout(short_group))->addWidget(short_description_);

    // The message being composed.
    auto* adjust = new QGroupBox("Adjust message here", this);
    s_field_ = new QLineEdit(adjust);
    s_field_->setObjectName("s_field");
    f_field_ = new QLineEdit(adjust);
    f_field_->setObjectName("f_field");
    for (QLineEdit* e : {s_field_, f_field_}) {
        e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
        e->setMaximumWidth(60);
    }
    w_box_ = new QCheckBox("W", adjust);
    w_box_->setObjectName("w_check");
    body_ = new QTextEdit(adjust);
    body_->setObjectName("body");
    body_->setAcceptRichText(false);
    body_->setFont(fixed);
    auto* sfw = new QHBoxLayout;
    sfw->addWidget(new QLabel("S", adjust));
    sfw->addWidget(s_field_);
    sfw->addWidget(new QLabel("F", adjust));
    sfw->addWidget(f_field_);
    sfw->addWidget(w_box_);
    sfw->addStretch();
    auto* adjust_layout = new QVBoxLayout(adjust);
    adjust_layout->addLayout(sfw);
    adjust_layout->addWidget(new QLabel("Body", adjust));
    adjust_layout->addWidget(body_);

    // Output.
    auto* output_group = new QGroupBox("Output window", this);
    output_ = new QListWidget(output_group);
    output_->setObjectName("output");
    output_->setFont(fixed);
    (new QVBoxLayout(output_group))->addWidget(output_);

    description_button_ = button(this, "description_button", "Open Description Window");
    send_message_ = button(this, "send_message", "Send message");
    send_reply_ = button(this, "send_reply", "Send Reply");
    auto_reply_box_ = new QCheckBox("Auto Reply", this);
    auto_reply_box_->setObjectName("auto_reply");
    full_received_box_ = new QCheckBox("Full recvd msg", this);
    full_received_box_->setObjectName("full_received");
    start_ = button(this, "start", "Start");
    clear_ = button(this, "clear_output", "        Clear\nOutput window");
    close_ = button(this, "close", "Close");
    set_device_id_ = button(this, "set_device_id", "Set DeviceID");
    set_device_id_->hide();
    last_sent_field_ = new QLineEdit(this);
    last_sent_field_->setObjectName("last_sent");
    last_sent_field_->hide();
    line_type_label_ = new QLabel(this);
    line_type_label_->setObjectName("line_type");
    line_type_label_->setMinimumWidth(60);
    auto* line_type_group = new QHBoxLayout;
    line_type_group->addWidget(new QLabel("Line type", this));
    line_type_group->addWidget(line_type_label_);

    auto* buttons = new QVBoxLayout;
    buttons->addLayout(line_type_group);
    for (QWidget* w : std::initializer_list<QWidget*>{description_button_, send_message_, send_reply_,
                                                     auto_reply_box_, full_received_box_, start_, clear_, close_})
        buttons->addWidget(w);
    buttons->addStretch();

    auto* grid = new QGridLayout(this);
    grid->setMenuBar(menu_);
    grid->addWidget(messages_group, 0, 0, 2, 1);
    grid->addWidget(short_group, 0, 1);
    grid->addWidget(adjust, 1, 1);
    grid->addLayout(buttons, 0, 2, 2, 1);
    grid->addWidget(output_group, 2, 0, 1, 3);
    grid->setRowStretch(1, 2);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(0, 5);
    grid->setColumnStretch(1, 4);
    resize(1120, 700);

    connect(messages_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        select_entry(messages_->row(item));
    });
    connect(messages_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        select_entry(messages_->row(item));
        send_message();
    });
    connect(send_message_, &QPushButton::clicked, this, [this] { send_message(); });
    connect(send_reply_, &QPushButton::clicked, this, [this] { send_reply(); });
    connect(start_, &QPushButton::clicked, this, [this] { toggle_start(); });
    connect(description_button_, &QPushButton::clicked, this, [this] { toggle_description(); });
    connect(clear_, &QPushButton::clicked, output_, &QListWidget::clear);
    connect(close_, &QPushButton::clicked, this, [this] { done(QDialog::Accepted); });
    connect(set_device_id_, &QPushButton::clicked, this, [this] { members_to_controls(); });
    connect(full_received_box_, &QCheckBox::clicked, this, [this] { apply_full_received_rule(); });
    for (QCheckBox* box : {w_box_, auto_reply_box_}) {
        connect(box, &QCheckBox::clicked, this, [this] { controls_to_members(); });
    }
    for (QLineEdit* e : {s_field_, f_field_}) {
        connect(e, &QLineEdit::textChanged, this, [this] { controls_to_members(); });
    }
    connect(body_, &QTextEdit::textChanged, this, [this] { controls_to_members(); });

    secs1_ = new Secs1Dialog(this);
    hsms_ = new HsmsDialog(this);
    log_ = new LogDialog(this);
    description_ = new DescriptionWindow(this);
    description_->on_closed_by_user = [this] {
        description_visible_ = false;
        description_button_->setText("Show Description Window");
    };
    received_ = new ReceivedWindow(this);
}

bool MainWindow::start() {
    LineTypeSelector selector(this);
    const int chosen = runner(selector);
    if (chosen == ltSECSI || chosen == ltHSMS) {
        choose_line_type(static_cast<enum_SECS_LINE_TYPE>(chosen), false);
    } else {
        return false;
    }
    members_to_controls();
    setWindowIcon(QApplication::windowIcon());
    fill_message_list();
    description_->move(500, 400);
    description_->setAttribute(Qt::WA_ShowWithoutActivating);
    description_->show();
    description_visible_ = true;
    description_button_->setText("Hide Description Window");
    received_->move(500, 0);
    apply_full_received_rule();
    return true;
}

void MainWindow::fill_message_list() {
    messages_->clear();
    for (size_t i = 0; i < catalogue_.size(); ++i) {
        const MsgEntry& e = catalogue_.entry(i);
        char text[160];
        std::snprintf(text, sizeof text, e.reply_expected ? "S%dF%dW\t- %s" : "S%dF%d \t- %s", e.stream, e.function,
                      e.name.c_str());
        add_list_line(messages_, qt_text(text));
    }
}

// ---- members and controls ---------------------------------------------------------

void MainWindow::controls_to_members() {
    if (updating_) return;
    s_text_ = byte_text(s_field_->text());
    f_text_ = byte_text(f_field_->text());
    w_ = w_box_->isChecked();
    auto_reply_ = auto_reply_box_->isChecked();
    full_received_ = full_received_box_->isChecked();
}

void MainWindow::members_to_controls() {
    updating_ = true;
    s_field_->setText(qt_text(s_text_));
    f_field_->setText(qt_text(f_text_));
    w_box_->setChecked(w_);
    auto_reply_box_->setChecked(auto_reply_);
    full_received_box_->setChecked(full_received_);
    last_sent_field_->setText(qt_text(last_sent_));
    line_type_label_->setText(qt_text(line_type_text_));
    updating_ = false;
}

ITarvo* MainWindow::driver() const {
    DriverConnection* c = client_.connection(0);
    return c ? c->driver() : nullptr;
}

// ---- line type and settings ---------------------------------------------------------

void MainWindow::choose_line_type(enum_SECS_LINE_TYPE type, bool from_menu) {
    if (from_menu) {
        if (connection() && connection()->line_type() == type) return;
        start_->setText("Start");
    }
    client_.RemoveAll();
    client_.AddConnection(type);
    line_type_text_ = type == ltSECSI ? "SECS-I" : "HSMS";
    members_to_controls();
    if (type == ltSECSI) {
        open_secs1_settings();
    } else {
        open_hsms_settings();
    }
}

void MainWindow::open_secs1_settings() {
    secs1_->run(shared_, driver(), runner);
    members_to_controls();
}

void MainWindow::open_hsms_settings() {
    hsms_->run(shared_, driver(), runner);
    members_to_controls();
}

void MainWindow::open_log_settings() { log_->run(driver(), runner); }

// ---- the catalogue --------------------------------------------------------------------

void MainWindow::select_entry(int index) {
    if (index < 0 || static_cast<size_t>(index) >= catalogue_.size()) return;
    messages_->setCurrentRow(index);
    const MsgEntry& e = catalogue_.entry(static_cast<size_t>(index));
    s_text_ = std::to_string(e.stream);
    f_text_ = std::to_string(e.function);
    w_ = e.reply_expected;
    members_to_controls();
    body_->setPlainText(qt_text(e.body));
    short_description_->clear();
    QListWidget* d = description_->list();
    d->clear();
    const std::string name = name_of(e.stream, e.function, e.reply_expected);
    add_list_line(short_description_, qt_text(name));
    add_list_line(short_description_, qt_text(e.name));
    add_list_line(d, qt_text(name));
    add_list_line(d, "");
    add_list_line(d, qt_text("Name:\t\t" + e.name));
    add_list_line(d, "");
    char stream[160];
    std::snprintf(stream, sizeof stream, e.stream < 10 ? "Stream %d:\t\t%s" : "Stream %d:\t%s", e.stream,
                  catalogue_.stream_name(e.stream).c_str());
    add_list_line(d, qt_text(stream));
    add_list_line(d, "");
    const struct {
        const char* heading;
        const std::vector<std::string>& lines;
    } sections[] = {{"Description:", e.description}, {"Structure:", e.structure}, {"Exception:", e.exceptions}};
    for (const auto& s : sections) {
        if (s.lines.empty()) continue;
        add_list_line(d, s.heading);
        for (const std::string& l : s.lines) add_list_line(d, qt_text(l));
        add_list_line(d, "");
    }
    members_to_controls();
}

// ---- sending ---------------------------------------------------------------------------

std::string MainWindow::compose() const {
    return "S" + s_text_ + "F" + f_text_ + (w_ ? "W" : "") + byte_text(body_->toPlainText());
}

void MainWindow::send_message() {
    ++shared_.transaction;
    const std::string text = compose();
    if (ITarvo* d = driver()) {
        d->SetOutTransactionID(shared_.transaction);
        call_with_text(d, &ITarvo::SendMessage, text);
    }
    last_sent_ = text;
    members_to_controls();
}

void MainWindow::send_reply() {
    const std::string text = compose();
    if (ITarvo* d = driver()) call_with_text(d, &ITarvo::Reply, text);
    last_sent_ = text;
    members_to_controls();
}

void MainWindow::toggle_start() {
    DriverConnection* c = connection();
    if (!c || !c->driver()) return;
    c->active = !c->active;
    LONG status = 0;
    c->driver()->SetActive(c->active ? 1 : 0, &status);
    if (!c->active) {
        AddOutputLine("port was closed");
        start_->setText("Start");
    } else if (status == 0) {
        if (c->line_type() == ltHSMS) {
            AddOutputLine("port is opening");
            start_->setText("Stop");
        } else {
            c->active = false;
            AddOutputLine("port could not be opened");
            start_->setText("Start");
        }
    } else if (c->line_type() == ltSECSI) {
        AddOutputLine("port was opened");
        start_->setText("Stop");
    } else {
        enum_HSMS_CONN_MODE mode = cmNONE;
        c->driver()->GetConnectionMode(&mode);
        if (mode == cmPASSIVE) {
            AddOutputLine("port is opened - waiting for connections");
        } else {
            AddOutputLine("port is opened");
        }
        start_->setText("Stop");
    }
    members_to_controls();
}

// ---- companion windows ------------------------------------------------------------------

void MainWindow::toggle_description() {
    if (description_visible_) {
        description_->showMinimized();
        description_button_->setText("Show Description Window");
    } else {
        description_->showNormal();
        description_button_->setText("Hide Description Window");
    }
    description_visible_ = !description_visible_;
}

void MainWindow::apply_full_received_rule() {
    controls_to_members();
    if (full_received_) {
        received_->showNormal();
    } else {
        received_->setAttribute(Qt::WA_ShowWithoutActivating);
        received_->showMinimized();
    }
}

void MainWindow::AddOutputLine(const std::string& text) {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%d-%02d-%02d %02d:%02d:%02d  ", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    add_list_line(output_, qt_text(std::string(stamp) + " " + text));
    output_->scrollToBottom();
}

// ---- driver events ------------------------------------------------------------------------

void MainWindow::Client::OnDriverEvent(int index, int code) {
    int message = WM_DRIVER_NOTIFY;
    int lparam = code;
    if (code == nSecsReservedRead) {
        message = WM_DRIVER_READ;
    } else if (code == nSecsReservedWrittenTrue || code == nSecsReservedWrittenFalse) {
        message = WM_DRIVER_WRITTEN;
        lparam = code == nSecsReservedWrittenTrue ? 1 : 0;
    }
    QCoreApplication::postEvent(window_, new DriverEvent(message, index, lparam));
}

void MainWindow::customEvent(QEvent* event) {
    if (event->type() == DriverEvent::type_of(WM_DRIVER_READ)) {
        on_driver_read();
    } else if (event->type() == DriverEvent::type_of(WM_DRIVER_WRITTEN)) {
        AddOutputLine(static_cast<DriverEvent*>(event)->lparam ? "message was sent successfully"
                                                               : "message was not sent");
    } else if (event->type() == DriverEvent::type_of(WM_DRIVER_NOTIFY)) {
        AddOutputLine(NotifyText(static_cast<DriverEvent*>(event)->lparam));
    } else {
        QDialog::customEvent(event);
    }
}

void MainWindow::on_driver_read() {
    ITarvo* d = driver();
    if (!d) return;
    INT stream = 0, function = 0;
    LONG w = 0;
    auto header = [&] {
        d->GetInFunctionID(&function);
        d->GetInStreamID(&stream);
        d->GetInWBit(&w);
    };
    if (full_received_) {
        std::string shown;
        switch (received_->view()) {
        case ReceivedWindow::View::sml:
            shown = text_call(d, &ITarvo::NextMessageSML);
            header();
            break;
        case ReceivedWindow::View::bytes: {
            const std::string body = text_call(d, &ITarvo::NextMessageByte);
            header();
            shown = name_of(stream, function, w == 1);
            for (size_t i = 0; i < body.size(); ++i) {
                if (i % 10 == 0) shown += "\n";
                char hex[8];
                std::snprintf(hex, sizeof hex, "0x%02X ", static_cast<unsigned char>(body[i]));
                shown += hex;
            }
            break;
        }
        case ReceivedWindow::View::elements: {
            d->NextMessage();
            header();
            INT count = 0;
            d->GetElemGnrlQuan(&count);
            shown = name_of(stream, function, w == 1) + "\ntype\tquant\tpointer\t\tvalue\n";
            for (INT i = 0; i < count; ++i) {
                BSTR p = nullptr;
                const HRESULT hr = d->GetElemGnrlPointer(i, &p);
                const std::string pointer = take_bytes(hr, p);
                call_with_text(d, &ITarvo::SetElemPointer, pointer);
                const std::string value = text_call(d, &ITarvo::GetElemValue);
                INT quantity = 0;
                d->GetElemQuantity(&quantity);
                enum_SECS_ELEM_TYPE type = etSecsInv;
                d->GetElemType(&type);
                for (const std::string& part :
                     {std::string("'"), ElemTypeName(type), std::string("'\t'"), std::to_string(quantity),
                      std::string("'\t'"), pointer, std::string("'\t\t'"), type == 2 ? std::string("_") : value,
                      std::string("'\n")})
                    shown.append(part);
            }
            break;
        }
        }
        received_->set_text(qt_text(shown));
    } else {
        d->NextMessage();
        header();
    }
    char line[48];
    std::snprintf(line, sizeof line, w != 0 ? "received S%dF%dW" : "received S%dF%d", stream, function);
    AddOutputLine(line);
    if (!auto_reply_ || w == 0) return;
    int match = -1;
    for (size_t i = 0; i < catalogue_.size() && match < 0; ++i) {
        const MsgEntry& e = catalogue_.entry(i);
        if (e.stream == stream && e.function == function + 1) match = static_cast<int>(i);
    }
    if (match >= 0) {
        select_entry(match);
    } else {
        s_text_ = std::to_string(stream);
        f_text_.assign(1, '0');  // (not = "0": GCC 12 warns falsely there)
        w_ = false;
        // The controls first: a change of the body copies them to the members.
        members_to_controls();
        body_->setPlainText("");
    }
    members_to_controls();
    send_reply();
}

}  // namespace tarvo::client
