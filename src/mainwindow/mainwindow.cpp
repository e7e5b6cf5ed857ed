#include "mainwindow/mainwindow.h"

#include "ui_mainwindow.h"

#include "accounts/accountselectdialog.h"
#include "app/globals.h"
#include "mainwindow/admindialog.h"
#include "mainwindow/gameversioncheck.h"
#include "mainwindow/updatedialog.h"
#include "match/battledialog.h"
#include "match/chatapplymatchdialog.h"
#include "match/chatrecruitmatchdialog.h"
#include "match/chatwaitmatchdialog.h"
#include "match/childprocess.h"
#include "rooms/batchedlog.h"
#include "rooms/chatroomform.h"
#include "rooms/chatroomlistform.h"
#include "lobbymessages.h"
#include "settings/setnamedialog.h"
#include "settings/usersettingdialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

#include <iterator>

static const char* const upnpTool = "UPnPCJ.exe";
static const int upnpPollMs = 100;
static const quint32 upnpReleaseMs = 1000;
// Longest run of the room-event queue before the event loop gets a turn.
static const qint64 roomEventSliceMs = 4;

// The bell lies in the working directory of an installed client; a development run finds the
// copy the build puts beside the executable.
static QUrl bellLocation()
{
    const QString name = "bell.wav";
    if (QFileInfo::exists(name))
        return QUrl::fromLocalFile(QFileInfo(name).absoluteFilePath());
    return QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + "/" + name);
}

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui::MainWindow)
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

    connect(this, &MainWindow::started, this, &MainWindow::doStart, Qt::QueuedConnection);
    connect(this, &MainWindow::addRoomRequested, this, &MainWindow::doAddRoomRequest,
            Qt::QueuedConnection);

    bell = new QSoundEffect(this);
    bell->setSource(bellLocation());

    startPortMapping();
}

