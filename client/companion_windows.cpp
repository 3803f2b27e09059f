#include "client/companion_windows.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QListWidget>
#include <QRadioButton>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace tarvo::client {

QString expand_tabs(const QString& text, int stop) {
    QString out;
    int column = 0;
    for (const QChar c : text) {
        if (c == '\t') {
            const int spaces = stop - column % stop;
            out += QString(spaces, ' ');
            column += spaces;
        } else if (c == '\n') {
            out += c;
            column = 0;
        } else {
            out += c;
            ++column;
        }
    }
    return out;
}

void add_list_line(QListWidget* list, const QString& text) {
    const QString shown = expand_tabs(text);
    auto* item = new QListWidgetItem(shown);
    // One copy of a line without tabs: the shown text is the text.
    if (shown != text) item->setData(Qt::UserRole, text);
    list->addItem(item);
}

QString list_line_text(const QListWidgetItem* item) {
    const QVariant raw = item->data(Qt::UserRole);
    return raw.isValid() ? raw.toString() : item->text();
}

DescriptionWindow::DescriptionWindow(QWidget* owner) : QDialog(owner) {
    setObjectName("description_window");
    setWindowTitle("Message Description ");
    setModal(false);
    list_ = new QListWidget(this);
    list_->setObjectName("description_list");
    list_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    resize(460, 360);
}

void DescriptionWindow::reject() {
    hide();
    if (on_closed_by_user) on_closed_by_user();
}

ReceivedWindow::ReceivedWindow(QWidget* owner) : QDialog(owner) {
    setObjectName("received_window");
    setWindowTitle("Last Received message");
    setModal(false);
    // Plain text: a view of a large message lays out in a fraction of the time.
    text_ = new QPlainTextEdit(this);
    text_->setObjectName("received_text");
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text_->setTabStopDistance(8 * text_->fontMetrics().horizontalAdvance(' '));
    elements_ = new QRadioButton("Elements", this);
    elements_->setObjectName("view_elements");
    elements_->setChecked(true);
    sml_ = new QRadioButton("SML", this);
    sml_->setObjectName("view_sml");
    bytes_ = new QRadioButton("SECS-II Bytes", this);
    bytes_->setObjectName("view_bytes");
    auto* views = new QHBoxLayout;
    for (QRadioButton* b : {elements_, sml_, bytes_}) views->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addLayout(views);
    resize(520, 380);
}

ReceivedWindow::View ReceivedWindow::view() const {
    return sml_->isChecked() ? View::sml : bytes_->isChecked() ? View::bytes : View::elements;
}

void ReceivedWindow::set_text(const QString& text) { text_->setPlainText(text); }

QString ReceivedWindow::text() const { return text_->toPlainText(); }

}  // namespace tarvo::client
