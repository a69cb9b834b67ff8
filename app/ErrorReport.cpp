#include "ErrorReport.h"

#include "DatasetError.h"
#include "Prompt.h"

#include <stdexcept>

namespace pixhold::app {

QString ErrorReportText(const QString& message) {
    if (!message.isEmpty() && message.back() > QChar(u'.')) {
        return message + u'.';
    }
    return message;
}

void ReportError(IPrompt& prompt, const QString& message) {
    prompt.Message(AppTitle, ErrorReportText(message), TMsgIcon::Error);
}

void ReportException(IPrompt& prompt, std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const engine::EAbort&) {
        // Abandoned on purpose (an error handler chose to abort): nothing to show.
    } catch (const std::exception& e) {
        ReportError(prompt, QString::fromUtf8(e.what()));
    } catch (...) {
        ReportError(prompt, QStringLiteral("Unknown error"));
    }
}

}  // namespace pixhold::app
