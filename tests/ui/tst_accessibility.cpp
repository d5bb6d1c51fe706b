#include <QAccessible>
#include <QTest>

#include "connectedpanel.h"

// What a screen reader reads from the indicators: their state in words, not colours.
class TestAccessibility : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void namesFollowColours()
    {
        ConnectedPanel panel;
        const auto check = [&](std::initializer_list<std::pair<const char *, const char *>> rows) {
            for (const auto &[control, name] : rows) {
                auto *w = panel.form->findChild<QWidget *>(QString::fromLatin1(control));
                QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(w);
                QVERIFY2(accessible, control);
                QCOMPARE(accessible->text(QAccessible::Name), QString::fromUtf8(name));
            }
        };
        check({{"O11", "Wyjście 1, sekcja 1: wyłączone"},
               {"I8", "Wejście 8: wyłączone"},
               {"Shape1", "Nadzór łącza: czerwony"},
               {"Shape2", "Połączenie ze sterownikiem: brak"}});

        QVERIFY(panel.startConnected());
        panel.peer.send("STEROWNIK");
        QTRY_COMPARE_WITH_TIMEOUT(panel.ui().Shape2->backColor(), Bgr::Green, 10000);
        panel.peer.send("00000101");
        QTRY_COMPARE_WITH_TIMEOUT(panel.ui().I[0]->backColor(), Bgr::Green, 10000);
        panel.press(13);
        QVERIFY(!panel.peer.waitForLine(10000).isEmpty());
        check({{"O13", "Wyjście 3, sekcja 1: włączone"},
               {"I1", "Wejście 1: włączone"},
               {"I2", "Wejście 2: wyłączone"},
               {"Shape2", "Połączenie ze sterownikiem: nawiązane"}});
    }
};

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
