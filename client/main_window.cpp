#include "client/main_window.h"

#include <cstdio>
#include <ctime>

#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextEdit>
#include <QTimer>
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

void call_with_text(ITarvo* d, HRESULT (ITarvo::*method)(BSTR), const std::string& text) {
    BSTR b = BstrFromBytes(text);
    (d->*method)(b);
    SysFreeString(b);
}

std::string name_of(int stream, int function, bool w) { return received_name(stream, function, w ? 1 : 0); }

// No button of the window is a default: Enter presses none of them.
QPushButton* button(QWidget* parent, const char* name, const char* text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

std::string text_of(ITarvo* d, HRESULT (ITarvo::*method)(BSTR*)) {
    BSTR text = nullptr;
    if (FAILED((d->*method)(&text)) || !text) return {};
    std::string bytes = BytesFromBstr(text);
    SysFreeString(text);
    return bytes;
}

}  // namespace

// ---- construction ----------------------------------------------------------------

MainWindow::MainWindow(const std::vector<std::string>& catalogue_folders) : catalogue_(catalogue_folders) {
    build();
}

MainWindow::~MainWindow() {
    // Nothing is destroyed while a call still uses it: the calls end first
    // (an opening gives up once its line is no longer wanted).
    if (DriverConnection* c = connection(); c && opening_ && c->driver()) {
        c->active = false;
        LONG status = 0;
        c->driver()->SetActive(0, &status);
    }
    calls_.wait();
    // No driver event may be posted to a window that is going away.
    client_.RemoveAll();
}

void MainWindow::done(int result) {
    if (closing_) return;
    closing_ = true;
    close_result_ = result;
    DriverConnection* c = connection();
    if (c && c->driver() && opening_ && c->active) {
        // The opening ends once its line is no longer wanted.
        c->active = false;
        stopping_ = true;
        calls_.run([d = client_.shared_connection(0)] {
            LONG status = 0;
            d->driver()->SetActive(0, &status);
        }, [this] {
            stopping_ = false;
            finish_closing();
        });
    }
    update_controls();
    finish_closing();
}

// The window closes once every call has returned and the connection is gone.
void MainWindow::finish_closing() {
    if (!closing_ || calls_.running() > 0) return;
    if (client_.connection_count() > 0) {
        release_connections();
        return;
    }
    QDialog::done(close_result_);
}

// The connections are let go off the window's thread: a busy line may take
// a moment to close. Their events are dropped from now on.
void MainWindow::release_connections() {
    ++releasing_;
    calls_.run([taken = client_.TakeAll()]() mutable { taken.clear(); }, [this] {
        --releasing_;
        update_controls();
        update_status();
        finish_closing();
    });
    update_controls();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();  // Close, File > Exit and the close box end the program; Escape does not
        return;
    default:
        QDialog::keyPressEvent(event);
    }
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
    line_menu_ = menu_->addMenu("&LineType");
    line_menu_->setObjectName("menu_line_type");
    action(line_menu_, "action_secs1", "&SECS-I", [this] { choose_line_type(ltSECSI, true); });
    action(line_menu_, "action_hsms", "&HSMS", [this] { choose_line_type(ltHSMS, true); });
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
    output_->setUniformItemSizes(true);  // long runs: no per-line measuring
    auto* output_layout = new QVBoxLayout(output_group);
    output_layout->addWidget(output_);
    // What the connection really is, under the output.
    status_ = new QLabel(output_group);
    status_->setObjectName("status_line");
    status_->setFont(fixed);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    output_layout->addWidget(status_);

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
    line_type_group->addWidget(new QLabel("Line type", line_type_label_->parentWidget()));
    line_type_group->addWidget(line_type_label_);

    // The driver's area: busy while a driver call runs.
    driver_area_ = new QWidget(this);
    driver_area_->setObjectName("driver_area");
    for (QWidget* w : std::initializer_list<QWidget*>{description_button_, send_message_, send_reply_,
                                                     auto_reply_box_, full_received_box_, start_, clear_, close_,
                                                     line_type_label_})
        w->setParent(driver_area_);
    auto* buttons = new QVBoxLayout(driver_area_);
    buttons->setContentsMargins(0, 0, 0, 0);
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
    grid->addWidget(driver_area_, 0, 2, 2, 1);
    grid->addWidget(output_group, 2, 0, 1, 3);
    grid->setRowStretch(1, 2);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(0, 5);
    grid->setColumnStretch(1, 4);
    resize(1120, 700);

    // The current line loads, whether a click or a key made it current;
    // a click on the current line loads it again.
    connect(messages_, &QListWidget::currentRowChanged, this, [this](int row) { select_entry(row); });
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

    // The status line follows what the driver says, and looks again now and
    // then (a line that closed without a notification).
    status_timer_ = new QTimer(this);
    connect(status_timer_, &QTimer::timeout, this, [this] { update_status(); });
    status_timer_->start(1000);
    update_controls();
    update_status();
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
    if (from_menu && connection() && connection()->line_type() == type) return;
    if (opening_ || stopping_ || releasing_ > 0 || closing_) return;  // the menu is disabled meanwhile
    // The old object goes off this thread (a busy line may take a moment);
    // its events are dropped from now on. The new one starts at once.
    if (client_.connection_count() > 0) release_connections();
    client_.AddConnection(type);
    events_.clear();
    reading_ = false;
    line_type_text_ = type == ltSECSI ? "SECS-I" : "HSMS";
    if (!driver()) line_type_text_ += " (no driver object)";
    // Every new object gets the log settings the dialog shows.
    if (ITarvo* d = driver()) apply(log_->fields(), d);
    members_to_controls();
    update_controls();
    update_status();
    if (type == ltSECSI) {
        open_secs1_settings();
    } else {
        open_hsms_settings();
    }
}

