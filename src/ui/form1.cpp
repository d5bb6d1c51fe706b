#include "form1.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTime>
#include <QTimer>
#include <QToolButton>

#include "accessibility.h"
#include "checkdigit.h"
#include "clocktext.h"
#include "errorreporter.h"
#include "form1layout.h"
#include "form2.h"
#include "inboundtext.h"
#include "logtext.h"
#include "longtextlabel.h"
#include "look.h"
#include "panellog.h"
#include "pictures.h"
#include "shapecontrol.h"

namespace L = Form1Layout;

namespace {

QString designName(char letter, int index)
{
    return QLatin1Char(letter) + QString::number(index);
}

template<typename Widget>
Widget *place(Widget *widget, const QString &name, Twips::Rect rect)
{
    widget->setObjectName(name);
    widget->setGeometry(Twips::toPixels(rect));
    return widget;
}

QLabel *label(QWidget *parent, const QString &name, Twips::Rect rect, const QString &caption)
{
    auto *l = place(new QLabel(caption, parent), name, rect);
    // Labels may show text from the network: never interpret it as markup.
    l->setTextFormat(Qt::PlainText);
    return l;
}

// The diagnostic labels lie beneath the frames; aligned to their top, their text stays
// under a frame and never shows in the gaps between frames.
QLabel *diagnosticLabel(QLabel *l, Twips::Rect rect)
{
    place(l, l->text(), rect);
    l->setTextFormat(Qt::PlainText);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

QToolButton *graphicalButton(QWidget *parent, const char *name, Twips::Rect rect,
                             const QString &caption, Pictures::Picture picture)
{
    auto *b = place(new QToolButton(parent), QLatin1String(name), rect);
    b->setText(caption);
    b->setIcon(Pictures::icon(picture));
    b->setIconSize(QSize(32, 32));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setFocusPolicy(Qt::StrongFocus);
    return b;
}

ShapeControl *indicator(QWidget *parent, const QString &name, Twips::Rect rect, qint16 outline)
{
    auto *s = place(new ShapeControl(parent), name, rect);
    s->setShape(outline);
    s->setBackColor(Bgr::Red);
    return s;
}

QGroupBox *frame(QWidget *parent, const char *name, const QString &caption, Twips::Rect rect)
{
    auto *f = place(new QGroupBox(caption, parent), QLatin1String(name), rect);
    // Opaque: it covers the diagnostic labels that lie beneath it.
    f->setAutoFillBackground(true);
    return f;
}

// The designed clock boxes are narrower than some regional texts ("12:05:09 PM") and
// lower than the 12-point font with its descenders: the box grows about its centre,
// within its frame, rather than cut the text.
void setClockText(QLabel *label, Twips::Rect design, const QString &text)
{
    label->setText(text);
    const QFontMetrics metrics = label->fontMetrics();
    const QSize needed(metrics.horizontalAdvance(text) + metrics.height() / 2, metrics.height());
    QRect box = Twips::toPixels(design);
    const QPoint centre = box.center();
    box.setSize(box.size().expandedTo(needed));
    box.moveCenter(centre);
    label->setGeometry(box.intersected(label->parentWidget()->contentsRect()));
}

} // namespace

Form1::Form1(quint16 listenPort, QWidget *parent)
    : QWidget(parent)
    , m_errors(new ErrorReporter(this))
    , m_inputLines(lcPanel, QStringLiteral("input changes"), HistoryBurst::Detail::LastEvent)
{
    Look::setUpWindow(this, QStringLiteral("Form1"), QStringLiteral("Korvan"),
                      Pictures::icon(Pictures::Picture::Panel),
                      Twips::toPixels(L::ClientWidth, L::ClientHeight));
    setAttribute(Qt::WA_DeleteOnClose);

    ui.Winsock1 = new SocketControl(this);
    ui.Winsock1->setObjectName(QStringLiteral("Winsock1"));
    ui.Winsock1->setLocalPort(listenPort);

    buildControls();
    Accessibility::describePanel({ui.S,
                                  ui.O,
                                  ui.I,
                                  ui.Shape1,
                                  ui.Timer1,
                                  ui.Command1,
                                  ui.Command2,
                                  ui.Shape2,
                                  ui.Text1,
                                  {ui.Label1, ui.Label2, ui.Label3}});
    connectHandlers();

    m_errors->run(QStringLiteral("Form_Load"), [this] { Form_Load(); });
    ui.Command1->setFocus();
}

void Form1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Centred on its first showing, when its frame is known.
    if (std::exchange(m_firstShow, false))
        Look::centreOnScreen(this);
}

