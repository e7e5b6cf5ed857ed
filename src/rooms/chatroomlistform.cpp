// SPDX-License-Identifier: GPL-3.0-or-later
#include "rooms/chatroomlistform.h"

#include "ui_chatroomlistform.h"

#include "app/dialogsupport.h"
#include "app/gameinfo.h"
#include "app/globals.h"
#include "lobby/lobbycore.h"
#include "rooms/chatroomcreatedialog.h"
#include "rooms/chatroomenterpassworddialog.h"
#include "rooms/roomcapacity.h"

#include <QCloseEvent>
#include <QSignalMapper>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimer>

namespace
{
constexpr int refreshTickMs = 1000;
// Ticks from the end of one walk to the start of the next.
constexpr int ticksBetweenWalks = 5;

const char* const loadingText = "\nloading...\n";
const char* const noRoomText = "\nno room...\n";

QString rowText(const RoomEntry& entry, bool open)
{
    return QString(open ? "[入室済] " : "") + "No." + QString::number(entry.roomId) + " (" +
           QString::number(entry.userCount) + "/" + capacityText(entry.capacity) + ") [" +
           (entry.locked() ? "Locked]\n" : "Open]\n") + entry.title + "\n" +
           (entry.gameId == chatOnlyGameId ? QString("チャット専用部屋") : gameTitle(entry.gameId));
}
// The list counts its rows in the form's row height, so the text adapts to the row: the largest
// size at which three lines show whole inside the button's frame. With a Japanese font beside a
// Latin one (IPA Gothic and DejaVu Sans on Debian), the desktop's default size leaves the first
// and last lines cut.
QFont rowFont(const QPushButton& row)
{
    QStyleOptionButton option;
    option.initFrom(&row);
    const QRect room = row.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &row);
    QFont font = row.font();
    for (int size = QFontInfo(font).pixelSize(); size > 6; --size) {
        font.setPixelSize(size);
        // Centred as the button centres it: half-pixel offsets count.
        const QRect text = QFontMetrics(font).boundingRect(room, Qt::AlignCenter | Qt::TextDontClip,
                                                           "Ag部屋\nAg部屋\nAg部屋");
        if (room.contains(text))
            break;
    }
    return font;
}
} // namespace

ChatRoomListForm::ChatRoomListForm(LobbyCore& core, QWidget* parent)
    : QWidget(parent), ui(new Ui::ChatRoomListForm), core(core), refreshTimer(new QTimer(this))
{
    ui->setupUi(this);
    // Set on each button: a button's font from the platform wins over the list area's.
    ui->btnListBase->setFont(rowFont(*ui->btnListBase));
    setUserName(core.ownName());
    connect(&core, &LobbyCore::ownNameChanged, this, &ChatRoomListForm::setUserName);
    setConnectionCount(core.connectionCount());
    connect(&core, &LobbyCore::connectionCountChanged, this, &ChatRoomListForm::setConnectionCount);
    connect(ui->scrList, &QScrollBar::valueChanged, this, &ChatRoomListForm::doScrollList);
    RoomCommands* commands = &core.rooms();
    connect(commands, &RoomCommands::entryRefused, this, &ChatRoomListForm::refuseEntry);
    connect(commands, &RoomCommands::roomCountReplied, this, &ChatRoomListForm::doRecvCountReply);
    // A walk comes every few seconds and takes a round trip per row: it holds back only the rows,
    // so that typing and the other triggers, which wait for the connection, go on meanwhile.
    connect(commands, &RoomCommands::walkState, ui->widgetList, &QWidget::setEnabled);
    connect(commands, &RoomCommands::walkInfoReplied, this, &ChatRoomListForm::doRecvGetInfoReply);

    refreshTimer->setObjectName("refreshTimer");
    refreshTimer->setSingleShot(true);
    refreshTimer->setInterval(refreshTickMs);
    connect(refreshTimer, &QTimer::timeout, this, &ChatRoomListForm::doUpdate);
    // The first row answers clicks even if the list area never gets tall enough for a second.
    rebuildRows(0);
}

