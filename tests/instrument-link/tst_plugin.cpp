#include <tqcore/instrument.h>
#include <tqcore/instrumentplugin.h>
#include <tqcore/workbench.h>

#include <QtTest>

#include <memory>

// The plug-in as the host loads it: from the build's plug-in folder, through
// the toolkit's plug-in loader, the factory found by its interface.
class TestPlugin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void metadata();
    void factory_data();
    void factory();
    void createdInstrument();

private:
    QTemporaryDir m_dir;
    QPluginLoader m_loader;
    InstrumentFactoryInterface* m_factory = nullptr;
};

void TestPlugin::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QDir::setCurrent(m_dir.path());
    m_loader.setFileName(QStringLiteral(INSTRVELA_PLUGIN_FILE));
    QVERIFY2(m_loader.load(), qPrintable(m_loader.errorString()));
    m_factory = qobject_cast<InstrumentFactoryInterface*>(m_loader.instance());
    QVERIFY(m_factory);
}

void TestPlugin::metadata()
{
    const QJsonObject meta = m_loader.metaData();
    QCOMPARE(meta.value(QLatin1String("IID")).toString(), QStringLiteral(InstrumentFactoryInterface_iid));
    const QJsonArray keys = meta.value(QLatin1String("MetaData")).toObject().value(QLatin1String("Keys")).toArray();
    QCOMPARE(keys.size(), 1);
    QCOMPARE(keys.at(0).toString(), QStringLiteral("InstrVela"));
    QCOMPARE(m_factory->keys(), QStringList{QStringLiteral("InstrVela")});
    // One plug-in object per load, kept by the loader.
    QCOMPARE(m_loader.instance(), m_loader.instance());
}

void TestPlugin::factory_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("made");
    QTest::newRow("InstrVela") << "InstrVela" << true;
    QTest::newRow("other case") << "instrvela" << false;
    QTest::newRow("foreign key") << "InstrOther" << false;
    QTest::newRow("empty") << "" << false;
}

void TestPlugin::factory()
{
    QFETCH(QString, key);
    QFETCH(bool, made);
    Workbench workbench;
    std::unique_ptr<Instrument> instrument(m_factory->create(key, &workbench));
    QCOMPARE(bool(instrument), made);
}

void TestPlugin::createdInstrument()
{
    Workbench workbench;
    std::unique_ptr<Instrument> instrument(m_factory->create(QStringLiteral("InstrVela"), &workbench));
    QVERIFY(instrument);
    QCOMPARE(instrument->metaObject()->className(), "InstrVela");
    QCOMPARE(instrument->workbench(), &workbench);
    QVERIFY(instrument->hasFeature(0));
    QVERIFY(!instrument->isConnected());
    QCOMPARE(instrument->findMessage(0x10020), QStringLiteral("废液瓶满。"));
    QVERIFY(instrument->paramData());
    QVERIFY(!instrument->isValidParam());
    QVERIFY(!instrument->loadParam()); // no link: nothing comes back
}

QTEST_MAIN(TestPlugin)
#include "tst_plugin.moc"
