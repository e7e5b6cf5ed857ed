// Runs the Windows process and pipe layer for real (under wine on Linux build machines): starts
// winchild.exe as the client starts the engine, feeds it the three order blocks, reads its echo,
// and checks exit codes, including the forced one of a child that ignores its input.
#include "match/childprocess_native.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

static int failures = 0;

static void check(bool ok, const char* what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what);
    if (!ok)
        ++failures;
}

struct Started {
    ChildProcess* process = nullptr;
    PipeHandle input = invalidPipeHandle;  // the driver's write end of the child's input
    PipeHandle output = invalidPipeHandle; // the driver's read end of the child's output
    HANDLE watch = nullptr;                // a handle of our own, to read the exit code later
};

static bool readAll(PipeHandle end, void* data, DWORD size)
{
    DWORD total = 0, got = 0;
    while (total < size &&
           ReadFile(reinterpret_cast<HANDLE>(end), static_cast<char*>(data) + total, size - total,
                    &got, nullptr) &&
           got > 0)
        total += got;
    return total == size;
}

static Started startChild()
{
    Started s;
    PipeHandle childRead = invalidPipeHandle, childWrite = invalidPipeHandle;
    if (!createNativePipe(ChildEnd::Read, &s.input, &childRead) ||
        !createNativePipe(ChildEnd::Write, &s.output, &childWrite))
        return s;
    char commandLine[64];
    std::snprintf(commandLine, sizeof commandLine, "--parlor %llu %llu",
                  static_cast<unsigned long long>(childRead),
                  static_cast<unsigned long long>(childWrite));
    s.process = startNativeProcess("winchild.exe", commandLine);
    closeNativePipe(childRead);
    closeNativePipe(childWrite);
    DWORD pid = 0;
    if (s.process && readAll(s.output, &pid, sizeof pid))
        s.watch = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    return s;
}

static DWORD exitCodeOf(const Started& s)
{
    DWORD code = 0;
    WaitForSingleObject(s.watch, 5000);
    GetExitCodeProcess(s.watch, &code);
    return code;
}

static void runsOrdersToTheEnd()
{
    Started s = startChild();
    check(s.process && s.watch, "the child starts with inherited pipe ends");
    if (!s.process || !s.watch)
        return;
    char blocks[3][272] = {};
    blocks[0][0] = 1;
    blocks[1][0] = 2;
    std::strcpy(blocks[1] + 16, "192.0.2.7:14141");
    bool written = true;
    for (auto& block : blocks)
        written = writeNativePipe(s.input, block, sizeof block) && written;
    check(written, "three order blocks are written whole");
    char echo[3][272];
    check(readAll(s.output, echo, sizeof echo) && std::memcmp(echo, blocks, sizeof echo) == 0,
          "the child read exactly the blocks that were written");
    bool ended = false;
    for (int i = 0; i < 100 && !ended; ++i) {
        ended = !isNativeProcessRunning(s.process);
        if (!ended)
            Sleep(50);
    }
    check(ended, "isNativeProcessRunning turns false once the child ended");
    closeNativeProcess(s.process, 0);
    check(exitCodeOf(s) == 3, "the child's own exit code (blocks read) is kept");
    check(!writeNativePipe(s.input, blocks[2], sizeof blocks[2]),
          "writing to an ended child fails instead of hanging");
    closeNativePipe(s.input);
    closeNativePipe(s.output);
    CloseHandle(s.watch);
}

static void terminatesAnIgnoringChild()
{
    SetEnvironmentVariableA("WINCHILD_IGNORE", "1");
    Started s = startChild();
    SetEnvironmentVariableA("WINCHILD_IGNORE", nullptr);
    check(s.process && s.watch, "the ignoring child starts");
    if (!s.process || !s.watch)
        return;
    check(isNativeProcessRunning(s.process), "isNativeProcessRunning is true while it runs");
    const DWORD before = GetTickCount();
    closeNativeProcess(s.process, 300);
    const DWORD waited = GetTickCount() - before;
    check(waited >= 250 && waited < 5000, "closeNativeProcess waits for the timeout, then stops");
    check(exitCodeOf(s) == forcedExitCode, "the terminated child's exit code is 12345");
    closeNativePipe(s.input);
    closeNativePipe(s.output);
    CloseHandle(s.watch);
}

int main()
{
    ignoreBrokenPipeSignal();
    check(startNativeProcess("missing.exe", "--parlor 1 2") == nullptr,
          "a missing program gives null");
    runsOrdersToTheEnd();
    terminatesAnIgnoringChild();
    return failures == 0 ? 0 : 1;
}
