// Small helpers for the settings dialogs' forms: labelled fields, digit-only
// edits, and text that crosses between Qt and the driver one byte per
// character (Latin-1).
#pragma once

#include <string>

#include <QString>

class QFormLayout;
class QLineEdit;
class QWidget;

namespace tarvo::client {

inline QString qt_text(const std::string& bytes) { return QString::fromLatin1(bytes.data(), static_cast<int>(bytes.size())); }
inline std::string byte_text(const QString& text) { return text.toLatin1().toStdString(); }

// A line edit named `object_name` in a form row: `label`, the edit and, when
// given, the explanation beside it. Digits only when `digits_only`.
QLineEdit* add_field(QFormLayout* form, QWidget* parent, const char* object_name, const char* label,
                     const char* explanation, bool digits_only);

}  // namespace tarvo::client
