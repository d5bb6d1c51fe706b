#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "clocktext.h"
#include "form1.h"

class TestClock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Long time formats as locales write them, with the zone wherever they put it.
    void zoneLeftOut_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zone after") << QStringLiteral("HH:mm:ss t") << QStringLiteral("HH:mm:ss");
        QTest::newRow("zone before") << QStringLiteral("t HH:mm:ss") << QStringLiteral("HH:mm:ss");
        QTest::newRow("after comma")
            << QStringLiteral("h:mm:ss AP, t") << QStringLiteral("h:mm:ss AP");
        QTest::newRow("quoted t kept")
            << QStringLiteral("'kl'. HH:mm:ss tttt") << QStringLiteral("'kl'. HH:mm:ss");
    }

    void zoneLeftOut()
    {
        QFETCH(QString, format);
        QFETCH(QString, expected);
        QCOMPARE(ClockText::timeFormatWithoutZone(format), expected);
    }

    // Both labels stay empty until the clock's first tick, which fills both, each in a box
    // that holds the whole text, descenders included.
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
        for (const QLabel *clock : {ui.Label12, ui.Label13}) {
            const QFontMetrics metrics = clock->fontMetrics();
            QVERIFY(clock->contentsRect().width() >= metrics.horizontalAdvance(clock->text()));
            QVERIFY(clock->contentsRect().height() >= metrics.height());
            QVERIFY(clock->parentWidget()->contentsRect().contains(clock->geometry()));
        }
    }
};

QTEST_MAIN(TestClock)
#include "tst_clock.moc"
