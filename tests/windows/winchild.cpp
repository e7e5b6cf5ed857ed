// Child program of the Windows process-layer run: started as "--parlor R W" like the game's
// engine. It writes its process id into W, then echoes every 272-byte order block from R into W
// and ends with the number of blocks read when a stop block (order 0) or the end of R arrives.
// With WINCHILD_IGNORE set it never reads and waits to be terminated.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main()
{
    unsigned long long readEnd = 0, writeEnd = 0;
    const char* options = std::strstr(GetCommandLineA(), "--parlor ");
    if (!options || std::sscanf(options, "--parlor %llu %llu", &readEnd, &writeEnd) != 2)
        return 100;
    const HANDLE input = HANDLE(readEnd), output = HANDLE(writeEnd);
    const DWORD pid = GetCurrentProcessId();
    DWORD written = 0;
    WriteFile(output, &pid, sizeof pid, &written, nullptr);
    while (GetEnvironmentVariableA("WINCHILD_IGNORE", nullptr, 0) != 0)
        Sleep(INFINITE);
    for (int blocks = 1;; ++blocks) {
        char block[272];
        DWORD got = 0, total = 0;
        while (total < sizeof block &&
               ReadFile(input, block + total, sizeof block - total, &got, nullptr) && got > 0)
            total += got;
        if (total != sizeof block)
            return blocks - 1;
        WriteFile(output, block, sizeof block, &written, nullptr);
        if (block[0] == 0)
            return blocks;
    }
}
