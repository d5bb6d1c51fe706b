#include <QGroupBox>
#include <QHostInfo>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "form1.h"
#include "shapecontrol.h"

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
        QVERIFY(ui.Label12->text().isEmpty() && ui.Label13->text().isEmpty());
        QVERIFY(ui.Command1->isEnabled() && !ui.Command2->isEnabled());
        QVERIFY(!ui.Timer1->isActive() && ui.Timer2->isActive());
        QCOMPARE(ui.Label3->textFormat(), Qt::PlainText); // network text is never markup

        // A fixed client area; the diagnostic labels lie beneath the frames, which cover
        // them, and show in the gaps between frames.
        QCOMPARE(form.minimumSize(), QSize(552, 480));
        QCOMPARE(form.maximumSize(), QSize(552, 480));
        const std::pair<QPoint, const char *> seen[] = {{{80, 412}, "Frame5"},
                                                        {{232, 336}, "Frame4"},
                                                        {{420, 336}, "Frame2"},
                                                        {{364, 336}, "Label2"},
                                                        {{196, 380}, "Label3"}};
        for (const auto &[at, name] : seen) {
            QWidget *top = form.childAt(at);
            while (top && top->parentWidget() != &form)
                top = top->parentWidget();
            QVERIFY2(top && top->objectName() == QLatin1String(name), name);
        }
    }

    void controls_data()
    {
        QTest::addColumn<QString>("container");
        QTest::addColumn<QString>("caption");
        const auto row = [](const char *name, const char *container, const char *caption) {
            QTest::newRow(name) << QString::fromLatin1(container) << QString::fromUtf8(caption);
        };
        row("Text1", "Form1", "Korvan v1.0");
        row("Frame1", "Form1", "Sekcja Output1");
        row("Frame5", "Form1", "Sekcja Input");
        row("Label2", "Form1", "Label2");
        row("S11", "Frame1", "1");
        row("O18", "Frame1", "");
        row("S35", "Frame4", "5");
        row("Label11", "Frame5", "8");
        row("Command1", "Frame2", "Rozpocznij nasłuch");
        row("Command2", "Frame2", "Zakończ nasłuch");
        row("Command10", "Frame2", "O programie...");
        row("Command20", "Frame2", "Zakończ program");
    }

    // Each control sits wholly inside its container and shows its caption.
    void controls()
    {
        QFETCH(QString, container);
        QFETCH(QString, caption);
        Form1 form(0);
        const QWidget *w = form.findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(w);
        QCOMPARE(w->parentWidget()->objectName(), container);
        QVERIFY(w->parentWidget()->rect().contains(w->geometry()));
        QCOMPARE(w->property(qobject_cast<const QGroupBox *>(w) ? "title" : "text").toString(),
                 caption);
    }

    // Command2 (while enabled), Command1, Command10, S11 … S38, Command20; a disabled
    // button is passed over.
    void tabOrder_data()
    {
        QTest::addColumn<bool>("started");
        QTest::addColumn<QString>("order");
        const QString outputs = QStringLiteral("S11 S12 S13 S14 S15 S16 S17 S18 S21 S22 S23 S24 "
                                               "S25 S26 S27 S28 S31 S32 S33 S34 S35 S36 S37 S38");
        QTest::newRow("at start-up")
            << false << QStringLiteral("Command1 Command10 ") + outputs + u" Command20 Command1";
        QTest::newRow("supervising")
            << true << QStringLiteral("Command2 Command10 ") + outputs + u" Command20 Command2";
    }

    void tabOrder()
    {
        QFETCH(bool, started);
        QFETCH(QString, order);
        Form1 form(0);
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QCOMPARE(QApplication::focusWidget(), form.controls().Command1);
        if (started) {
            QTest::keyClick(form.windowHandle(), Qt::Key_Space);
            QVERIFY(form.controls().Timer1->isActive());
            form.controls().Command2->setFocus();
        }
        QStringList visited;
        for (qsizetype i = order.count(u' '); i >= 0; --i) {
            visited << QApplication::focusWidget()->objectName();
            QTest::keyClick(form.windowHandle(), Qt::Key_Tab);
        }
        QCOMPARE(visited.join(u' '), order);
    }

    // Centred on its first showing with its frame, as the operator sees it.
    void centredWithFrame()
    {
        Form1 form(0);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        if (form.frameGeometry() == form.geometry())
            QSKIP("this platform draws no window frame");
        QCOMPARE(form.frameGeometry().center(), form.screen()->availableGeometry().center());
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