// A driver object of `type` that has not yet received the values of that
// type's dialog gets them all, whether the user presses OK or Cancel, so the
// dialog never shows what the driver does not use. Marks them given.
bool MainWindow::first_time_for(enum_SECS_LINE_TYPE type, uint64_t& given) {
    const DriverConnection* c = connection();
    if (!c || !c->driver() || c->line_type() != type || c->serial() == given) return false;
    given = c->serial();
    return true;
}

void MainWindow::open_secs1_settings() {
    secs1_->run(shared_, driver(), runner, first_time_for(ltSECSI, secs1_given_));
    members_to_controls();
    update_status();
}

void MainWindow::open_hsms_settings() {
    hsms_->run(shared_, driver(), runner, first_time_for(ltHSMS, hsms_given_));
    members_to_controls();
    update_status();
}

void MainWindow::open_log_settings() { log_->run(driver(), runner); }

// ---- the catalogue --------------------------------------------------------------------

void MainWindow::select_entry(int index) {
    if (index < 0 || static_cast<size_t>(index) >= catalogue_.size()) return;
    {
        const QSignalBlocker quiet(messages_);  // this is the load
        messages_->setCurrentRow(index);
    }
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

bool MainWindow::have_driver(const char* action) {
    if (driver()) return true;
    MessageBoxes::current().show(std::string("No driver object could be created: ") + action +
                                     " needs one. Choose a line type from the LineType menu to try again.",
                                 "Tarvo Example Client", this);
    return false;
}

void MainWindow::send_message() {
    if (!have_driver("sending")) return;
    ++shared_.transaction;
    const std::string text = compose();
    ITarvo* d = driver();
    d->SetOutTransactionID(shared_.transaction);
    call_with_text(d, &ITarvo::SendMessage, text);
    last_sent_ = text;
    members_to_controls();
}

void MainWindow::send_reply() {
    if (!have_driver("sending")) return;
    const std::string text = compose();
    call_with_text(driver(), &ITarvo::Reply, text);
    last_sent_ = text;
    members_to_controls();
}

void MainWindow::toggle_start() {
    if (!have_driver("starting the line")) return;
    if (stopping_ || releasing_ > 0 || closing_) return;  // the button is disabled meanwhile
    DriverConnection* c = connection();
    const std::shared_ptr<DriverConnection> held = client_.shared_connection(0);
    const uint64_t serial = c->serial();
    if (!c->active) {
        c->active = true;
        opening_ = true;
        auto status = std::make_shared<LONG>(0);
        calls_.run([held, status] { held->driver()->SetActive(1, status.get()); },
                   [this, serial, status] { opening_ended(serial, *status); });
    } else {
        // Also ends an opening that is still running.
        c->active = false;
        stopping_ = true;
        calls_.run(
            [held] {
                LONG status = 0;
                held->driver()->SetActive(0, &status);
            },
            [this, serial] {
                stopping_ = false;
                const DriverConnection* now = connection();
                if (now && now->serial() == serial && !closing_) AddOutputLine("port was closed");
                update_controls();
                update_status();
                finish_closing();
            });
    }
    update_controls();
    update_status();
}

void MainWindow::opening_ended(uint64_t serial, LONG status) {
    opening_ = false;
    DriverConnection* c = connection();
    // Stopped meanwhile (by the user or by closing): the stop says so.
    if (c && c->serial() == serial && c->active && !closing_) {
        if (status == 0) {
            if (c->line_type() == ltHSMS) {
                AddOutputLine("port is opening");  // the line keeps trying
            } else {
                c->active = false;
                AddOutputLine("port could not be opened");
            }
        } else if (c->line_type() == ltSECSI) {
            AddOutputLine("port was opened");
        } else {
            enum_HSMS_CONN_MODE mode = cmNONE;
            c->driver()->GetConnectionMode(&mode);
            AddOutputLine(mode == cmPASSIVE ? "port is opened - waiting for connections" : "port is opened");
        }
    }
    members_to_controls();
    update_controls();
    update_status();
    finish_closing();
}

// What can be pressed follows the calls that run: while an opening runs,
// "Stop" ends it, and nothing sends or changes the line type.
void MainWindow::update_controls() {
    const DriverConnection* c = connection();
    const bool line_busy = opening_ || stopping_ || releasing_ > 0;
    start_->setText(c && c->active ? "Stop" : "Start");
    start_->setEnabled(!closing_ && !stopping_ && releasing_ == 0);
    send_message_->setEnabled(!closing_ && !opening_ && releasing_ == 0);
    send_reply_->setEnabled(!closing_ && !opening_ && releasing_ == 0);
    line_menu_->setEnabled(!closing_ && !line_busy);
    const bool busy = line_busy || closing_;
    if (busy) {
        driver_area_->setCursor(Qt::BusyCursor);
        status_->setCursor(Qt::BusyCursor);
    } else {
        driver_area_->unsetCursor();
        status_->unsetCursor();
    }
}

QString MainWindow::status_line() const { return status_->text(); }

// The line as the driver has it: type, mode, where, and whether it is open
// and selected.
void MainWindow::update_status() {
    const DriverConnection* c = connection();
    ITarvo* d = driver();
    std::string text;
    if (!c) {
        text = "no line";
    } else if (!d) {
        text = "no driver object";
    } else {
        LONG active = 0;
        INT port = 0;
        d->GetActive(&active);
        d->GetPort(&port);
        if (c->line_type() == ltSECSI) {
            INT baud = 0;
            d->GetBaudRate(&baud);
            text = "SECS-I   port " + std::to_string(port) + ", " + std::to_string(baud) + " baud   " +
                   (active ? "port open" : "port closed");
        } else {
            enum_HSMS_CONN_MODE mode = cmNONE;
            d->GetConnectionMode(&mode);
            if (mode == cmNONE) mode = static_cast<enum_HSMS_CONN_MODE>(hsms_->fields().mode);
            const std::string host = text_of(d, &ITarvo::GetHost);
            INT selected = 0;
            d->GetPassvSelectedQuan(&selected);
            const char* mode_text = mode == cmACTIVE ? "active" : mode == cmPASSIVE ? "passive" : "alternating";
            std::string where = mode == cmPASSIVE ? "port " + std::to_string(port) : host + ":" + std::to_string(port);
            std::string state;
            if (!active) {
                state = "not connected";
            } else if (mode == cmPASSIVE) {
                state = selected > 0 ? std::to_string(selected) + " selected" : "listening, not selected";
            } else {
                state = "selected";
            }
            text = std::string("HSMS   ") + mode_text + "   " + where + "   " + state;
        }
        if (opening_) text += "   port is opening";
        if (stopping_) text += "   port is closing";
    }
    status_->setText(qt_text(text));
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
    // The view follows new lines only while the user looks at the end.
    QScrollBar* bar = output_->verticalScrollBar();
    const bool at_end = bar->value() >= bar->maximum();
    add_list_line(output_, qt_text(std::string(stamp) + " " + text));
    while (output_->count() > kOutputLines) delete output_->takeItem(0);
    if (at_end) output_->scrollToBottom();
}

// ---- driver events ------------------------------------------------------------------------

void MainWindow::Client::OnConnectionEvent(const DriverConnection& from, int code) {
    int message = WM_DRIVER_NOTIFY;
    int lparam = code;
    if (code == nSecsReservedRead) {
        message = WM_DRIVER_READ;
    } else if (code == nSecsReservedWrittenTrue || code == nSecsReservedWrittenFalse) {
        message = WM_DRIVER_WRITTEN;
        lparam = code == nSecsReservedWrittenTrue ? 1 : 0;
    }
    QCoreApplication::postEvent(window_, new DriverEvent(message, from.index(), lparam, from.serial()));
}

void MainWindow::customEvent(QEvent* event) {
    const int message = static_cast<int>(event->type()) - QEvent::User;
    if (message != WM_DRIVER_READ && message != WM_DRIVER_WRITTEN && message != WM_DRIVER_NOTIFY) {
        QDialog::customEvent(event);
        return;
    }
    const auto* e = static_cast<DriverEvent*>(event);
    // An event of an object that is gone (or going) says nothing about this one.
    const DriverConnection* c = connection();
    if (!c || e->serial != c->serial() || closing_) return;
    events_.push_back(*e);
    handle_events();
}

// In the order they were fired: a received message that is being taken
// holds back the events behind it.
void MainWindow::handle_events() {
    while (!reading_ && !events_.empty()) {
        const DriverEvent e = events_.front();
        events_.pop_front();
        if (e.message == WM_DRIVER_READ) {
            start_read();
        } else if (e.message == WM_DRIVER_WRITTEN) {
            AddOutputLine(e.lparam ? "message was sent successfully" : "message was not sent");
        } else {
            AddOutputLine(NotifyText(e.lparam));
            update_status();
        }
    }
}

// The message is taken off this thread: a large one costs the driver time.
void MainWindow::start_read() {
    const std::shared_ptr<DriverConnection> held = client_.shared_connection(0);
    if (!held || !held->driver()) return;
    reading_ = true;
    std::optional<ReceivedWindow::View> view;
    if (full_received_) view = received_->view();
    auto taken = std::make_shared<ReceivedMessage>();
    const uint64_t serial = held->serial();
    calls_.run([held, view, taken] { *taken = take_received(held->driver(), view); },
               [this, serial, taken] {
                   const DriverConnection* c = connection();
                   // Taken from an object that is gone meanwhile: nothing to show.
                   if (!c || c->serial() != serial || closing_) {
                       finish_closing();
                       return;
                   }
                   reading_ = false;
                   finish_read(*taken);
                   handle_events();
               });
}

void MainWindow::finish_read(const ReceivedMessage& m) {
    if (m.full) received_->set_text(qt_text(m.text));
    char line[48];
    std::snprintf(line, sizeof line, m.w != 0 ? "received S%dF%dW" : "received S%dF%d", m.stream, m.function);
    AddOutputLine(line);
    if (auto_reply_ && m.w != 0) auto_reply(m);
}

void MainWindow::auto_reply(const ReceivedMessage& m) {
    int match = -1;
    for (size_t i = 0; i < catalogue_.size() && match < 0; ++i) {
        const MsgEntry& e = catalogue_.entry(i);
        if (e.stream == m.stream && e.function == m.function + 1) match = static_cast<int>(i);
    }
    if (match >= 0) {
        select_entry(match);
    } else {
        s_text_ = std::to_string(m.stream);
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