Form1::~Form1() = default;

QString Form1::CalculateHexCheckDigit(const QString &TransponderData) const
{
    return ::CalculateHexCheckDigit(TransponderData);
}

void Form1::setLinkSettings(const SocketControl::Settings &settings)
{
    ui.Winsock1->setListenAddress(settings.listenAddress);
    ui.Winsock1->setAllowedPeers(settings.allowedPeers);
    ui.Winsock1->setDeadPeerTimeouts(settings.idleSeconds, settings.unacknowledgedSeconds);
}

void Form1::buildControls()
{
    // Diagnostic labels first: everything created after them lies above them.
    // Their design captions are their names.
    ui.Label1 = diagnosticLabel(new QLabel(QStringLiteral("Label1"), this), L::Label1);
    ui.Label2 = diagnosticLabel(new QLabel(QStringLiteral("Label2"), this), L::Label2);
    // Label3 shows whatever the controller sent, megabytes included.
    ui.Label3 = diagnosticLabel(new LongTextLabel(QStringLiteral("Label3"), this), L::Label3);

    ui.Text1 = place(new QLineEdit(QStringLiteral("Korvan v1.0"), this), QStringLiteral("Text1"),
                     L::Text1);
    ui.Text1->setAlignment(Qt::AlignCenter);
    ui.Text1->setFont(Look::designFont(Look::TitlePointSize, true));
    ui.Text1->setFocusPolicy(Qt::ClickFocus);
    Look::setTextColour(ui.Text1, Bgr::Blue);

    buildOutputSections();
    buildInputSection();
    buildCommandColumn();
    buildTimers();
    chainTabOrder();
}

void Form1::buildOutputSections()
{
    QGroupBox **sectionFrames[] = {&ui.Frame1, &ui.Frame3, &ui.Frame4};
    for (int s = 1; s <= Output::Sections; ++s) {
        const L::OutputSection &section = L::OutputSections[s - 1];
        QGroupBox *f = frame(this, section.frame, QString::fromUtf8(section.caption), section.rect);
        *sectionFrames[s - 1] = f;
        for (int n = 1; n <= Output::PerSection; ++n) {
            const int id = Output::designId(s, n);
            auto *button = place(new QPushButton(QString::number(n), f), designName('S', id),
                                 {L::column(L::OutputButtonLeft, n), section.buttonTop,
                                  L::OutputButtonWidth, L::OutputButtonHeight});
            button->setAutoDefault(false);
            ui.S[size_t(s - 1)][size_t(n - 1)] = button;
            ui.O[size_t(s - 1)][size_t(n - 1)]
                = indicator(f, designName('O', id),
                            {L::column(L::OutputIndicatorLeft, n), section.indicatorTop,
                             L::OutputIndicatorSide, L::OutputIndicatorSide},
                            L::OutputIndicatorDesignShape);
        }
    }
}

void Form1::buildInputSection()
{
    ui.Frame5 = frame(this, L::InputFrame, QString::fromUtf8(L::InputCaption), L::InputFrameRect);
    for (int k = 1; k <= Inbound::InputCount; ++k) {
        ui.I[size_t(k - 1)] = indicator(ui.Frame5, designName('I', k),
                                        {L::column(L::InputIndicatorLeft, k), L::InputIndicatorTop,
                                         L::InputIndicatorWidth, L::InputIndicatorHeight},
                                        L::InputIndicatorDesignShape);
        QLabel *number
            = label(ui.Frame5, QStringLiteral("Label%1").arg(L::FirstNumberLabel + k - 1),
                    {L::column(L::NumberLabelLeft, k), L::NumberLabelTop, L::NumberLabelSide,
                     L::NumberLabelSide},
                    QString::number(k));
        number->setFont(Look::designFont(Look::DefaultPointSize, true));
        Look::setTextColour(number, Bgr::Blue);
        ui.InputNumbers[size_t(k - 1)] = number;
    }
}