ChatRoomListForm::~ChatRoomListForm()
{
    delete ui;
}

void ChatRoomListForm::requestRoomCount()
{
    core.rooms().requestRoomCount();
}

void ChatRoomListForm::setUserName(const QString& name)
{
    ui->lineName->setText(name);
}

void ChatRoomListForm::setConnectionCount(uint count)
{
    ui->lineConnection->setText(QString::number(count));
}

void ChatRoomListForm::setAutoUpdate(bool on)
{
    busy = !on;
    countdown = 1;
}

void ChatRoomListForm::doRecvCountReply(quint32 count)
{
    roomCount = count;
    armRefresh();
    emit created(this);
}

void ChatRoomListForm::armRefresh()
{
    refreshTimer->start();
}

QPushButton* ChatRoomListForm::row(uint index) const
{
    return index == 0 ? ui->btnListBase : rowButtons[int(index) - 1];
}

void ChatRoomListForm::doUpdate()
{
    if (countdown > 1) {
        --countdown;
        armRefresh();
        return;
    }
    // The connection takes one command at a time, and a hidden or paused list has no reader.
    if (!core.isConnectionIdle() || !isVisible() || busy || !window()->isEnabled()) {
        armRefresh();
        return;
    }
    countdown = ticksBetweenWalks;

    const uint fitting = uint(ui->widgetList->height() / ui->btnListBase->height());
    const uint wanted = fitting >= 2 ? fitting - 1 : fitting;
    if (wanted != extraRowCount)
        rebuildRows(wanted);
    placeRows();
    for (uint i = 0; i <= extraRowCount; ++i) {
        row(i)->setText(loadingText);
        row(i)->setEnabled(false);
    }

    requestRoom = topRoom;
    entries = QVector<RoomEntry>(int(extraRowCount) + 1);
    fetchIndex = 0;
    core.rooms().beginWalk(requestRoom);
}

void ChatRoomListForm::rebuildRows(uint wanted)
{
    while (uint(rowButtons.size()) > wanted)
        delete rowButtons.takeLast();
    while (uint(rowButtons.size()) < wanted) {
        rowButtons.append(new QPushButton(loadingText, ui->widgetList));
        rowButtons.last()->setFont(ui->btnListBase->font());
    }
    extraRowCount = wanted;

    delete mapper;
    mapper = new QSignalMapper(this);
    for (uint i = 0; i <= extraRowCount; ++i) {
        connect(row(i), &QPushButton::clicked, mapper, qOverload<>(&QSignalMapper::map));
        mapper->setMapping(row(i), int(i));
    }
    connect(mapper, &QSignalMapper::mappedInt, this, &ChatRoomListForm::doButtonClicked);
}

void ChatRoomListForm::placeRows()
{
    const int rowHeight = ui->btnListBase->height();
    for (uint i = 0; i <= extraRowCount; ++i) {
        row(i)->resize(ui->widgetList->width(), rowHeight);
        row(i)->move(0, int(i) * rowHeight);
        row(i)->show();
    }
}

// One reply per room of the walk; the command stays open until the rows are full or the server
// has no further room.
void ChatRoomListForm::doRecvGetInfoReply(const RoomInfoReply& info)
{
    RoomEntry& entry = entries[int(fetchIndex)];
    static_cast<RoomInfoReply&>(entry) = info;
    entry.roomId = requestRoom;
    quint32 nextRoomId = entry.nextRoomId;
    if (entry.exists())
        ++fetchIndex;
    if (nextRoomId == noRoom)
        nextRoomId = roomCount;
    requestRoom = nextRoomId;

    if (requestRoom < roomCount && fetchIndex < extraRowCount + 1) {
        core.rooms().continueWalk(requestRoom);
        return;
    }
    finishWalk();
}

