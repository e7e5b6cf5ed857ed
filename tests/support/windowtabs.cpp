#include "support/windowtabs.h"

#include "mainwindow/mainwindow.h"
#include "rooms/chatroomform.h"
#include "rooms/chatroomlistform.h"

#include <QTabWidget>

QTabWidget* tabsOf(const MainWindow* window)
{
    return window->findChild<QTabWidget*>("tabWidget");
}

ChatRoomListForm* roomListOf(const MainWindow* window)
{
    const QTabWidget* tabs = tabsOf(window);
    const int count = tabs->count();
    return count > 0 ? qobject_cast<ChatRoomListForm*>(tabs->widget(count - 1)) : nullptr;
}

ChatRoomForm* roomTabOf(const MainWindow* window, quint32 roomId)
{
    const QTabWidget* tabs = tabsOf(window);
    for (int i = 0; i < tabs->count(); ++i) {
        auto* form = qobject_cast<ChatRoomForm*>(tabs->widget(i));
        if (form && form->roomId == roomId)
            return form;
    }
    return nullptr;
}