// The game's engines need TCP 14141 forwarded on the router before anyone can join a match.
void MainWindow::startPortMapping()
{
    upnpProcess = startProcessIn(QCoreApplication::applicationDirPath(), upnpTool,
                                 "UPnPCJ.exe /open 14141 TCP");
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

MainWindow::~MainWindow()
{
    qDeleteAll(roomEvents);
    delete bell;
    delete socket;
    delete ui;
}

bool MainWindow::canStartMatch() const
{
    return !recruitDialog && !waitDialog && !battleDialog;
}

void MainWindow::playBell()
{
    bell->play();
}

// The room tabs are all tabs but the last one, the room list.
ChatRoomForm* MainWindow::roomForm(uint roomId) const
{
    for (int i = 0; i < ui->tabWidget->count() - 1; ++i) {
        auto* form = qobject_cast<ChatRoomForm*>(ui->tabWidget->widget(i));
        if (form && form->roomId == roomId)
            return form;
    }
    return nullptr;
}

bool MainWindow::hasRoomTab(uint roomId) const
{
    return roomForm(roomId) != nullptr;
}

bool isRoomOpen(uint roomId)
{
    return mainWindow->hasRoomTab(roomId);
}

QString MainWindow::roomTitle(uint roomId) const
{
    const ChatRoomForm* form = roomForm(roomId);
    return form ? form->title : QString("No Title");
}

uint MainWindow::roomGameId(uint roomId) const
{
    const ChatRoomForm* form = roomForm(roomId);
    return form ? form->gameId : chatOnlyGameId;
}

void MainWindow::addRoomRequest(uint roomId, QVector<uint>* userIds)
{
    emit addRoomRequested(roomId, userIds);
}

// The room becomes a tab only when its information and member names are in. Its requests wait
// for a command that started in the same pass, such as a battle's report of an engine that
// failed to start.
void MainWindow::doAddRoomRequest(uint roomId, QVector<uint>* userIds)
{
    setEnabled(false);
    auto* form = new ChatRoomForm(socket, roomId, userIds);
    connect(form, &ChatRoomForm::created, this, &MainWindow::doChatCreated);
    socket->whenIdle(form, [form] { form->requestRoomInfo(); });
}

void MainWindow::doChatCreated(ChatRoomForm* form, uint roomId)
{
    const int index = qMax(0, ui->tabWidget->count() - 1);
    ui->tabWidget->insertTab(index, form, QString("ルーム No.%1").arg(roomId));
    ui->tabWidget->setCurrentIndex(index);
    runRoomEvents();
    setEnabled(true);
}

namespace
{

// Whether a match dialog (of any kind, or none) belongs to the room and host.
template <class Dialog> bool belongsTo(const Dialog* dialog, uint roomId, uint hostId)
{
    return dialog && dialog->roomId == roomId && dialog->hostId == hostId;
}

// Deletes a match dialog and clears the window's pointer to it in the same step.
template <class Dialog> void release(Dialog*& dialog)
{
    delete dialog;
    dialog = nullptr;
}

// The same for a match dialog of the room; true when there was one.
template <class Dialog> bool releaseInRoom(Dialog*& dialog, uint roomId)
{
    if (!dialog || dialog->roomId != roomId)
        return false;
    release(dialog);
    return true;
}

} // namespace

void MainWindow::removeRoomTab(ChatRoomForm* form)
{
    const int index = ui->tabWidget->indexOf(form);
    if (index < 0 || index >= ui->tabWidget->count() - 1)
        return;
    // The room's match ends with the room, before its form goes.
    bool released = releaseInRoom(recruitDialog, form->roomId);
    removeApplyDialogs(
        [form](const ChatApplyMatchDialog* dialog) { return dialog->roomId == form->roomId; });
    released = releaseInRoom(waitDialog, form->roomId) || released;
    released = releaseInRoom(battleDialog, form->roomId) || released;
    if (released)
        setBattleEnabledOnRoomTabs(true);
    ui->tabWidget->removeTab(index);
    ui->tabWidget->setCurrentIndex(index - 1);
    // Called from the form's own reply slot.
    form->deleteLater();
}

void MainWindow::removeApplyDialog(ChatApplyMatchDialog* dialog)
{
    if (!applyDialogs.removeOne(dialog))
        return;
    // Deleted later: the user's No reaches here from the dialog's own button.
    dialog->hide();
    dialog->deleteLater();
}

void MainWindow::removeApplyDialogs(const std::function<bool(const ChatApplyMatchDialog*)>& which)
{
    const QVector<ChatApplyMatchDialog*> offers = applyDialogs;
    for (ChatApplyMatchDialog* dialog : offers) {
        if (which(dialog))
            removeApplyDialog(dialog);
    }
}

void MainWindow::setBattleEnabledOnRoomTabs(bool on)
{
    for (int i = 0; i < ui->tabWidget->count() - 1; ++i) {
        if (auto* form = qobject_cast<ChatRoomForm*>(ui->tabWidget->widget(i)))
            form->setBattleEnabled(on);
    }
}

void MainWindow::setOwnName(const QString& name)
{
    ownNameText = name;
    if (ChatRoomListForm* list = roomList())
        list->setUserName(name);
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
    socket = new ProtocolSocket(this);
    connect(socket, &ProtocolSocket::close, this, &MainWindow::doSocketClosed);
    connect(socket, &ProtocolSocket::connected, this, &MainWindow::doSocketConnected,
            Qt::QueuedConnection);
    connect(socket, &ProtocolSocket::recvNotify, this, &MainWindow::doSocketRecvNotify,
            Qt::QueuedConnection);
    // An event held while any command was out is retried once it has ended.
    connect(socket, &ProtocolSocket::commandEnded, this, &MainWindow::runRoomEvents,
            Qt::QueuedConnection);
    socket->connectToServer();
}

void MainWindow::doSocketConnected()
{
    askForAccount(false);
    sendAuthenticate();
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
        AccountSelectDialog dialog(this, socket);
        dialog.exec();
    }
}

void MainWindow::sendAuthenticate()
{
    socket->beginCommand(this, SLOT(doSocketRecvAuthenticateReply()));
    socket->writeUInt32(Authenticate);
    socket->writeString(userSettings->value("account/id", "").toString());
    socket->writeString(userSettings->value("account/password", "").toString());
    socket->sendCommand();
}

void MainWindow::sendGetOwnName()
{
    socket->beginCommand(this, SLOT(doSocketRecvCheckNameReply()));
    socket->writeUInt32(GetName);
    socket->writeUInt32(ownUserId);
    socket->sendCommand();
}

