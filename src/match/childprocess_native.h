// SPDX-License-Identifier: GPL-3.0-or-later
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

// One end of an anonymous pipe: a file descriptor or a Windows handle, held as an integer so that
// callers need no system header. All bits set, as Windows marks an invalid handle, means no end.
using PipeHandle = std::uintptr_t;
constexpr PipeHandle invalidPipeHandle = ~PipeHandle(0);

// What a pipe holds before a writer has to wait, where the platform lets us choose.
constexpr std::uint32_t pipeBufferSize = 4096;

// The end of a new pipe that the program about to be started uses.
enum class ChildEnd { Read, Write };

// Creates a pipe for a program about to be started. Its end (childEnd) is inheritable, so the
// program started next holds it under the same number; the client's end is not, so the pipe
// closes for the program once the client lets go of it. False, with nothing open, on failure.
bool createNativePipe(ChildEnd childSide, PipeHandle* clientEnd, PipeHandle* childEnd);

// Writes all size bytes, waiting while the pipe is full. False when the reader has gone or the
// write fails otherwise; never raises SIGPIPE, whatever the process does with that signal.
bool writeNativePipe(PipeHandle end, const void* data, std::size_t size);

void closeNativePipe(PipeHandle end);
