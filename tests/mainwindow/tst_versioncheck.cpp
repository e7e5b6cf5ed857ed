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

// Records what the update notice and the information boxes showed, answering each with Ok.
struct SeenModal {
    QString kind;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

class ModalLog
{
  public:
    ModalLog()
        : watcher(
              [this](QWidget* modal) {
                  if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                      seen.append({"box", box->windowTitle(), box->text(), box->icon()});
                      box->button(QMessageBox::Ok)->click();
                      return true;
                  }
                  if (auto* notice = qobject_cast<UpdateDialog*>(modal)) {
                      seen.append({"notice", notice->findChild<QLabel*>("labelLower")->text(),
                                   notice->findChild<QLabel*>("labelUpper")->text()});
                      notice->accept();
                      return true;
                  }
                  return false;
              },
              true)
    {
    }
    QList<SeenModal> seen;

  private:
    ModalWatcher watcher;
};

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
    void init();
    void cleanup();
    void installedVersionAgainstLatest_data();
    void installedVersionAgainstLatest();
    void missingFileAndUnconfiguredFolder();
    void everyEntryIsCheckedAfterANotice();
    void linkOpensHomepageAndLeavesNoticeOpen();

  private:
    void writeVersionFile(const QByteArray& bytes);
    std::unique_ptr<TestEnvironment> env;
};

void VersionCheckTest::init()
{
    env = std::make_unique<TestEnvironment>();
    machineSettings->setValue("SeikanEmbu", env->path(""));
}

void VersionCheckTest::cleanup()
{
    env.reset();
}

void VersionCheckTest::writeVersionFile(const QByteArray& bytes)
{
    QFile file(env->path("ver."));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

static const QString newerGame = "新しい星環演武がリリースされています。\n"
                                 "TILEWORKのホームページで新しいファイルを入手して、\n"
                                 "バージョンアップすることをお勧めします。";

void VersionCheckTest::installedVersionAgainstLatest_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("same") << QByteArray::fromHex("00000102") << ""
                          << "";
    QTest::newRow("same, longer file") << QByteArray::fromHex("0000010299") << ""
                                       << "";
    QTest::newRow("other byte order") << QByteArray::fromHex("02010000") << "notice" << newerGame;
    QTest::newRow("older") << QByteArray::fromHex("00000101") << "notice" << newerGame;
    QTest::newRow("newer") << QByteArray::fromHex("00000103") << "notice" << newerGame;
    QTest::newRow("3 bytes")
        << QByteArray::fromHex("000001") << "box"
        << "星環演武のバージョンチェックに失敗しました。\nファイルが読み込めません。";
}

void VersionCheckTest::installedVersionAgainstLatest()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, kind);
    QFETCH(QString, text);
    writeVersionFile(file);
    ModalLog log;
    checkGameVersions(nullptr, {{0, 258}});
    if (kind.isEmpty()) {
        QVERIFY(log.seen.isEmpty());
        return;
    }
    QCOMPARE(log.seen.size(), 1);
    QCOMPARE(log.seen[0].kind, kind);
    QCOMPARE(log.seen[0].text, text);
    QCOMPARE(log.seen[0].title, kind == "box" ? QString("バージョンチェック") : QString("\n"));
    if (kind == "box")
        QCOMPARE(log.seen[0].icon, QMessageBox::Information);
}

void VersionCheckTest::missingFileAndUnconfiguredFolder()
{
    ModalLog log;
    checkGameVersions(nullptr, {{0, 258}});
    QCOMPARE(log.seen.size(), 1);
    QCOMPARE(log.seen[0].icon, QMessageBox::Information);
    QCOMPARE(log.seen[0].text,
             QString("星環演武のバージョンチェックに失敗しました。\n"
                     "(インストールしたフォルダから手動で移動したりすると発生します)"));

    machineSettings->remove("SeikanEmbu");
    checkGameVersions(nullptr, {{0, 258}});
    QCOMPARE(log.seen.size(), 1);
}

void VersionCheckTest::everyEntryIsCheckedAfterANotice()
{
    writeVersionFile(QByteArray::fromHex("00000102"));
    ModalLog log;
    checkGameVersions(nullptr, {{0, 1}, {0, 258}, {0, 2}});
    QCOMPARE(log.seen.size(), 2);
}

void VersionCheckTest::linkOpensHomepageAndLeavesNoticeOpen()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(UpdateDialog::homepage().scheme(), &catcher, "open");
    UpdateDialog notice(nullptr, "message", "trailer");
    auto* link = notice.findChild<QCommandLinkButton*>("linkTilework");
    bool stillOpen = false;
    QTimer::singleShot(0, &notice, [&] {
        link->click();
        stillOpen = notice.isVisible();
        notice.accept();
    });
    QCOMPARE(notice.exec(), int(QDialog::Accepted));
    QVERIFY(stillOpen);
    QCOMPARE(catcher.opened, QList<QUrl>({UpdateDialog::homepage()}));
    QDesktopServices::unsetUrlHandler(UpdateDialog::homepage().scheme());
}

QTEST_MAIN(VersionCheckTest)
#include "tst_versioncheck.moc"
