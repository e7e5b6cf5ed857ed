// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobbywire.h"

#include <QString>
#include <QStringList>

// Who a bot is, where it goes and how it behaves there.
struct BotSettings {
    QString host = "127.0.0.1";
    quint16 port = defaultLobbyPort;
    // Over TLS, checked against the CAs of caFile, or the system's when it is empty.
    bool tls = false;
    QString caFile;
    QString account;
    QString password;
    // The handle name to take when the account has none, or to change to; "" keeps the account's.
    QString name;

    // The room to enter, by number or title; or, with createTitle set, the room to create.
    QString room;
    QString roomPassword;
    QString createTitle;
    quint32 capacity = 20;
    quint32 gameId = 0;

    bool greet = false;
    int chatIntervalMs = 0; // 0: speaks only when spoken to or greeting
    bool answer = false;
    bool recruit = false;
    bool apply = false;
    int battleMs = 20000; // how long its side of a match lasts
    bool quiet = false;

    // What it says unprompted, and what it says when addressed; one line is picked at random.
    QStringList chatLines = {
        "こんにちは！",
        "今日は調子どうですか？",
        "誰か対戦しませんか？",
        "さっきの試合は惜しかった…",
        "新しいコンボを練習中です。",
        "ちょっと休憩します。",
        "この部屋、にぎやかですね。",
        "よろしくお願いします！",
    };
    // Never a name, so that two bots cannot keep answering each other.
    QStringList answerLines = {
        "呼びましたか？",
        "はい、聞いてますよ！",
        "いいですね、ぜひ！",
        "ちょっと待ってくださいね。",
    };

    // A person's pause before acting on what happened, and the rest between two matches.
    int thinkMs = 1000;
    int restMs = 5000;
    int answerCooldownMs = 5000;
};
