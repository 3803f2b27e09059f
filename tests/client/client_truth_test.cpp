// The window under real-world use: it never freezes while a driver call
// waits, Stop and Close end an opening at once, the dialogs' values are what
// a new driver object uses, keys do what a desktop user expects, events of a
// driver object that is gone are dropped, the status line tells the truth,
// and large messages and long runs stay cheap.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTextEdit>
#include <QTimer>

#include <cstdlib>
#include <string>

#include "client/line_type_selector.h"
#include "platform/sanitizers.h"
#include "tests/client/window_fixture.h"

namespace tarvo::client_test {
namespace {

constexpr int kSlack = kUnderSanitizer ? 4 : 1;

// A loopback listener that never accepts: a connect succeeds (the backlog
// takes it) and no Select.rsp ever comes.
class SilentListener {
public:
    SilentListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 4);
        socklen_t size = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size);
        port_ = ntohs(a.sin_port);
    }
    ~SilentListener() { ::close(fd_); }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

void press(QWidget* w, int key) {
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &down);
}

class Opening : public ::testing::Test {
protected:
    void SetUp() override {
        qt_app();
        test::register_component();
        window = make_window();
        window->runner = hsms_runner(listener.port(), "active", [](QDialog& d) {
            if (auto* t6 = d.findChild<QLineEdit*>("t6")) t6->setText("3000");
        });
        ASSERT_TRUE(window->start());
        start = window->findChild<QPushButton*>("start");
    }
    long long ms_since(const QElapsedTimer& t) const { return t.elapsed(); }

    SilentListener listener;
    std::unique_ptr<client::MainWindow> window;
    QPushButton* start = nullptr;
};

// An active opening waits T6 for a Select.rsp that never comes; the window's
// own timer keeps ticking all the while, and the result comes at the end.
TEST_F(Opening, TheWindowKeepsTickingWhileALineOpens) {
    QTimer ticker;
    int ticks = 0;
    long long longest_gap = 0;
    QElapsedTimer since_tick;
    since_tick.start();
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++ticks;
        longest_gap = std::max<long long>(longest_gap, since_tick.restart());
    });
    ticker.start(50);
    QElapsedTimer took;
    took.start();
    window->toggle_start();
    EXPECT_EQ(start->text(), "Stop");
    EXPECT_TRUE(start->isEnabled()) << "Stop ends the opening";
    EXPECT_FALSE(window->findChild<QPushButton*>("send_message")->isEnabled());
    EXPECT_FALSE(window->findChild<QMenu*>("menu_line_type")->isEnabled());
    EXPECT_TRUE(window->status_line().contains("port is opening"));
    EXPECT_EQ(count_of(*window, "port is opening"), 0) << "the result line comes when the call returns";
    ASSERT_TRUE(pump_until([&] { return window->calls_running() == 0; }, 10000));
    const long long elapsed = took.elapsed();
    std::printf("SetActive(1) took %lld ms; the GUI timer ticked %d times, longest gap %lld ms\n", elapsed, ticks,
                longest_gap);
    EXPECT_GE(elapsed, 2900);
    EXPECT_GE(ticks, static_cast<int>(elapsed / 50 / 2));
    EXPECT_LT(longest_gap, 250 * kSlack);
    EXPECT_EQ(count_of(*window, "port is opening"), 1);
    EXPECT_EQ(start->text(), "Stop") << "the line is still wanted: it keeps trying";
    EXPECT_TRUE(window->findChild<QPushButton*>("send_message")->isEnabled());
    EXPECT_TRUE(window->findChild<QMenu*>("menu_line_type")->isEnabled());
}

