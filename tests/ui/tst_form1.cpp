#include <QAccessible>
#include <QGroupBox>
#include <QHostInfo>
#include <QMetaEnum>
#include <QScreen>

#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include <algorithm>

#include "boxcloser.h"
#include "clocktext.h"
#include "connectedpanel.h"
#include "form2.h"
#include "longtextlabel.h"

using namespace Qt::StringLiterals;

namespace {

// What assistive technology was told since the last clear.
struct Told
{
    QMultiMap<QAccessible::Event, QString> events; // each event's object
    QStringList checked; // whose checked state changed, in order
    QStringList said; // what the window's announcements said, one entry per announcement
};
Told told;

void record(QAccessibleEvent *e)
{
    const QString object = e->object() ? e->object()->objectName() : QString();
    told.events.insert(e->type(), object);
    if (e->type() == QAccessible::StateChanged
        && static_cast<QAccessibleStateChangeEvent *>(e)->changedStates().checked)
        told.checked << object;
    if (e->type() == QAccessible::ObjectShow && object == u"Announcements"_s)
        told.said << e->accessibleInterface()->text(QAccessible::Name);
}

QString roleName(QAccessible::Role role)
{
    return QLatin1String(QMetaEnum::fromType<QAccessible::Role>().valueToKey(role));
}

// The window itself or the object of that name in it.
QAccessibleInterface *accessible(QWidget &window, const QString &name)
{
    return QAccessible::queryAccessibleInterface(
        window.objectName() == name ? &window : window.findChild<QObject *>(name));
}

} // namespace

