// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clientexit.h"

#include <cstddef>
#include <cstdint>
#include <optional>

// Runs one input (see fuzz_client.cpp for its layout) and tells how the client ended, if it did.
std::optional<ClientExit> runClientInput(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