void MainWindow::doSocketRecvAuthenticateReply()
{
    socket->prepareRecvReply(true);
    const auto reply = socket->read<LoginReply>();
    ownUserId = reply.userId;
    socket->endCommand();

    if (reply.result == 0) {
        ui->lineSysMessage->setText(reply.message);
        connectionCount = reply.connectionCount;
        sendGetOwnName();
        return;
    }
    QMessageBox::warning(this, "アカウント情報",
                         "ログインに失敗しました。\nアカウント名、パスワードを確認してください。",
                         QMessageBox::Ok);
    askForAccount(true);
    sendAuthenticate();
}

void MainWindow::doSocketRecvCheckNameReply()
{
    socket->prepareRecvReply(true);
    const quint32 result = socket->readUInt32();
    const QString name = socket->readString();
    setOwnName(name);
    socket->endCommand();

    if (result != 0)
        fatalError("なぜか自分の名前が取得できなかった");
    if (name.isEmpty()) {
        SetNameDialog dialog(this, socket);
        dialog.exec();
        sendGetOwnName();
        return;
    }
    checkGameVersions(this, latestGameVersions());
    loadRoomList();
}

// The list announces itself once the server told it how many rooms there are.
void MainWindow::loadRoomList()
{
    auto* list = new ChatRoomListForm(socket);
    connect(list, &ChatRoomListForm::created, this, &MainWindow::doChatRoomListCreated,
            Qt::QueuedConnection);
    list->requestRoomCount();
}

void MainWindow::doChatRoomListCreated(ChatRoomListForm* form)
{
    form->setConnectionCount(connectionCount);
    ui->tabWidget->addTab(form, "ルーム一覧");
    ui->tabWidget->setCurrentIndex(0);
    runRoomEvents();
    if (userSettings->value("admin", "").toString() == "true")
        (new AdminDialog(this, socket))->show();
    setEnabled(true);
    // The end of the start-up, which scripts and benchmarks wait for.
    qInfo("[MainWindow] room list shown");
}

void MainWindow::doSocketRecvNotify()
{
    while (socket->prepareRecvNotify(false)) {
        switch (socket->readUInt32()) {
        case NotifyConnectionCount:
            // Kept for the room list, which may not exist yet.
            connectionCount = socket->readUInt32();
            if (ChatRoomListForm* list = roomList())
                list->setConnectionCount(connectionCount);
            break;
        case NotifySystemMessage:
            ui->lineSysMessage->setText(socket->readString());
            break;
        case NotifyRoomEvent:
            roomEvents.append(readRoomEvent());
            break;
        default:
            break;
        }
        socket->releaseRecvBuffer();
    }
    runRoomEvents();
}

RoomEvent* MainWindow::readRoomEvent()
{
    const auto fields = socket->read<RoomEventFields>();
    return new RoomEvent{fields.eventKind, fields.roomId,   fields.userId, fields.otherId,
                         fields.value,     fields.reserved, fields.text()};
}

// Events of all rooms are handled strictly in arrival order: an event its room cannot take yet
// stays at the head and holds the whole queue until the next run.
void MainWindow::runRoomEvents()
{
    // A handler that runs a nested event loop lets notifications in, and with them calls of
    // this; the run in progress goes on with them after the handler, so that the head event is
    // never handled twice.
    if (runningRoomEvents)
        return;
    runningRoomEvents = true;
    QElapsedTimer slice;
    slice.start();
    while (!roomEvents.isEmpty()) {
        // A flood of events must not freeze the window: after a slice the rest waits until the
        // event loop has had a turn, still in order and ahead of later events.
        if (slice.hasExpired(roomEventSliceMs)) {
            QMetaObject::invokeMethod(this, &MainWindow::runRoomEvents, Qt::QueuedConnection);
            break;
        }
        const RoomEvent* event = roomEvents.first();
        // Rooms without a tab (never entered, left, or still loading) and unknown kinds drop.
        ChatRoomForm* form = roomForm(event->roomId);
        if (form && event->eventKind <= lastRoomEventKind && !routeRoomEvent(*form, *event))
            break;
        delete roomEvents.takeFirst();
    }
    runningRoomEvents = false;
}

