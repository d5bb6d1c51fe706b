#include <QAbstractButton>
#include <QGroupBox>
#include <QHostInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "form1.h"
#include "shapecontrol.h"

namespace {

QString captionOf(const QWidget *w)
{
    if (const auto *button = qobject_cast<const QAbstractButton *>(w))
        return button->text();
    if (const auto *label = qobject_cast<const QLabel *>(w))
        return label->text();
    if (const auto *frame = qobject_cast<const QGroupBox *>(w))
        return frame->title();
    if (const auto *edit = qobject_cast<const QLineEdit *>(w))
        return edit->text();
    return w->windowTitle();
}

QString focusName()
{
    const QWidget *w = QApplication::focusWidget();
    return w ? w->objectName() : QStringLiteral("(none)");
}

// The names the Tab key visits from the current focus until it comes back round.
QStringList tabCycle(QWidget *window)
{
    const QString first = focusName();
    QStringList visited {first};
    for (int i = 0; i < 60; ++i) {
        QTest::keyClick(window->windowHandle(), Qt::Key_Tab);
        if (focusName() == first)
            break;
        visited.append(focusName());
    }
    return visited;
}

QStringList outputButtonNames()
{
    QStringList names;
    for (int s = 1; s <= 3; ++s) {
        for (int n = 1; n <= 8; ++n)
            names.append(QStringLiteral("S%1%2").arg(s).arg(n));
    }
    return names;
}

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startUp();
    void captions_data();
    void captions();
    void windowIsFixedSize();
    void containment_data();
    void containment();
    void indicatorsStandAboveTheirButtons();
    void diagnosticLabelsLieBeneathTheFrames_data();
    void diagnosticLabelsLieBeneathTheFrames();
    void focusAndTabOrder();
};

void TestForm1::startUp()
{
    Form1 form; // the design port: start-up reads it but nothing listens yet
    const Form1::Controls &ui = form.controls();

    QCOMPARE(ui.IP->text(), QStringLiteral("IP: ") + ui.Winsock1->LocalIP());
    QCOMPARE(ui.Host->text(), QStringLiteral("Host: ") + QHostInfo::localHostName());
    QCOMPARE(ui.Port1->text(), QStringLiteral("Port: 6165"));
    QCOMPARE(form.state().ListenPort, std::optional<qint32>(6165));
    QCOMPARE(ui.Winsock1->State(), Winsock::sckClosed);

    for (const auto &section : ui.O) {
        for (const ShapeControl *output : section) {
            QCOMPARE(output->shape(), qint16(0));
            QCOMPARE(output->backColor(), Bgr::Red);
        }
    }
    for (const ShapeControl *input : ui.I)
        QCOMPARE(input->backColor(), Bgr::Red);
    QCOMPARE(form.state().InputState, (std::array<quint8, 8> {}));
    QCOMPARE(ui.Shape1->backColor(), Bgr::Red);
    QCOMPARE(ui.Shape2->backColor(), Bgr::Red);
    QVERIFY(form.state().ReceivedText.isEmpty());
    QVERIFY(form.state().FrameText.isEmpty());
    QVERIFY(form.state().CheckDigitValue.isEmpty());

    QCOMPARE(ui.Label1->text(), QStringLiteral("Label1"));
    QCOMPARE(ui.Label2->text(), QStringLiteral("Label2"));
    QCOMPARE(ui.Label3->text(), QStringLiteral("Label3"));
    QVERIFY(ui.Label12->text().isEmpty()); // the clock shows from its first tick on
    QVERIFY(ui.Label13->text().isEmpty());

    QVERIFY(ui.Command1->isEnabled());
    QVERIFY(!ui.Command2->isEnabled());
    QVERIFY(!ui.Timer1->isActive());
    QCOMPARE(ui.Timer1->interval(), 500);
    QVERIFY(ui.Timer2->isActive());
    QCOMPARE(ui.Timer2->interval(), 1000);

    // Labels that can carry network text never interpret it.
    QCOMPARE(ui.IP->textFormat(), Qt::PlainText);
    QCOMPARE(ui.Label3->textFormat(), Qt::PlainText);

    // KORVAN_SCREENSHOTS=<folder> keeps a picture of the window to look at.
    if (const QString folder = qEnvironmentVariable("KORVAN_SCREENSHOTS"); !folder.isEmpty()) {
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.grab().save(folder + QStringLiteral("/korvan-start-up.png")));
    }
}

void TestForm1::captions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");

    const auto row = [](const char *name, const QString &caption) {
        QTest::newRow(name) << QString::fromLatin1(name) << caption;
    };
    row("Form1", QStringLiteral("Korvan"));
    row("Text1", QStringLiteral("Korvan v1.0"));
    row("Frame1", QStringLiteral("Sekcja Output1"));
    row("Frame3", QStringLiteral("Sekcja Output2"));
    row("Frame4", QStringLiteral("Sekcja Output3"));
    row("Frame5", QStringLiteral("Sekcja Input"));
    row("Frame2", QString());
    row("Command1", QStringLiteral("Rozpocznij nasłuch"));
    row("Command2", QStringLiteral("Zakończ nasłuch"));
    row("Command10", QStringLiteral("O programie..."));
    row("Command20", QStringLiteral("Zakończ program"));
    row("S11", QStringLiteral("1"));
    row("S28", QStringLiteral("8"));
    row("S35", QStringLiteral("5"));
    row("Label4", QStringLiteral("1"));
    row("Label11", QStringLiteral("8"));
}

