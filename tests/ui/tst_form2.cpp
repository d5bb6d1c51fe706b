#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "controllerpeer.h"
#include "form1.h"
#include "form2.h"

class TestForm2 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void secondPressOpensNoSecondWindow();
    void closingUnloadsAndReopeningStartsFresh_data();
    void closingUnloadsAndReopeningStartsFresh();
    void exitLeavesTheAboutWindowRunning();
    void exitSendsNothingAndClosesTheConnection();

private:
    static int visibleAboutWindows();
    static void pressAbout(Form1 *form) { form->controls().Command10->click(); }
    static void closeAbout(bool closeBox);

    QPointer<Form1> m_form;
};

void TestForm2::init()
{
    m_form = new Form1(0);
    m_form->show();
}

void TestForm2::cleanup()
{
    delete m_form.data();
    if (Form2 *about = Form2::instance())
        about->close();
}

int TestForm2::visibleAboutWindows()
{
    int count = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        count += w->objectName() == QLatin1String("Form2") && w->isVisible() ? 1 : 0;
    return count;
}

void TestForm2::closeAbout(bool closeBox)
{
    Form2 *about = Form2::instance();
    if (closeBox)
        about->close();
    else
        about->controls().Command1->click();
    QTRY_VERIFY(!about->isVisible());
}

void TestForm2::secondPressOpensNoSecondWindow()
{
    pressAbout(m_form);
    Form2 *about = Form2::instance();
    QVERIFY(about);
    QVERIFY(about->isVisible());
    QVERIFY(!about->parentWidget());
    QCOMPARE(about->windowTitle(), QStringLiteral("O programie"));
    const QPushButton *close = about->controls().Command1;

    pressAbout(m_form);
    QCOMPARE(Form2::instance(), about);
    QCOMPARE(about->controls().Command1, close);
    QCOMPARE(visibleAboutWindows(), 1);
    // Modeless: the main window keeps working.
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(m_form->controls().Command1->isEnabled());
}

void TestForm2::closingUnloadsAndReopeningStartsFresh_data()
{
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Zamknij") << false;
    QTest::newRow("close box") << true;
}

void TestForm2::closingUnloadsAndReopeningStartsFresh()
{
    QFETCH(bool, closeBox);
    pressAbout(m_form);
    Form2 *about = Form2::instance();
    QPointer<QLabel> title = about->controls().Label1;
    title->setText(QStringLiteral("zmieniony"));
    about->move(about->pos() + QPoint(137, 71));

    closeAbout(closeBox);
    QVERIFY(!about->isLoaded());
    QVERIFY(title.isNull());
    QVERIFY(!about->findChild<QPushButton *>(QStringLiteral("Command1")));
    QVERIFY(m_form->isVisible());

    pressAbout(m_form);
    QCOMPARE(Form2::instance(), about);
    QVERIFY(about->isVisible());
    QCOMPARE(about->controls().Label1->text(), QStringLiteral("Korvan"));
    QCOMPARE(about->focusWidget(), about->controls().Command1);
    QCOMPARE(about->controls().Command1->text(), QStringLiteral("Zamknij"));
    const QPoint screenCentre = about->screen()->availableGeometry().center();
    QVERIFY2((about->frameGeometry().center() - screenCentre).manhattanLength() <= 2,
             "the About window is centred each time it is loaded");
}

// Runs the application's event loop as the program does: it must end only when the
// About window, left open by the exit command, is closed too.
void TestForm2::exitLeavesTheAboutWindowRunning()
{
    bool aboutOutlivedExit = false;
    bool timedOut = false;
    QTimer::singleShot(0, m_form, [this] {
        pressAbout(m_form);
        m_form->controls().Command20->click();
    });
    QTimer::singleShot(300, qApp, [this, &aboutOutlivedExit] {
        aboutOutlivedExit = m_form.isNull() && Form2::instance()->isVisible();
        Form2::instance()->controls().Command1->click();
    });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, [&timedOut] {
        timedOut = true;
        QCoreApplication::exit(1);
    });
    guard.start(10000);

    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!timedOut);
    QVERIFY(aboutOutlivedExit);
    QVERIFY(!Form2::instance()->isVisible());
}

void TestForm2::exitSendsNothingAndClosesTheConnection()
{
    m_form->controls().Command1->click();
    const Winsock *socket = m_form->controls().Winsock1;
    QTRY_COMPARE(socket->State(), qint16(Winsock::sckListening));
    ControllerPeer controller;
    QVERIFY(controller.connectTo(quint16(socket->LocalPort())));
    QTRY_COMPARE(socket->State(), qint16(Winsock::sckConnected));
    // An output switched on before: exit must not switch it off or send anything.
    m_form->controls().S[0][2]->click();
    QCOMPARE(controller.waitForLine(), QByteArray("000001000000000000000000F"));

    m_form->controls().Command20->click();
    QTRY_VERIFY(m_form.isNull());
    QTRY_COMPARE(controller.socket().state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(controller.received(), QByteArray());
}

QTEST_MAIN(TestForm2)
#include "tst_form2.moc"