bool MainWindow::routeRoomEvent(ChatRoomForm& form, const RoomEvent& event)
{
    using Route = bool (MainWindow::*)(ChatRoomForm&, const RoomEvent&);
    // Indexed by the event kind.
    static constexpr Route routes[] = {
        &MainWindow::routeSpeak,        &MainWindow::routeEnter,         &MainWindow::routeLeave,
        &MainWindow::routeRecruitStart, &MainWindow::routeRecruitCancel, &MainWindow::routeApply,
        &MainWindow::routeApplyCancel,  &MainWindow::routeGameStart,     &MainWindow::routeGameEnd,
        &MainWindow::routeGameLeave,
    };
    static_assert(std::size(routes) == lastRoomEventKind + 1);
    return (this->*routes[event.eventKind])(form, event);
}

bool MainWindow::routeSpeak(ChatRoomForm& form, const RoomEvent& event)
{
    return form.handleSpeak(event.userId, event.text);
}

bool MainWindow::routeEnter(ChatRoomForm& form, const RoomEvent& event)
{
    return form.handleEnter(event.userId, event.text);
}

bool MainWindow::routeLeave(ChatRoomForm& form, const RoomEvent& event)
{
    return form.handleLeave(event.userId);
}

// The own recruit opens the host's dialog; another user's is offered, unless the user is busy
// with a match or already has that offer.
bool MainWindow::routeRecruitStart(ChatRoomForm& form, const RoomEvent& event)
{
    if (!form.handleRecruitStart(event.userId))
        return false;
    if (event.userId != ownUserId) {
        if (!canStartMatch())
            return true;
        for (const ChatApplyMatchDialog* dialog : applyDialogs) {
            if (belongsTo(dialog, event.roomId, event.userId))
                return true;
        }
        auto* offer = new ChatApplyMatchDialog(this, socket, event.roomId, event.userId,
                                               form.userName(event.userId), event.value);
        applyDialogs.append(offer);
        offer->show();
        return true;
    }
    setBattleEnabledOnRoomTabs(false);
    if (belongsTo(battleDialog, event.roomId, event.userId))
        release(battleDialog);
    removeApplyDialogs([](const ChatApplyMatchDialog*) { return true; });
    if (!canStartMatch())
        fatalError("なぜか募集を複数回できてしまった");
    // otherId carries the minimum number of players, value the maximum.
    recruitDialog = new ChatRecruitMatchDialog(this, socket, event.roomId, event.userId,
                                               event.otherId, event.value);
    recruitDialog->show();
    return true;
}

bool MainWindow::routeRecruitCancel(ChatRoomForm& form, const RoomEvent& event)
{
    if (!form.handleRecruitCancel(event.userId))
        return false;
    bool released = false;
    if (belongsTo(battleDialog, event.roomId, event.userId)) {
        release(battleDialog);
        released = true;
    }
    if (belongsTo(waitDialog, event.roomId, event.userId)) {
        release(waitDialog);
        released = true;
    }
    if (belongsTo(recruitDialog, event.roomId, event.userId))
        release(recruitDialog);
    removeApplyDialogs([&event](const ChatApplyMatchDialog* dialog) {
        return belongsTo(dialog, event.roomId, event.userId);
    });
    if (event.userId == ownUserId || released)
        setBattleEnabledOnRoomTabs(true);
    return true;
}

// userId applied to otherId's recruit; value is the number of participants now. The user's own
// application, once taken, turns its offer into the waiting dialog.
bool MainWindow::routeApply(ChatRoomForm& form, const RoomEvent& event)
{
    if (!form.handleApply(event.otherId, event.userId))
        return false;
    const bool own = event.userId == ownUserId;
    if (belongsTo(recruitDialog, event.roomId, event.otherId))
        recruitDialog->setParticipantCount(event.value);
    ChatApplyMatchDialog* taken = nullptr;
    for (ChatApplyMatchDialog* dialog : applyDialogs) {
        if (!belongsTo(dialog, event.roomId, event.otherId))
            continue;
        if (own)
            taken = dialog;
        else
            dialog->setParticipantCount(event.value);
    }
    if (belongsTo(waitDialog, event.roomId, event.otherId) && !own)
        waitDialog->setParticipantCount(event.value);
    if (!taken)
        return true;
    if (!canStartMatch())
        fatalError("なぜか待機を複数回できてしまった");
    waitDialog = new ChatWaitMatchDialog(this, socket, taken->roomId, taken->hostId,
                                         taken->hostName, taken->maxPlayers, event.value);
    waitDialog->show();
    removeApplyDialogs([](const ChatApplyMatchDialog*) { return true; });
    setBattleEnabledOnRoomTabs(false);
    return true;
}

