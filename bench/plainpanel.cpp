// The baseline: the panel's window rebuilt from stock Qt widgets, with the same controls,
// texts, fonts, geometry and timers, but none of the panel's own code (no socket, no
// handlers, no drawn pictures). What the panel costs beyond it is the panel's own.
#include <QApplication>
#include <QDateTime>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QToolButton>

#include <cstdio>

#include "firstshownprobe.h"
#include "form1layout.h"
#include "look.h"
#include "procstats.h"

namespace {

namespace L = Form1Layout;

template<typename Widget>
Widget *placed(Widget *widget, Twips::Rect rect)
{
    widget->setGeometry(Twips::toPixels(rect));
    return widget;
}

QWidget *indicator(QWidget *parent, Twips::Rect rect)
{
    auto *box = placed(new QWidget(parent), rect);
    box->setAutoFillBackground(true);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Window, Look::toQColor(Bgr::Red));
    box->setPalette(palette);
    return box;
}

QLabel *label(QWidget *parent, const QString &text, Twips::Rect rect, qreal points = 0)
{
    auto *l = placed(new QLabel(text, parent), rect);
    l->setTextFormat(Qt::PlainText);
    if (points > 0)
        l->setFont(Look::designFont(points, true));
    return l;
}

QToolButton *toolButton(QWidget *parent, const QString &text, Twips::Rect rect,
                        QStyle::StandardPixmap icon)
{
    auto *b = placed(new QToolButton(parent), rect);
    b->setText(text);
    b->setIcon(parent->style()->standardIcon(icon));
    b->setIconSize(QSize(32, 32));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    return b;
}

struct PlainPanel
{
    QWidget window;
    QLabel *time = nullptr;
    QLabel *date = nullptr;
    QWidget *heartbeat = nullptr;

    PlainPanel()
    {
        window.setWindowTitle(QStringLiteral("Korvan"));
        window.setPalette(Look::designPalette());
        window.setFont(Look::designFont(Look::DefaultPointSize, false));
        window.setFixedSize(Twips::toPixels(L::ClientWidth, L::ClientHeight));
        label(&window, QStringLiteral("Label1"), L::Label1);
        label(&window, QStringLiteral("Label2"), L::Label2);
        label(&window, QStringLiteral("Label3"), L::Label3);
        auto *banner = placed(new QLineEdit(QStringLiteral("Korvan v1.0"), &window), L::Text1);
        banner->setAlignment(Qt::AlignCenter);
        banner->setFont(Look::designFont(Look::TitlePointSize, true));
        outputSections();
        inputSection();
        commandColumn();
        tick();
    }

    void outputSections()
    {
        for (const L::OutputSection &section : L::OutputSections) {
            auto *frame
                = placed(new QGroupBox(QString::fromUtf8(section.caption), &window), section.rect);
            for (int n = 1; n <= 8; ++n) {
                placed(new QPushButton(QString::number(n), frame),
                       {L::column(L::OutputButtonLeft, n), section.buttonTop, L::OutputButtonWidth,
                        L::OutputButtonHeight});
                indicator(frame,
                          {L::column(L::OutputIndicatorLeft, n), section.indicatorTop,
                           L::OutputIndicatorSide, L::OutputIndicatorSide});
            }
        }
    }
    void inputSection()
    {
        auto *inputs
            = placed(new QGroupBox(QString::fromUtf8(L::InputCaption), &window), L::InputFrameRect);
        for (int k = 1; k <= 8; ++k) {
            indicator(inputs,
                      {L::column(L::InputIndicatorLeft, k), L::InputIndicatorTop,
                       L::InputIndicatorWidth, L::InputIndicatorHeight});
            label(inputs, QString::number(k),
                  {L::column(L::NumberLabelLeft, k), L::NumberLabelTop, L::NumberLabelSide,
                   L::NumberLabelSide},
                  Look::DefaultPointSize);
        }
    }
    void commandColumn()
    {
        auto *column = placed(new QGroupBox(&window), L::Frame2);
        toolButton(column, QStringLiteral("Rozpocznij nasłuch"), L::Command1, QStyle::SP_MediaPlay);
        heartbeat = indicator(column, L::Shape1);
        toolButton(column, QStringLiteral("Zakończ nasłuch"), L::Command2, QStyle::SP_MediaStop)
            ->setEnabled(false);
        indicator(column, L::Shape2);
        label(column, QStringLiteral("Host: ") + QSysInfo::machineHostName(), L::Host);
        label(column, QStringLiteral("IP: 127.0.0.1"), L::IP);
        label(column, QStringLiteral("Port: 6165"), L::Port1);
        time = label(column, QString(), L::Label12, Look::ClockPointSize);
        date = label(column, QString(), L::Label13, Look::ClockPointSize);
        time->setAlignment(Qt::AlignCenter);
        date->setAlignment(Qt::AlignCenter);
        toolButton(column, QStringLiteral("O programie..."), L::Command10,
                   QStyle::SP_MessageBoxInformation);
        placed(new QPushButton(QStringLiteral("Zakończ program"), column), L::Command20);
    }

    // The same repaints as the panel's clock and heartbeat.
    void tick()
    {
        const QDateTime now = QDateTime::currentDateTime();
        time->setText(QLocale().toString(now.time(), QStringLiteral("HH:mm:ss")));
        date->setText(QLocale().toString(now.date(), QLocale::ShortFormat));
    }
    void beat()
    {
        static const BgrColor cycle[] = {Bgr::Red, Bgr::Blue, Bgr::Green};
        static int step = 0;
        QPalette palette = heartbeat->palette();
        palette.setColor(QPalette::Window, Look::toQColor(cycle[++step % 3]));
        heartbeat->setPalette(palette);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QStringList args = QCoreApplication::arguments();
    const bool idle = args.size() >= 3 && args.at(1) == u"idle";
    if (!idle)
        new FirstShownProbe(&app);

    PlainPanel panel;
    QTimer clock, watchdog;
    QObject::connect(&clock, &QTimer::timeout, &app, [&panel] { panel.tick(); });
    QObject::connect(&watchdog, &QTimer::timeout, &app, [&panel] { panel.beat(); });
    clock.start(L::Timer2Interval);
    watchdog.start(L::Timer1Interval);
    panel.window.show();
    if (idle) {
        std::printf("port 0\n");
        std::fflush(stdout);
        ProcStats::reportIdleCpu(args.at(2).toInt());
    }
    return QApplication::exec();
}
