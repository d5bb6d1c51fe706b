#include <QAccessible>

#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include "announcementaccessible.h"
#include "connectedpanel.h"
#include "uianotification.h"

using namespace Qt::StringLiterals;

// What the panel hands to UI Automation: the texts of changes away from the focus, exactly
// as Orca hears them through AT-SPI, each with the panel's window.
class TestAnnouncements : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // Offscreen, nothing asks for accessibility; do what a screen reader's request does.
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
        QVERIFY(QAccessible::isActive());
        m_previous = AnnouncementAccessible::setSpeaker([this](QWidget *window, const QString &t) {
            m_heard << t;
            m_windows << window;
        });
    }
    void cleanupTestCase() { AnnouncementAccessible::setSpeaker(m_previous); }

    void heard_data()
    {
        QTest::addColumn<QStringList>("clicked");
        QTest::addColumn<QList<QByteArray>>("sent");
        QTest::addColumn<QStringList>("heard");
        QTest::newRow("inputs of one message together")
            << QStringList() << QList<QByteArray> {"00000101"}
            << QStringList {u"Wejście 1: włączone, Wejście 3: włączone"_s};
        QTest::newRow("each message its own")
            << QStringList() << QList<QByteArray> {"00000001", "10000000"}
            << QStringList {u"Wejście 1: włączone"_s,
                            u"Wejście 1: wyłączone, Wejście 8: włączone"_s};
        // The pressed button has the focus: its state is heard, not a notification.
        QTest::newRow("output pressed")
            << QStringList {u"S13"_s, u"S38"_s} << QList<QByteArray>() << QStringList();
    }
    void heard()
    {
        QFETCH(QStringList, clicked);
        QFETCH(QList<QByteArray>, sent);
        QFETCH(QStringList, heard);
        m_heard.clear();
        m_windows.clear();
        ConnectedPanel panel;
        QSignalSpy heartbeat(panel.ui().Shape1, &ShapeControl::backColorChanged);
        QVERIFY(heartbeat.isValid() && panel.startConnected() && panel.identify(panel.peer));
        // Supervision's start and the controller's identification are heard first.
        QVERIFY(waitUntil([&] { return m_heard.size() >= 2; }));
        QCOMPARE(
            m_heard,
            (QStringList {u"Nadzór łącza: działa"_s, u"Połączenie ze sterownikiem: nawiązane"_s}));
        m_heard.clear();
        for (const QString &name : std::as_const(clicked))
            panel.form->findChild<QAbstractButton *>(name)->click();
        for (const QByteArray &text : std::as_const(sent)) {
            panel.peer.send(text);
            QVERIFY(panel.arrived(text));
        }
        // A later heartbeat step: what the handlers queued has been said.
        heartbeat.clear();
        QVERIFY(heartbeat.wait(10000));
        QCOMPARE(m_heard, heard);
        for (QWidget *window : std::as_const(m_windows))
            QCOMPARE(window, panel.form.get());
    }

    // Looked up at run time: a Windows without the event (and Wine) raises nothing, and
    // Linux has none. A window that is no window is refused, never a crash.
    void uiaWithoutWindow()
    {
        const auto outcome = UiaNotification::raise(0, u"Wejście 1: włączone"_s);
        qInfo("UI Automation notification: %s",
              outcome == UiaNotification::Outcome::Unavailable ? "unavailable" : "refused");
        QVERIFY(outcome != UiaNotification::Outcome::Raised);
#ifndef Q_OS_WIN
        QCOMPARE(outcome, UiaNotification::Outcome::Unavailable);
#endif
    }

private:
    AnnouncementAccessible::Speaker m_previous;
    QStringList m_heard;
    QList<QWidget *> m_windows;
};

QTEST_MAIN(TestAnnouncements)
#include "tst_announcements.moc"
