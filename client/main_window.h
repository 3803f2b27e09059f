// "Tarvo Example Client": pick a catalogue message, edit it, send it or send
// it as a reply, start and stop the line, watch received messages, send
// results and notifications in a time-stamped output list, and answer
// received primaries automatically.
//
// Driver events arrive on the driver's threads; the window's driver client
// only posts them to the window as events, which the window handles on its
// own thread in the order they were fired.
#pragma once

#include <memory>
#include <string>

#include <QDialog>
#include <QEvent>

#include "client/dialog_runner.h"
#include "client/driver_connection.h"
#include "client/msg_info.h"
#include "client/settings_values.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenuBar;
class QPushButton;
class QTextEdit;

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

class DriverEvent : public QEvent {
public:
    static QEvent::Type type_of(int message) { return static_cast<QEvent::Type>(QEvent::User + message); }
    DriverEvent(int message, int wparam, int lparam)
        : QEvent(type_of(message)), message(message), wparam(wparam), lparam(lparam) {}
    const int message, wparam, lparam;
};

class MainWindow : public QDialog {
public:
    // Loads the catalogue from the first of `catalogue_folders` that holds it.
    explicit MainWindow(const std::vector<std::string>& catalogue_folders = {""});
    ~MainWindow() override;

    // Start-up: the line type selector (its answer through `runner`; 0
    // closes the window), the settings dialog of the chosen line, the lists,
    // the companion windows. False when the user cancelled.
    bool start();

    // How modal dialogs run (tests answer them without showing them).
    DialogRunner runner = exec_runner();

    // ---- the user's actions --------------------------------------------------
    void choose_line_type(enum_SECS_LINE_TYPE type, bool from_menu);
    void select_entry(int index);       // a click on a line of "Messages"
    void send_message();                // "Send message"
    void send_reply();                  // "Send Reply"
    void toggle_start();                // "Start" / "Stop"
    void toggle_description();          // "Open Description Window"
    void apply_full_received_rule();    // "Full recvd msg"
    void open_secs1_settings();
    void open_hsms_settings();
    void open_log_settings();
    void AddOutputLine(const std::string& text);

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

    // Closes the window; the connection goes first, so no driver event is
    // posted to a window that is going away.
    void done(int result) override;

protected:
    void customEvent(QEvent* event) override;

private:
    class Client : public DriverClient {
    public:
        explicit Client(MainWindow* window) : window_(window) {}
        void OnDriverEvent(int index, int code) override;

    private:
        MainWindow* window_;
    };

    void build();
    void controls_to_members();
    void members_to_controls();
    std::string compose() const;
    void on_driver_read();
    void fill_message_list();
    void close_connections();

    // Members (Part of the window's state besides its controls).
    std::string s_text_, f_text_;
    bool w_ = false, auto_reply_ = false, full_received_ = false;
    std::string last_sent_;
    std::string line_type_text_;
    SharedValues shared_;
    bool description_visible_ = false;
    bool updating_ = false;  // members are being copied to the controls

    MsgInfo catalogue_;
    Client client_{this};

    // Controls.
    QListWidget *messages_, *short_description_, *output_;
    QPushButton *description_button_, *send_message_, *send_reply_, *start_, *clear_, *close_, *set_device_id_;
    QCheckBox *auto_reply_box_, *full_received_box_, *w_box_;
    QLineEdit *s_field_, *f_field_, *last_sent_field_;
    QTextEdit* body_;
    QLabel* line_type_label_;
    QMenuBar* menu_;

    Secs1Dialog* secs1_;
    HsmsDialog* hsms_;
    LogDialog* log_;
    DescriptionWindow* description_;
    ReceivedWindow* received_;
};

}  // namespace tarvo::client
