// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/mainwindow.h"

#include "ui_mainwindow.h"

#include "accounts/accountselectdialog.h"
#include "app/globals.h"
#include "app/paths.h"
#include "mainwindow/admindialog.h"
#include "mainwindow/gameversioncheck.h"
#include "mainwindow/updatedialog.h"
#include "lobby/lobbycore.h"
#include "match/childprocess.h"
#include "match/matchdialogs.h"
#include "rooms/batchedlog.h"
#include "rooms/chatroomform.h"
#include "rooms/chatroomlistform.h"
#include "settings/setnamedialog.h"
#include "settings/usersettingdialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMessageBox>
#include <QSettings>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

static const char* const upnpTool = "UPnPCJ.exe";
static const int upnpPollMs = 100;
static const quint32 upnpReleaseMs = 1000;

static QString upnpToolPath()
{
    return shippedFile(upnpTool, Shipped::Helper, QCoreApplication::applicationDirPath());
}

// A missing bell stays silent.
static QUrl bellLocation()
{
    return QUrl::fromLocalFile(
        shippedFile("bell.wav", Shipped::Data, QCoreApplication::applicationDirPath()));
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), core(new LobbyCore(this)),
      matchDialogs(new MatchDialogs(this, *core))
{
    ui->setupUi(this);
    // The form's sample tabs go, and so do the form's pointers to them: a language change would
    // otherwise retitle whatever tab later lives at their address.
    for (QWidget** sample : {&ui->tab, &ui->tab_2}) {
        ui->tabWidget->removeTab(ui->tabWidget->indexOf(*sample));
        delete *sample;
        *sample = nullptr;
    }
    allRoomsLog = new BatchedLog(ui->textLog);
    ui->splitterAll->setStretchFactor(0, 100);
    ui->splitterAll->setStretchFactor(1, 1);
    ui->splitterSub->setStretchFactor(0, 30);
    ui->splitterSub->setStretchFactor(1, 1);

    connect(ui->action_X, &QAction::triggered, this, &MainWindow::close);
    ui->buttonWaitBattle->hide();
    ui->buttonOfferBattle->hide();

    // Enabled for good once the login is over; until then each login command disables it.
    setEnabled(false);

    core->router().setMatchViews(matchDialogs);
    connect(core, &LobbyCore::closed, this, &MainWindow::doSocketClosed);
    connect(core, &LobbyCore::connected, this, &MainWindow::doSocketConnected);
    connect(core, &LobbyCore::loginCommandState, this, &QWidget::setEnabled);
    connect(&core->matches(), &MatchCommands::commandState, this, &QWidget::setEnabled);
    connect(&core->rooms(), &RoomCommands::commandState, this, &QWidget::setEnabled);
    connect(core, &LobbyCore::loginRefused, this, &MainWindow::doLoginRefused);
    connect(core, &LobbyCore::nameMissing, this, &MainWindow::doNameMissing);
    connect(core, &LobbyCore::named, this, &MainWindow::doNamed);
    connect(core, &LobbyCore::systemMessageChanged, ui->lineSysMessage, &QLineEdit::setText);
    connect(core, &LobbyCore::roomRequested, this, &MainWindow::doAddRoomRequest);
    connect(this, &MainWindow::started, this, &MainWindow::doStart, Qt::QueuedConnection);

    startPortMapping();
}

// The game's engines need TCP 14141 forwarded on the router before anyone can join a match.
void MainWindow::startPortMapping()
{
    const QString tool = upnpToolPath();
    upnpProcess = tool.isEmpty() ? nullptr : startProcess(tool, "UPnPCJ.exe /open 14141 TCP");
    if (!upnpProcess) {
        emit started();
        return;
    }
    portMapRequested = true;
    QTimer::singleShot(upnpPollMs, this, &MainWindow::doCheckUpnp);
}

void MainWindow::doCheckUpnp()
{
    if (isProcessRunning(upnpProcess)) {
        QTimer::singleShot(upnpPollMs, this, &MainWindow::doCheckUpnp);
        return;
    }
    closeProcess(upnpProcess, upnpReleaseMs);
    upnpProcess = nullptr;
    emit started();
}

// The core goes first: the match dialogs it holds are deleted through it.
MainWindow::~MainWindow()
{
    delete core;
    delete matchDialogs;
    delete bell;
    delete ui;
}

// Made at the first bell: the sound system's connection and threads cost start-up time and
// memory that a player who is never called would pay for nothing.
void MainWindow::playBell()
{
    if (!bell) {
        bell = new QSoundEffect(this);
        bell->setSource(bellLocation());
    }
    bell->play();
}

// The room becomes a tab only when its information and member names are in. Its requests wait
// for a command that started in the same pass, such as a battle's report of an engine that
// failed to start.
void MainWindow::doAddRoomRequest(uint roomId, QVector<uint>* userIds)
{
    setEnabled(false);
    auto* form = new ChatRoomForm(*core, roomId, userIds, this);
    connect(form, &ChatRoomForm::created, this, &MainWindow::doChatCreated);
    connect(form, &ChatRoomForm::lineWritten, this, &MainWindow::appendAllRoomsLog);
    connect(form, &ChatRoomForm::bellRung, this, &MainWindow::playBell);
    connect(form, &ChatRoomForm::left, this, &MainWindow::removeRoomTab);
    core->whenIdle(form, [form] { form->requestRoomInfo(); });
}

