// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

// Asks whether to stop setting up the account; true when the user answers Yes.
bool confirmGiveUpAccountSetup(QWidget* parent);
