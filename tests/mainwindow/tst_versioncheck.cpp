#include "app/globals.h"
#include "mainwindow/gameversioncheck.h"
#include "mainwindow/updatedialog.h"
#include "support/modalanswer.h"
#include "support/testenvironment.h"

#include <QCommandLinkButton>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QtTest>

class UrlCatcher : public QObject
{
    Q_OBJECT

  public:
    QList<QUrl> opened;

  public slots:
    void open(const QUrl& url) { opened << url; }
};

class VersionCheckTest : public QObject
{
    Q_OBJECT

  private slots:
    void check_data();
    void check();
};

void VersionCheckTest::check_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QList<quint32>>("latest");
    QTest::addColumn<QStringList>("seen");
    const QString newer = "notice: 新しい星環演武がリリースされています。\nTILEWORKのホームページで"
                          "新しいファイルを入手して、\nバージョンアップすることをお勧めします。";
    const QString failed = "information バージョンチェック: 星環演武のバージョンチェックに失敗"
                           "しました。\n";
    const auto row = [](const char* name, const QByteArray& file, const QList<quint32>& latest,
                        const QStringList& seen) { QTest::newRow(name) << file << latest << seen; };
    const QByteArray v258 = QByteArray::fromHex("00000102");
    row("same", v258, {258}, {});
    row("same, longer file", QByteArray::fromHex("0000010299"), {258}, {});
    row("other byte order", QByteArray::fromHex("02010000"), {258}, {newer});
    row("older and newer, every entry checked", v258, {257, 258, 259}, {newer, newer});
    row("3 bytes", QByteArray::fromHex("000001"), {258}, {failed + "ファイルが読み込めません。"});
    row("missing", QByteArray(), {258},
        {failed + "(インストールしたフォルダから手動で移動したりすると発生します)"});
    // Without a configured folder there is nothing to check.
    row("unconfigured", "-", {258}, {});
}

void VersionCheckTest::check()
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

    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(UpdateDialog::homepage().scheme(), &catcher, "open");
    QStringList shown;
    ModalWatcher watcher(
        [&](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                const bool information = box->icon() == QMessageBox::Information;
                shown << QString(information ? "information " : "other ") + box->windowTitle() +
                             ": " + box->text();
                box->button(QMessageBox::Ok)->click();
            } else if (auto* notice = qobject_cast<UpdateDialog*>(modal)) {
                // Its link opens the maker's page and leaves the notice up.
                notice->findChild<QCommandLinkButton*>("linkTilework")->click();
                shown << QString(notice->isVisible() ? "notice: " : "closed: ") +
                             notice->findChild<QLabel*>("labelUpper")->text();
                notice->accept();
            }
            return true;
        },
        true);
    QVector<GameVersion> games;
    for (quint32 version : latest)
        games.append({0, version});
    checkGameVersions(nullptr, games);
    QDesktopServices::unsetUrlHandler(UpdateDialog::homepage().scheme());
    QCOMPARE(shown, seen);
    QCOMPARE(catcher.opened, QList<QUrl>(seen.filter("notice: ").size(), UpdateDialog::homepage()));
}

QTEST_MAIN(VersionCheckTest)
#include "tst_versioncheck.moc"
