// Runs the Windows process and pipe layer for real (under wine on Linux build machines): starts
// winchild.exe as the client starts the engine, feeds it the three order blocks, reads its echo,
// and checks exit codes, including the forced one of a child that ignores its input.
#include "match/childprocess_native.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

static int failures = 0;

static bool check(bool ok, const char* what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what);
    failures += ok ? 0 : 1;
    return ok;
}

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

// A started winchild: the driver's ends of its input and output, and a handle of our own to read
// the exit code once the runner has let go of the process.
struct Child {
    ChildProcess* process = nullptr;
    PipeHandle input = invalidPipeHandle, output = invalidPipeHandle;
    HANDLE watch = nullptr;

    explicit Child(bool ignoring)
    {
        SetEnvironmentVariableA("WINCHILD_IGNORE", ignoring ? "1" : nullptr);
        PipeHandle childRead = invalidPipeHandle, childWrite = invalidPipeHandle;
        if (!createNativePipe(ChildEnd::Read, &input, &childRead) ||
            !createNativePipe(ChildEnd::Write, &output, &childWrite))
            return;
        char commandLine[64];
        std::snprintf(commandLine, sizeof commandLine, "--parlor %llu %llu",
                      static_cast<unsigned long long>(childRead),
                      static_cast<unsigned long long>(childWrite));
        process = startNativeProcess("winchild.exe", commandLine);
        closeNativePipe(childRead);
        closeNativePipe(childWrite);
        DWORD pid = 0;
        if (process && readAll(output, &pid, sizeof pid))
            watch = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    }
    ~Child()
    {
        closeNativePipe(input);
        closeNativePipe(output);
        CloseHandle(watch);
    }
    DWORD exitCode() const
    {
        DWORD code = 0;
        WaitForSingleObject(watch, 5000);
        GetExitCodeProcess(watch, &code);
        return code;
    }
};

static void runsOrdersToTheEnd()
{
    Child child(false);
    if (!check(child.process && child.watch, "the child starts with inherited pipe ends"))
        return;
    char blocks[3][272] = {{1}, {2}};
    std::strcpy(blocks[1] + 16, "192.0.2.7:14141");
    bool written = true;
    for (auto& block : blocks)
        written = writeNativePipe(child.input, block, sizeof block) && written;
    char echo[3][272];
    check(written && readAll(child.output, echo, sizeof echo) &&
              std::memcmp(echo, blocks, sizeof echo) == 0,
          "the child read exactly the three blocks written");
    bool ended = false;
    for (int i = 0; i < 100 && !(ended = !isNativeProcessRunning(child.process)); ++i)
        Sleep(50);
    check(ended, "isNativeProcessRunning turns false once the child ended");
    closeNativeProcess(child.process, 0);
    check(child.exitCode() == 3, "the child's own exit code (blocks read) is kept");
    check(!writeNativePipe(child.input, blocks[2], sizeof blocks[2]),
          "writing to an ended child fails instead of hanging");
}

static void terminatesAnIgnoringChild()
{
    Child child(true);
    SetEnvironmentVariableA("WINCHILD_IGNORE", nullptr);
    if (!check(child.process && child.watch && isNativeProcessRunning(child.process),
               "the ignoring child starts and runs"))
        return;
    const DWORD before = GetTickCount();
    closeNativeProcess(child.process, 300);
    const DWORD waited = GetTickCount() - before;
    check(waited >= 250 && waited < 5000, "closeNativeProcess waits for the timeout, then stops");
    check(child.exitCode() == forcedExitCode, "the terminated child's exit code is 12345");
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