void Form1::buildCommandColumn()
{
    ui.Frame2 = frame(this, "Frame2", QString(), L::Frame2);
    QWidget *column = ui.Frame2;
    ui.Command1
        = graphicalButton(column, "Command1", L::Command1, QStringLiteral("Rozpocznij nasłuch"),
                          Pictures::Picture::TrafficLightGreen);
    ui.Shape1 = indicator(column, QStringLiteral("Shape1"), L::Shape1, ShapeControl::Rectangle);
    ui.Shape1->setFillColor(L::BarFillColor);
    ui.Command2
        = graphicalButton(column, "Command2", L::Command2, QStringLiteral("Zakończ nasłuch"),
                          Pictures::Picture::TrafficLightRed);
    ui.Command2->setEnabled(false);
    ui.Shape2 = indicator(column, QStringLiteral("Shape2"), L::Shape2, ShapeControl::Rectangle);
    ui.Shape2->setFillColor(L::BarFillColor);
    ui.Host = label(column, QStringLiteral("Host"), L::Host, QStringLiteral("Host:"));
    ui.IP = label(column, QStringLiteral("IP"), L::IP, QStringLiteral("IP:"));
    ui.Port1 = label(column, QStringLiteral("Port1"), L::Port1, QStringLiteral("Port:"));
    for (QLabel *info : {ui.Host, ui.IP, ui.Port1})
        Look::setTextColour(info, Bgr::DarkBlue);
    ui.Label12 = label(column, QStringLiteral("Label12"), L::Label12, QString());
    ui.Label13 = label(column, QStringLiteral("Label13"), L::Label13, QString());
    for (QLabel *clock : {ui.Label12, ui.Label13}) {
        clock->setAlignment(Qt::AlignCenter);
        clock->setFont(Look::designFont(Look::ClockPointSize, true));
        Look::setTextColour(clock, Bgr::DarkBlue);
    }
    ui.Command10
        = graphicalButton(column, "Command10", L::Command10, QStringLiteral("O programie..."),
                          Pictures::Picture::Information);
    ui.Command20 = place(new QPushButton(QStringLiteral("Zakończ program"), column),
                         QStringLiteral("Command20"), L::Command20);
    ui.Command20->setAutoDefault(false);
}

void Form1::buildTimers()
{
    ui.Timer1 = new QTimer(this);
    ui.Timer1->setObjectName(QStringLiteral("Timer1"));
    ui.Timer1->setInterval(L::Timer1Interval);
    ui.Timer2 = new QTimer(this);
    ui.Timer2->setObjectName(QStringLiteral("Timer2"));
    ui.Timer2->setInterval(L::Timer2Interval);
    // Enabled by design: the clock runs from the window's creation, whatever start-up does.
    ui.Timer2->start();
}

void Form1::chainTabOrder()
{
    // Command2 (while enabled), Command1, Command10, S11 … S38, Command20.
    QWidget *previous = ui.Command2;
    auto chain = [&previous](QWidget *next) {
        QWidget::setTabOrder(previous, next);
        previous = next;
    };
    chain(ui.Command1);
    chain(ui.Command10);
    for (const auto &section : ui.S) {
        for (QPushButton *button : section)
            chain(button);
    }
    chain(ui.Command20);
}

void Form1::connectHandlers()
{
    ErrorReporter &e = *m_errors;
    e.connectHandler(ui.Command1, &QAbstractButton::clicked, "Click", this, &Form1::Command1_Click);
    e.connectHandler(ui.Command2, &QAbstractButton::clicked, "Click", this, &Form1::Command2_Click);
    for (int s = 1; s <= Output::Sections; ++s) {
        for (int n = 1; n <= Output::PerSection; ++n) {
            e.connectHandler(ui.S[size_t(s - 1)][size_t(n - 1)], &QAbstractButton::clicked, "Click",
                             this, &Form1::S_Click, Output::designId(s, n));
        }
    }
    e.connectHandler(ui.Timer1, &QTimer::timeout, "Timer", this, &Form1::Timer1_Timer);
    e.connectHandler(ui.Timer2, &QTimer::timeout, "Timer", this, &Form1::Timer2_Timer);
    e.connectHandler(ui.Winsock1, &SocketControl::connectionRequest, "ConnectionRequest", this,
                     &Form1::Winsock1_ConnectionRequest);
    e.connectHandler(ui.Winsock1, &SocketControl::dataArrival, "DataArrival", this,
                     &Form1::Winsock1_DataArrival);
    e.connectHandler(ui.Winsock1, &SocketControl::errorOccurred, "Error", this,
                     &Form1::Winsock1_Error);
    e.connectHandler(ui.Winsock1, &SocketControl::connectionEnded, "ConnectionEnded", this,
                     &Form1::Winsock1_ConnectionEnded);
    e.connectHandler(ui.Command10, &QAbstractButton::clicked, "Click", this,
                     &Form1::Command10_Click);
    e.connectHandler(ui.Command20, &QAbstractButton::clicked, "Click", this,
                     &Form1::Command20_Click);
    e.setAdvice([this] { return adviceAfterFailure(); });
}

