// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// POSIX only: what a test needs to notice descriptors left open.

#include <fcntl.h>
#include <unistd.h>

// The number the next descriptor would get; a descriptor leaked since an earlier call takes it.
inline int lowestFreeFd()
{
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::close(fd);
    return fd;
}
