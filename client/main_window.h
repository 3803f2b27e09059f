// "Tarvo Example Client": pick a catalogue message, edit it, send it or send
// it as a reply, start and stop the line, watch received messages, send
// results and notifications in a time-stamped output list, and answer
// received primaries automatically.
//
// Driver events arrive on the driver's threads; the window's driver client
// only posts them to the window as events, which the window handles on its
// own thread in the order they were fired. Driver calls that may wait run on
// threads of their own, so the window never freezes.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include <QDialog>
#include <QEvent>

#include "client/background_calls.h"
#include "client/dialog_runner.h"
#include "client/driver_connection.h"
#include "client/msg_info.h"
#include "client/received_text.h"
#include "client/settings_values.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QKeyEvent;
class QMenu;
class QMenuBar;
class QPushButton;
class QTextEdit;
class QTimer;

namespace tarvo::client {

class DescriptionWindow;
class HsmsDialog;
class LogDialog;
class ReceivedWindow;
class Secs1Dialog;

// The three client messages, posted to the main window.
constexpr int WM_DRIVER_READ = 1827;
constexpr int WM_DRIVER_WRITTEN = 1828;
constexpr int WM_DRIVER_NOTIFY = 1829;

// A driver event as posted to the window: the message, the connection index
// (wParam) and the value (lParam), and the connection it came from, so that
// the events of a connection that is gone are dropped.
class DriverEvent : public QEvent {
public:
    static QEvent::Type type_of(int message) { return static_cast<QEvent::Type>(QEvent::User + message); }
    DriverEvent(int message, int wparam, int lparam, uint64_t serial = 0)
        : QEvent(type_of(message)), message(message), wparam(wparam), lparam(lparam), serial(serial) {}
    const int message, wparam, lparam;
    const uint64_t serial;
};

class MainWindow : public QDialog {
public:
    // Loads the catalogue from the first of `catalogue_folders` that holds it.
    explicit MainWindow(const std::vector<std::string>& catalogue_folders = {""});
    // Waits for the driver calls still running, then lets the connection go.
    ~MainWindow() override;

    // Start-up: the line type selector (its answer through `runner`; 0
    // closes the window), the settings dialog of the chosen line, the lists,
    // the companion windows. False when the user cancelled.
    bool start();

    // How modal dialogs run (tests answer them without showing them).
    DialogRunner runner = exec_runner();

    // ---- the user's actions --------------------------------------------------
    void choose_line_type(enum_SECS_LINE_TYPE type, bool from_menu);
    void select_entry(int index);       // a click on a line of "Messages", or a key that moves there
    void send_message();                // "Send message"
    void send_reply();                  // "Send Reply"
    // "Start" / "Stop". Opening and closing run off the window's thread; the
    // result line comes when the call has returned. While an opening runs,
    // the button reads "Stop" and ends it.
    void toggle_start();
    void toggle_description();          // "Open Description Window"
    void apply_full_received_rule();    // "Full recvd msg"
    void open_secs1_settings();
    void open_hsms_settings();
    void open_log_settings();
    // Keeps the last kOutputLines lines; follows the end only when the view
    // was at the end.
    void AddOutputLine(const std::string& text);
    static constexpr int kOutputLines = 10000;

    // ---- what tests and the screenshot mode look at --------------------------
    ITarvo* driver() const;
    DriverConnection* connection() const { return client_.connection(0); }
    const MsgInfo& catalogue() const { return catalogue_; }
    SharedValues& shared() { return shared_; }
    ReceivedWindow* received_window() const { return received_; }
    DescriptionWindow* description_window() const { return description_; }
    Secs1Dialog* secs1_dialog() const { return secs1_; }
    HsmsDialog* hsms_dialog() const { return hsms_; }
    LogDialog* log_dialog() const { return log_; }
    // Driver calls whose ending has not been handled yet.
    int calls_running() const { return calls_.running(); }
    QString status_line() const;

    // Closes the window once every driver call has returned; the connection
    // goes first, so no driver event is posted to a window that is going
    // away. An opening still running is ended.
    void done(int result) override;

protected:
    void customEvent(QEvent* event) override;
    // Escape never ends the program; Enter presses no button.
    void keyPressEvent(QKeyEvent* event) override;

private:
    class Client : public DriverClient {
    public:
        explicit Client(MainWindow* window) : window_(window) {}
        void OnConnectionEvent(const DriverConnection& from, int code) override;

    private:
        MainWindow* window_;
    };

    void build();
    void controls_to_members();
    void members_to_controls();
    std::string compose() const;
    bool have_driver(const char* action);  // else a message box says why
    bool first_time_for(enum_SECS_LINE_TYPE type, uint64_t& given);
    void handle_events();                  // the queued driver events, in order
    void start_read();
    void finish_read(const ReceivedMessage& m);
    void auto_reply(const ReceivedMessage& m);
    void opening_ended(uint64_t serial, LONG status);
    void release_connections();
    void finish_closing();
    void update_controls();
    void update_status();
    void fill_message_list();

    // Members (the window's state besides its controls).
    std::string s_text_, f_text_;
    bool w_ = false, auto_reply_ = false, full_received_ = false;
    std::string last_sent_;
    std::string line_type_text_;
    SharedValues shared_;
    bool description_visible_ = false;
    bool updating_ = false;  // members are being copied to the controls

    // Driver calls off the window's thread.
    bool opening_ = false;    // SetActive(1) runs
    bool stopping_ = false;   // SetActive(0) runs
    int releasing_ = 0;       // connections being let go
    bool reading_ = false;    // a received message is being taken
    bool closing_ = false;
    int close_result_ = 0;
    std::deque<DriverEvent> events_;  // driver events not handled yet
    // Which connection last received each dialog's values in full.
    uint64_t secs1_given_ = 0, hsms_given_ = 0;

    MsgInfo catalogue_;
    Client client_{this};

    // Controls.
    QListWidget *messages_, *short_description_, *output_;
    QPushButton *description_button_, *send_message_, *send_reply_, *start_, *clear_, *close_, *set_device_id_;
    QCheckBox *auto_reply_box_, *full_received_box_, *w_box_;
    QLineEdit *s_field_, *f_field_, *last_sent_field_;
    QTextEdit* body_;
    QLabel *line_type_label_, *status_;
    QWidget* driver_area_;
    QMenuBar* menu_;
    QMenu* line_menu_;
    QTimer* status_timer_;

    Secs1Dialog* secs1_;
    HsmsDialog* hsms_;
    LogDialog* log_;
    DescriptionWindow* description_;
    ReceivedWindow* received_;

    // Declared last: destroyed first, after the destructor has waited for it.
    BackgroundCalls calls_{this};
};

}  // namespace tarvo::client
