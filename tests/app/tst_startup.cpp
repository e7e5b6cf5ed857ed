#include "app/gameinfo.h"
#include "app/globals.h"
#include "app/startup.h"
#include "support/childscenario.h"
#include "support/modalanswer.h"
#include "support/testenvironment.h"

#include <QFile>
#include <QSettings>
#include <QTextCodec>
#include <QTimer>
#include <QtTest>

class StartupTest : public QObject
{
    Q_OBJECT

  private slots:
    void localCodecFallsBackThroughShiftJisNames_data()
    {
        QTest::addColumn<QByteArray>("available");
        QTest::addColumn<QStringList>("asked");
        const QStringList all = {"SJIS", "Shift-JIS", "ja_JP.SJIS"};
        // "locale": the locale's own codec is there and nothing is looked up.
        QTest::newRow("locale codec") << QByteArray("locale") << QStringList();
        QTest::newRow("SJIS") << QByteArray("SJIS") << all.mid(0, 1);
        QTest::newRow("Shift-JIS") << QByteArray("Shift-JIS") << all.mid(0, 2);
        QTest::newRow("ja_JP.SJIS") << QByteArray("ja_JP.SJIS") << all;
        QTest::newRow("none") << QByteArray("EUC-JP") << all;
    }

    void localCodecFallsBackThroughShiftJisNames()
    {
        QFETCH(QByteArray, available);
        QFETCH(QStringList, asked);
        QTextCodec* locale = QTextCodec::codecForName("UTF-8");
        QTextCodec* sjis = QTextCodec::codecForName("Shift_JIS");
        QStringList names;
        auto lookup = [&](const QByteArray& name) {
            names << QString::fromLatin1(name);
            return name == available ? sjis : nullptr;
        };
        QTextCodec* codec = chooseLocalCodec(available == "locale" ? locale : nullptr, lookup);
        QCOMPARE(names, asked);
        QCOMPARE(codec, available == "locale"       ? locale
                        : names.contains(available) ? sjis
                                                    : nullptr);
    }

    // The file holds the password: it stays private through every save, and a file left readable by
    // an older run is closed up on the next start.
    void userSettingsFileIsPrivate()
    {
        TestEnvironment env;
        const QString file = env.userSettingsFile();
        const auto privateFile = [&] {
            return QFile::permissions(file) ==
                   (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        };
        QVERIFY(privateFile());
        userSettings->setValue("account/password", "secret");
        userSettings->sync();
        QVERIFY(privateFile());

        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        delete userSettings;
        openSettingsStores();
        QVERIFY(privateFile());
        QCOMPARE(userSettings->value("account/password", "").toString(), QString("secret"));
    }

    void fatal_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("no usable codec")
            << "noCodec" << QStringList({"テキストコーデックが見つかりませんでした"});
        QTest::newRow("unknown game id") << "unknownGame" << QStringList({""});
        QTest::newRow("second fatal error") << "nestedFatal" << QStringList({"first", "second"});
        QTest::newRow("settings written before") << "writeThenFail" << QStringList({"after write"});
    }

    void fatal()
    {
        QFETCH(QString, scenario);
        QFETCH(QStringList, texts);
        TestEnvironment env;
        const ScenarioResult result = runScenario(scenario, {}, 20000);
        QVERIFY(result.finished);
        QCOMPARE(result.exitCode, 1);
        for (const QString& text : texts) {
            const QString line = QString("critical error: \"%1").arg(text);
            QVERIFY2(result.stdErr.contains(line), qPrintable(result.stdErr));
        }
        // Settings reach the disk even when the process ends this way.
        if (scenario == "writeThenFail")
            QCOMPARE(QSettings(env.userSettingsFile(), QSettings::IniFormat).value("account/id"),
                     QVariant("kept"));
    }

    void gameFilePaths_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("path");
        QTest::newRow("not configured") << QString() << QString();
        QTest::newRow("no separator") << QString("/opt/game") << QString("/opt/game/ver.");
        QTest::newRow("slash") << QString("/opt/game/") << QString("/opt/game/ver.");
        QTest::newRow("backslash") << QString("C:\\Game\\") << QString("C:\\Game\\ver.");
    }

    void gameFilePaths()
    {
        QFETCH(QString, folder);
        QFETCH(QString, path);
        TestEnvironment env;
        if (!folder.isNull())
            machineSettings->setValue("SeikanEmbu", folder);
        QCOMPARE(gameFilePath(0, "ver."), path);
    }
};

static int runStartupScenario(const QString& name)
{
    // The second fatal error must end the process while the first one's box is still up.
    auto answers = name == "nestedFatal" ? nullptr : answerEveryModalWindow();
    if (name == "noCodec") {
        setUpLocalCodec(nullptr, [](const QByteArray&) { return nullptr; });
    } else if (name == "writeThenFail") {
        openSettingsStores();
        userSettings->setValue("account/id", "kept");
        fatalError("after write");
    } else if (name == "nestedFatal") {
        QTimer::singleShot(0, [] { fatalError("second"); });
        fatalError("first");
    } else if (name == "unknownGame") {
        TestEnvironment env;
        gameFilePath(1, "ver.");
    }
    return 91;
}

TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(StartupTest, runStartupScenario)
#include "tst_startup.moc"
