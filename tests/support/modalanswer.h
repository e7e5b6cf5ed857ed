// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "support/modalanswerer.h"

#include <QMessageBox>
#include <QStringList>

#include <functional>

// A message box as checks name it: its icon, title and text.
QString boxText(QMessageBox::Icon icon, const QString& title, const QString& text);

// Every modal window shown while it lives, described in order. act answers a window as the test
// wants; one it leaves up gets ModalAnswerer's answer. Arrange it before the call that opens it.
struct Modals {
    explicit Modals(std::function<void(QWidget*)> act = {});
    QStringList seen;
    ModalAnswerer answerer;
};
