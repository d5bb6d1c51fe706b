#include <QElapsedTimer>
#include <QLabel>
#include <QTest>

#include "clocktext.h"
#include "form1.h"

class TestClock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void zoneLeftOut_data();
    void zoneLeftOut();
    void localeTexts_data();
    void localeTexts();
    void firstTickFillsBothLabels();
};

// Long time formats as locales write them, with the zone in every position they use.
void TestClock::zoneLeftOut_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("expected");
    auto row = [](const char *name, const char *format, const char *expected) {
        QTest::newRow(name) << QString::fromUtf8(format) << QString::fromUtf8(expected);
    };
    row("zone after", "HH:mm:ss t", "HH:mm:ss");
    row("zone before", "t HH:mm:ss", "HH:mm:ss");
    row("zone after comma", "h:mm:ss AP, t", "h:mm:ss AP");
    row("zone in parentheses", "HH:mm:ss (t)", "HH:mm:ss");
    row("zone in brackets", "APh:mm:ss [t]", "APh:mm:ss");
    row("quoted t kept", "'kl'. HH:mm:ss t", "'kl'. HH:mm:ss");
    row("quoted words kept", "HH 'h' mm 'min' ss 's' t", "HH 'h' mm 'min' ss 's'");
    row("quoted zone letter kept", "HH:mm:ss 'at' t", "HH:mm:ss 'at'");
    row("escaped quote", "H''mm''ss t", "H''mm''ss");
    row("long zone", "HH:mm:ss tttt", "HH:mm:ss");
    row("no zone", "HH:mm:ss", "HH:mm:ss");
    row("zone between", "HH:mm t ss", "HH:mm  ss");
}

void TestClock::zoneLeftOut()
{
    QFETCH(QString, format);
    QFETCH(QString, expected);
    QCOMPARE(ClockText::timeFormatWithoutZone(format), expected);
}

void TestClock::localeTexts_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("date");
    auto row = [](const char *locale, const char *time, const char *date) {
        QTest::newRow(locale) << QString::fromLatin1(locale) << QString::fromUtf8(time)
                              << QString::fromUtf8(date);
    };
    row("pl_PL", "14:05:09", "7.03.2024");
    row("de_DE", "14:05:09", "07.03.24");
    row("en_US", "2:05:09 PM", "3/7/24");
    row("en_GB", "14:05:09", "07/03/2024");
    row("sv_SE", "14:05:09", "2024-03-07");
}

void TestClock::localeTexts()
{
    QFETCH(QString, locale);
    QFETCH(QString, time);
    QFETCH(QString, date);
    const QLocale l(locale);
    QCOMPARE(ClockText::time(l, QTime(14, 5, 9)), time);
    QCOMPARE(ClockText::date(l, QDate(2024, 3, 7)), date);
}

void TestClock::firstTickFillsBothLabels()
{
    QElapsedTimer sinceLoad;
    sinceLoad.start();
    Form1 form(0);
    QLabel *time = form.controls().Label12;
    QLabel *date = form.controls().Label13;
    QVERIFY(time->text().isEmpty());
    QVERIFY(date->text().isEmpty());

    while (time->text().isEmpty() && sinceLoad.elapsed() < 5000) {
        QVERIFY(date->text().isEmpty());
        QTest::qWait(10);
    }
    // The timer may fire up to 5 % early; anything sooner is not the clock's first tick.
    QCOMPARE_GE(sinceLoad.elapsed(), 950);
    QVERIFY(!date->text().isEmpty());

    const QLocale system = QLocale::system();
    const QTime now = QTime::currentTime();
    QVERIFY2(time->text() == ClockText::time(system, now)
                 || time->text() == ClockText::time(system, now.addSecs(-1)),
             qPrintable(time->text()));
    const QDate today = QDate::currentDate();
    QVERIFY2(date->text() == ClockText::date(system, today)
                 || date->text() == ClockText::date(system, today.addDays(-1)),
             qPrintable(date->text()));
}

QTEST_MAIN(TestClock)
#include "tst_clock.moc"
