#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QSessionManager>
#include <QStyleFactory>

#include "applog.h"
#include "commandline.h"
#include "exitstatus.h"
#include "form1.h"
#include "graphicalsession.h"
#include "historysink.h"
#include "korvanversion.h"
#include "panelsettings.h"
#include "pictures.h"
#include "plantpublisher.h"
#include "singleinstance.h"
#include "stopsignals.h"
#include "userconsole.h"

#include <functional>
#include <optional>

namespace {

using UserConsole::Stream;

QString describe(const PanelSettings &settings, const QString &historyPath)
{
    QStringList allowed;
    for (const auto &[address, prefix] : settings.allowedPeers)
        allowed << address.toString() + QLatin1Char('/') + QString::number(prefix);
    const QString broker = settings.broker
        ? settings.broker->url() + QStringLiteral(" under ") + settings.broker->topic
        : QStringLiteral("none");
    return QStringLiteral("listens on %1 port %2 once supervision starts, allowed: %3, dead peer "
                          "after %4 s idle or %5 s unacknowledged, history in %6, settings "
                          "files %7 and %8, broker %9")
        .arg(settings.listenAddress == QHostAddress(QHostAddress::Any)
                 ? QStringLiteral("every address")
                 : settings.listenAddress.toString())
        .arg(SocketControl::DesignLocalPort)
        .arg(allowed.isEmpty() ? QStringLiteral("anyone") : allowed.join(QStringLiteral(", ")))
        .arg(settings.idleSeconds)
        .arg(settings.unacknowledgedSeconds)
        .arg(historyPath, PanelSettings::systemFile(), PanelSettings::userFile(), broker);
}

void showBox(QMessageBox::Icon icon, const QString &text)
{
    QMessageBox box(icon, QStringLiteral("Korvan"), text.trimmed(), QMessageBox::Ok);
    // What a file or an option held is shown as written, never as markup.
    box.setTextFormat(Qt::PlainText);
    // Above the running panel's window, which a second start has just brought to the front.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}

// A message that ends the start, printed; in a box as well when nobody reads the output
// (started from a desktop's menu, the Start menu or Explorer). Returns status once the box
// is closed.
int tell(int &argc, char **argv, Stream stream, const QString &text, int status)
{
    const bool read = UserConsole::attach();
    UserConsole::print(stream, text);
    if (read)
        return status;
    const auto app = GraphicalSession::startForBox(argc, argv, status);
    if (GraphicalSession::showsWindows())
        showBox(status == ExitStatus::Ok ? QMessageBox::Information : QMessageBox::Critical, text);
    return status;
}

// A second start on a desktop also says so in a box; without a screen to show it on,
// standard error is enough.
void tellAlreadyRunning(bool raised)
{
    const QString text = (raised ? QStringLiteral("Korvan: Panel Korvan jest już uruchomiony; "
                                                  "jego okno przeniesiono na wierzch.\n")
                                 : QStringLiteral("Korvan: Panel Korvan jest już uruchomiony.\n"))
        + QStringLiteral("Korvan: the panel is already running; this start ends.\n");
    UserConsole::attach();
    UserConsole::print(Stream::Error, text);
    if (GraphicalSession::showsWindows())
        showBox(QMessageBox::Information, text);
}

// Also where the settings and the history are kept.
void nameApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral(KORVAN_PRODUCT_NAME));
    QCoreApplication::setApplicationName(QStringLiteral(KORVAN_PRODUCT_NAME));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVAN_VERSION_TEXT));
}

// Options first: --help and --version need no display, and a bad option must not open a
// window. Returns the status to end with, or nothing when the panel is to run.
std::optional<int> answerOptions(int &argc, char **argv, CommandLine &commandLine)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    switch (commandLine.parse(arguments)) {
    case CommandLine::Outcome::ShowHelp:
        return tell(argc, argv, Stream::Output, commandLine.helpText(), ExitStatus::Ok);
    case CommandLine::Outcome::ShowVersion:
        return tell(argc, argv, Stream::Output, CommandLine::versionText() + QLatin1Char('\n'),
                    ExitStatus::Ok);
    case CommandLine::Outcome::UsageError: {
        const QString text = QStringLiteral("korvan: błędna opcja, panel nie zostanie uruchomiony "
                                            "/ bad option, the panel does not start:\n  ")
            + commandLine.errorText() + QStringLiteral("\n\n") + commandLine.helpText();
        return tell(argc, argv, Stream::Error, text, ExitStatus::UsageError);
    }
    case CommandLine::Outcome::Run:
        break;
    }
    return std::nullopt;
}

// On a fault, tells it and leaves in status what the start ends with.
std::optional<PanelSettings> loadSettings(int &argc, char **argv, const CommandLine &commandLine,
                                          int &status)
{
    PanelSettings::Fault fault;
    auto settings = PanelSettings::load(PanelSettings::systemFile(), PanelSettings::userFile(),
                                        commandLine, &fault);
    if (!settings) {
        status = tell(argc, argv, Stream::Error,
                      QStringLiteral("korvan: błąd ustawień, panel nie zostanie uruchomiony / "
                                     "settings error, the panel does not start:\n  ")
                          + fault.message + QLatin1Char('\n'),
                      fault.inCommandLine ? ExitStatus::UsageError : ExitStatus::SettingsError);
    }
    return settings;
}

