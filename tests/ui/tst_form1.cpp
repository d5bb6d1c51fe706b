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
        QTest::addColumn<QString>("format"); // as the locale has it
        QTest::addColumn<QString>("withoutZone");
        QTest::newRow("zone last") << u"HH:mm:ss t"_s << u"HH:mm:ss"_s;
        QTest::newRow("zone first") << u"t HH:mm:ss"_s << u"HH:mm:ss"_s;
        QTest::newRow("zone after a comma") << u"h:mm:ss AP, t"_s << u"h:mm:ss AP"_s;
        QTest::newRow("long zone, quoted text") << u"'kl'. HH:mm:ss tttt"_s << u"'kl'. HH:mm:ss"_s;
    }

    void zoneLeftOut()
    {
        QFETCH(QString, format);
        QFETCH(QString, withoutZone);
        QCOMPARE(ClockText::timeFormatWithoutZone(format), withoutZone);
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
    void roles_data()
    {
        QTest::addColumn<QString>("object");
        QTest::addColumn<QAccessible::Role>("role");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QStringList>("states");
        using enum QAccessible::Role;
        const auto row = [](const QString &object, QAccessible::Role role, const QString &name,
                            const QString &description, const QStringList &states) {
            QTest::newRow(qPrintable(object)) << object << role << name << description << states;
        };
        row(u"S13"_s, CheckBox, u"Wyjście 3, sekcja 1"_s, u"wyłączone"_s,
            {u"checkable"_s, u"focusable"_s});
        row(u"O13"_s, StaticText, {}, {}, {u"invisible"_s});
        row(u"I1"_s, CheckBox, u"Wejście 1"_s, u"wyłączone"_s, {u"checkable"_s, u"readOnly"_s});
        row(u"Shape2"_s, CheckBox, u"Połączenie ze sterownikiem"_s, u"brak"_s,
            {u"checkable"_s, u"readOnly"_s});
        row(u"Shape1"_s, CheckBox, u"Nadzór łącza"_s, u"zatrzymany"_s,
            {u"checkable"_s, u"readOnly"_s});
        for (const QString &label : {u"Label1"_s, u"Label2"_s, u"Label3"_s})
            row(label, StaticText, {}, {}, {u"invisible"_s});
        row(u"Text1"_s, StaticText, u"Korvan v1.0"_s, {}, {u"readOnly"_s});
        row(u"Form1"_s, Window, u"Korvan"_s, {}, {});
        row(u"Announcements"_s, Notification, {}, {}, {});
    }

    void roles()
    {
        QFETCH(QString, object);
        QFETCH(QAccessible::Role, role);
        QFETCH(QString, name);
        QFETCH(QString, description);
        QFETCH(QStringList, states);
        Form1 form(0);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QAccessibleInterface *a = accessible(form, object);
        QVERIFY(a);
        QCOMPARE(a->role(), role);
        QCOMPARE(a->text(QAccessible::Name), name);
        QCOMPARE(a->text(QAccessible::Description), description);
        const QAccessible::State s = a->state();
        QStringList set;
        const std::pair<QString, quint64> flags[] = {{u"checkable"_s, s.checkable},
                                                     {u"checked"_s, s.checked},
                                                     {u"readOnly"_s, s.readOnly},
                                                     {u"invisible"_s, s.invisible},
                                                     {u"focusable"_s, s.focusable}};
        for (const auto &[flag, on] : flags)
            if (on)
                set << flag;
        QCOMPARE(set, states);
        QVERIFY(!s.editable && !a->editableTextInterface()); // nothing offered to type into
        QCOMPARE(a->parent()->child(a->parent()->indexOfChild(a)), a);
    }

    // Each action announces exactly the controls whose state it changed (a button once per
    // toggle pressed); the covered labels, the output indicators and the heartbeat say nothing.
    // Changes away from the focus are said as one announcement; a pressed button has the focus
    // and is heard through its state. Supervision is heard starting and stopping only.
    void events_data()
    {
        QTest::addColumn<QStringList>("steps"); // buttons clicked or texts sent
        QTest::addColumn<QStringList>("toggled"); // whose checked state changed
        QTest::addColumn<QString>("lastDescription"); // the last toggled one's
        QTest::addColumn<QStringList>("said"); // the announcements
        QTest::newRow("switch on")
            << QStringList {u"S13"_s} << QStringList {u"S13"_s} << u"włączone"_s << QStringList();
        QTest::newRow("switch off")
            << QStringList {u"S38"_s, u"S38"_s} << QStringList {u"S38"_s, u"S38"_s}
            << u"wyłączone"_s << QStringList();
        QTest::newRow("identification")
            << QStringList {u"STEROWNIK"_s} << QStringList {u"Shape2"_s} << u"nawiązane"_s
            << QStringList {u"Połączenie ze sterownikiem: nawiązane"_s};
        QTest::newRow("inputs") << QStringList {u"00000101"_s} << QStringList {u"I1"_s, u"I3"_s}
                                << u"włączone"_s
                                << QStringList {u"Wejście 1: włączone, Wejście 3: włączone"_s};
        QTest::newRow("supervision")
            << QStringList {u"Command2"_s, u"Command1"_s} << QStringList {u"Shape1"_s, u"Shape1"_s}
            << u"działa"_s
            << QStringList {u"Nadzór łącza: zatrzymany"_s, u"Nadzór łącza: działa"_s};
    }

    void events()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, toggled);
        QFETCH(QString, lastDescription);
        QFETCH(QStringList, said);
        ConnectedPanel panel;
        QSignalSpy heartbeat(panel.ui().Shape1, &ShapeControl::backColorChanged);
        QVERIFY(heartbeat.isValid() && panel.startConnected());
        told = {};
        for (const QString &step : steps) {
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
        QCOMPARE(told.said, said);
        QAccessibleInterface *last = accessible(*panel.form, toggled.last());
        QCOMPARE(last->text(QAccessible::Description), lastDescription);
        QCOMPARE(bool(last->state().checked), lastDescription != u"wyłączone"_s);
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
