#include "errorreporter.h"

#include <QMessageBox>
#include <QWidget>

#include "panellog.h"

ErrorReporter::ErrorReporter(QWidget *window)
    : QObject(window)
    , m_window(window)
{
}

void ErrorReporter::report(const char *handler, const QString &description) noexcept
{
    try {
        qCCritical(lcPanel, "unexpected error in %s: %s", handler, qUtf8Printable(description));
        Q_EMIT reported(QLatin1String(handler), description);
        m_open.removeIf([](const auto &entry) { return entry.value().isNull(); });
        if (m_open.contains(description))
            return;
        auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Korvan"), description,
                                    QMessageBox::Ok, m_window);
        box->setTextFormat(Qt::PlainText);
        box->setInformativeText(QStringLiteral("Zdarzenie: %1").arg(QLatin1String(handler)));
        box->setAttribute(Qt::WA_DeleteOnClose);
        // Non-modal: no nested event loop, so no half-finished handler can be re-entered.
        box->setWindowModality(Qt::NonModal);
        box->show();
        m_open.insert(description, box);
    } catch (...) {
        // Reporting must not become a second failure crossing the event loop.
    }
}
