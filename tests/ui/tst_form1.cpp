#include <QGroupBox>
#include <QHostInfo>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include "clocktext.h"
#include "connectedpanel.h"
#include "form2.h"

using namespace Qt::StringLiterals;

class TestForm1 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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
        QCOMPARE(form.minimumSize(), QSize(552, 480));
        QCOMPARE(form.maximumSize(), QSize(552, 480));
        // Each control in its container, with its caption.
        for (const char *row :
             {"Text1 Form1 Korvan v1.0", "Frame1 Form1 Sekcja Output1", "Frame5 Form1 Sekcja Input",
              "S11 Frame1 1", "S35 Frame4 5", "Label11 Frame5 8",
              "Command1 Frame2 Rozpocznij nasłuch", "Command2 Frame2 Zakończ nasłuch",
              "Command10 Frame2 O programie...", "Command20 Frame2 Zakończ program"}) {
            const QStringList words = QString::fromUtf8(row).split(u' ');
            const QWidget *w = form.findChild<QWidget *>(words[0]);
            QVERIFY2(w && w->parentWidget()->objectName() == words[1], row);
            QCOMPARE(w->property(qobject_cast<const QGroupBox *>(w) ? "title" : "text").toString(),
                     words.mid(2).join(u' '));
        }
        // The frames cover the diagnostic labels, which show in the gaps between them.
        for (const char *row : {"Frame5 80 412", "Frame4 232 336", "Frame2 420 336",
                                "Label2 364 336", "Label3 196 380"}) {
            const QStringList words = QString::fromLatin1(row).split(u' ');
            QWidget *top = form.childAt(words[1].toInt(), words[2].toInt());
            while (top && top->parentWidget() != &form)
                top = top->parentWidget();
            QVERIFY2(top && top->objectName() == words[0], row);
        }
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
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zone after") << u"HH:mm:ss t"_s << u"HH:mm:ss"_s;
        QTest::newRow("zone before") << u"t HH:mm:ss"_s << u"HH:mm:ss"_s;
        QTest::newRow("after comma") << u"h:mm:ss AP, t"_s << u"h:mm:ss AP"_s;
        QTest::newRow("quoted t kept") << u"'kl'. HH:mm:ss tttt"_s << u"'kl'. HH:mm:ss"_s;
    }

    void zoneLeftOut()
    {
        QFETCH(QString, format);
        QFETCH(QString, expected);
        QCOMPARE(ClockText::timeFormatWithoutZone(format), expected);
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
        QCOMPARE(QApplication::topLevelWidgets().count(about), 1);
        QVERIFY(about->isVisible() && !QApplication::activeModalWidget());
        about->move(about->pos() + QPoint(137, 71));
        about->controls().Command1->click();
        QTRY_VERIFY(!about->isVisible() && !about->isLoaded());
        panel.ui().Command10->click();
        QCOMPARE(about->focusWidget(), about->controls().Command1);
        QCOMPARE(about->controls().Command1->text(), u"Zamknij"_s);
        QVERIFY(about->frameGeometry() != about->geometry());
        QCOMPARE(about->frameGeometry().center(), about->screen()->availableGeometry().center());

        QPointer<Form1> form = panel.form.release(); // closing deletes it
        bool aboutOutlivedExit = false;
        QTimer::singleShot(0, form, [&] { form->controls().Command20->click(); });
        QTimer::singleShot(300, qApp, [&] {
            aboutOutlivedExit = form.isNull() && about->isVisible();
            about->controls().Command1->click();
        });
        QObject guard; // a hang fails instead of blocking the run
        QTimer::singleShot(20000, &guard, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(aboutOutlivedExit);
        QVERIFY(panel.peer.waitForDisconnect());
        QCOMPARE(panel.peer.received(), QByteArray());
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
