#pragma once

#include <QList>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class ChatRoomForm;
class ChatRoomListForm;
class MainWindow;
class QPushButton;

// The client's main window in this test process, built as main() builds it and pointed at the
// lobby on this port; mainWindow refers to it while it lives. It is destroyed, never closed:
// closing ends the process, as it does in the program.
class ClientWindow
{
  public:
    explicit ClientWindow(quint16 port);
    ~ClientWindow();

    MainWindow* get() const { return window.get(); }

    // The room list once the login is over; it then refreshes every few tens of milliseconds
    // instead of every few seconds. Null if it did not come.
    ChatRoomListForm* waitForRoomList();
    // The room's tab once it is shown, else null.
    ChatRoomForm* waitForRoom(quint32 roomId);
    // No command is out: a click that sends one now cannot meet another.
    bool isIdle() const;
    // Shows the tab and waits until the window is idle, so that a click right after it acts.
    bool showIdle(QWidget* tab);

    // The texts of the room list's filled rows, top to bottom.
    QStringList rows() const;
    // Clicks the button that offered returns, once it returns one and the window is idle.
    bool clickWhenOffered(const std::function<QPushButton*()>& offered);
    // Clicks the row that shows the room title, once one does.
    bool clickRow(const QString& title);

  private:
    bool waitIdle(const std::function<bool()>& condition, int timeoutMs = 15000) const;
    QList<QPushButton*> filledRows() const;

    std::unique_ptr<MainWindow> window;
    // A flow stuck in a modal window that no script answers would hold the test forever.
    QTimer stuck;
};