void MainWindow::doChatCreated(ChatRoomForm* form, uint roomId)
{
    const int index = qMax(0, ui->tabWidget->count() - 1);
    ui->tabWidget->insertTab(index, form, QString("ルーム No.%1").arg(roomId));
    ui->tabWidget->setCurrentIndex(index);
    core->router().addRoom(roomId, form);
    core->router().runRoomEvents();
    setEnabled(true);
}

void MainWindow::removeRoomTab(ChatRoomForm* form)
{
    const int index = ui->tabWidget->indexOf(form);
    if (index < 0 || index >= ui->tabWidget->count() - 1)
        return;
    // The room's match ends with the room, before its form goes.
    core->router().removeRoom(form->roomId);
    ui->tabWidget->removeTab(index);
    ui->tabWidget->setCurrentIndex(index - 1);
    // Called from the form's own reply slot.
    form->deleteLater();
}

// The room list is always the last tab; before it exists there are no tabs at all.
ChatRoomListForm* MainWindow::roomList() const
{
    const int count = ui->tabWidget->count();
    return count > 0 ? qobject_cast<ChatRoomListForm*>(ui->tabWidget->widget(count - 1)) : nullptr;
}

void MainWindow::appendAllRoomsLog(uint roomId, const QString& text)
{
    allRoomsLog->append(QString("(%1) ").arg(roomId) + text);
}

void MainWindow::doStart()
{
    qDebug("[MainWindow] port mapping done");
    core->start();
}

void MainWindow::doSocketConnected()
{
    askForAccount(false);
    core->login();
}

static bool hasStoredAccount()
{
    return !userSettings->value("account/id", "").toString().isEmpty() &&
           !userSettings->value("account/password", "").toString().isEmpty();
}

// A user who gives up here has sent Quit; the dialog comes back until the server's close notice
// ends the program.
void MainWindow::askForAccount(bool evenIfStored)
{
    while (evenIfStored || !hasStoredAccount()) {
        evenIfStored = false;
        AccountSelectDialog dialog(this, core->accounts());
        dialog.exec();
    }
}

void MainWindow::doLoginRefused()
{
    QMessageBox::warning(this, "アカウント情報",
                         "ログインに失敗しました。\nアカウント名、パスワードを確認してください。",
                         QMessageBox::Ok);
    askForAccount(true);
    core->login();
}

void MainWindow::doNameMissing()
{
    SetNameDialog dialog(this, core->accounts());
    dialog.exec();
    core->requestOwnName();
}

// The list announces itself once the server told it how many rooms there are.
void MainWindow::doNamed()
{
    checkGameVersions(this, latestGameVersions());
    auto* list = new ChatRoomListForm(*core, this);
    connect(list, &ChatRoomListForm::created, this, &MainWindow::doChatRoomListCreated,
            Qt::QueuedConnection);
    list->requestRoomCount();
}

void MainWindow::doChatRoomListCreated(ChatRoomListForm* form)
{
    ui->tabWidget->addTab(form, "ルーム一覧");
    ui->tabWidget->setCurrentIndex(0);
    core->router().runRoomEvents();
    if (userSettings->value("admin", "").toString() == "true")
        (new AdminDialog(this, core->accounts()))->show();
    setEnabled(true);
    // The end of the start-up, which scripts and benchmarks wait for.
    qInfo("[MainWindow] room list shown");
}

// The settings window starts with a request of its own: it opens once a walk of the room list
// is over, and no walk starts while it is open.
void MainWindow::on_action_S_triggered()
{
    core->whenIdle(ui->action_S, [this] {
        ChatRoomListForm* list = roomList();
        if (list)
            list->setAutoUpdate(false);
        UserSettingDialog dialog(this, core->accounts());
        connect(&dialog, &UserSettingDialog::nameFetched, core, &LobbyCore::setOwnName);
        dialog.exec();
        if (list)
            list->setAutoUpdate(true);
    });
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (!isEnabled() || !core->socket())
        return;
    core->accounts().quit();
    setEnabled(false);
}

void MainWindow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QMainWindow::changeEvent(event);
}

void MainWindow::doSocketClosed(ProtocolSocket::CloseReason cr)
{
    // The program ends right below; the closing tool finishes on its own.
    if (portMapRequested)
        startProcess(upnpToolPath(), "UPnPCJ.exe /close 14141 TCP");
    switch (cr) {
    case ProtocolSocket::NormalClose:
        exitProcess(0);
    case ProtocolSocket::ServerShutdown:
        fatalError(
            "サーバーが終了しました。\nメンテナンスの可能性があるため、tileParlorを終了します。\n"
            "しばらくしてから再度起動しなおしてください。");
    case ProtocolSocket::DuplicateLogin:
        fatalError(
            "他のtileParlorから同じアカウントにログインされたため、サーバーから切断されました。"
            "\ntileParlorを終了します。");
    case ProtocolSocket::VersionMismatch: {
        UpdateDialog notice(this,
                            "新しいtileParlorがリリースされています。\n"
                            "TILEWORKのホームページで新しいtileParlorを入手して、\n"
                            "tileParlorをバージョンアップしてください。",
                            "\nこのtileParlorは終了します。");
        notice.exec();
        exitProcess(1);
    }
    case ProtocolSocket::IdentityUnconfirmed:
        fatalError("サーバーの身元を確認できませんでした。\n"
                   "安全に接続できないため、何も送信せずにtileParlorを終了します。\n"
                   "接続先の設定を確認してください。");
    default:
        fatalError(
            "サーバーから切断されました。\nネットワークが不安定のため、tileParlorを終了します。\n"
            "しばらくしてから再度起動しなおしてください。");
    }
}
