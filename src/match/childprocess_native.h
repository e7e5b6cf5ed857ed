#pragma once

// The operating-system side of the process runner. Everything here takes byte strings in the
// local 8-bit encoding and needs no Qt, so each platform's implementation can be compiled on its
// own (the Windows one is cross-compiled on Linux build machines to keep it from rotting).

#include <cstddef>
#include <cstdint>
#include <cstring>

// One started program; defined by the platform implementation, owned by whoever holds the pointer
// and released only by closeNativeProcess.
struct ChildProcess;

// The command line is copied into a buffer of this size and ends with a NUL there, so a longer
// one reaches the program cut to commandLineBufferSize - 1 bytes.
constexpr std::size_t commandLineBufferSize = 128;

// Exit code given to a program that had to be terminated.
constexpr std::uint32_t forcedExitCode = 12345;

// How long isNativeProcessRunning waits for the program: it must never hold up the GUI thread.
constexpr std::uint32_t pollWaitMs = 0;

// Copies at most commandLineBufferSize - 1 bytes of commandLine, stopping at its NUL, and
// terminates the copy.
inline void copyCommandLine(char (&buffer)[commandLineBufferSize], const char* commandLine)
{
    std::size_t length = 0;
    while (length < commandLineBufferSize - 1 && commandLine[length] != '\0')
        ++length;
    std::memcpy(buffer, commandLine, length);
    buffer[length] = '\0';
}

// Starts the program file at path with commandLine as its whole command line (the program's name
// is not put in front). The new program inherits the descriptors or handles the caller left
// inheritable. Returns null, with nothing left running or open, when the program cannot start.
ChildProcess* startNativeProcess(const char* path, const char* commandLine);

// True while the program runs; never blocks. Once it returns false the program is gone for good.
bool isNativeProcessRunning(ChildProcess* process);

// Gives the program timeoutMs to end, terminates it after that with forcedExitCode, and releases
// it together with the object.
void closeNativeProcess(ChildProcess* process, std::uint32_t timeoutMs);

// Makes writing into a pipe whose reader has gone fail with an error instead of ending the whole
// client (the engine may quit while an order is still on its way). Nothing to do on Windows.
void ignoreBrokenPipeSignal();