ErrorReporter::Advice Form1::adviceAfterFailure() const
{
    // A failed tick leaves Timer1 off while supervision still counts as running.
    if (ui.Command2->isEnabled() && !ui.Timer1->isActive()) {
        return {QStringLiteral("Nadzór łącza został wstrzymany: panel nie nasłuchuje."),
                QStringLiteral("Naciśnij „Zakończ nasłuch”, usuń przyczynę (na przykład zamknij "
                               "program, który zajmuje port %1), a potem naciśnij „Rozpocznij "
                               "nasłuch”.")
                    .arg(m.ListenPort.value_or(0))};
    }
    return {QStringLiteral("Ta czynność panelu nie została dokończona; panel działa dalej."),
            QStringLiteral("Jeśli błąd się powtarza, przekaż ten komunikat integratorowi.")};
}

void Form1::Form_Load()
{
    for (const auto &section : ui.O) {
        for (ShapeControl *output : section)
            output->setShape(0);
    }
    m.InputState.fill(0);
    ui.IP->setText(ui.Winsock1->LocalIP());
    ui.Host->setText(ui.Winsock1->LocalHostName());
    m.ListenPort = ui.Winsock1->LocalPort();
    // Read back from the labels just set, as designed: a caption shows what its label holds.
    ui.IP->setText(QStringLiteral("IP: ") + ui.IP->text());
    ui.Host->setText(QStringLiteral("Host: ") + ui.Host->text());
    ui.Port1->setText(QStringLiteral("Port: ") + QString::number(*m.ListenPort));
}

void Form1::Command1_Click()
{
    ui.Timer1->start();
    ui.Command1->setEnabled(false);
    ui.Command2->setEnabled(true);
    qCInfo(lcPanel, "supervision started");
}

void Form1::Command2_Click()
{
    ui.Timer1->stop();
    ui.Command1->setEnabled(true);
    ui.Command2->setEnabled(false);
    ui.Shape2->setBackColor(Bgr::Red);
    qCInfo(lcPanel, "supervision stopped");
}

void Form1::buildFrame()
{
    m.FrameText.clear();
    OutputShapes shapes {};
    for (size_t s = 0; s < shapes.size(); ++s) {
        for (size_t n = 0; n < shapes[s].size(); ++n)
            shapes[s][n] = ui.O[s][n]->shape();
    }
    m.FrameText = frameStateText(shapes);
    m.CheckInput = m.FrameText;
    m.CheckDigitValue = CalculateHexCheckDigit(m.CheckInput);
    m.FrameText += m.CheckDigitValue;
    ui.Label2->setText(m.FrameText);
    ui.Label1->setText(m.CheckDigitValue);
}

void Form1::S_Click(int designId)
{
    ShapeControl *output
        = ui.O[size_t(Output::sectionOf(designId) - 1)][size_t(Output::numberOf(designId) - 1)];
    if (const auto toggle = toggledOutput(output->shape())) {
        output->setShape(toggle->shape);
        output->setBackColor(toggle->backColor);
    }
    buildFrame();

    try {
        ui.Winsock1->SendData(wireFrame(m.FrameText));
        qCInfo(lcPanel, "output %s %s, frame %s sent", qUtf8Printable(output->objectName()),
               output->shape() == 1 ? "on" : "off", qUtf8Printable(m.FrameText));
    } catch (const std::exception &e) {
        qCWarning(lcPanel, "output %s: frame %s not sent, output goes off: %s",
                  qUtf8Printable(output->objectName()), qUtf8Printable(m.FrameText), e.what());
        // exec() is application-modal: no window takes input until the operator closes the
        // box, but its own event loop goes on handling watchdog ticks, the clock and socket
        // events. Owned by the window, so a window destroyed meanwhile takes the box with it.
        QPointer<Form1> self(this);
        auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Korvan"),
                                    QStringLiteral("Brak połączenia ze sterownikiem...."),
                                    QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("SendFailure"));
        box->setTextFormat(Qt::PlainText);
        box->exec();
        if (!self)
            return;
        delete box;
        output->setShape(0);
        output->setBackColor(Bgr::Red);
    }
}

