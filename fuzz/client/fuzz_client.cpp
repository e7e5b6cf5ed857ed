// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes, as the server's side of the connection, into the client's real
// ProtocolSocket and MainWindow (offscreen), after a login scripted with valid replies. Each
// input gets a fresh window; when the client ends itself (a fatal error, or the exit on a close
// notice) the harness takes the unwind and tears the window down.
//
// Input: byte 0 holds options, the rest is what the server sends.
//   bits 0-2: the stage the client is brought to first (see Stage);
//   bits 3-4: how the bytes arrive (FuzzLobby::Pace): all at once, a byte per event loop pass,
//             a frame whenever the client is idle, or 64 bytes per pass;
//   bit 5: the server hangs up after the last byte.

#include "fuzz_client.h"

#include "clientsession.h"
#include "fuzzapplication.h"
#include "fuzzlobby.h"

#include "app/globals.h"
#include "match/childprocess_native.h"
#include "support/testenvironment.h"

#include <QSettings>

#include <cstdio>
#include <cstdlib>

namespace
{
struct Harness {
    int argc = 1;
    char name[16] = "fuzz_client";
    char* argv[2] = {name, nullptr};
    bool prepared = prepareEnvironment();
    FuzzApplication app{argc, argv};
    // Settings stores in a temporary folder, with the account the lobby accepts.
    TestEnvironment environment;
    FuzzLobby lobby;

    Harness()
    {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        // As main() does: the engine's pipe may be closed under a write.
        ignoreBrokenPipeSignal();
        userSettings->setValue("account/id", "player1");
        userSettings->setValue("account/password", "pass word");
    }

    static bool prepareEnvironment()
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // The plain Unix event dispatcher handles posted events, sockets and timers in a fixed
        // order in each pass, which keeps a replayed input on the same path.
        qputenv("QT_NO_GLIB", "1");
        return true;
    }
};

// Lives until the process ends: destroyed from a static destructor, the application would run
// Qt's clean-up after parts of Qt are already gone.
Harness& harness()
{
    static Harness* instance = new Harness;
    return *instance;
}
} // namespace

std::optional<ClientExit> runClientInput(const uint8_t* data, size_t size)
{
    Harness& h = harness();
    if (size == 0)
        return std::nullopt;
    const char base = 0;
    setClientStackBase(&base);
    const uint8_t options = data[0];
    const QByteArray bytes(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));

    ClientSession session(h.app, h.lobby);
    try {
        session.reach(Stage(options % stageCount));
        session.play(bytes, FuzzLobby::Pace((options >> 3) & 3), options & 0x20);
    } catch (const ClientExit& exit) {
        // Events reach the client through the application, which catches its end; only the
        // harness's own calls on the way to the stage get here, and they must not end it.
        std::fprintf(stderr, "fuzz_client: the scripted part ended the client: %s\n",
                     qPrintable(exit.message));
        std::abort();
    }
    return h.app.clientExit();
}

// Qt's font set-up on the first window leaves fontconfig's patterns unreachable; they are made
// once per process, not per input, and need no word at every leak check.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

extern "C" const char* __lsan_default_options()
{
    return "print_suppressions=0";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    runClientInput(data, size);
    return 0;
}
