// The main window's two modeless companions: the description window
// ("Message Description ", one list) and the last-received-message window
// ("Last Received message", a text with three views to choose from).
#pragma once

#include <functional>

#include <QDialog>

class QListWidget;
class QRadioButton;
class QListWidgetItem;
class QPlainTextEdit;

namespace tarvo::client {

class DescriptionWindow : public QDialog {
public:
    explicit DescriptionWindow(QWidget* owner);
    QListWidget* list() const { return list_; }
    // Called when the window is closed from within itself (Escape).
    std::function<void()> on_closed_by_user;

protected:
    void reject() override;

private:
    QListWidget* list_;
};

class ReceivedWindow : public QDialog {
public:
    enum class View { elements, sml, bytes };
    explicit ReceivedWindow(QWidget* owner);
    View view() const;
    void set_text(const QString& text);
    QString text() const;

private:
    QPlainTextEdit* text_;
    QRadioButton *elements_, *sml_, *bytes_;
};

// A list line as a list box with tab stops shows it: every tab advances to
// the next multiple of `stop` characters.
QString expand_tabs(const QString& text, int stop = 8);
// Adds `text` as the last line of `list` (the tab-expanded text shown; a
// text with tabs is also kept as it is, as the item's Qt::UserRole data).
void add_list_line(QListWidget* list, const QString& text);
// The text a line was added with.
QString list_line_text(const QListWidgetItem* item);

}  // namespace tarvo::client
