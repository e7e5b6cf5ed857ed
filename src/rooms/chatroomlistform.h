// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobbymessages.h"

#include <QString>
#include <QVector>
#include <QWidget>

class LobbyCore;
class QPushButton;
class QSignalMapper;
class QTimer;

namespace Ui
{
class ChatRoomListForm;
}

// What the list keeps of one room from a walk until the user clicks its row.
struct RoomEntry : RoomInfoReply {
    uint roomId = 0;
};

// The lobby's front page: the server's rooms as a column of buttons, paged by a scroll bar and
// fetched again every few seconds, only as many rooms as fit on screen.
class ChatRoomListForm : public QWidget
{
    Q_OBJECT

  public:
    // Until its tab is added the list is a hidden child of the window that its commands disable.
    ChatRoomListForm(LobbyCore& core, QWidget* parent);
    ~ChatRoomListForm() override;

    void requestRoomCount();
    void setUserName(const QString& name);
    void setConnectionCount(uint count);
    void setAutoUpdate(bool on);

  signals:
    void created(ChatRoomListForm* form);

  private slots:
    void doRecvCountReply(quint32 count);
    void doUpdate();
    void doRecvGetInfoReply(const RoomInfoReply& info);
    void doScrollList();
    void doButtonClicked(int id);
    void on_pushCreateRoom_clicked();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    QPushButton* row(uint index) const;
    void armRefresh();
    void rebuildRows(uint wanted);
    void placeRows();
    void finishWalk();
    void showPlaceholder(const QString& text);
    void refuseEntry(quint32 result);

    Ui::ChatRoomListForm* ui;
    LobbyCore& core;
    int countdown = 1;
    uint topRoom = 0;
    uint roomCount = 0;
    uint extraRowCount = 0;
    QVector<QPushButton*> rowButtons;
    uint entryCount = 0;
    QVector<RoomEntry> entries;
    uint fetchIndex = 0;
    uint requestRoom = 0;
    QSignalMapper* mapper = nullptr;
    bool busy = false;
    bool roomsListed = false;
    // One single-shot tick at a time; a walk in flight arms the next one when it ends.
    QTimer* refreshTimer;
};
