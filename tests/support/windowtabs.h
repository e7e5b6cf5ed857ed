#pragma once

#include <QtGlobal>

class ChatRoomForm;
class ChatRoomListForm;
class MainWindow;
class QTabWidget;

// The main window's tabs as the user sees them: the chat rooms first, the room list last.
QTabWidget* tabsOf(const MainWindow* window);
// Null until the room list has been shown.
ChatRoomListForm* roomListOf(const MainWindow* window);
// The tab of an entered room, or null.
ChatRoomForm* roomTabOf(const MainWindow* window, quint32 roomId);
