#include "graphicalsession.h"

#include <cstdio>
#include <cstdlib>

#include "exitstatus.h"
#include "historysink.h"

namespace {

QtMessageHandler previousHandler = nullptr;
HistorySink *startupHistory = nullptr;

// Qt reports a window system it cannot reach as a fatal message while the application
// object is being made; nothing of the panel exists yet, so ending here loses nothing.
void onStartupMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtFatalMsg) {
        if (previousHandler)
            previousHandler(type, context, text);
        return;
    }
    const QByteArray message = GraphicalSession::message().toUtf8();
    std::fwrite(message.constData(), 1, size_t(message.size()), stderr);
    std::fflush(stderr);
    if (startupHistory) {
        // Qt's own text advises reinstalling, which cures no missing display: the
        // program's own explanation goes in instead, its English line.
        Q_UNUSED(text);
        const QString explained = GraphicalSession::message().section(QLatin1Char('\n'), 1, 1);
        startupHistory->append(QtCriticalMsg, "korvan.app",
                               QStringLiteral("no graphical session: ") + explained);
        startupHistory->flush();
    }
    std::_Exit(ExitStatus::NoGraphicalSession);
}

} // namespace

QString GraphicalSession::message()
{
    QStringList tried;
    for (const char *name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty())
            tried << QLatin1String(name) + QLatin1Char('=') + value;
    }
    const QString where = tried.join(QStringLiteral(", "));
    if (where.isEmpty())
        return QStringLiteral(
            "Korvan: panel operatora wymaga sesji graficznej, a nie wskazano ekranu (DISPLAY i "
            "WAYLAND_DISPLAY nie są ustawione). Uruchom go z pulpitu.\n"
            "Korvan: the operator panel needs a graphical session, and no display is named "
            "(DISPLAY and WAYLAND_DISPLAY are not set). Start it from a desktop.\n");
    return QStringLiteral("Korvan: panel operatora wymaga sesji graficznej, a ekran %1 jest "
                          "nieosiągalny. Uruchom go z pulpitu.\n"
                          "Korvan: the operator panel needs a graphical session, and the display "
                          "%1 cannot be reached. Start it from a desktop.\n")
        .arg(where);
}

std::unique_ptr<QApplication> GraphicalSession::start(int &argc, char **argv, HistorySink *history)
{
    startupHistory = history;
    previousHandler = qInstallMessageHandler(&onStartupMessage);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previousHandler);
    previousHandler = nullptr;
    startupHistory = nullptr;
    return app;
}
