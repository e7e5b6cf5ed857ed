// SPDX-License-Identifier: GPL-3.0-or-later
// Started by the runner's tests. Writes each of its arguments, ended by a NUL, to the descriptor
// numbered $RUNNERCHILD_FD, then the word "SIGPIPE ignored" if it inherited that disposition, and
// ends. Started as just "linger", it first ignores the polite ways to end it, and after reporting
// sleeps for a minute: it has to be killed, yet does not long outlive a test that hangs.

#include <csignal>
#include <cstdlib>
#include <string>

#include <unistd.h>

int main(int argc, char** argv)
{
    const bool linger = argc == 1 && std::string(argv[0]) == "linger";
    for (const int polite : {SIGTERM, SIGINT, SIGHUP})
        std::signal(polite, linger ? SIG_IGN : SIG_DFL);
    std::string report;
    for (int i = 0; i < argc; ++i)
        report.append(argv[i]).push_back('\0');
    struct sigaction brokenPipe = {};
    if (sigaction(SIGPIPE, nullptr, &brokenPipe) == 0 && brokenPipe.sa_handler == SIG_IGN)
        report.append("SIGPIPE ignored").push_back('\0');
    const int fd = std::atoi(std::getenv("RUNNERCHILD_FD") ? std::getenv("RUNNERCHILD_FD") : "-1");
    if (write(fd, report.data(), report.size()) != static_cast<ssize_t>(report.size()))
        return 3;
    if (linger)
        sleep(60);
    return 0;
}