// Stop and Close during the opening end it within 250 ms; the window closes
// once the call has returned, and the line is gone with it.
TEST_F(Opening, StopAndCloseEndAnOpeningAtOnce) {
    for (const bool close : {false, true}) {
        SCOPED_TRACE(close ? "Close" : "Stop");
        window->toggle_start();
        pump_until([] { return false; }, 300);
        ASSERT_EQ(window->calls_running(), 1);
        QElapsedTimer took;
        took.start();
        if (close) {
            window->done(QDialog::Accepted);
            EXPECT_EQ(window->result(), 0) << "not closed while the call runs";
        } else {
            start->click();
        }
        ASSERT_TRUE(pump_until([&] { return window->calls_running() == 0 && !window->connection() == close; }));
        std::printf("%s during an opening took %lld ms\n", close ? "Close" : "Stop", took.elapsed());
        EXPECT_LT(took.elapsed(), 250 * kSlack);
        if (close) {
            EXPECT_EQ(window->result(), QDialog::Accepted);
            EXPECT_EQ(window->connection(), nullptr);
        } else {
            EXPECT_EQ(start->text(), "Start");
            EXPECT_EQ(count_of(*window, "port was closed"), 1);
            EXPECT_EQ(count_of(*window, "port is opening"), 0);
        }
    }
}

// HSMS (active, T3 7000, device 222) -> SECS-I (OK unchanged) -> HSMS
// (Cancel): every object uses what the dialogs show, the log settings
// included.
TEST(DialogTruth, ANewDriverObjectUsesWhatTheDialogsShow) {
    qt_app();
    test::register_component();
    DriverSide equipment;
    const int port = test::free_port();
    start_equipment(equipment, port);
    auto window = make_window();
    int result = QDialog::Accepted;
    window->runner = hsms_runner(port, "active", [&result](QDialog& d) {
        if (d.objectName() != "hsms_settings") return;
        if (result == QDialog::Accepted) {
            d.findChild<QLineEdit*>("t3")->setText("7000");
            d.findChild<QLineEdit*>("out_device_id")->setText("222");
        }
    });
    ASSERT_TRUE(window->start());
    window->runner = [](QDialog& d) {
        if (auto* box = d.findChild<QCheckBox*>("mask_64")) box->setChecked(false);  // "Line records" off
        return QDialog::Rejected;  // Escape: the log dialog applies all the same
    };
    window->open_log_settings();
    auto check = [&](const char* where, enum_SECS_LINE_TYPE type) {
        SCOPED_TRACE(where);
        ITarvo* d = window->driver();
        ASSERT_NE(d, nullptr);
        enum_SECS_LINE_TYPE t{};
        d->GetLineType(&t);
        EXPECT_EQ(t, type);
        LONG t3 = 0, device = 0;
        INT mask = 0;
        d->GetT3(&t3);
        d->GetOutDeviceID(&device);
        d->GetLogAdjust(&mask);
        EXPECT_EQ(t3, window->shared().t3);  // what the dialog showed
        EXPECT_EQ(device, 222);
        EXPECT_EQ(mask, 5135);
    };
    window->runner = [](QDialog&) { return QDialog::Accepted; };
    window->choose_line_type(ltSECSI, true);
    check("SECS-I after OK unchanged", ltSECSI);
    result = QDialog::Rejected;
    window->runner = hsms_runner(port, "passive", [](QDialog&) {});  // edits that Cancel throws away
    window->runner = [inner = window->runner](QDialog& d) {
        inner(d);
        return QDialog::Rejected;
    };
    ASSERT_TRUE(pump_until([&] { return window->calls_running() == 0; }));
    window->choose_line_type(ltHSMS, true);
    check("HSMS after Cancel", ltHSMS);
    // The dialog showed "Active": the line opens actively and is selected.
    ASSERT_TRUE(pump_until([&] { return window->calls_running() == 0; }));  // the SECS-I object is gone
    window->toggle_start();
    ASSERT_TRUE(pump_until([&] { return window->calls_running() == 0; }));
    enum_HSMS_CONN_MODE mode = cmNONE;
    window->driver()->GetConnectionMode(&mode);
    EXPECT_EQ(mode, cmACTIVE);
    EXPECT_TRUE(equipment.sink->wait_for(DISPID_OnSecsNotify, nHSMSConnectionPassivePlus, 1, 3s));
    window.reset();
    equipment.release();
}

