// TarvoClient2: the example client of the driver.
//
//   TarvoClient2                 the line type selector, then the main window
//   TarvoClient2 [options]       answers the start-up dialogs itself:
//     --line-type 37|40          HSMS or SECS-I
//     --port N --host A.B.C.D --mode 1|2|3 --master
//                                settings applied with the line's dialog
//     --start                    presses "Start"
//     --send S1F1W               selects that catalogue entry and sends it
//     --full [elements|sml|bytes]  "Full recvd msg" with that view
//     --auto-reply               "Auto Reply"
//     --screenshot FILE          waits until a message was received (or
//                                --wait-ms passed, default 5000), saves the
//                                main window as a PNG (and, with --full, the
//                                last-received-message window beside it as
//                                FILE with ".received" before the extension)
//                                and ends
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QRadioButton>
#include <QSpinBox>
#include <QStringList>
#include <QThread>

#include <cstdio>
#include <string>

#include "client/companion_windows.h"
#include "client/main_window.h"
#include "client/msg_info.h"

using namespace tarvo::client;

namespace {

struct Options {
    int line_type = 0;
    QString port, host, mode;
    bool master = false, start = false, auto_reply = false;
    QString send, full, screenshot;
    int wait_ms = 5000;
};

bool parse(const QStringList& args, Options& o) {
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](QString& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        QString v;
        if (a == "--line-type" && value(v)) {
            o.line_type = v.toInt();
        } else if (a == "--port" && value(o.port)) {
        } else if (a == "--host" && value(o.host)) {
        } else if (a == "--mode" && value(o.mode)) {
        } else if (a == "--master") {
            o.master = true;
        } else if (a == "--start") {
            o.start = true;
        } else if (a == "--auto-reply") {
            o.auto_reply = true;
        } else if (a == "--send" && value(o.send)) {
        } else if (a == "--full") {
            o.full = i + 1 < args.size() && !args[i + 1].startsWith("--") ? args[++i] : "elements";
        } else if (a == "--screenshot" && value(o.screenshot)) {
        } else if (a == "--wait-ms" && value(v)) {
            o.wait_ms = v.toInt();
        } else {
            std::fprintf(stderr, "TarvoClient2: unknown or incomplete option %s\n", a.toLocal8Bit().constData());
            return false;
        }
    }
    return true;
}

// Answers the start-up dialogs from the options: the selector with the line
// type, a line dialog with its fields filled in and OK.
DialogRunner option_runner(const Options& o) {
    return [o](QDialog& d) -> int {
        if (d.objectName() == "line_type_selector") return o.line_type;
        auto set = [&d](const char* name, const QString& text) {
            if (auto* e = d.findChild<QLineEdit*>(name); e && !text.isEmpty()) e->setText(text);
        };
        set("port", o.port);
        if (d.objectName() == "secs1_settings") {
            if (auto* m = d.findChild<QCheckBox*>("master")) m->setChecked(o.master);
        }
        if (d.objectName() == "hsms_settings") {
            const QStringList parts = o.host.split('.');
            for (int i = 0; i < 4 && parts.size() == 4; ++i) {
                if (auto* s = d.findChild<QSpinBox*>(QString("host_%1").arg(i + 1))) s->setValue(parts[i].toInt());
            }
            const char* mode = o.mode == "1" ? "passive" : o.mode == "2" ? "active" : o.mode == "3" ? "alternating" : nullptr;
            if (mode) d.findChild<QRadioButton*>(mode)->setChecked(true);
        }
        return QDialog::Accepted;
    };
}

bool output_has(MainWindow& w, const QString& needle) {
    auto* output = w.findChild<QListWidget*>("output");
    for (int i = 0; i < output->count(); ++i) {
        if (list_line_text(output->item(i)).contains(needle)) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("TarvoClient2");
    QApplication::setWindowIcon(QIcon(":/tarvo/client_icon.png"));
    Options o;
    if (!parse(app.arguments(), o)) return 2;

    MainWindow window(catalogue_folders(QCoreApplication::applicationDirPath().toStdString()));
    if (o.line_type != 0) window.runner = option_runner(o);
    if (!window.start()) return 0;
    window.runner = exec_runner();
    if (o.line_type == 0) return window.exec();

    window.show();
    if (o.auto_reply) window.findChild<QCheckBox*>("auto_reply")->click();
    if (!o.full.isEmpty()) {
        const char* view = o.full == "sml" ? "view_sml" : o.full == "bytes" ? "view_bytes" : "view_elements";
        window.received_window()->findChild<QRadioButton*>(view)->setChecked(true);
        window.findChild<QCheckBox*>("full_received")->click();
    }
    if (o.start) window.toggle_start();
    if (!o.send.isEmpty()) {
        // Give an active opening a moment to be selected.
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        for (size_t i = 0; i < window.catalogue().size(); ++i) {
            const MsgEntry& e = window.catalogue().entry(i);
            const QString name = QString("S%1F%2%3").arg(e.stream).arg(e.function).arg(e.reply_expected ? "W" : "");
            if (name == o.send) {
                window.select_entry(static_cast<int>(i));
                window.send_message();
                break;
            }
        }
    }
    if (o.screenshot.isEmpty()) return window.exec();

    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < o.wait_ms && !output_has(window, "received ")) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    bool ok = window.grab().save(o.screenshot);
    if (!o.full.isEmpty()) {
        const QFileInfo f(o.screenshot);
        const QString second = f.path() + "/" + f.completeBaseName() + ".received." + f.suffix();
        ok = window.received_window()->grab().save(second) && ok;
    }
    window.done(QDialog::Accepted);
    return ok ? 0 : 1;
}
