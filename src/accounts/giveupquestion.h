#pragma once

class QWidget;

// Asks whether to stop setting up the account; true when the user answers Yes.
bool confirmGiveUpAccountSetup(QWidget* parent);
