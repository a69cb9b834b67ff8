#pragma once

#include <QString>

#include <exception>

namespace pixhold::app {

class IPrompt;

// The application title: task bar, message-box captions.
inline const QString AppTitle = QStringLiteral("Pixhold");

// The text of the standard error report: a full stop is appended when the last
// character sorts after "." (letters, digits, "?", "/" ...), not after ".",
// "!", ")" or a space. An empty text stays empty.
QString ErrorReportText(const QString& message);

// The standard error report: caption "Pixhold", error icon, OK only.
void ReportError(IPrompt& prompt, const QString& message);
// The same for an error caught as an exception (unknown ones get a general text);
// an operation abandoned on purpose shows nothing.
void ReportException(IPrompt& prompt, std::exception_ptr error);

}  // namespace pixhold::app
