#pragma once

#include "app/globals.h"
#include "mainwindow/mainwindow.h"
#include "support/fakelobbyserver.h"
#include "support/wire.h"

#include <memory>

// A main window for the calls the settings window makes through mainWindow. Its own lobby takes
// the hello and never answers it, so the window stays disabled and sends nothing else. Open it
// before the lobby the test talks to: both find their server through the same environment.
class IdleMainWindow
{
  public:
    ~IdleMainWindow() { mainWindow = nullptr; }

    bool open()
    {
        server.exportAddress();
        window = std::make_unique<MainWindow>();
        mainWindow = window.get();
        return server.expect(clientHello());
    }

    MainWindow* get() const { return window.get(); }

  private:
    FakeLobbyServer server;
    std::unique_ptr<MainWindow> window;
};
