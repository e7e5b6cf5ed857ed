// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/gameinfo.h"
#include "app/globals.h"
#include "app/paths.h"
#include "app/startup.h"
#include "support/childscenario.h"
#include "support/dialogtesting.h"
#include "support/modalanswer.h"
#include "support/testenvironment.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTimer>
#include <QtTest>

class StartupTest : public QObject
{
    Q_OBJECT

  private slots:
    // The locale's own codec wins; without it the Shift-JIS names are tried in this order.
    void localCodecFallsBackThroughShiftJisNames()
    {
        QTextCodec* locale = QTextCodec::codecForName("UTF-8");
        QTextCodec* sjis = QTextCodec::codecForName("Shift_JIS");
        QStringList asked;
        const auto finding = [&](const QByteArray& available) {
            return [&asked, available, sjis](const QByteArray& name) {
                asked << QString::fromLatin1(name);
                return name == available ? sjis : nullptr;
            };
        };
        QCOMPARE(chooseLocalCodec(locale, finding("SJIS")), locale);
        QCOMPARE(chooseLocalCodec(nullptr, finding("Shift-JIS")), sjis);
        QCOMPARE(chooseLocalCodec(nullptr, finding("EUC-JP")), nullptr);
        QCOMPARE(asked, QStringList({"SJIS", "Shift-JIS", "SJIS", "Shift-JIS", "ja_JP.SJIS"}));
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
        userSettings->setValue("account/password", "secret");
        userSettings->sync();
        QVERIFY(privateFile());

        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        delete userSettings;
        openSettingsStores();
        QVERIFY(privateFile());
        QCOMPARE(userSettings->value("account/password", "").toString(), QString("secret"));
    }

    // Files laid out under a scratch prefix; the executable sits in its bin folder.
    void shippedFileLookup()
    {
        const QStringList installed{"bin/", "libexec/tileparlor/f", "share/tileparlor/f"};
        for (const auto& [present, kind, found] :
             {std::tuple{installed + QStringList{"bin/f"}, Shipped::Helper, "bin/f"},
              {installed, Shipped::Helper, "libexec/tileparlor/f"},
              {installed, Shipped::Data, "share/tileparlor/f"},
              {QStringList{"bin/", "share/tileparlor/f"}, Shipped::Helper, ""}}) {
            QTemporaryDir prefix;
            for (const QString& file : present)
                QVERIFY(
                    QDir(prefix.path()).mkpath(QFileInfo(file).path()) &&
                    (file.endsWith('/') || QFile(prefix.filePath(file)).open(QFile::WriteOnly)));
            QCOMPARE(shippedFile("f", kind, prefix.filePath("bin")),
                     *found ? prefix.filePath(found) : QString());
        }
    }

    void fatal_data()
    {
        // Tagged by scenario.
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("noCodec") << QStringList({"テキストコーデックが見つかりませんでした"});
        QTest::newRow("unknownGame")
            << QStringList({"なぜか知らないゲームのファイルを探そうとした (game id 1)"});
        QTest::newRow("nestedFatal") << QStringList({"first", "second"});
        QTest::newRow("writeThenFail") << QStringList({"after write"});
    }

    void fatal()
    {
        QFETCH(QStringList, texts);
        TestEnvironment env;
        const QString scenario = QTest::currentDataTag();
        const ScenarioResult result = runScenario(scenario, 20000);
        for (const QString& text : texts)
            VERIFY_FATAL_EXIT(result, text);
        // Settings reach the disk even when the process ends this way.
        if (scenario == "writeThenFail")
            QCOMPARE(QSettings(env.userSettingsFile(), QSettings::IniFormat).value("account/id"),
                     QVariant("kept"));
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
