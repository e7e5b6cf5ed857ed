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

#include <sys/stat.h>

static int fileMode(const QString& path)
{
    struct stat info {
    };
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 0777);
}

class StartupTest : public QObject
{
    Q_OBJECT

  private slots:
    void localCodecFallsBackThroughShiftJisNames_data();
    void localCodecFallsBackThroughShiftJisNames();
    void noUsableCodecIsFatal();
    void userSettingsFileIsPrivate();
    void settingsReachDiskWhenTheProcessEnds();
    void secondFatalErrorEndsAtOnce();
    void gameTitles();
    void gameFilePaths_data();
    void gameFilePaths();
    void unknownGameIdIsFatal();
};

void StartupTest::localCodecFallsBackThroughShiftJisNames_data()
{
    QTest::addColumn<bool>("hasLocale");
    QTest::addColumn<QByteArray>("available");
    QTest::addColumn<QByteArray>("chosen");
    QTest::addColumn<QStringList>("asked");
    QTest::newRow("locale codec") << true << QByteArray("SJIS") << QByteArray("UTF-8")
                                  << QStringList();
    QTest::newRow("SJIS") << false << QByteArray("SJIS") << QByteArray("Shift_JIS")
                          << QStringList({"SJIS"});
    QTest::newRow("Shift-JIS") << false << QByteArray("Shift-JIS") << QByteArray("Shift_JIS")
                               << QStringList({"SJIS", "Shift-JIS"});
    QTest::newRow("ja_JP.SJIS") << false << QByteArray("ja_JP.SJIS") << QByteArray("Shift_JIS")
                                << QStringList({"SJIS", "Shift-JIS", "ja_JP.SJIS"});
    QTest::newRow("none") << false << QByteArray("EUC-JP") << QByteArray()
                          << QStringList({"SJIS", "Shift-JIS", "ja_JP.SJIS"});
}

void StartupTest::localCodecFallsBackThroughShiftJisNames()
{
    QFETCH(bool, hasLocale);
    QFETCH(QByteArray, available);
    QFETCH(QByteArray, chosen);
    QFETCH(QStringList, asked);

    QStringList names;
    auto lookup = [&](const QByteArray& name) -> QTextCodec* {
        names << QString::fromLatin1(name);
        return name == available ? QTextCodec::codecForName("Shift_JIS") : nullptr;
    };
    QTextCodec* locale = hasLocale ? QTextCodec::codecForName("UTF-8") : nullptr;
    QTextCodec* codec = chooseLocalCodec(locale, lookup);
    QCOMPARE(codec ? codec->name() : QByteArray(), chosen);
    QCOMPARE(names, asked);
}

void StartupTest::noUsableCodecIsFatal()
{
    const ScenarioResult result = runScenario("noCodec");
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.stdErr.contains("critical error: \"テキストコーデックが見つかりませんでした\""),
             qPrintable(result.stdErr));
}

void StartupTest::userSettingsFileIsPrivate()
{
    TestEnvironment env;
    const QString file = env.userSettingsFile();
    QCOMPARE(fileMode(file), 0600);

    userSettings->setValue("account/password", "secret");
    userSettings->sync();
    QCOMPARE(fileMode(file), 0600);
    QCOMPARE(QSettings(file, QSettings::IniFormat).value("account/password").toString(),
             QString("secret"));

    // A file left readable by an older run is closed up on the next start.
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    delete userSettings;
    openSettingsStores();
    QCOMPARE(fileMode(file), 0600);
    QCOMPARE(userSettings->value("account/password", "").toString(), QString("secret"));
    QCOMPARE(userSettings->value("account/id", "").toString(), QString(""));
}

void StartupTest::settingsReachDiskWhenTheProcessEnds()
{
    TestEnvironment env;
    const ScenarioResult result = runScenario("writeThenFail");
    QCOMPARE(result.exitCode, 1);
    QSettings stored(env.userSettingsFile(), QSettings::IniFormat);
    QCOMPARE(stored.value("account/id").toString(), QString("kept"));
}

void StartupTest::secondFatalErrorEndsAtOnce()
{
    // The child never answers the first box: only the second failure can end it.
    const ScenarioResult result = runScenario("nestedFatal", {}, 20000);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QVERIFY(result.stdErr.contains("critical error: \"first\""));
    QVERIFY(result.stdErr.contains("critical error: \"second\""));
}

void StartupTest::gameTitles()
{
    QCOMPARE(gameTitle(0), QString("星環演武"));
    QCOMPARE(gameTitle(1), QString("unknown title"));
    QCOMPARE(gameTitle(chatOnlyGameId), QString("unknown title"));
}

void StartupTest::gameFilePaths_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("path");
    QTest::newRow("not configured") << QString() << QString();
    QTest::newRow("no separator") << "/opt/game"
                                  << "/opt/game/ver.";
    QTest::newRow("slash") << "/opt/game/"
                           << "/opt/game/ver.";
    QTest::newRow("backslash") << "C:\\Game\\"
                               << "C:\\Game\\ver.";
}

void StartupTest::gameFilePaths()
{
    QFETCH(QString, folder);
    QFETCH(QString, path);
    TestEnvironment env;
    if (!folder.isNull())
        machineSettings->setValue("SeikanEmbu", folder);
    QCOMPARE(gameFilePath(0, "ver."), path);
}

void StartupTest::unknownGameIdIsFatal()
{
    const ScenarioResult result = runScenario("unknownGame");
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.stdErr.contains("critical error:"), qPrintable(result.stdErr));
}

static int runStartupScenario(const QString& name)
{
    if (name == "noCodec") {
        auto answers = answerEveryModalWindow();
        setUpLocalCodec(nullptr, [](const QByteArray&) { return nullptr; });
    } else if (name == "writeThenFail") {
        openSettingsStores();
        auto answers = answerEveryModalWindow();
        userSettings->setValue("account/id", "kept");
        fatalError("after write");
    } else if (name == "nestedFatal") {
        QTimer::singleShot(0, [] { fatalError("second"); });
        fatalError("first");
    } else if (name == "unknownGame") {
        TestEnvironment env;
        auto answers = answerEveryModalWindow();
        gameFilePath(1, "ver.");
    }
    return 91;
}

TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(StartupTest, runStartupScenario)
#include "tst_startup.moc"
