// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHostAddress>
#include <QStringList>

// What the command line asks for, with the defaults filled in.
struct ServerOptions {
    QHostAddress listen = QHostAddress::LocalHost;
    quint16 port = 14142;
    QString dataFolder;
    // Empty: the configuration's database/url, else SQLite in the data folder.
    QString database;
    QString configFile;
    // Empty: the configuration's metrics/listen.
    QString metrics;
    // Empty: the configuration's tls/certificate and tls/key.
    QString tlsCertificate;
    QString tlsKey;
    bool configRequired = false;
    // An account subcommand and its arguments; empty to run the server.
    QStringList command;
    QString mail;
    bool admin = false;
    bool revoke = false;
};

// Parses the arguments; prints --help or --version and exits, and exits with a message on a
// malformed option, as command-line programs do.
ServerOptions parseServerOptions(const QStringList& arguments);
