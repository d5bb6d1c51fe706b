#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QMetaEnum>

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

    // Each object's role, name, description, and which of the states checkable, checked,
    // readOnly, invisible and focusable are set, as found in its window's tree.
    void roles()
    {
        Form1 form(0);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QStringList expected {
            u"S13|CheckBox|Wyjście 3, sekcja 1|wyłączone|checkable focusable"_s,
            u"O13|StaticText|||invisible"_s, // folded into its button
            u"I1|CheckBox|Wejście 1|wyłączone|checkable readOnly"_s,
            u"Shape2|CheckBox|Połączenie ze sterownikiem|brak|checkable readOnly"_s,
            u"Shape1|CheckBox|Nadzór łącza|zatrzymany|checkable readOnly"_s,
            u"Label1|StaticText|||invisible"_s,
            u"Label2|StaticText|||invisible"_s,
            u"Label3|StaticText|||invisible"_s,
            u"Text1|StaticText|Korvan v1.0||readOnly"_s,
            u"Form1|Window|Korvan||"_s,
            u"Announcements|Notification|||"_s};
        QStringList found;
        for (const QString &row : expected) {
            const QString object = row.section(u'|', 0, 0);
            QAccessibleInterface *a = accessible(form, object);
            const QAccessible::State s = a->state();
            QStringList set = u"checkable checked readOnly invisible focusable"_s.split(u' ');
            const bool on[] = {bool(s.checkable), bool(s.checked), bool(s.readOnly),
                               bool(s.invisible), bool(s.focusable)};
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

    // Each action announces exactly the controls whose state it changed; the covered labels
    // it rewrites, the output indicators and the heartbeat ticking meanwhile say nothing.
    // Changes away from the focus are also said as one announcement; a pressed button has
    // the focus and is heard through its state. Rows with nothing to send press the toggled
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
        const QStringList heardFrom = told.events.values();
        for (const QString &quiet : u"Label1 Label2 Label3 O13 O38 Shape1"_s.split(u' '))
            QVERIFY2(!heardFrom.contains(quiet), qPrintable(quiet));
    }

    // Supervision is heard starting and stopping; its colour steps are not heard at all.
    void heartbeat()
    {
        ConnectedPanel panel;
        QSignalSpy steps(panel.ui().Shape1, &ShapeControl::backColorChanged);
        QVERIFY(steps.isValid() && panel.startListening());
        QVERIFY(waitUntil([&] { return steps.size() >= 3; }, 10000));
        QCOMPARE(told.said, QStringList {u"Nadzór łącza: działa"_s});
        QVERIFY(accessible(*panel.form, u"Shape1"_s)->state().checked);
        panel.ui().Command2->click();
        QVERIFY(waitUntil([&] { return told.said.size() == 2; }, 10000));
        QCOMPARE(told.said.last(), u"Nadzór łącza: zatrzymany"_s);
        QCOMPARE(told.checked, (QStringList {u"Shape1"_s, u"Shape1"_s}));
        QVERIFY(!accessible(*panel.form, u"Shape1"_s)->state().checked);
        QVERIFY(!told.events.values(QAccessible::NameChanged).contains(u"Shape1"_s));
    }

    // A dialog, so that its texts are read as it opens.
    void aboutIsDialog()
    {
        Form2::showInstance();
        QAccessibleInterface *dialog = QAccessible::queryAccessibleInterface(Form2::instance());
        QCOMPARE(dialog->role(), QAccessible::Dialog);
        QCOMPARE(dialog->text(QAccessible::Name), u"O programie"_s);
        for (QLabel *label : Form2::instance()->findChildren<QLabel *>()) {
            QAccessibleInterface *text = QAccessible::queryAccessibleInterface(label);
            QCOMPARE(text->text(QAccessible::Name), label->text());
            QVERIFY(text->role() == QAccessible::StaticText && !text->state().invisible);
        }
        Form2::instance()->close();
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
};

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
