// SPDX-License-Identifier: GPL-3.0-or-later
// POSIX process layer. The command-line interface of the programs we start was made for
// Windows, so the command line is split into words as a Windows C runtime would split it and
// that becomes the whole argument vector, first word included.

#include "match/childprocess_posix.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

struct ChildProcess {
    pid_t pid;
    // Set once the program has been reaped. Its id may then belong to an unrelated process, so
    // nothing may be sent to it any more.
    bool reaped;
};

std::vector<std::string> splitCommandLine(const char* commandLine)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    const char* p = commandLine;
    while (*p != '\0') {
        if (!quoted && (*p == ' ' || *p == '\t')) {
            if (inWord) {
                words.push_back(word);
                word.clear();
                inWord = false;
            }
            ++p;
            continue;
        }
        inWord = true;
        if (*p == '\\') {
            std::size_t count = 0;
            while (p[count] == '\\')
                ++count;
            if (p[count] != '"') {
                word.append(count, '\\');
                p += count;
            } else {
                word.append(count / 2, '\\');
                p += count;
                if (count % 2 != 0) {
                    word += '"';
                    ++p;
                }
                // With an even count the quote is left for the next round, where it toggles.
            }
        } else if (*p == '"') {
            quoted = !quoted;
            ++p;
        } else {
            word += *p++;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

namespace
{

bool openCloseOnExecPipe(int fds[2])
{
    // Close-on-exec from the start: the pipe must not leak into a program another thread starts.
#ifdef __linux__
    return pipe2(fds, O_CLOEXEC) == 0;
#else
    if (pipe(fds) != 0)
        return false;
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    return true;
#endif
}

// Runs in the forked child, so only async-signal-safe calls are allowed: everything it touches
// was prepared before the fork.
[[noreturn]] void execChild(const char* path, char* const* argv, int errorFd,
                            const sigset_t& callerMask)
{
    struct sigaction defaultAction = {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    for (int number = 1; number < NSIG; ++number) {
        struct sigaction current = {};
        if (number == SIGKILL || number == SIGSTOP || sigaction(number, nullptr, &current) != 0)
            continue;
        // Our handlers must not run in the child before exec replaces them. Ignored signals are
        // passed on as usual, except SIGPIPE: ignoring it is the client's own choice.
        const bool ignored = !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN;
        const bool isDefault = !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_DFL;
        if (!isDefault && (!ignored || number == SIGPIPE))
            sigaction(number, &defaultAction, nullptr);
    }
    pthread_sigmask(SIG_SETMASK, &callerMask, nullptr);

    execv(path, argv);
    const int error = errno;
    [[maybe_unused]] const ssize_t written = write(errorFd, &error, sizeof error);
    _exit(127);
}

void reapNow(pid_t pid)
{
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// Reaps the program if it ends within timeoutMs. False when it still runs at the deadline.
bool reapWithin(pid_t pid, std::uint32_t timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Clock::duration pause = std::chrono::milliseconds(1);
    const Clock::duration longestPause = std::chrono::milliseconds(10);
    for (;;) {
        const pid_t result = waitpid(pid, nullptr, WNOHANG);
        // ECHILD: someone else reaped it, so it has ended as far as we can tell.
        if (result == pid || (result < 0 && errno != EINTR))
            return true;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return false;
        std::this_thread::sleep_for(std::min(pause, deadline - now));
        pause = std::min(pause * 2, longestPause);
    }
}

} // namespace

ChildProcess* startNativeProcess(const char* path, const char* commandLine)
{
    char buffer[commandLineBufferSize];
    copyCommandLine(buffer, commandLine);
    std::vector<std::string> words = splitCommandLine(buffer);
    // Programs may take argv[0] for granted.
    if (words.empty())
        words.emplace_back();
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    // The child reports a failed exec through this pipe; a successful exec closes it unwritten.
    int errorPipe[2];
    if (!openCloseOnExecPipe(errorPipe))
        return nullptr;

    // Signals stay blocked until the child has dropped our handlers.
    sigset_t allSignals;
    sigset_t callerMask;
    sigfillset(&allSignals);
    pthread_sigmask(SIG_SETMASK, &allSignals, &callerMask);
    const pid_t pid = fork();
    if (pid == 0)
        execChild(path, argv.data(), errorPipe[1], callerMask);
    pthread_sigmask(SIG_SETMASK, &callerMask, nullptr);
    close(errorPipe[1]);

    if (pid < 0) {
        close(errorPipe[0]);
        return nullptr;
    }
    int error = 0;
    ssize_t got;
    do {
        got = read(errorPipe[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(errorPipe[0]);
    if (got != 0) {
        // The exec failed, or we cannot tell: no half-started child may stay behind.
        kill(pid, SIGKILL);
        reapNow(pid);
        return nullptr;
    }
    return new ChildProcess{pid, false};
}

bool isNativeProcessRunning(ChildProcess* process)
{
    if (process->pid < 0 || process->reaped)
        return false;
    pid_t result;
    do {
        result = waitpid(process->pid, nullptr, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == 0)
        return true;
    // Either reaped just now, or the wait failed because it is no longer our child: ended both
    // ways, and in neither case may the id be signalled.
    process->reaped = true;
    return false;
}

void closeNativeProcess(ChildProcess* process, std::uint32_t timeoutMs)
{
    if (process->pid >= 0 && !process->reaped && !reapWithin(process->pid, timeoutMs)) {
        // SIGKILL stands for the forced exit code: it cannot be caught, so the wait after it is
        // only for the kernel to take the process down.
        kill(process->pid, SIGKILL);
        reapNow(process->pid);
    }
    delete process;
}

void ignoreBrokenPipeSignal()
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

pid_t childProcessId(const ChildProcess* process)
{
    return process->reaped ? -1 : process->pid;
}

bool createNativePipe(ChildEnd childSide, PipeHandle* clientEnd, PipeHandle* childEnd)
{
    int fds[2];
    if (!openCloseOnExecPipe(fds))
        return false;
#ifdef F_SETPIPE_SZ
    // The size only bounds how far the client could run ahead of the program; a refusal leaves
    // the larger default, which holds the same orders.
    fcntl(fds[1], F_SETPIPE_SZ, int(pipeBufferSize));
#endif
    const int child = childSide == ChildEnd::Read ? fds[0] : fds[1];
    const int client = childSide == ChildEnd::Read ? fds[1] : fds[0];
    if (fcntl(child, F_SETFD, 0) != 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    *clientEnd = PipeHandle(client);
    *childEnd = PipeHandle(child);
    return true;
}

bool writeNativePipe(PipeHandle end, const void* data, std::size_t size)
{
    // SIGPIPE is blocked in this thread for the write, so a reader that has gone leaves the signal
    // pending instead of ending the client; it is taken back before the mask is restored, unless
    // it was pending already and so belongs to someone else.
    sigset_t brokenPipe;
    sigemptyset(&brokenPipe);
    sigaddset(&brokenPipe, SIGPIPE);
    sigset_t callerMask;
    pthread_sigmask(SIG_BLOCK, &brokenPipe, &callerMask);
    sigset_t pending;
    sigpending(&pending);
    const bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;

    const char* next = static_cast<const char*>(data);
    std::size_t left = size;
    bool readerGone = false;
    while (left > 0) {
        const ssize_t written = write(int(end), next, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            readerGone = errno == EPIPE;
        if (written <= 0)
            break;
        next += written;
        left -= std::size_t(written);
    }

    if (readerGone && !pendingBefore) {
        const timespec noWait = {0, 0};
        while (sigtimedwait(&brokenPipe, nullptr, &noWait) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &callerMask, nullptr);
    return left == 0;
}

void closeNativePipe(PipeHandle end)
{
    close(int(end));
}
