#include <QAccessible>
#include <QApplication>
#include <QMessageBox>

#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include "boxcloser.h"
#include "connectedpanel.h"
#include "form2.h"

using namespace Qt::StringLiterals;

// What a screen reader is told: roles, names and states in the panel's words, an event for
// each change the operator would want to hear, none for what means nothing heard.
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

QAccessibleInterface *accessible(const QWidget &window, const QString &name)
{
    return QAccessible::queryAccessibleInterface(window.findChild<QWidget *>(name));
}

void collectTexts(QAccessibleInterface *node, QStringList &texts)
{
    if (node->role() == QAccessible::StaticText)
        texts << node->text(QAccessible::Name);
    for (int i = 0; i < node->childCount(); ++i)
        collectTexts(node->child(i), texts);
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // Offscreen, nothing asks for accessibility and Qt drops every event; there is no
        // public switch, so do what a screen reader's request does.
        QPlatformAccessibility *platform
            = QGuiApplicationPrivate::platformIntegration()->accessibility();
        QVERIFY(platform);
        platform->setActive(true);
        QAccessible::installUpdateHandler(record);
        QVERIFY(QAccessible::isActive());
    }
    void cleanupTestCase() { QAccessible::installUpdateHandler(nullptr); }
    void init() { told = {}; }

    void roles_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QStringList>("states"); // those set of the five roles() reads
        const auto row = [](const char *control, int role, const char *name,
                            const char *description, const char *states) {
            QTest::newRow(control)
                << role << QString::fromUtf8(name) << QString::fromUtf8(description)
                << QString::fromLatin1(states).split(u' ', Qt::SkipEmptyParts);
        };
        const int box = QAccessible::CheckBox, text = QAccessible::StaticText;
        row("S13", box, "Wyjście 3, sekcja 1", "wyłączone", "checkable focusable");
        row("O13", text, "", "", "invisible"); // folded into its button
        row("I1", box, "Wejście 1", "wyłączone", "checkable readOnly");
        row("Shape2", box, "Połączenie ze sterownikiem", "brak", "checkable readOnly");
        row("Shape1", box, "Nadzór łącza", "zatrzymany", "checkable readOnly");
        for (const char *label : {"Label1", "Label2", "Label3"})
            row(label, text, "", "", "invisible");
        row("Text1", text, "Korvan v1.0", "", "readOnly");
    }

    void roles()
    {
        QFETCH(int, role);
        QFETCH(QString, name);
        QFETCH(QString, description);
        QFETCH(QStringList, states);
        Form1 form(0);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QAccessibleInterface *a = accessible(form, QLatin1String(QTest::currentDataTag()));
        QVERIFY(a);
        QCOMPARE(int(a->role()), role);
        QCOMPARE(a->text(QAccessible::Name), name);
        QCOMPARE(a->text(QAccessible::Description), description);
        const QAccessible::State s = a->state();
        QCOMPARE(bool(s.checkable), states.contains(u"checkable"));
        QCOMPARE(bool(s.checked), states.contains(u"checked"));
        QCOMPARE(bool(s.readOnly), states.contains(u"readOnly"));
        QCOMPARE(bool(s.invisible), states.contains(u"invisible"));
        QCOMPARE(bool(s.focusable), states.contains(u"focusable"));
        QVERIFY(!s.editable && !a->editableTextInterface()); // nothing offered to type into
    }

    // The announcements belong to the window's tree, last, with nothing to say yet.
    void mainWindow()
    {
        Form1 form(0);
        QAccessibleInterface *window = QAccessible::queryAccessibleInterface(&form);
        QCOMPARE(window->role(), QAccessible::Window);
        QCOMPARE(window->text(QAccessible::Name), u"Korvan"_s);
        QAccessibleInterface *last = window->child(window->childCount() - 1);
        QCOMPARE(last->role(), QAccessible::Notification);
        QCOMPARE(last->parent(), window);
        QCOMPARE(window->indexOfChild(last), window->childCount() - 1);
        QCOMPARE(last->text(QAccessible::Name), QString());
    }

    // Each action announces exactly the controls whose state it changed; the covered labels
    // it rewrites, the output indicators and the heartbeat ticking meanwhile say nothing.
    // Changes away from the focus are also said as one announcement; a pressed button has
    // the focus and is heard through its state. Rows with nothing sent press the toggled
    // button once per toggle.
    void events_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QStringList>("toggled"); // whose checked state changed
        QTest::addColumn<QString>("heard"); // the last toggled control's description
        QTest::addColumn<QString>("announcement");
        const auto row = [](const char *tag, const char *sent, const char *toggled,
                            const char *heard, const char *announcement) {
            QTest::newRow(tag) << QByteArray(sent) << QString::fromLatin1(toggled).split(u' ')
                               << QString::fromUtf8(heard) << QString::fromUtf8(announcement);
        };
        row("switch on", "", "S13", "włączone", "");
        row("switch off", "", "S38 S38", "wyłączone", "");
        row("identification", "STEROWNIK", "Shape2", "nawiązane",
            "Połączenie ze sterownikiem: nawiązane");
        row("inputs", "00000101", "I1 I3", "włączone", "Wejście 1: włączone, Wejście 3: włączone");
    }

    void events()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QStringList, toggled);
        QFETCH(QString, heard);
        QFETCH(QString, announcement);
        ConnectedPanel panel;
        QVERIFY(panel.startConnected());
        QSignalSpy heartbeat(panel.ui().Shape1, &ShapeControl::backColorChanged);
        QVERIFY(heartbeat.isValid());
        told = {};
        for (const QString &button : sent.isEmpty() ? toggled : QStringList()) {
            panel.press(button.mid(1).toInt());
            // The frame goes after the indicator changed: the event is in by then.
            QVERIFY(!panel.peer.waitForLine().isEmpty());
        }
        if (!sent.isEmpty()) {
            panel.peer.send(sent);
            QVERIFY(panel.arrived(sent));
        }
        // A later heartbeat step: what the handlers queued has run, and a tick has passed
        // that must say nothing.
        QVERIFY(heartbeat.wait(10000));

        QCOMPARE(told.checked, toggled);
        QCOMPARE(told.said.join(u'|'), announcement);
        QAccessibleInterface *last = accessible(*panel.form, toggled.last());
        QCOMPARE(last->text(QAccessible::Description), heard);
        QCOMPARE(bool(last->state().checked), heard != u"wyłączone"_s);
        // States change and are described anew; names stay.
        const QStringList redescribed = told.events.values(QAccessible::DescriptionChanged);
        const QStringList renamed = told.events.values(QAccessible::NameChanged);
        for (const QString &control : toggled)
            QVERIFY2(redescribed.contains(control) && !renamed.contains(control),
                     qPrintable(control));
        const QStringList heardFrom = told.events.values();
        for (const QString &quiet : u"Label1 Label2 Label3 O13 O38 Shape1"_s.split(u' '))
            QVERIFY2(!heardFrom.contains(quiet), qPrintable(quiet));
    }

    // Supervision is heard starting and stopping; its colour steps are not heard at all.
    void heartbeat()
    {
        Form1 form(0);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const Form1::Controls &ui = form.controls();
        QAccessibleInterface *bar = QAccessible::queryAccessibleInterface(ui.Shape1);
        QSignalSpy steps(ui.Shape1, &ShapeControl::backColorChanged);
        QVERIFY(steps.isValid());
        told = {};
        QTest::mouseClick(ui.Command1, Qt::LeftButton);
        QVERIFY(waitUntil([&] { return steps.size() >= 3; }, 10000));
        QCOMPARE(told.checked, QStringList {u"Shape1"_s});
        QCOMPARE(told.said, QStringList {u"Nadzór łącza: działa"_s});
        QVERIFY(bar->state().checked);

        QTest::mouseClick(ui.Command2, Qt::LeftButton);
        QVERIFY(waitUntil([&] { return told.said.size() == 2; }, 10000));
        QCOMPARE(told.said.last(), u"Nadzór łącza: zatrzymany"_s);
        QCOMPARE(told.checked.size(), 2);
        QVERIFY(!bar->state().checked);
        QVERIFY(!told.events.values(QAccessible::NameChanged).contains(u"Shape1"_s));
    }

    void aboutIsDialog()
    {
        Form2::showInstance();
        Form2 *about = Form2::instance();
        QVERIFY(QTest::qWaitForWindowExposed(about));
        QAccessibleInterface *dialog = QAccessible::queryAccessibleInterface(about);
        QCOMPARE(dialog->role(), QAccessible::Dialog);
        QCOMPARE(dialog->text(QAccessible::Name), u"O programie"_s);
        QStringList texts;
        collectTexts(dialog, texts);
        QVERIFY2(texts.contains(u"Korvan"_s) && texts.contains(about->controls().Label5->text()),
                 qPrintable(texts.join(u'|')));
        about->close();
    }

    // The failure box is an alert, announced as it opens; the output is heard going on with
    // the press and off again once the box is closed.
    void sendFailureIsAlert()
    {
        ConnectedPanel panel;
        panel.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel.form.get()));
        QAccessible::Role role = QAccessible::NoRole;
        bool alerted = false;
        QStringList announcedUnderBox;
        BoxCloser closer([&](QMessageBox *box) {
            role = QAccessible::queryAccessibleInterface(box)->role();
            alerted = told.events.values(QAccessible::Alert).contains(box->objectName());
            announcedUnderBox = told.checked;
            return true;
        });
        panel.press(21); // returns once the box is closed
        QCOMPARE(closer.closed, 1);
        QCOMPARE(role, QAccessible::AlertMessage);
        QVERIFY(alerted);
        QCOMPARE(announcedUnderBox, QStringList {u"S21"_s});
        QCOMPARE(told.checked, (QStringList {u"S21"_s, u"S21"_s}));
        QVERIFY(!accessible(*panel.form, u"S21"_s)->state().checked);
    }
};

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