void Form1::Timer1_Timer()
{
    switch (const BgrColor heartbeat = ui.Shape1->backColor(); heartbeat) {
    case Bgr::Red:
        ui.Shape1->setBackColor(Bgr::Blue);
        break;
    case Bgr::Blue:
        ui.Shape1->setBackColor(Bgr::Green);
        break;
    case Bgr::Green:
        ui.Shape1->setBackColor(Bgr::Red);
        break;
    default:
        break;
    }
    ui.Timer1->stop();

    SocketControl &socket = *ui.Winsock1;
    auto closable = [](qint16 s) {
        return s == SocketControl::sckClosed || s == SocketControl::sckListening
            || s == SocketControl::sckError;
    };
    qint16 S = socket.State();
    // Read again before each step though nothing in one thread can change it meanwhile:
    // each step stands on its own, so moving or dropping one never acts on a stale value.
    if (S == SocketControl::sckClosed) {
        S = socket.State();
        if (closable(S))
            socket.Close();
        S = socket.State();
        if (S == SocketControl::sckClosed)
            socket.Listen();
    } else if (S == SocketControl::sckError) {
        S = socket.State();
        if (closable(S))
            socket.Close();
    }

    // Last step: the next 500 ms start now.
    ui.Timer1->start();
}

void Form1::Timer2_Timer()
{
    // The clock is read twice, the time first.
    setClockText(ui.Label12, L::Label12, ClockText::time(QLocale::system(), QTime::currentTime()));
    setClockText(ui.Label13, L::Label13, ClockText::date(QLocale::system(), QDate::currentDate()));
}

void Form1::Winsock1_ConnectionRequest(qint32 requestID)
{
    try {
        if (ui.Winsock1->State() != SocketControl::sckClosed)
            ui.Winsock1->Close();
        ui.Winsock1->Accept(requestID);
        ui.Label3->setText(QString::number(requestID));
    } catch (const std::exception &) {
        // A request that cannot be accepted is dropped without a word; the watchdog makes
        // the socket listen again.
    }
}

void Form1::Winsock1_DataArrival(qint32)
{
    const auto inputsBefore = m.InputState;
    ui.Winsock1->GetData(m.ReceivedText);
    ui.IP->setText(ui.Winsock1->RemoteHostIP());
    if (Inbound::isIdentification(m.ReceivedText)) {
        ui.Shape2->setBackColor(Bgr::Green);
        qCInfo(lcPanel, "controller %s identified",
               qUtf8Printable(LogText::escaped(ui.Winsock1->RemoteHostIP())));
    }
    ui.Label3->setText(m.ReceivedText);
    for (int k = 1; k <= Inbound::InputCount; ++k) {
        m.InputChar = Inbound::inputChar(m.ReceivedText, k).toString();
        const quint8 state = Inbound::stateOf(m.InputChar);
        m.InputState[size_t(k - 1)] = state;
        if (const auto colour = Inbound::indicatorColour(state))
            ui.I[size_t(k - 1)]->setBackColor(*colour);
    }
    if (m.InputState != inputsBefore)
        m_inputLines.add(
            QStringLiteral("inputs %1 from %2")
                .arg(LogText::inputStates(m.InputState), LogText::receivedText(m.ReceivedText)));
}

void Form1::Winsock1_Error(qint32, const QString &)
{
    ui.IP->setText(ui.Winsock1->RemoteHostIP());
}

// However the controller's connection ended, the link bar must not go on saying "linked";
// it turns green again only when a controller identifies itself.
void Form1::Winsock1_ConnectionEnded(SocketControl::Ending)
{
    ui.Shape2->setBackColor(Bgr::Red);
}

void Form1::Command10_Click()
{
    Form2::showInstance();
}

void Form1::Command20_Click()
{
    close();
}