bool MainWindow::routeApplyCancel(ChatRoomForm& form, const RoomEvent& event)
{
    if (!form.handleApplyCancel(event.otherId, event.userId))
        return false;
    if (belongsTo(recruitDialog, event.roomId, event.otherId))
        recruitDialog->setParticipantCount(event.value);
    for (ChatApplyMatchDialog* dialog : applyDialogs) {
        if (belongsTo(dialog, event.roomId, event.otherId))
            dialog->setParticipantCount(event.value);
    }
    if (!belongsTo(waitDialog, event.roomId, event.otherId))
        return true;
    if (event.userId != ownUserId) {
        waitDialog->setParticipantCount(event.value);
        return true;
    }
    release(waitDialog);
    setBattleEnabledOnRoomTabs(true);
    return true;
}

// Every player of the host's recruit gets a battle; the host's dialog hands on its minimum, a
// guest has none.
bool MainWindow::routeGameStart(ChatRoomForm& form, const RoomEvent& event)
{
    if (!form.handleGameStart(event.userId))
        return false;
    if (belongsTo(waitDialog, event.roomId, event.userId))
        release(waitDialog);
    uint minPlayers = 0xFFFFFFFFu;
    if (belongsTo(recruitDialog, event.roomId, event.userId)) {
        minPlayers = recruitDialog->minPlayers;
        release(recruitDialog);
    }
    removeApplyDialogs([&event](const ChatApplyMatchDialog* dialog) {
        return belongsTo(dialog, event.roomId, event.userId);
    });
    if (!form.isRecruitmentMember(event.userId, ownUserId))
        return true;
    if (battleDialog)
        fatalError("なぜか対戦中に再度対戦が指定された");
    battleDialog = new BattleDialog(this, socket, &form, form.findRecruitment(event.userId),
                                    minPlayers, form.gameId, event.text);
    battleDialog->show();
    return true;
}

// The battle dialog sees the game's end and a player's leaving before the room writes its line,
// so the busy check comes before both.
bool MainWindow::routeGameEnd(ChatRoomForm& form, const RoomEvent& event)
{
    if (form.initializing)
        return false;
    if (belongsTo(battleDialog, event.roomId, event.userId)) {
        if (!battleDialog->isIdle())
            return false;
        release(battleDialog);
        setBattleEnabledOnRoomTabs(true);
    }
    return form.handleGameEnd(event.userId);
}

bool MainWindow::routeGameLeave(ChatRoomForm& form, const RoomEvent& event)
{
    if (form.initializing)
        return false;
    if (belongsTo(battleDialog, event.roomId, event.otherId) &&
        !battleDialog->removeMember(event.userId))
        return false;
    return form.handleGameLeave(event.otherId, event.userId);
}

// The settings window starts with a request of its own: it opens once a walk of the room list
// is over, and no walk starts while it is open.
void MainWindow::on_action_S_triggered()
{
    socket->whenIdle(ui->action_S, [this] {
        ChatRoomListForm* list = roomList();
        if (list)
            list->setAutoUpdate(false);
        UserSettingDialog dialog(this, socket);
        dialog.exec();
        if (list)
            list->setAutoUpdate(true);
    });
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (!isEnabled() || !socket)
        return;
    socket->sendQuit();
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
        startProcessIn(QCoreApplication::applicationDirPath(), upnpTool,
                       "UPnPCJ.exe /close 14141 TCP");
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
    default:
        fatalError(
            "サーバーから切断されました。\nネットワークが不安定のため、tileParlorを終了します。\n"
            "しばらくしてから再度起動しなおしてください。");
    }
}