void ChatRoomListForm::finishWalk()
{
    entryCount = fetchIndex;
    for (uint i = 0; i < entryCount; ++i) {
        const bool open = core.router().room(entries[int(i)].roomId) != nullptr;
        row(i)->setText(rowText(entries[int(i)], open));
        row(i)->setEnabled(!open);
    }
    for (uint i = entryCount; i <= extraRowCount; ++i) {
        row(i)->setText(noRoomText);
        row(i)->setEnabled(false);
    }

    if (roomCount > entryCount) {
        ui->scrList->setRange(0, int(roomCount - entryCount));
        ui->scrList->setPageStep(int(entryCount));
        ui->scrList->setValue(int(topRoom));
    } else {
        ui->scrList->setRange(0, 0);
        ui->scrList->setPageStep(0);
        ui->scrList->setValue(0);
    }

    core.rooms().endWalk();
    armRefresh();
    if (entryCount > 0 && !roomsListed) {
        roomsListed = true;
        // Scripts wait for it before they picture the list.
        qInfo("[ChatRoomListForm] first rooms listed");
    }
    if (entryCount == 0) {
        topRoom = 0;
        countdown = 1;
        showPlaceholder(noRoomText);
    }
}

void ChatRoomListForm::showPlaceholder(const QString& text)
{
    for (QPushButton* button : std::as_const(rowButtons))
        button->hide();
    const int rowHeight = ui->btnListBase->height();
    ui->btnListBase->setText(text);
    ui->btnListBase->setEnabled(false);
    ui->btnListBase->resize(ui->widgetList->width(), rowHeight);
    ui->btnListBase->move(0, (ui->widgetList->height() - rowHeight) / 2);
    ui->btnListBase->show();
}

void ChatRoomListForm::doScrollList()
{
    const uint rows = extraRowCount + 1;
    const uint previous = topRoom;
    topRoom = uint(ui->scrList->value());
    // The last page stays full.
    if (roomCount < rows)
        topRoom = 0;
    else if (topRoom > roomCount - rows)
        topRoom = roomCount - rows;
    if (topRoom != previous)
        showPlaceholder(QString("\nloading No.%1...\n").arg(topRoom));
    countdown = 1;
}

void ChatRoomListForm::doButtonClicked(int id)
{
    if (id < 0 || uint(id) >= entryCount)
        return;
    const RoomEntry entry = entries[id];
    QString password;
    if (entry.locked()) {
        busy = true;
        ChatRoomEnterPasswordDialog dialog(this);
        const bool given = dialog.exec() == QDialog::Accepted;
        busy = false;
        if (!given)
            return;
        password = dialog.password();
    }

    core.rooms().enterRoom(entry.roomId, password);
    countdown = 1;
}

void ChatRoomListForm::refuseEntry(quint32 result)
{
    QString reason;
    switch (result) {
    case 2:
        reason = "\n満席です。";
        break;
    case 3:
        reason = "\nパスワードが違います。";
        break;
    case 5:
        reason = "\n部屋に入りすぎです。\nほかの部屋を退室してください。";
        break;
    }
    FeatureMessages(this, "チャットルームへ入室").information("入室できませんでした。" + reason);
}

void ChatRoomListForm::on_pushCreateRoom_clicked()
{
    core.whenIdle(ui->pushCreateRoom, [this] {
        busy = true;
        ChatRoomCreateDialog dialog(this, core.rooms());
        // The creator is the room's only member so far.
        connect(&dialog, &ChatRoomCreateDialog::roomCreated, this,
                [this](uint roomId) { core.addRoomRequest(roomId, new QVector<uint>{ownUserId}); });
        dialog.exec();
        busy = false;
    });
}

void ChatRoomListForm::resizeEvent(QResizeEvent* event)
{
    event->accept();
    countdown = 1;
}

void ChatRoomListForm::showEvent(QShowEvent* event)
{
    event->accept();
    countdown = 1;
}

void ChatRoomListForm::closeEvent(QCloseEvent* event)
{
    if (!isEnabled())
        event->ignore();
}

void ChatRoomListForm::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        // The rows got the form's own text back; the next tick fills them again.
        countdown = 1;
    }
    QWidget::changeEvent(event);
}
