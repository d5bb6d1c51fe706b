#include "errorreporter.h"

#include <QMessageBox>
#include <QWidget>

ErrorReporter::ErrorReporter(QWidget *window)
    : QObject(window)
    , m_window(window)
{
}

QString ErrorReporter::handlerName(const QObject *sender, const char *event)
{
    return sender->objectName() + u'_' + QLatin1String(event);
}

void ErrorReporter::report(const QString &handler, const QString &description) noexcept
{
    try {
        Q_EMIT reported(handler, description);
        m_open.removeIf([](const auto &entry) { return entry.value().isNull(); });
        if (m_open.contains(description))
            return;
        const Advice advice = m_advice
            ? m_advice()
            : Advice {QStringLiteral("Ta czynność panelu nie została dokończona."),
                      QStringLiteral("Jeśli błąd się powtarza, przekaż ten komunikat "
                                     "integratorowi.")};
        auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Korvan"), description,
                                    QMessageBox::Ok, m_window);
        box->setObjectName(QStringLiteral("UnexpectedError"));
        box->setTextFormat(Qt::PlainText);
        box->setInformativeText(advice.consequence + u'\n' + advice.action);
        // The handler's name means nothing to an operator; integrators find it here.
        box->setDetailedText(QStringLiteral("Zdarzenie: ") + handler);
        box->setAttribute(Qt::WA_DeleteOnClose);
        // Non-modal: no nested event loop, so no half-finished handler can be re-entered.
        box->setWindowModality(Qt::NonModal);
        box->show();
        m_open.insert(description, box);
    } catch (...) {
        // Reporting must not become a second failure crossing the event loop.
    }
}