TEST_F(Window, KeysDoWhatADesktopUserExpects) {
    for (QPushButton* b : window->findChildren<QPushButton*>()) {
        if (b->window() != window.get()) continue;  // the dialogs' own buttons
        EXPECT_FALSE(b->autoDefault()) << b->objectName().toStdString();
        EXPECT_FALSE(b->isDefault()) << b->objectName().toStdString();
    }
    auto* body = window->findChild<QTextEdit*>("body");
    auto* s_field = window->findChild<QLineEdit*>("s_field");
    auto* messages = window->findChild<QListWidget*>("messages");
    auto* description = window->findChild<QPushButton*>("description_button");
    const QString description_text = description->text();
    // Escape anywhere, Enter in S or F: nothing happens.
    for (QWidget* w : std::initializer_list<QWidget*>{body, s_field, window.get()}) press(w, Qt::Key_Escape);
    press(s_field, Qt::Key_Return);
    pump_until([] { return false; }, 50);
    EXPECT_EQ(window->result(), 0);
    EXPECT_NE(window->connection(), nullptr) << "the line is still there";
    EXPECT_EQ(description->text(), description_text);
    // Arrow keys in the message list load the entry they land on.
    messages->setCurrentRow(0);
    for (int row = 1; row <= 2; ++row) {
        press(messages, Qt::Key_Down);
        const auto& e = window->catalogue().entry(static_cast<size_t>(row));
        EXPECT_EQ(s_field->text().toInt(), e.stream) << row;
        EXPECT_EQ(window->findChild<QLineEdit*>("f_field")->text().toInt(), e.function) << row;
    }
    press(messages, Qt::Key_Return);
    EXPECT_EQ(window->calls_running(), 0);
    EXPECT_EQ(description->text(), description_text);
    // The line type selector: no default, Enter takes the focused choice,
    // Escape cancels.
    client::LineTypeSelector selector;
    for (QPushButton* b : selector.findChildren<QPushButton*>()) EXPECT_FALSE(b->autoDefault() || b->isDefault());
    for (const auto& [name, want] : {std::pair{"hsms", int{ltHSMS}}, std::pair{"secs1", int{ltSECSI}}}) {
        selector.setResult(-1);
        QWidget* radio = selector.findChild<QWidget*>(name);
        radio->setFocus();
        press(radio, Qt::Key_Return);
        EXPECT_EQ(selector.result(), want) << name;
    }
    selector.setResult(-1);
    press(selector.findChild<QWidget*>("hsms"), Qt::Key_Escape);
    EXPECT_EQ(selector.result(), QDialog::Rejected);
}

// Events of a driver object that is gone are dropped; the status line and
// the button follow the line's truth.
TEST_F(Window, TheWindowTellsTheTruthAboutTheLine) {
    EXPECT_EQ(window->findChild<QPushButton*>("start")->text(), "Stop");
    window->findChild<QCheckBox*>("full_received")->click();
    ASSERT_TRUE(pump_until([&] { return window->status_line().contains("selected"); }));
    EXPECT_TRUE(window->status_line().startsWith("HSMS   active   127.0.0.1:" + QString::number(port_)))
        << window->status_line().toStdString();
    const uint64_t old = window->connection()->serial();
    // The peer goes away: the line is still wanted, and no longer selected.
    equipment.release();
    ASSERT_TRUE(pump_until([&] { return window->status_line().contains("not connected"); }, 5000))
        << window->status_line().toStdString();
    EXPECT_EQ(window->findChild<QPushButton*>("start")->text(), "Stop");
    // A late read of the old object reaches the new one never.
    window->runner = [](QDialog&) { return QDialog::Accepted; };
    window->choose_line_type(ltSECSI, true);
    const QString shown = window->received_window()->text();
    QCoreApplication::postEvent(window.get(), new client::DriverEvent(client::WM_DRIVER_READ, 0, 51, old));
    QCoreApplication::postEvent(window.get(), new client::DriverEvent(client::WM_DRIVER_NOTIFY, 0, 12, old));
    ASSERT_TRUE(pump_until([&] { return window->calls_running() == 0; }));
    for (const std::string& l : output()) {
        EXPECT_EQ(l.find("received"), std::string::npos) << l;
        EXPECT_EQ(l.find("T3 timeout"), std::string::npos) << l;
    }
    EXPECT_EQ(window->received_window()->text(), shown);
    EXPECT_EQ(window->findChild<QPushButton*>("start")->text(), "Start");
    EXPECT_TRUE(window->status_line().startsWith("SECS-I   port 1, 19200 baud   port closed"))
        << window->status_line().toStdString();
}