HistorySink::Options historyOptions(const PanelSettings &settings)
{
    HistorySink::Options options;
    options.path = settings.logFile.isEmpty() ? HistorySink::defaultPath() : settings.logFile;
    options.copyToStderr = HistorySink::stderrIsWatched();
    return options;
}

void dressApplication()
{
    // Lets the desktop match the windows to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(KORVAN_DESKTOP_NAME));
    QApplication::setWindowIcon(Pictures::icon(Pictures::Picture::Panel));
    // One style on every platform, so the design looks the same on Linux and Windows.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
}

// False when another panel runs: this start has then told so and ends.
bool claimTheOnePanel(SingleInstance &instance, HistorySink &history)
{
    switch (instance.claim()) {
    case SingleInstance::Claim::AlreadyRunning:
        // The running panel writes this to the history: two writers would share its file.
        GraphicalSession::release(nullptr);
        tellAlreadyRunning(instance.askRunningToShow());
        return false;
    case SingleInstance::Claim::Unavailable:
        GraphicalSession::release(&history);
        qCWarning(lcApp, "the one-panel check is unavailable (%s); starting anyway",
                  qUtf8Printable(instance.errorText()));
        break;
    case SingleInstance::Claim::First:
        GraphicalSession::release(&history);
        break;
    }
    return true;
}

void comeToFrontOnRequest(SingleInstance &instance, const QPointer<Form1> &form)
{
    QObject::connect(&instance, &SingleInstance::showRequested, form, [form] {
        qCInfo(lcApp, "a second start refused; this panel's window comes to the front");
        form->setWindowState(form->windowState() & ~Qt::WindowMinimized);
        form->show();
        form->raise();
        form->activateWindow();
    });
}

// Connects at once, not when supervision starts, and stays for the whole run.
std::unique_ptr<PlantPublisher> startPublishing(const PanelSettings &settings, Form1 &form)
{
    if (!settings.broker)
        return nullptr;
    return std::make_unique<PlantPublisher>(*settings.broker, form);
}

// Who asked the panel to stop (nobody: its own "Zakończ program"), and whether the end
// line is written; it is written once.
struct Ending
{
    QString stoppedBy;
    bool written = false;
};

void writeEnd(Ending &ending)
{
    if (std::exchange(ending.written, true))
        return;
    if (ending.stoppedBy.isEmpty())
        qCInfo(lcApp, "%s ended", KORVAN_VERSION_RECORD);
    else
        qCInfo(lcApp, "%s ended by %s", KORVAN_VERSION_RECORD, qUtf8Printable(ending.stoppedBy));
}

// A stop asked for by the system ends the panel as "Zakończ program" does, whatever window
// is open; the end line then says who asked. Windows ends a program at log-off or shut-down
// as soon as this returns: finish does there what the normal end does after the event loop.
void endOnRequest(StopSignals &stopSignals, Ending &ending, std::function<void()> finish)
{
    QObject::connect(&stopSignals, &StopSignals::stopRequested, qApp,
                     [&ending](const QString &name) {
                         ending.stoppedBy = name;
                         qCInfo(lcApp, "%s received: the panel ends", qUtf8Printable(name));
                         QApplication::closeAllWindows();
                         QCoreApplication::quit();
                     });
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, qApp, [&ending](QSessionManager &) {
        ending.stoppedBy = QStringLiteral("session end");
    });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp,
                     [&ending, finish = std::move(finish)] {
                         if (ending.stoppedBy != QLatin1String("session end"))
                             return;
                         QApplication::closeAllWindows();
                         finish();
                     });
}

} // namespace

int main(int argc, char *argv[])
{
    nameApplication();
    CommandLine commandLine;
    if (const auto status = answerOptions(argc, argv, commandLine))
        return *status;
    int refused = ExitStatus::Ok;
    const auto settings = loadSettings(argc, argv, commandLine, refused);
    if (!settings)
        return refused;

    // Installed only once this start is the one panel: a refused start's own messages
    // would land in the running panel's file.
    HistorySink history(historyOptions(*settings));
    const auto app = GraphicalSession::start(argc, argv, &history);
    dressApplication();
    SingleInstance instance(SingleInstance::defaultFolder());
    if (!claimTheOnePanel(instance, history))
        return ExitStatus::AlreadyRunning;

    QPointer<Form1> form = new Form1;
    form->setLinkSettings(settings->link());
    std::unique_ptr<PlantPublisher> publisher = startPublishing(*settings, *form);
    comeToFrontOnRequest(instance, form);

    Ending ending;
    StopSignals stopSignals;
    endOnRequest(stopSignals, ending, [&] {
        delete form;
        publisher.reset();
        writeEnd(ending);
        history.flush();
    });

    qCInfo(lcApp, "%s started: %s", KORVAN_VERSION_RECORD,
           qUtf8Printable(describe(*settings, history.path())));
    form->show();
    const int status = QApplication::exec();
    publisher.reset();
    writeEnd(ending);
    return status;
}
