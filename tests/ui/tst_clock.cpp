#include <QElapsedTimer>
#include <QLabel>
#include <QTest>

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

    // Both labels stay empty until the clock's first tick, which fills both.
    void firstTickFillsBothLabels()
    {
        QElapsedTimer sinceLoad;
        sinceLoad.start();
        Form1 form(0);
        const QLabel *time = form.controls().Label12;
        const QLabel *date = form.controls().Label13;
        while (time->text().isEmpty() && sinceLoad.elapsed() < 10000) {
            QVERIFY(date->text().isEmpty());
            QTest::qWait(10);
        }
        QCOMPARE_GE(sinceLoad.elapsed(), 950); // a timer may fire up to 5 % early
        QVERIFY(!date->text().isEmpty());
        const QTime now = QTime::currentTime();
        QVERIFY2(time->text() == ClockText::time(QLocale::system(), now)
                     || time->text() == ClockText::time(QLocale::system(), now.addSecs(-1)),
                 qPrintable(time->text()));
    }
};

QTEST_MAIN(TestClock)
#include "tst_clock.moc"
