#include "app/globals.h"
#include "mainwindow/gameversioncheck.h"
#include "mainwindow/updatedialog.h"
#include "support/modalanswer.h"
#include "support/testenvironment.h"

#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QtTest>

class VersionCheckTest : public QObject
{
    Q_OBJECT

  private slots:
    void check_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("seen");
        const QString newer =
            "新しい星環演武がリリースされています。\nTILEWORKのホームページで"
            "新しいファイルを入手して、\nバージョンアップすることをお勧めします。";
        const QString failed = "バージョンチェック: 星環演武のバージョンチェックに失敗しました。\n";
        // The latest version is 258, big-endian in the file's first four bytes.
        QTest::newRow("same, longer file") << QByteArray::fromHex("0000010299") << QStringList();
        QTest::newRow("newer") << QByteArray::fromHex("00000103") << QStringList{newer};
        QTest::newRow("3 bytes") << QByteArray::fromHex("000001")
                                 << QStringList{failed + "ファイルが読み込めません。"};
        QTest::newRow("missing")
            << QByteArray()
            << QStringList{failed +
                           "(インストールしたフォルダから手動で移動したりすると発生します)"};
        // Without a configured folder there is nothing to check.
        QTest::newRow("unconfigured") << QByteArray("-") << QStringList();
    }
    void check()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, seen);
        TestEnvironment env;
        if (file != "-")
            machineSettings->setValue("SeikanEmbu", env.path(""));
        QFile version(env.path("ver."));
        if (!file.isNull())
            QVERIFY(version.open(QIODevice::WriteOnly) && version.write(file) == file.size());
        version.close();

        QStringList shown;
        ModalWatcher watcher(
            [&](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                shown << (box ? box->windowTitle() + ": " + box->text()
                              : modal->findChild<QLabel*>("labelUpper")->text());
                static_cast<QDialog*>(modal)->accept();
                return true;
            },
            true);
        checkGameVersions(nullptr, {{0, 258}});
        QCOMPARE(shown, seen);
    }
};

QTEST_MAIN(VersionCheckTest)
#include "tst_versioncheck.moc"
