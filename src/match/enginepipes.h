// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "match/childprocess_native.h"

#include <QByteArray>
#include <QString>

// The two anonymous pipes between the client and a game engine: the engine reads its orders
// from the input pipe and may write into the output pipe, which the client keeps open but never
// reads. The engine finds its ends by the numbers on its command line.
class EnginePipes
{
  public:
    EnginePipes() = default;
    EnginePipes(const EnginePipes&) = delete;
    EnginePipes& operator=(const EnginePipes&) = delete;
    ~EnginePipes();

    // Creates both pipes. False, with nothing open, when either cannot be made.
    bool open();

    // "--parlor R W": the engine's read end of its input and write end of its output.
    QString engineCommandLine() const;

    // Once the engine is started (or will not be), the client must not hold the engine's ends:
    // the engine would otherwise never see its input close.
    void closeEngineEnds();

    // Writes one order block whole; false when the engine can no longer take it or the pipes are
    // not open.
    bool write(const QByteArray& block);

  private:
    void closeAll();

    PipeHandle engineInput = invalidPipeHandle;
    PipeHandle engineOutput = invalidPipeHandle;
    PipeHandle engineReadEnd = invalidPipeHandle;
    PipeHandle engineWriteEnd = invalidPipeHandle;
};
