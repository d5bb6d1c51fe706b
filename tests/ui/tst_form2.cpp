#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include "connectedpanel.h"
#include "form2.h"

class TestForm2 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A second press shows no second window; closing unloads it, and the next showing
    // starts fresh: centred again, focus on "Zamknij".
    void oneAboutWindowReloadedFresh()
    {
        Form1 form(0);
        form.controls().Command10->click();
        form.controls().Command10->click();
        Form2 *about = Form2::instance();
        QCOMPARE(QApplication::topLevelWidgets().count(about), 1);
        QVERIFY(about->isVisible() && !QApplication::activeModalWidget());
        about->move(about->pos() + QPoint(137, 71));
        about->controls().Command1->click();
        QTRY_VERIFY(!about->isVisible() && !about->isLoaded());

        form.controls().Command10->click();
        QCOMPARE(about->focusWidget(), about->controls().Command1);
        QCOMPARE(about->controls().Command1->text(), QStringLiteral("Zamknij"));
        QVERIFY(about->frameGeometry() != about->geometry()); // centred with its frame
        QCOMPARE(about->frameGeometry().center(), about->screen()->availableGeometry().center());
        about->close();
    }

    // As the program runs: exit with the About window open closes the connection without
    // sending anything, and the program ends only when the About window closes too.
    void exitWithAboutOpen()
    {
        ConnectedPanel panel;
        QVERIFY(panel.startConnected());
        panel.press(13); // an output on: exit must not switch it off
        QCOMPARE(panel.peer.waitForLine(10000), QByteArray("000001000000000000000000F"));
        QPointer<Form1> form = panel.form.release(); // closing deletes it

        bool aboutOutlivedExit = false;
        QTimer::singleShot(0, form, [&] {
            form->controls().Command10->click();
            form->controls().Command20->click();
        });
        QTimer::singleShot(300, qApp, [&] {
            aboutOutlivedExit = form.isNull() && Form2::instance()->isVisible();
            Form2::instance()->controls().Command1->click();
        });
        QTimer guard; // a hang fails instead of blocking the run
        guard.callOnTimeout([] { QCoreApplication::exit(1); });
        guard.start(20000);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(aboutOutlivedExit);
        QTRY_COMPARE(panel.peer.socket().state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(panel.peer.received(), QByteArray());
    }
};

QTEST_MAIN(TestForm2)
#include "tst_form2.moc"
