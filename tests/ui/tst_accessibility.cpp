#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include "connectedpanel.h"
#include "form2.h"

using namespace Qt::StringLiterals;

// What a screen reader is told: roles, names and states in the panel's words, and an event
// for each change the operator would want to hear, and none for what means nothing heard.
namespace {

struct Recorded
{
    QAccessible::Event type;
    QString object;
    QAccessible::State changed;
    QString shownText; // what an object said as it showed
};

QList<Recorded> &recorded()
{
    static QList<Recorded> events;
    return events;
}

void record(QAccessibleEvent *event)
{
    QObject *object = event->object();
    Recorded r {event->type(), object ? object->objectName() : QString(), {}, {}};
    if (event->type() == QAccessible::StateChanged)
        r.changed = static_cast<QAccessibleStateChangeEvent *>(event)->changedStates();
    if (event->type() == QAccessible::ObjectShow)
        r.shownText = event->accessibleInterface()->text(QAccessible::Name);
    recorded().append(r);
}

// The controls whose checked state was announced, in order.
QStringList checkedChanges()
{
    QStringList names;
    for (const Recorded &r : std::as_const(recorded())) {
        if (r.type == QAccessible::StateChanged && r.changed.checked)
            names << r.object;
    }
    return names;
}

QStringList eventsFrom(const QString &object)
{
    QStringList types;
    for (const Recorded &r : std::as_const(recorded())) {
        if (r.object == object)
            types << QString::number(int(r.type), 16);
    }
    return types;
}

// What the window's announcements said, one entry per announcement.
QStringList said()
{
    QStringList texts;
    for (const Recorded &r : std::as_const(recorded())) {
        if (r.type == QAccessible::ObjectShow && r.object == u"Announcements"_s)
            texts << r.shownText;
    }
    return texts;
}

QAccessibleInterface *accessibleChild(const Form1 &form, const QString &name)
{
    return QAccessible::queryAccessibleInterface(form.findChild<QWidget *>(name));
}

void collectTexts(QAccessibleInterface *node, QStringList &texts)
{
    if (node->role() == QAccessible::StaticText)
        texts << node->text(QAccessible::Name);
    for (int i = 0; i < node->childCount(); ++i)
        collectTexts(node->child(i), texts);
}

const QStringList Covered {QStringLiteral("Label1"), QStringLiteral("Label2"),
                           QStringLiteral("Label3")};

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // Offscreen, nothing asks for accessibility, and Qt drops every event unasked; there
        // is no public switch, so do what a screen reader's request does.
        QPlatformAccessibility *platform
            = QGuiApplicationPrivate::platformIntegration()->accessibility();
        QVERIFY(platform);
        platform->setActive(true);
        QAccessible::installUpdateHandler(record);
        QVERIFY(QAccessible::isActive());
    }

    void cleanupTestCase() { QAccessible::installUpdateHandler(nullptr); }

    void init() { recorded().clear(); }

    void roles_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("description");
        // checkable, checked, read-only, invisible, focusable
        QTest::addColumn<QList<bool>>("states");

        const int box = QAccessible::CheckBox, text = QAccessible::StaticText;
        QTest::newRow("output button")
            << "S13" << box << "Wyjście 3, sekcja 1"
            << "wyłączone" << QList<bool> {true, false, false, false, true};
        QTest::newRow("output indicator folded into its button")
            << "O13" << text << ""
            << "" << QList<bool> {false, false, false, true, false};
        QTest::newRow("input") << "I1" << box << "Wejście 1"
                               << "wyłączone" << QList<bool> {true, false, true, false, false};
        QTest::newRow("link") << "Shape2" << box << "Połączenie ze sterownikiem"
                              << "brak" << QList<bool> {true, false, true, false, false};
        QTest::newRow("heartbeat") << "Shape1" << box << "Nadzór łącza"
                                   << "zatrzymany" << QList<bool> {true, false, true, false, false};
        for (const QString &label : Covered)
            QTest::newRow(qPrintable(label))
                << label << text << ""
                << "" << QList<bool> {false, false, false, true, false};
        QTest::newRow("banner") << "Text1" << text << "Korvan v1.0"
                                << "" << QList<bool> {false, false, true, false, false};
    }

    void roles()
    {
        QFETCH(QString, control);
        QFETCH(int, role);
        QFETCH(QString, name);
        QFETCH(QString, description);
        QFETCH(QList<bool>, states);

        Form1 form(0);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QAccessibleInterface *accessible = accessibleChild(form, control);
        QVERIFY(accessible);
        QCOMPARE(int(accessible->role()), role);
        QCOMPARE(accessible->text(QAccessible::Name), name);
        QCOMPARE(accessible->text(QAccessible::Description), description);
        const QAccessible::State s = accessible->state();
        QCOMPARE((QList<bool> {bool(s.checkable), bool(s.checked), bool(s.readOnly),
                               bool(s.invisible), bool(s.focusable)}),
                 states);
        // Nothing here is an entry a screen reader would offer to type into.
        QVERIFY(!s.editable);
        QVERIFY(!accessible->editableTextInterface());
    }

    void mainWindow()
    {
        Form1 form(0);
        QAccessibleInterface *window = QAccessible::queryAccessibleInterface(&form);
        QCOMPARE(window->role(), QAccessible::Window);
        QCOMPARE(window->text(QAccessible::Name), QStringLiteral("Korvan"));
        // The announcements belong to the window's tree, last, with nothing to say yet.
        QAccessibleInterface *last = window->child(window->childCount() - 1);
        QCOMPARE(last->role(), QAccessible::Notification);
        QCOMPARE(last->parent(), window);
        QCOMPARE(window->indexOfChild(last), window->childCount() - 1);
        QCOMPARE(last->text(QAccessible::Name), QString());
    }

    // Each action announces exactly the controls whose state it changed; the covered labels
    // it rewrites, the output indicators and the heartbeat ticking meanwhile say nothing.
    void events_data()
    {
        QTest::addColumn<int>("output");
        QTest::addColumn<int>("presses");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QStringList>("toggled"); // whose checked state changed
        QTest::addColumn<QString>("heard"); // the last toggled control's description
        // Changes away from the focus are also said as one announcement; a pressed button
        // has the focus and is heard through its state.
        QTest::addColumn<QString>("announcement");

        QTest::newRow("switch on")
            << 13 << 1 << QByteArray() << QStringList {u"S13"_s} << "włączone"
            << "";
        QTest::newRow("switch off")
            << 38 << 2 << QByteArray() << QStringList {u"S38"_s, u"S38"_s} << "wyłączone"
            << "";
        QTest::newRow("identification")
            << 0 << 0 << QByteArray("STEROWNIK") << QStringList {u"Shape2"_s} << "nawiązane"
            << "Połączenie ze sterownikiem: nawiązane";
        QTest::newRow("inputs") << 0 << 0 << QByteArray("00000101")
                                << QStringList {u"I1"_s, u"I3"_s} << "włączone"
                                << "Wejście 1: włączone, Wejście 3: włączone";
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
        recorded().clear();

        for (int i = 0; i < presses; ++i) {
            panel.press(output);
            // The frame is sent after the indicator changed: the event is in by then.
            QVERIFY(!panel.peer.waitForLine(10000).isEmpty());
        }
        if (!sent.isEmpty()) {
            panel.peer.send(sent);
            QTRY_COMPARE_WITH_TIMEOUT(panel.ui().Label3->text(), QString::fromLatin1(sent), 10000);
        }
        // A heartbeat step is a later event: what the handlers queued has run by then, and
        // a tick has passed that must say nothing.
        QTRY_VERIFY_WITH_TIMEOUT(!heartbeat.isEmpty(), 10000);

        QCOMPARE(checkedChanges(), toggled);
        QCOMPARE(said(), announcement.isEmpty() ? QStringList() : QStringList {announcement});
        QAccessibleInterface *last = accessibleChild(*panel.form, toggled.last());
        QCOMPARE(last->text(QAccessible::Description), heard);
        QCOMPARE(bool(last->state().checked), heard != QStringLiteral("wyłączone"));
        for (const QString &control : toggled)
            QVERIFY(eventsFrom(control).contains(
                QString::number(int(QAccessible::DescriptionChanged), 16)));
        for (const QString &quiet : Covered + QStringList {u"O13"_s, u"O38"_s, u"Shape1"_s})
            QVERIFY2(eventsFrom(quiet).isEmpty(), qPrintable(quiet));
        // States change, names stay (the information labels and clock rename themselves, as
        // labels showing text do).
        static const QRegularExpression described(u"^(S\\d\\d|O\\d\\d|I\\d|Shape\\d|Text1)$"_s);
        for (const Recorded &r : std::as_const(recorded()))
            QVERIFY2(r.type != QAccessible::NameChanged || !described.match(r.object).hasMatch(),
                     qPrintable(r.object));
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
        recorded().clear();

        QTest::mouseClick(ui.Command1, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(steps.size() >= 3, 10000);
        QCOMPARE(checkedChanges(), QStringList {u"Shape1"_s});
        QCOMPARE(said(), QStringList {u"Nadzór łącza: działa"_s});
        QVERIFY(bar->state().checked);
        QCOMPARE(bar->text(QAccessible::Name), QStringLiteral("Nadzór łącza"));
        QCOMPARE(bar->text(QAccessible::Description), QStringLiteral("działa"));

        QTest::mouseClick(ui.Command2, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(said().size(), 2, 10000);
        QCOMPARE(said().last(), u"Nadzór łącza: zatrzymany"_s);
        QCOMPARE(checkedChanges().size(), 2);
        QVERIFY(!bar->state().checked);
        QCOMPARE(bar->text(QAccessible::Description), QStringLiteral("zatrzymany"));
        QVERIFY(
            !eventsFrom(u"Shape1"_s).contains(QString::number(int(QAccessible::NameChanged), 16)));
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
        QVERIFY2(texts.contains(QStringLiteral("Korvan")), qPrintable(texts.join(u'|')));
        QVERIFY(texts.contains(about->controls().Label5->text()));
        about->close();
    }

    // The failure box is an alert, announced as it opens; the output is heard going on with
    // the press and off again once the box is closed.
    void sendFailureIsAlert()
    {
        Form1 form(0);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
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
            for (const Recorded &r : std::as_const(recorded()))
                alerted
                    = alerted || (r.type == QAccessible::Alert && r.object == box->objectName());
            announcedUnderBox = checkedChanges();
            box->button(QMessageBox::Ok)->click();
        });
        closer.start(5);
        // Through the window system, as an operator would; returns once the box is closed.
        QWidget *button = form.controls().S[1][0];
        QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {},
                          button->mapTo(&form, button->rect().center()));

        QCOMPARE(role, QAccessible::AlertMessage);
        QVERIFY(alerted);
        QCOMPARE(announcedUnderBox, QStringList {u"S21"_s});
        QCOMPARE(checkedChanges(), (QStringList {u"S21"_s, u"S21"_s}));
        QVERIFY(!accessibleChild(form, QStringLiteral("S21"))->state().checked);
    }
};

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
