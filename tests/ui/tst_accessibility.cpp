#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTimer>

#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include "connectedpanel.h"
#include "form2.h"

using namespace Qt::StringLiterals;

// What a screen reader is told: roles, names and states in the panel's words, an event for
// each change the operator would want to hear, none for what means nothing heard.
namespace {

struct Recorded
{
    QAccessible::Event type;
    QString object;
    bool checkedChanged;
    QString shownText; // what an object said as it showed
};
QList<Recorded> recorded;

void record(QAccessibleEvent *e)
{
    const bool state = e->type() == QAccessible::StateChanged;
    recorded.append(
        {e->type(), e->object() ? e->object()->objectName() : QString(),
         state && static_cast<QAccessibleStateChangeEvent *>(e)->changedStates().checked,
         e->type() == QAccessible::ObjectShow ? e->accessibleInterface()->text(QAccessible::Name)
                                              : QString()});
}

// The objects (or what they said) of the events kept, in order.
template<typename Keep>
QStringList objects(Keep keep, QString Recorded::*field = &Recorded::object)
{
    QStringList found;
    for (const Recorded &r : std::as_const(recorded))
        if (keep(r))
            found << r.*field;
    return found;
}
QStringList checkedChanges()
{
    return objects([](const Recorded &r) { return r.checkedChanged; });
}
QStringList withEvent(QAccessible::Event type)
{
    return objects([type](const Recorded &r) { return r.type == type; });
}
// What the window's announcements said, one entry per announcement.
QStringList said()
{
    return objects(
        [](const Recorded &r) {
            return r.type == QAccessible::ObjectShow && r.object == u"Announcements"_s;
        },
        &Recorded::shownText);
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

const QStringList Covered {u"Label1"_s, u"Label2"_s, u"Label3"_s};

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
    void init() { recorded.clear(); }

    void roles_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("states"); // those set of the five roles() reads
        const auto row = [](const char *control, int role, const char *name,
                            const char *description, const char *states) {
            QTest::newRow(control) << role << QString::fromUtf8(name)
                                   << QString::fromUtf8(description) << QString::fromUtf8(states);
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
        QFETCH(QString, states);
        Form1 form(0);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QAccessibleInterface *a = accessible(form, QLatin1String(QTest::currentDataTag()));
        QVERIFY(a);
        QCOMPARE(int(a->role()), role);
        QCOMPARE(a->text(QAccessible::Name), name);
        QCOMPARE(a->text(QAccessible::Description), description);
        const QAccessible::State s = a->state();
        const std::pair<bool, const char *> flags[] = {{s.checkable, "checkable"},
                                                       {s.checked, "checked"},
                                                       {s.readOnly, "readOnly"},
                                                       {s.invisible, "invisible"},
                                                       {s.focusable, "focusable"}};
        QStringList set;
        for (const auto &[on, flag] : flags)
            if (on)
                set << QLatin1String(flag);
        QCOMPARE(set.join(u' '), states);
        QVERIFY(!s.editable && !a->editableTextInterface()); // nothing offered to type into
    }

    // The announcements belong to the window's tree, last, with nothing to say yet.
    void mainWindow()
    {
        Form1 form(0);
        QAccessibleInterface *window = QAccessible::queryAccessibleInterface(&form);
        QCOMPARE(window->role(), QAccessible::Window);
        QCOMPARE(window->text(QAccessible::Name), QStringLiteral("Korvan"));
        QAccessibleInterface *last = window->child(window->childCount() - 1);
        QCOMPARE(last->role(), QAccessible::Notification);
        QCOMPARE(last->parent(), window);
        QCOMPARE(window->indexOfChild(last), window->childCount() - 1);
        QCOMPARE(last->text(QAccessible::Name), QString());
    }

    // Each action announces exactly the controls whose state it changed; the covered labels
    // it rewrites, the output indicators and the heartbeat ticking meanwhile say nothing.
    // Changes away from the focus are also said as one announcement; a pressed button has
    // the focus and is heard through its state.
    void events_data()
    {
        QTest::addColumn<int>("output");
        QTest::addColumn<int>("presses");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QStringList>("toggled"); // whose checked state changed
        QTest::addColumn<QString>("heard"); // the last toggled control's description
        QTest::addColumn<QString>("announcement");
        const auto row = [](const char *tag, int output, int presses, const char *sent,
                            const char *toggled, const char *heard, const char *announcement) {
            QTest::newRow(tag) << output << presses << QByteArray(sent)
                               << QString::fromLatin1(toggled).split(u' ')
                               << QString::fromUtf8(heard) << QString::fromUtf8(announcement);
        };
        row("switch on", 13, 1, "", "S13", "włączone", "");
        row("switch off", 38, 2, "", "S38 S38", "wyłączone", "");
        row("identification", 0, 0, "STEROWNIK", "Shape2", "nawiązane",
            "Połączenie ze sterownikiem: nawiązane");
        row("inputs", 0, 0, "00000101", "I1 I3", "włączone",
            "Wejście 1: włączone, Wejście 3: włączone");
    }

    void events()
    {
        QFETCH(int, output);
        QFETCH(int, presses);
        QFETCH(QByteArray, sent);
        QFETCH(QStringList, toggled);
        QFETCH(QString, heard);
        QFETCH(QString, announcement);
        ConnectedPanel panel;
        QVERIFY(panel.startConnected());
        QSignalSpy heartbeat(panel.ui().Shape1, &ShapeControl::backColorChanged);
        QVERIFY(heartbeat.isValid());
        recorded.clear();
        for (int i = 0; i < presses; ++i) {
            panel.press(output);
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

        QCOMPARE(checkedChanges(), toggled);
        QCOMPARE(said().join(u'|'), announcement);
        QAccessibleInterface *last = accessible(*panel.form, toggled.last());
        QCOMPARE(last->text(QAccessible::Description), heard);
        QCOMPARE(bool(last->state().checked), heard != QStringLiteral("wyłączone"));
        const QStringList redescribed = withEvent(QAccessible::DescriptionChanged);
        const QStringList heardFrom = objects([](const Recorded &) { return true; });
        for (const QString &control : toggled)
            QVERIFY2(redescribed.contains(control), qPrintable(control));
        for (const QString &quiet : Covered + QStringList {u"O13"_s, u"O38"_s, u"Shape1"_s})
            QVERIFY2(!heardFrom.contains(quiet), qPrintable(quiet));
        // States change, names stay (the information labels and clock rename themselves, as
        // labels showing text do).
        static const QRegularExpression described(u"^(S\\d\\d|O\\d\\d|I\\d|Shape\\d|Text1)$"_s);
        const QStringList renamed = withEvent(QAccessible::NameChanged);
        QVERIFY2(renamed.filter(described).isEmpty(), qPrintable(renamed.join(u' ')));
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
        recorded.clear();
        QTest::mouseClick(ui.Command1, Qt::LeftButton);
        QVERIFY(waitUntil([&] { return steps.size() >= 3; }, 10000));
        QCOMPARE(checkedChanges(), QStringList {u"Shape1"_s});
        QCOMPARE(said(), QStringList {u"Nadzór łącza: działa"_s});
        QVERIFY(bar->state().checked);
        QCOMPARE(bar->text(QAccessible::Description), QStringLiteral("działa"));

        QTest::mouseClick(ui.Command2, Qt::LeftButton);
        QVERIFY(waitUntil([&] { return said().size() == 2; }, 10000));
        QCOMPARE(said().last(), u"Nadzór łącza: zatrzymany"_s);
        QCOMPARE(checkedChanges().size(), 2);
        QVERIFY(!bar->state().checked);
        QCOMPARE(bar->text(QAccessible::Name), QStringLiteral("Nadzór łącza"));
        QCOMPARE(bar->text(QAccessible::Description), QStringLiteral("zatrzymany"));
        QVERIFY(!withEvent(QAccessible::NameChanged).contains(u"Shape1"_s));
    }

    void aboutIsDialog()
    {
        Form2::showInstance();
        Form2 *about = Form2::instance();
        QVERIFY(QTest::qWaitForWindowExposed(about));
        QAccessibleInterface *dialog = QAccessible::queryAccessibleInterface(about);
        QCOMPARE(dialog->role(), QAccessible::Dialog);
        QCOMPARE(dialog->text(QAccessible::Name), QStringLiteral("O programie"));
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
        QTimer closer; // polls from inside the box's own event loop
        connect(&closer, &QTimer::timeout, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            closer.stop();
            role = QAccessible::queryAccessibleInterface(box)->role();
            alerted = withEvent(QAccessible::Alert).contains(box->objectName());
            announcedUnderBox = checkedChanges();
            box->button(QMessageBox::Ok)->click();
        });
        closer.start(5);
        panel.press(21); // returns once the box is closed

        QCOMPARE(role, QAccessible::AlertMessage);
        QVERIFY(alerted);
        QCOMPARE(announcedUnderBox, QStringList {u"S21"_s});
        QCOMPARE(checkedChanges(), (QStringList {u"S21"_s, u"S21"_s}));
        QVERIFY(!accessible(*panel.form, u"S21"_s)->state().checked);
    }
};

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
