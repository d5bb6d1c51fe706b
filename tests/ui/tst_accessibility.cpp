#include <QAccessible>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <memory>

#include "controllerpeer.h"
#include "form1.h"
#include "shapecontrol.h"

// What a screen reader or UI-automation tool reads from the panel, without its colours.
class TestAccessibility : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void freshPanel_data();
    void freshPanel();
    void afterControllerTalked_data();
    void afterControllerTalked();
    void indicatorsAreIndicators();

private:
    void addRows(std::initializer_list<std::pair<const char *, const char *>> rows);
    void compareName();

    std::unique_ptr<Form1> m_form;
    ControllerPeer m_controller;
};

void TestAccessibility::initTestCase()
{
    m_form = std::make_unique<Form1>(0);
    m_form->show();
}

void TestAccessibility::cleanupTestCase()
{
    m_form.reset();
}

void TestAccessibility::addRows(std::initializer_list<std::pair<const char *, const char *>> rows)
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("name");
    for (const auto &[control, name] : rows)
        QTest::newRow(control) << QString::fromLatin1(control) << QString::fromUtf8(name);
}

void TestAccessibility::compareName()
{
    QFETCH(QString, control);
    QFETCH(QString, name);
    auto *widget = m_form->findChild<QWidget *>(control);
    QVERIFY(widget);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(accessible);
    QCOMPARE(accessible->text(QAccessible::Name), name);
}

void TestAccessibility::freshPanel_data()
{
    addRows({{"O11", "Wyjście 1, sekcja 1: wyłączone"},
             {"O38", "Wyjście 8, sekcja 3: wyłączone"},
             {"I8", "Wejście 8: wyłączone"},
             {"Shape1", "Nadzór łącza: czerwony"},
             {"Shape2", "Połączenie ze sterownikiem: brak"},
             {"Command1", "Rozpocznij nasłuch"},
             {"Command2", "Zakończ nasłuch"},
             {"Command10", "O programie..."},
             {"Command20", "Zakończ program"},
             {"S13", "3"}});
}

void TestAccessibility::freshPanel()
{
    compareName();
}

void TestAccessibility::afterControllerTalked_data()
{
    const bool talked = [this] {
        m_form->controls().Command1->click();
        const Winsock *socket = m_form->controls().Winsock1;
        if (!QTest::qWaitFor([socket] { return socket->State() == Winsock::sckListening; }))
            return false;
        if (!m_controller.connectTo(quint16(socket->LocalPort())))
            return false;
        if (!QTest::qWaitFor([socket] { return socket->State() == Winsock::sckConnected; }))
            return false;
        m_controller.send("STEROWNIK");
        if (!QTest::qWaitFor(
                [this] { return m_form->controls().Shape2->backColor() == Bgr::Green; }))
            return false;
        m_controller.send("00000101");
        if (!QTest::qWaitFor([this] { return m_form->controls().I[0]->backColor() == Bgr::Green; }))
            return false;
        m_form->controls().S[0][2]->click();
        return !m_controller.waitForLine().isEmpty();
    }();
    QVERIFY(talked);
    addRows({{"O13", "Wyjście 3, sekcja 1: włączone"},
             {"O14", "Wyjście 4, sekcja 1: wyłączone"},
             {"I1", "Wejście 1: włączone"},
             {"I2", "Wejście 2: wyłączone"},
             {"I3", "Wejście 3: włączone"},
             {"Shape2", "Połączenie ze sterownikiem: nawiązane"}});
}

void TestAccessibility::afterControllerTalked()
{
    compareName();
}

void TestAccessibility::indicatorsAreIndicators()
{
    QAccessibleInterface *accessible
        = QAccessible::queryAccessibleInterface(m_form->controls().Shape1);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::Indicator);
    QVERIFY(accessible->text(QAccessible::Name).startsWith(QStringLiteral("Nadzór łącza: ")));
    QCOMPARE(QAccessible::queryAccessibleInterface(m_form->controls().S[1][4])
                 ->text(QAccessible::Description),
             QStringLiteral("Przełącza wyjście 5 sekcji 2"));
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
