// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the Windows process and pipe layer for real (under wine on Linux build machines): starts
// itself again as the client starts the engine, feeds that child the three order blocks, reads its
// echo, and checks exit codes, including the forced one of a child that ignores its input.
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
           ReadFile(HANDLE(end), static_cast<char*>(data) + total, size - total, &got, nullptr) &&
           got > 0)
        total += got;
    return total == size;
}

// The child, started as "--parlor R W" like the game's engine. It writes its process id into W,
// then echoes every 272-byte order block from R into W and ends with the number of blocks read
// when a stop block (order 0) or the end of R arrives. With WINCHILD_IGNORE set it never reads and
// waits to be terminated.
static int runChild(const char* options)
{
    unsigned long long input = 0, output = 0;
    if (std::sscanf(options, "--parlor %llu %llu", &input, &output) != 2)
        return 100;
    const DWORD pid = GetCurrentProcessId();
    DWORD written = 0;
    WriteFile(HANDLE(output), &pid, sizeof pid, &written, nullptr);
    while (GetEnvironmentVariableA("WINCHILD_IGNORE", nullptr, 0) != 0)
        Sleep(INFINITE);
    for (int blocks = 1;; ++blocks) {
        char block[272];
        if (!readAll(PipeHandle(input), block, sizeof block))
            return blocks - 1;
        WriteFile(HANDLE(output), block, sizeof block, &written, nullptr);
        if (block[0] == 0)
            return blocks;
    }
}

// Starts the child as the client starts the engine, with the driver's ends of its input and
// output. A handle of our own (watch) reads its exit code once the runner has let go of it.
static ChildProcess* startChild(bool ignoring, PipeHandle* input, PipeHandle* output, HANDLE* watch)
{
    SetEnvironmentVariableA("WINCHILD_IGNORE", ignoring ? "1" : nullptr);
    PipeHandle childRead = invalidPipeHandle, childWrite = invalidPipeHandle;
    if (!createNativePipe(ChildEnd::Read, input, &childRead) ||
        !createNativePipe(ChildEnd::Write, output, &childWrite))
        return nullptr;
    char commandLine[64];
    std::snprintf(commandLine, sizeof commandLine, "--parlor %llu %llu", childRead, childWrite);
    ChildProcess* process = startNativeProcess("windriver.exe", commandLine);
    closeNativePipe(childRead);
    closeNativePipe(childWrite);
    DWORD pid = 0;
    *watch = process && readAll(*output, &pid, sizeof pid)
                 ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)
                 : nullptr;
    return process;
}

static DWORD exitCode(HANDLE watch)
{
    DWORD code = 0;
    WaitForSingleObject(watch, 5000);
    GetExitCodeProcess(watch, &code);
    return code;
}

int main()
{
    if (const char* options = std::strstr(GetCommandLineA(), "--parlor "))
        return runChild(options);
    check(!startNativeProcess("missing.exe", "--parlor 1 2"), "a missing program gives null");
    PipeHandle input = invalidPipeHandle, output = invalidPipeHandle;
    HANDLE watch = nullptr;
    ChildProcess* child = startChild(false, &input, &output, &watch);
    if (!check(child && watch, "the child starts with inherited pipe ends"))
        return 1;
    char blocks[3][272] = {{1}, {2}}, echo[3][272];
    std::strcpy(blocks[1] + 16, "192.0.2.7:14141");
    check(writeNativePipe(input, blocks, sizeof blocks) && readAll(output, echo, sizeof echo) &&
              std::memcmp(echo, blocks, sizeof echo) == 0,
          "the child read exactly the three blocks written");
    check(WaitForSingleObject(watch, 5000) == WAIT_OBJECT_0 && !isNativeProcessRunning(child),
          "isNativeProcessRunning turns false once the child ended");
    closeNativeProcess(child, 0);
    check(exitCode(watch) == 3, "the child's own exit code (blocks read) is kept");
    check(!writeNativePipe(input, blocks, sizeof blocks[0]),
          "writing to an ended child fails instead of hanging");

    child = startChild(true, &input, &output, &watch);
    if (!check(child && watch && isNativeProcessRunning(child),
               "the ignoring child starts and runs"))
        return 1;
    const DWORD before = GetTickCount();
    closeNativeProcess(child, 300);
    const DWORD waited = GetTickCount() - before;
    check(waited >= 250 && waited < 5000, "closeNativeProcess waits for the timeout, then stops");
    check(exitCode(watch) == forcedExitCode, "the terminated child's exit code is 12345");
    return failures == 0 ? 0 : 1;
}