TEST(NoDriver, StartAndSendSayWhy) {
    qt_app();
    RecordedBoxes boxes;
    // An empty registration store: the driver cannot be created.
    const std::string store = "/tmp/tarvo-client-empty-" + std::to_string(::getpid());
    const char* was = std::getenv("TARVO_REGISTRY");
    const std::string before = was ? was : "";
    ::setenv("TARVO_REGISTRY", store.c_str(), 1);
    auto window = make_window();
    window->runner = [](QDialog& d) { return d.objectName() == "line_type_selector" ? int{ltHSMS} : 1; };
    ASSERT_TRUE(window->start());
    if (was) ::setenv("TARVO_REGISTRY", before.c_str(), 1); else ::unsetenv("TARVO_REGISTRY");
    EXPECT_EQ(window->findChild<QLabel*>("line_type")->text(), "HSMS (no driver object)");
    EXPECT_EQ(window->status_line(), "no driver object");
    ASSERT_EQ(boxes.shown.size(), 1u);  // the creation failure
    window->toggle_start();
    window->send_message();
    window->send_reply();
    ASSERT_EQ(boxes.shown.size(), 4u);
    EXPECT_NE(boxes.shown[1].find("starting the line needs one"), std::string::npos) << boxes.shown[1];
    EXPECT_NE(boxes.shown[2].find("sending needs one"), std::string::npos) << boxes.shown[2];
    EXPECT_EQ(window->calls_running(), 0);
}

// Each view shows at most 1 MiB of text and says what it left out; the
// output keeps its last 10 000 lines and leaves a reader where they are.
TEST_F(Window, LargeMessagesAndLongRunsStayCheap) {
    window->findChild<QCheckBox*>("full_received")->click();
    client::ReceivedWindow* r = window->received_window();
    std::string big = "S6F11 <B";
    for (int i = 0; i < 300000; ++i) big += " 7";
    big += ">";
    std::string many = "S6F11 <L";
    for (int i = 0; i < 60000; ++i) many += " <A 'value of an element'>";
    many += ">";
    const struct {
        const char* view;
        const std::string& text;
        const char* left_out;
    } rows[] = {
        {"view_bytes", big, "bytes not shown]"},
        {"view_sml", big, "characters not shown]"},
        {"view_elements", many, "elements not shown]"},
    };
    int reads = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.view);
        r->findChild<QRadioButton*>(row.view)->setChecked(true);
        equipment_sends(row.text);
        ++reads;
        ASSERT_TRUE(pump_until([&] { return count_of(*window, "received S6F11") == reads; }, 20000));
        const std::string shown = r->text().toStdString();
        EXPECT_LE(shown.size(), client::kShownTextLimit + 64);
        EXPECT_GT(shown.size(), client::kShownTextLimit - 1000);
        EXPECT_EQ(shown.substr(shown.size() - std::string(row.left_out).size()), row.left_out);
    }
    auto* output = window->findChild<QListWidget*>("output");
    const int kept = client::MainWindow::kOutputLines;
    for (int i = 0; i < kept + 5; ++i) window->AddOutputLine("line " + std::to_string(i));
    EXPECT_EQ(output->count(), kept);
    EXPECT_TRUE(client::list_line_text(output->item(kept - 1)).endsWith(" line " + QString::number(kept + 4)));
    EXPECT_TRUE(client::list_line_text(output->item(0)).endsWith(" line 5"));
    output->verticalScrollBar()->setValue(0);  // the user reads older lines
    window->AddOutputLine("one more");
    EXPECT_EQ(output->verticalScrollBar()->value(), 0);
}

}  // namespace
}  // namespace tarvo::client_test
