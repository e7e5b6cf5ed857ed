// SPDX-License-Identifier: GPL-3.0-or-later
#include "clientexit.h"

#include "app/globals.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TILEPARLOR_LEAK_CHECKED
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TILEPARLOR_LEAK_CHECKED
#endif

#ifdef TILEPARLOR_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

namespace
{
const char* clientStackBase = nullptr;

// The program exits with the client's frames still in place, holding what they hold; here they
// unwind, and a buffer that only a local pointer held would look leaked. Everything the frames
// point to is marked as still in use, so that the leak check reports what the client itself
// lost. The stack is read word by word, redzones included, as the leak check reads it.
__attribute__((noinline, no_sanitize("address"))) void keepWhatTheFramesHold()
{
#ifdef TILEPARLOR_LEAK_CHECKED
    const auto* top = static_cast<const char*>(__builtin_frame_address(0));
    for (const char* at = top; at + sizeof(void*) <= clientStackBase; at += sizeof(void*))
        __lsan_ignore_object(*reinterpret_cast<void* const*>(at));
#endif
}
} // namespace

void setClientStackBase(const void* base)
{
    clientStackBase = static_cast<const char*>(base);
}

// These take the place of the core library's definitions when the harness is linked: the
// linker prefers them and never pulls the library's own from the archive.

void exitProcess(int code)
{
    keepWhatTheFramesHold();
    throw ClientExit{code, QString()};
}

void fatalError(const QString& message)
{
    keepWhatTheFramesHold();
    throw ClientExit{1, message};
}
