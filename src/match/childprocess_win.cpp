// SPDX-License-Identifier: GPL-3.0-or-later
// Windows process layer: a thin wrapper over the Win32 process functions.

#include "match/childprocess_native.h"

#include <windows.h>

struct ChildProcess {
    // INVALID_HANDLE_VALUE when the object holds no process.
    HANDLE process;
};

ChildProcess* startNativeProcess(const char* path, const char* commandLine)
{
    // CreateProcessA may write into the command line, so it gets its own copy.
    char buffer[commandLineBufferSize];
    copyCommandLine(buffer, commandLine);

    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    ZeroMemory(&info, sizeof info);

    // Inheritance is on: the engine finds its pipe handles by the numbers on its command line.
    if (!CreateProcessA(path, buffer, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
        return nullptr;
    CloseHandle(info.hThread);
    return new ChildProcess{info.hProcess};
}

bool isNativeProcessRunning(ChildProcess* process)
{
    if (WaitForSingleObject(process->process, pollWaitMs) == WAIT_TIMEOUT)
        return true;
    // A failed wait counts as an end too; make sure the program really is gone then.
    TerminateProcess(process->process, forcedExitCode);
    return false;
}

void closeNativeProcess(ChildProcess* process, std::uint32_t timeoutMs)
{
    if (process->process != INVALID_HANDLE_VALUE) {
        if (WaitForSingleObject(process->process, timeoutMs) != WAIT_OBJECT_0)
            TerminateProcess(process->process, forcedExitCode);
        CloseHandle(process->process);
    }
    delete process;
}

void ignoreBrokenPipeSignal()
{
    // Windows has no such signal: WriteFile into a closed pipe just fails.
}

bool createNativePipe(ChildEnd childSide, PipeHandle* clientEnd, PipeHandle* childEnd)
{
    SECURITY_ATTRIBUTES inheritable;
    ZeroMemory(&inheritable, sizeof inheritable);
    inheritable.nLength = sizeof inheritable;
    inheritable.bInheritHandle = TRUE;
    HANDLE readEnd = INVALID_HANDLE_VALUE;
    HANDLE writeEnd = INVALID_HANDLE_VALUE;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, pipeBufferSize))
        return false;
    const HANDLE child = childSide == ChildEnd::Read ? readEnd : writeEnd;
    const HANDLE client = childSide == ChildEnd::Read ? writeEnd : readEnd;
    // Only the program's end may be inherited: were the client's end inherited too, the pipe
    // would never close for the program.
    if (!SetHandleInformation(client, HANDLE_FLAG_INHERIT, 0)) {
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return false;
    }
    *clientEnd = reinterpret_cast<PipeHandle>(client);
    *childEnd = reinterpret_cast<PipeHandle>(child);
    return true;
}

bool writeNativePipe(PipeHandle end, const void* data, std::size_t size)
{
    const char* next = static_cast<const char*>(data);
    std::size_t left = size;
    while (left > 0) {
        const DWORD chunk = left > MAXDWORD ? MAXDWORD : DWORD(left);
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(end), next, chunk, &written, nullptr) ||
            written == 0)
            return false;
        next += written;
        left -= written;
    }
    return true;
}

void closeNativePipe(PipeHandle end)
{
    CloseHandle(reinterpret_cast<HANDLE>(end));
}
