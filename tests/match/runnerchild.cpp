// Started by the runner's tests. Writes each of its arguments, ended by a NUL, to the descriptor
// numbered $RUNNERCHILD_FD, then the word "SIGPIPE ignored" if it inherited that disposition, and
// ends. Started as just "linger", it first ignores the polite ways to end it, and after reporting
// sleeps for a minute: it has to be killed, yet does not long outlive a test that hangs.

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

int main(int argc, char** argv)
{
    const bool linger = argc == 1 && std::strcmp(argv[0], "linger") == 0;
    if (linger) {
        std::signal(SIGTERM, SIG_IGN);
        std::signal(SIGINT, SIG_IGN);
        std::signal(SIGHUP, SIG_IGN);
    }
    std::string report;
    for (int i = 0; i < argc; ++i)
        report.append(argv[i], std::strlen(argv[i]) + 1);
    struct sigaction brokenPipe = {};
    if (sigaction(SIGPIPE, nullptr, &brokenPipe) == 0 && brokenPipe.sa_handler == SIG_IGN)
        report.append("SIGPIPE ignored", sizeof "SIGPIPE ignored");

    const char* fdText = std::getenv("RUNNERCHILD_FD");
    const int fd = fdText ? std::atoi(fdText) : -1;
    if (write(fd, report.data(), report.size()) != static_cast<ssize_t>(report.size()))
        return 3;
    // The test reads until this end closes, so a lingering child must close it itself.
    close(fd);
    if (linger)
        sleep(60);
    return 0;
}