void TestForm1::captions()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);

    Form1 form(0);
    QWidget *w = name == form.objectName() ? &form : form.findChild<QWidget *>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(captionOf(w), caption);
}

void TestForm1::windowIsFixedSize()
{
    Form1 form(0);
    const QSize client(8280 / 15, 7200 / 15);
    QCOMPARE(form.size(), client);
    QCOMPARE(form.minimumSize(), client);
    QCOMPARE(form.maximumSize(), client);
    QVERIFY(!form.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(form.windowFlags().testFlag(Qt::WindowCloseButtonHint));
}

void TestForm1::containment_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");

    const auto row = [](const char *name, const char *container) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(container);
    };
    for (const char *topLevel :
         {"Text1", "Frame1", "Frame2", "Frame3", "Frame4", "Frame5", "Label1", "Label2", "Label3"})
        row(topLevel, "Form1");
    row("S11", "Frame1");
    row("O18", "Frame1");
    row("S21", "Frame3");
    row("O28", "Frame3");
    row("S38", "Frame4");
    row("O31", "Frame4");
    row("I1", "Frame5");
    row("Label11", "Frame5");
    for (const char *command : {"Command1", "Shape1", "Command2", "Shape2", "Host", "IP", "Port1",
                                "Label12", "Label13", "Command10", "Command20"})
        row(command, "Frame2");
}

// Each control sits in its container and wholly inside its bounds.
void TestForm1::containment()
{
    QFETCH(QString, name);
    QFETCH(QString, container);

    Form1 form(0);
    const QWidget *w = form.findChild<QWidget *>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(w->parentWidget()->objectName(), container);
    QVERIFY2(w->parentWidget()->rect().contains(w->geometry()), qPrintable(name));
}

void TestForm1::indicatorsStandAboveTheirButtons()
{
    Form1 form(0);
    const Form1::Controls &ui = form.controls();
    for (size_t s = 0; s < ui.S.size(); ++s) {
        for (size_t n = 0; n < ui.S[s].size(); ++n) {
            const QRect button = ui.S[s][n]->geometry();
            const QRect output = ui.O[s][n]->geometry();
            QVERIFY(qAbs(button.center().x() - output.center().x()) <= 1);
            QVERIFY(output.bottom() < button.top());
            QCOMPARE(output.width(), output.height());
            if (n > 0)
                QVERIFY(button.left() > ui.S[s][n - 1]->geometry().right()); // 1 … 8
        }
    }
    for (size_t k = 1; k < ui.I.size(); ++k)
        QVERIFY(ui.I[k]->x() > ui.I[k - 1]->x()); // I1 leftmost
}

void TestForm1::diagnosticLabelsLieBeneathTheFrames_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QPoint>("twips");
    QTest::addColumn<QString>("seen");

    QTest::newRow("Label1 under Frame5")
        << QStringLiteral("Label1") << QPoint(1200, 6180) << QStringLiteral("Frame5");
    QTest::newRow("Label2 under Frame4")
        << QStringLiteral("Label2") << QPoint(3480, 5040) << QStringLiteral("Frame4");
    QTest::newRow("Label2 under Frame2")
        << QStringLiteral("Label2") << QPoint(6300, 5040) << QStringLiteral("Frame2");
    QTest::newRow("Label3 under Frame4")
        << QStringLiteral("Label3") << QPoint(2940, 5500) << QStringLiteral("Frame4");
    QTest::newRow("Label3 under Frame5")
        << QStringLiteral("Label3") << QPoint(2940, 5765) << QStringLiteral("Frame5");
    // The strips between the frames leave the labels' background uncovered.
    QTest::newRow("Label2 in the gap")
        << QStringLiteral("Label2") << QPoint(5467, 5040) << QStringLiteral("Label2");
    QTest::newRow("Label3 in the gap")
        << QStringLiteral("Label3") << QPoint(2940, 5707) << QStringLiteral("Label3");
}

void TestForm1::diagnosticLabelsLieBeneathTheFrames()
{
    QFETCH(QString, label);
    QFETCH(QPoint, twips);
    QFETCH(QString, seen);

    Form1 form(0);
    const QWidget *l = form.findChild<QWidget *>(label);
    const QPoint at = twips / 15;
    QVERIFY(l->geometry().contains(at));
    QWidget *top = form.childAt(at);
    QVERIFY(top);
    while (top->parentWidget() != &form)
        top = top->parentWidget();
    QCOMPARE(top->objectName(), seen);
}

void TestForm1::focusAndTabOrder()
{
    Form1 form(0);
    const Form1::Controls &ui = form.controls();
    form.show();
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(focusName(), QStringLiteral("Command1"));

    QStringList expected {QStringLiteral("Command1"), QStringLiteral("Command10")};
    expected << outputButtonNames() << QStringLiteral("Command20");
    QCOMPARE(tabCycle(&form), expected);
    QCOMPARE(focusName(), QStringLiteral("Command1"));

    // Space on the start button starts supervision, which enables the stop button and
    // puts it at the head of the chain.
    QTest::keyClick(form.windowHandle(), Qt::Key_Space);
    QVERIFY(ui.Timer1->isActive());
    QVERIFY(ui.Command2->isEnabled());
    ui.Command2->setFocus();
    const QStringList running = tabCycle(&form);
    QCOMPARE(running.first(), QStringLiteral("Command2"));
    QVERIFY(running.indexOf(QStringLiteral("Command10")) < running.indexOf(QStringLiteral("S11")));
    QCOMPARE(running.last(), QStringLiteral("Command20"));
    QVERIFY(!running.contains(QStringLiteral("Text1")));
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
