// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mainwindow/mainwindow.h"
#include "rooms/chatroomform.h"
#include "rooms/chatroomlistform.h"

#include <QTabWidget>

// The main window's tabs as the user sees them: the chat rooms first, the room list last.
inline QTabWidget* tabsOf(const MainWindow* window)
{
    return window->findChild<QTabWidget*>("tabWidget");
}

// Null until the room list has been shown.
inline ChatRoomListForm* roomListOf(const MainWindow* window)
{
    const QTabWidget* tabs = tabsOf(window);
    return qobject_cast<ChatRoomListForm*>(tabs->widget(tabs->count() - 1));
}

// The tab of an entered room, or null.
inline ChatRoomForm* roomTabOf(const MainWindow* window, quint32 roomId)
{
    const QTabWidget* tabs = tabsOf(window);
    for (int i = 0; i < tabs->count(); ++i) {
        auto* form = qobject_cast<ChatRoomForm*>(tabs->widget(i));
        if (form && form->roomId == roomId)
            return form;
    }
    return nullptr;
}
