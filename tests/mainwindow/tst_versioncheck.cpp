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
        QTest::addColumn<QList<quint32>>("latest");
        QTest::addColumn<QStringList>("seen");
        const QString newer =
            "新しい星環演武がリリースされています。\nTILEWORKのホームページで"
            "新しいファイルを入手して、\nバージョンアップすることをお勧めします。";
        const QString failed = "バージョンチェック: 星環演武のバージョンチェックに失敗しました。\n";
        const QByteArray v258 = QByteArray::fromHex("00000102");
        // Big-endian, and only the first four bytes count.
        QTest::newRow("same, longer file")
            << QByteArray::fromHex("0000010299") << QList<quint32>{258} << QStringList();
        QTest::newRow("older and newer, every entry checked")
            << v258 << QList<quint32>{257, 258, 259} << QStringList{newer, newer};
        QTest::newRow("3 bytes") << QByteArray::fromHex("000001") << QList<quint32>{258}
                                 << QStringList{failed + "ファイルが読み込めません。"};
        QTest::newRow("missing")
            << QByteArray() << QList<quint32>{258}
            << QStringList{failed +
                           "(インストールしたフォルダから手動で移動したりすると発生します)"};
        // Without a configured folder there is nothing to check.
        QTest::newRow("unconfigured") << QByteArray("-") << QList<quint32>{258} << QStringList();
    }
    void check()
    {
        QFETCH(QByteArray, file);
        QFETCH(QList<quint32>, latest);
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
        QVector<GameVersion> games;
        for (quint32 version : latest)
            games.append({0, version});
        checkGameVersions(nullptr, games);
        QCOMPARE(shown, seen);
    }
};

QTEST_MAIN(VersionCheckTest)
#include "tst_versioncheck.moc"
