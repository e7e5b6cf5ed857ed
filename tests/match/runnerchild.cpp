// A program for the process runner's tests to start. Its command line is what is under test, so
// what it does is chosen by the environment instead:
//
// RUNNERCHILD_MODE=argv     writes each argument, NUL-terminated, to $RUNNERCHILD_OUT and ends.
// RUNNERCHILD_MODE=engine   plays the game engine: argv is "--parlor <in> <out>". Reads a
//                           272-byte order block from <in>, writes "order=<n> fds=<open fds>\n"
//                           to <out>, then waits for the next block: answers "stop\n" to a stop
//                           block and "eof\n" when its input is closed, and ends.
// RUNNERCHILD_MODE=linger   ignores SIGTERM, SIGINT and SIGHUP, writes "ready\n" to
//                           $RUNNERCHILD_OUT, sleeps $RUNNERCHILD_LINGER_MS milliseconds, appends
//                           "done\n" and ends.
// RUNNERCHILD_MODE=sigpipe  writes "default\n" or "not default\n" to $RUNNERCHILD_OUT for its
//                           SIGPIPE disposition and ends.
//
// Exit code 0 on success, 3 when it was started in a way it cannot work with.

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace
{

const int orderBlockSize = 272;
const int highestFdChecked = 4096;

// Collected first thing, before this program opens anything itself.
std::string openDescriptors()
{
    std::string list;
    for (int fd = 0; fd < highestFdChecked; ++fd) {
        if (fcntl(fd, F_GETFD) == -1)
            continue;
        if (!list.empty())
            list += ',';
        list += std::to_string(fd);
    }
    return list;
}

bool writeAll(int fd, const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, p, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        p += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool writeString(int fd, const std::string& text)
{
    return writeAll(fd, text.data(), text.size());
}

// Reads one block; false at the end of input.
bool readBlock(int fd, unsigned char (&block)[orderBlockSize])
{
    std::size_t got = 0;
    while (got < sizeof block) {
        const ssize_t n = read(fd, block + got, sizeof block - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

std::uint32_t orderOf(const unsigned char (&block)[orderBlockSize])
{
    return block[0] | block[1] << 8 | block[2] << 16 | static_cast<std::uint32_t>(block[3]) << 24;
}

int openOutput(int extraFlags)
{
    const char* path = std::getenv("RUNNERCHILD_OUT");
    if (!path)
        return -1;
    return open(path, O_WRONLY | O_CREAT | O_CLOEXEC | extraFlags, 0644);
}

int writeArguments(int argc, char** argv)
{
    const int out = openOutput(O_TRUNC);
    if (out < 0)
        return 3;
    for (int i = 0; i < argc; ++i) {
        if (!writeAll(out, argv[i], std::strlen(argv[i]) + 1))
            return 3;
    }
    close(out);
    return 0;
}

bool parseFd(const char* text, int& fd)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < 0 || value >= highestFdChecked)
        return false;
    fd = static_cast<int>(value);
    return true;
}

int playEngine(int argc, char** argv, const std::string& descriptors)
{
    int in = -1;
    int out = -1;
    if (argc != 3 || std::strcmp(argv[0], "--parlor") != 0 || !parseFd(argv[1], in) ||
        !parseFd(argv[2], out))
        return 3;
    unsigned char block[orderBlockSize];
    if (!readBlock(in, block))
        return 3;
    if (!writeString(out, "order=" + std::to_string(orderOf(block)) + " fds=" + descriptors + "\n"))
        return 3;
    if (!readBlock(in, block))
        return writeString(out, "eof\n") ? 0 : 3;
    if (orderOf(block) != 0)
        return 3;
    return writeString(out, "stop\n") ? 0 : 3;
}

int linger()
{
    std::signal(SIGTERM, SIG_IGN);
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    const int out = openOutput(O_TRUNC);
    if (out < 0 || !writeString(out, "ready\n"))
        return 3;
    const char* lingerText = std::getenv("RUNNERCHILD_LINGER_MS");
    const long ms = lingerText ? std::atol(lingerText) : 30000;
    timespec remaining = {ms / 1000, (ms % 1000) * 1000000};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
    return writeString(out, "done\n") ? 0 : 3;
}

int reportSigpipe()
{
    struct sigaction current = {};
    if (sigaction(SIGPIPE, nullptr, &current) != 0)
        return 3;
    const bool isDefault = !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_DFL;
    const int out = openOutput(O_TRUNC);
    if (out < 0 || !writeString(out, isDefault ? "default\n" : "not default\n"))
        return 3;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string descriptors = openDescriptors();
    const char* mode = std::getenv("RUNNERCHILD_MODE");
    if (!mode)
        return 3;
    if (std::strcmp(mode, "argv") == 0)
        return writeArguments(argc, argv);
    if (std::strcmp(mode, "engine") == 0)
        return playEngine(argc, argv, descriptors);
    if (std::strcmp(mode, "linger") == 0)
        return linger();
    if (std::strcmp(mode, "sigpipe") == 0)
        return reportSigpipe();
    return 3;
}
