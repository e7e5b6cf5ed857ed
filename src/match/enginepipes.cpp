// SPDX-License-Identifier: GPL-3.0-or-later
#include "match/enginepipes.h"

static void closeEnd(PipeHandle& end)
{
    if (end != invalidPipeHandle)
        closeNativePipe(end);
    end = invalidPipeHandle;
}

EnginePipes::~EnginePipes()
{
    closeAll();
}

bool EnginePipes::open()
{
    if (createNativePipe(ChildEnd::Read, &engineInput, &engineReadEnd) &&
        createNativePipe(ChildEnd::Write, &engineOutput, &engineWriteEnd))
        return true;
    closeAll();
    return false;
}

QString EnginePipes::engineCommandLine() const
{
    return QString("--parlor %1 %2").arg(quint64(engineReadEnd)).arg(quint64(engineWriteEnd));
}

void EnginePipes::closeEngineEnds()
{
    closeEnd(engineReadEnd);
    closeEnd(engineWriteEnd);
}

bool EnginePipes::write(const QByteArray& block)
{
    return engineInput != invalidPipeHandle &&
           writeNativePipe(engineInput, block.constData(), std::size_t(block.size()));
}

void EnginePipes::closeAll()
{
    closeEngineEnds();
    closeEnd(engineInput);
    closeEnd(engineOutput);
}