// The main window and the About window as the operator meets them and as a screen reader
// tells them, and the long-text label drawing only what can show.
class TestForm1 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // Offscreen, nothing asks for accessibility and Qt drops every event; there is no
        // public switch, so do what a screen reader's request does.
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
        QAccessible::installUpdateHandler(record);
        QVERIFY(QAccessible::isActive());
    }
    void cleanupTestCase() { QAccessible::installUpdateHandler(nullptr); }
    void init() { told = {}; }

    void startUp()
    {
        Form1 form; // the design port: start-up reads it but nothing listens yet
        const Form1::Controls &ui = form.controls();
        QCOMPARE(ui.IP->text(), QStringLiteral("IP: ") + ui.Winsock1->LocalIP());
        QCOMPARE(ui.Host->text(), QStringLiteral("Host: ") + QHostInfo::localHostName());
        QCOMPARE(ui.Port1->text(), QStringLiteral("Port: 6165"));
        for (const ShapeControl *shape : form.findChildren<ShapeControl *>())
            QVERIFY2(shape->backColor() == Bgr::Red, qPrintable(shape->objectName()));
        QVERIFY(!ui.Timer1->isActive() && ui.Timer2->isActive()); // nothing listens yet
        QCOMPARE(ui.Winsock1->State(), SocketControl::sckClosed);
        QCOMPARE(ui.Label3->textFormat(), Qt::PlainText); // network text is never markup
        QCOMPARE(form.minimumSize(), form.maximumSize()); // the operator cannot resize it
    }

    // The frames hide the diagnostic labels lying beneath them, whatever those hold.
    void framesHideDiagnosticLabels()
    {
        Form1 form(0);
        const Form1::Controls &ui = form.controls();
        const QList<QLabel *> labels {ui.Label1, ui.Label2, ui.Label3};
        for (QLabel *label : labels)
            label->setText(QString(400, u'W'));
        const QImage shown = form.grab().toImage();
        for (QLabel *label : labels)
            label->hide();
        const QImage hidden = form.grab().toImage();
        for (const QGroupBox *frame : {ui.Frame1, ui.Frame2, ui.Frame3, ui.Frame4, ui.Frame5}) {
            const QRect box(frame->geometry().topLeft() * form.devicePixelRatio(),
                            frame->size() * form.devicePixelRatio());
            QVERIFY2(shown.copy(box) == hidden.copy(box), qPrintable(frame->objectName()));
        }
    }

    // Each control in its container, with its caption.
    void captions_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QString>("caption");
        const auto row = [](const char *control, const char *container, const char *caption) {
            QTest::newRow(control) << QString::fromLatin1(control) << QString::fromLatin1(container)
                                   << QString::fromUtf8(caption);
        };
        row("Text1", "Form1", "Korvan v1.0");
        row("Frame1", "Form1", "Sekcja Output1");
        row("Frame5", "Form1", "Sekcja Input");
        row("S11", "Frame1", "1");
        row("S35", "Frame4", "5");
        row("Label11", "Frame5", "8");
        row("Command1", "Frame2", "Rozpocznij nasłuch");
        row("Command2", "Frame2", "Zakończ nasłuch");
        row("Command10", "Frame2", "O programie...");
        row("Command20", "Frame2", "Zakończ program");
    }
    void captions()
    {
        QFETCH(QString, control);
        QFETCH(QString, container);
        QFETCH(QString, caption);
        Form1 form(0);
        const QWidget *w = form.findChild<QWidget *>(control);
        QVERIFY(w);
        QCOMPARE(w->parentWidget()->objectName(), container);
        QCOMPARE(w->property(qobject_cast<const QGroupBox *>(w) ? "title" : "text").toString(),
                 caption);
    }

    // On its first showing, centred with its frame as the operator sees it; the focus goes
    // Command2 (while enabled), Command1, Command10, S11 … S38, Command20, passing over a
    // disabled button.
    void shown_data()
    {
        QTest::addColumn<QString>("first"); // where the tab order starts
        QTest::newRow("centred with frame") << QString();
        QTest::newRow("tab order at start-up") << u"Command1"_s;
        QTest::newRow("tab order supervising") << u"Command2"_s;
    }

    void shown()
    {
        QFETCH(QString, first);
        Form1 form(0);
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        if (first.isEmpty()) {
            QVERIFY2(form.frameGeometry() != form.geometry(), "no window frame to centre");
            QCOMPARE(form.frameGeometry().center(), form.screen()->availableGeometry().center());
            return;
        }
        if (first == u"Command2") {
            QTest::keyClick(form.windowHandle(), Qt::Key_Space); // on Command1, the focus
            form.controls().Command2->setFocus();
        }
        QString order = first + u" Command10";
        for (int output = 0; output < 24; ++output)
            order += QStringLiteral(" S%1%2").arg(output / 8 + 1).arg(output % 8 + 1);
        order += u" Command20 " + first;
        QStringList visited;
        for (qsizetype i = order.count(u' '); i >= 0; --i) {
            visited << QApplication::focusWidget()->objectName();
            QTest::keyClick(form.windowHandle(), Qt::Key_Tab);
        }
        QCOMPARE(visited.join(u' '), order);
    }

    // Long time formats as locales write them, with the zone wherever they put it.
    void zoneLeftOut_data()
    {
        QTest::addColumn<QString>("row"); // as the locale has it|without the zone
        for (const char *row : {"HH:mm:ss t|HH:mm:ss", "t HH:mm:ss|HH:mm:ss",
                                "h:mm:ss AP, t|h:mm:ss AP", "'kl'. HH:mm:ss tttt|'kl'. HH:mm:ss"})
            QTest::newRow(row) << QString::fromLatin1(row);
    }

    void zoneLeftOut()
    {
        QFETCH(QString, row);
        QCOMPARE(ClockText::timeFormatWithoutZone(row.section(u'|', 0, 0)), row.section(u'|', 1));
    }

    // Both labels stay empty until the clock's first tick fills both, each in a box that
    // holds the whole text, descenders included.
    void firstTickFillsBothLabels()
    {
        Form1 form(0);
        const Form1::Controls &ui = form.controls();
        QSignalSpy ticks(ui.Timer2, &QTimer::timeout);
        QVERIFY(ticks.isValid() && ui.Timer2->isActive());
        QVERIFY(ui.Label12->text().isEmpty() && ui.Label13->text().isEmpty());
        QVERIFY(ticks.wait(10000));
        const QTime now = QTime::currentTime();
        QVERIFY2(ui.Label12->text() == ClockText::time(QLocale::system(), now)
                     || ui.Label12->text() == ClockText::time(QLocale::system(), now.addSecs(-1)),
                 qPrintable(ui.Label12->text()));
        QCOMPARE(ui.Label13->text(), ClockText::date(QLocale::system(), QDate::currentDate()));
        for (const QLabel *clock : {ui.Label12, ui.Label13})
            QVERIFY(clock->contentsRect().height() >= clock->fontMetrics().height()
                    && clock->contentsRect().width()
                        >= clock->fontMetrics().horizontalAdvance(clock->text()));
    }

    // A second press shows no second window; closing unloads it, and the next showing
    // starts fresh: centred with its frame, focus on "Zamknij". Exit with it open closes the
    // connection without sending anything, and the program ends only when it closes too.
    void aboutWindow()
    {
        ConnectedPanel panel;
        QVERIFY(panel.startConnected());
        panel.press(13); // an output on: exit must not switch it off
        QCOMPARE(panel.peer.waitForLine(), QByteArray("000001000000000000000000F"));
        panel.ui().Command10->click();
        panel.ui().Command10->click();
        Form2 *about = Form2::instance();
        QCOMPARE(std::ranges::count_if(QApplication::topLevelWidgets(), &QWidget::isVisible), 2);
        QVERIFY(about->isVisible() && !QApplication::activeModalWidget());
        about->move(about->pos() + QPoint(137, 71));
        about->controls().Command1->click();
        QTRY_VERIFY(!about->isVisible() && !about->isLoaded());
        panel.ui().Command10->click();
        QCOMPARE(about->focusWidget(), about->controls().Command1);
        QCOMPARE(about->controls().Command1->text(), u"Zamknij"_s);
        QCOMPARE(about->frameGeometry().center(), about->screen()->availableGeometry().center());
        // A dialog to a screen reader, so that its texts are read as it opens.
        QCOMPARE(QAccessible::queryAccessibleInterface(about)->role(), QAccessible::Dialog);
        for (QLabel *label : about->findChildren<QLabel *>()) {
            QAccessibleInterface *text = QAccessible::queryAccessibleInterface(label);
            QCOMPARE(text->text(QAccessible::Name), label->text());
            QVERIFY(text->role() == QAccessible::StaticText && !text->state().invisible);
        }

        // Once the main window is gone, a later event finds the program still running with
        // About open; a program quitting with its main window never gets to it.
        Form1 *form = panel.form.release(); // closing deletes it
        bool aboutOutlivedExit = false;
        connect(form, &QObject::destroyed, qApp, [&] {
            QTimer::singleShot(0, qApp, [&] {
                aboutOutlivedExit = about->isVisible();
                about->controls().Command1->click();
            });
        });
        QTimer::singleShot(0, form, [form] { form->controls().Command20->click(); });
        QObject guard; // a hang fails instead of blocking the run
        QTimer::singleShot(20000, &guard, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(aboutOutlivedExit);
        QVERIFY(panel.peer.waitForDisconnect());
        QCOMPARE(panel.peer.received(), QByteArray());
    }

    // Each object's role, name, description, and which of the states checkable, checked,
    // readOnly, invisible and focusable are set, as found in its window's tree.
    void roles()
    {
        Form1 form(0);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QStringList expected, found;
        for (const char *row :
             {"S13|CheckBox|Wyjście 3, sekcja 1|wyłączone|checkable focusable",
              "O13|StaticText|||invisible", "I1|CheckBox|Wejście 1|wyłączone|checkable readOnly",
              "Shape2|CheckBox|Połączenie ze sterownikiem|brak|checkable readOnly",
              "Shape1|CheckBox|Nadzór łącza|zatrzymany|checkable readOnly",
              "Label1|StaticText|||invisible", "Label2|StaticText|||invisible",
              "Label3|StaticText|||invisible", "Text1|StaticText|Korvan v1.0||readOnly",
              "Form1|Window|Korvan||", "Announcements|Notification|||"}) {
            expected << QString::fromUtf8(row);
            const QString object = expected.last().section(u'|', 0, 0);
            QAccessibleInterface *a = accessible(form, object);
            const QAccessible::State s = a->state();
            QStringList set = u"checkable checked readOnly invisible focusable"_s.split(u' ');
            const quint64 on[] = {s.checkable, s.checked, s.readOnly, s.invisible, s.focusable};
            for (qsizetype i = set.size() - 1; i >= 0; --i)
                if (!on[i])
                    set.removeAt(i);
            found << QStringList {object, roleName(a->role()), a->text(QAccessible::Name),
                                  a->text(QAccessible::Description), set.join(u' ')}
                         .join(u'|');
            QVERIFY(!s.editable && !a->editableTextInterface()); // nothing offered to type into
            QCOMPARE(a->parent()->child(a->parent()->indexOfChild(a)), a);
        }
        QCOMPARE(found.join(u'\n'), expected.join(u'\n'));
    }

    // Each action announces exactly the controls whose state it changed (a button once per
    // toggle pressed); the covered labels, the output indicators and the heartbeat say nothing.
    // Changes away from the focus are said as one announcement; a pressed button has the focus
    // and is heard through its state. Supervision is heard starting and stopping only.
    void events_data()
    {
        // Buttons clicked or the text sent|whose checked state changed|the last one's
        // description|the announcements
        QTest::addColumn<QString>("row");
        const auto row = [](const char *tag, const char *r) {
            QTest::newRow(tag) << QString::fromUtf8(r);
        };
        row("switch on", "S13|S13|włączone|");
        row("switch off", "S38 S38|S38 S38|wyłączone|");
        row("identification", "STEROWNIK|Shape2|nawiązane|Połączenie ze sterownikiem: nawiązane");
        row("inputs", "00000101|I1 I3|włączone|Wejście 1: włączone, Wejście 3: włączone");
        row("supervision",
            "Command2 Command1|Shape1 Shape1|działa|Nadzór łącza: zatrzymany|"
            "Nadzór łącza: działa");
    }

    void events()
    {
        QFETCH(QString, row);
        const QStringList toggled = row.section(u'|', 1, 1).split(u' ');
        ConnectedPanel panel;
        QSignalSpy heartbeat(panel.ui().Shape1, &ShapeControl::backColorChanged);
        QVERIFY(heartbeat.isValid() && panel.startConnected());
        told = {};
        for (const QString &step : row.section(u'|', 0, 0).split(u' ')) {
            if (auto *button = panel.form->findChild<QAbstractButton *>(step)) {
                button->click();
                // Supervision is told once the click's own handler is done.
                QVERIFY(!step.startsWith(u"Command")
                        || waitUntil([&, n = told.said.size()] { return told.said.size() > n; }));
            } else {
                panel.peer.send(step.toLatin1());
                QVERIFY(panel.arrived(step.toLatin1()));
            }
        }
        // A later heartbeat step: what the handlers queued has run, and a step said nothing.
        QVERIFY(heartbeat.wait(10000));

        QCOMPARE(told.checked, toggled);
        QCOMPARE(told.said.join(u'|'), row.section(u'|', 3));
        QAccessibleInterface *last = accessible(*panel.form, toggled.last());
        QCOMPARE(last->text(QAccessible::Description), row.section(u'|', 2, 2));
        QCOMPARE(bool(last->state().checked), row.section(u'|', 2, 2) != u"wyłączone"_s);
        for (const QString &quiet : u"Label1 Label2 Label3 O13 O38 Shape1"_s.split(u' '))
            QVERIFY2(toggled.contains(quiet) || !told.events.values().contains(quiet),
                     qPrintable(quiet));
    }

    // The failure box is an alert, announced as it opens; the output is heard going on with
    // the press and off again once the box is closed.
    void sendFailureIsAlert()
    {
        ConnectedPanel panel;
        panel.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel.form.get()));
        QStringList underBox; // its role, the alerts raised and the states heard meanwhile
        BoxCloser closer([&](QMessageBox *box) {
            underBox << roleName(QAccessible::queryAccessibleInterface(box)->role())
                     << told.events.values(QAccessible::Alert) << told.checked;
            return true;
        });
        panel.press(21); // returns once the box is closed
        QCOMPARE(underBox, (QStringList {u"AlertMessage"_s, u"SendFailure"_s, u"S21"_s}));
        QCOMPARE(told.checked, (QStringList {u"S21"_s, u"S21"_s}));
        QVERIFY(!accessible(*panel.form, u"S21"_s)->state().checked);
    }

    void looksLikeQLabel_data()
    {
        QTest::addColumn<QString>("text");
        // Numbered lines, each unlike its neighbours, so painting the wrong lines shows.
        QString lines;
        for (int i = 0; i < 401; ++i)
            lines += QString::number(i * 7919) + u'\n';
        QTest::newRow("one long line, Latin-1, NUL, markup")
            << QString(lines).replace(u'\n', QStringLiteral("<b>\u00e9&amp;\0"));
        QTest::newRow("even line count") << lines;
        QTest::newRow("odd line count, CR LF") << lines.chopped(1).replace(u'\n', u"\r\n"_s);
    }

    // A long text looks as in a plain-text QLabel, whatever the alignment, and stays whole;
    // `make test` runs this at the display scales 1.25 and 2 too.
    void looksLikeQLabel()
    {
        QFETCH(QString, text);
        LongTextLabel label(text);
        QLabel reference(text);
        reference.setTextFormat(Qt::PlainText);
        label.resize(121, 25);
        reference.resize(label.size());
        for (const auto horizontal : {Qt::AlignLeft, Qt::AlignRight})
            for (const auto vertical : {Qt::AlignTop, Qt::AlignVCenter, Qt::AlignBottom}) {
                label.setAlignment(horizontal | vertical);
                reference.setAlignment(horizontal | vertical);
                QCOMPARE(label.grab().toImage(), reference.grab().toImage());
            }
        QCOMPARE(label.text(), text);
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
