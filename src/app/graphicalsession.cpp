#include "graphicalsession.h"

#include <cstdlib>
#include <optional>

#include "exitstatus.h"
#include "historysink.h"
#include "userconsole.h"

namespace {

struct HeldMessage
{
    QtMsgType type;
    QByteArray category;
    QString text;
};

QtMessageHandler previousHandler = nullptr;
HistorySink *startupHistory = nullptr;
bool makingApplication = false;
// Set while a message box's application object is made.
std::optional<int> boxStatus;
QList<HeldMessage> held;

const char *categoryOf(const HeldMessage &message)
{
    return message.category.isNull() ? nullptr : message.category.constData();
}

// Qt reports a window system it cannot reach as a fatal message while the application
// object is being made; nothing of the panel exists yet, so ending here loses nothing.
void onStartupMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtFatalMsg) {
        held.append({type, QByteArray(context.category), text});
        return;
    }
    if (!makingApplication) {
        if (previousHandler)
            previousHandler(type, context, text);
        return;
    }
    if (boxStatus)
        std::_Exit(*boxStatus);
    UserConsole::print(UserConsole::Stream::Error, GraphicalSession::message());
    if (startupHistory) {
        for (const HeldMessage &message : std::as_const(held))
            startupHistory->append(message.type, categoryOf(message), message.text);
        // Qt's own text advises reinstalling, which cures no missing display: the
        // program's own explanation goes in instead, its English line.
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
    makingApplication = true;
    auto app = std::make_unique<QApplication>(argc, argv);
    makingApplication = false;
    startupHistory = nullptr;
    return app;
}

void GraphicalSession::release(HistorySink *history)
{
    qInstallMessageHandler(previousHandler);
    previousHandler = nullptr;
    const QList<HeldMessage> messages = std::exchange(held, {});
    if (history)
        history->install();
    for (const HeldMessage &message : messages) {
        if (history)
            history->append(message.type, categoryOf(message), message.text);
        else
            qt_message_output(message.type,
                              QMessageLogContext(nullptr, 0, nullptr, categoryOf(message)),
                              message.text);
    }
}

std::unique_ptr<QApplication> GraphicalSession::startForBox(int &argc, char **argv, int status)
{
    boxStatus = status;
    const QtMessageHandler previous = qInstallMessageHandler(&onStartupMessage);
    makingApplication = true;
    auto app = std::make_unique<QApplication>(argc, argv);
    makingApplication = false;
    qInstallMessageHandler(previous);
    boxStatus.reset();
    held.clear();
    return app;
}

bool GraphicalSession::showsWindows()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}
