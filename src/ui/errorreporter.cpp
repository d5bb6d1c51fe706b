#include "errorreporter.h"

#include <QMessageBox>
#include <QWidget>

#include "panellog.h"

const QString ErrorReporter::IntegratorPrefix = QStringLiteral("Dla integratora: zdarzenie ");

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
        qCCritical(lcPanel, "unexpected error in %s: %s", qUtf8Printable(handler),
                   qUtf8Printable(description));
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
        // The handler's name means nothing to an operator; it goes last, for integrators.
        // Not as detailed text: its button would be the only English word in the panel.
        box->setInformativeText(advice.consequence + u'\n' + advice.action + u"\n\n"
                                + IntegratorPrefix + handler);
        box->setAttribute(Qt::WA_DeleteOnClose);
        // Non-modal: no nested event loop, so no half-finished handler can be re-entered.
        box->setWindowModality(Qt::NonModal);
        box->show();
        m_open.insert(description, box);
    } catch (...) {
        // Reporting must not become a second failure crossing the event loop.
    }
}
