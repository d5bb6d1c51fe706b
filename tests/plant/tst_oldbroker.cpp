#include <QTest>

#include "brokerhistory.h"
#include "brokerprocess.h"
#include "brokersubscriber.h"
#include "connectedpanel.h"
#include "oldbrokergate.h"
#include "plantpublisher.h"

using namespace Qt::StringLiterals;

// The panel speaks MQTT 5, so that a broker's refusal of a topic reaches the history; a
// broker that knows only 3.1.1 is asked again in its own version, at once.
class TestOldBroker : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { BrokerHistory::install(); }

    void protocolVersion_data()
    {
        QTest::addColumn<bool>("refuseVersion5");
        QTest::addColumn<QString>("connected");
        QTest::addColumn<int>("refused");
        QTest::newRow("a broker of today: MQTT 5") << false << u"(MQTT 5)"_s << 0;
        QTest::newRow("a 3.1.1 broker: asked again in 3.1.1") << true << u"(MQTT 3.1.1)"_s << 1;
    }
    void protocolVersion()
    {
        QFETCH(bool, refuseVersion5);
        QFETCH(QString, connected);
        QFETCH(int, refused);
        BrokerProcess broker;
        QVERIFY(broker.start());
        OldBrokerGate gate(broker.socketPath(), refuseVersion5);
        QVERIFY(gate.listen());
        BrokerSettings settings = broker.settings(u"korvan/old"_s);
        settings.host = u"127.0.0.1"_s;
        settings.port = gate.port();
        BrokerSubscriber subscriber(broker.settings(), u"korvan/old/#"_s);
        ConnectedPanel panel;
        PlantPublisher publisher(settings, *panel.form);
        QVERIFY(panel.startConnected() && panel.identify(panel.peer));
        QVERIFY(BrokerHistory::says(connected));
        QVERIFY(subscriber.waitFor(u"korvan/old/link"_s, "up"));
        panel.press(13);
        QVERIFY(subscriber.waitFor(u"korvan/old/outputs/O13"_s, "1"));
        QCOMPARE(gate.refused(), refused);
        QCOMPARE(gate.passed(), 1);
    }
};

QTEST_MAIN(TestOldBroker)
#include "tst_oldbroker.moc"
