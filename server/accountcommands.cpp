// SPDX-License-Identifier: GPL-3.0-or-later
#include "accountcommands.h"

#include "accountservice.h"
#include "passwords.h"
#include "serveroptions.h"
#include "store.h"
#include "textchecks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

static int fail(const QString& message)
{
    std::fprintf(stderr, "tileparlor-server: %s\n", qPrintable(message));
    return 1;
}

static int listAccounts(Store& store)
{
    std::printf("id\taccount\thandle\tmail\tadmin\n");
    for (const Account& account : store.accounts()) {
        std::printf("%u\t%s\t%s\t%s\t%s\n", account.id, qPrintable(account.name),
                    qPrintable(account.handle), qPrintable(account.mail),
                    account.admin ? "yes" : "no");
    }
    return 0;
}

static int makeAdmin(const ServerOptions& options, Store& store)
{
    if (options.command.size() != 2)
        return fail("make-admin needs one account name");
    const std::optional<Account> account = store.accountByName(options.command[1]);
    if (!account)
        return fail("no account " + options.command[1]);
    if (!store.setAdmin(account->id, !options.revoke))
        return fail("the store did not take the change");
    std::printf("%s is %s\n", qPrintable(account->name),
                options.revoke ? "no administrator any more" : "an administrator");
    return 0;
}

static int createAccount(const ServerOptions& options, Store& store, int iterations)
{
    const QStringList& args = options.command;
    if (args.size() < 3 || args.size() > 4)
        return fail("create-account needs ACCOUNT PASSWORD [HANDLE]");
    Account account;
    account.name = args[1];
    account.handle = args.value(3);
    account.mail = options.mail;
    account.admin = options.admin;
    // The same limits as the client's own dialogs, so that the account can log in.
    if (account.name.isEmpty() || !checkUtf8Length(account.name, TextLimit::account) ||
        args[2].isEmpty() || !checkUtf8Length(args[2], TextLimit::password))
        return fail("account name and password must be 1 to 71 bytes");
    if (!checkUtf8Length(account.handle, TextLimit::handleName))
        return fail("the handle name must be shorter than 120 bytes");
    if (hasControlCharacters(account.name) || hasControlCharacters(account.handle))
        return fail("account and handle names must not hold control characters");
    if (!account.mail.isEmpty() &&
        (!isUsableMail(account.mail) || !checkUtf8Length(account.mail, TextLimit::mail)))
        return fail("unusable mail address " + account.mail);
    account.password = hashPassword(args[2], iterations);
    const quint32 id = store.createAccount(account);
    if (id == 0)
        return fail("account " + account.name + " not created (name or mail taken?)");
    std::printf("%u\n", id);
    return 0;
}

// The lock lives in the running server's memory; the request reaches it through the data
// folder, which it watches.
static int unlockAccount(const ServerOptions& options, Store& store)
{
    if (options.command.size() != 2)
        return fail("unlock-account needs one account name");
    const std::optional<Account> account = store.accountByName(options.command[1]);
    if (!account)
        return fail("no account " + options.command[1]);
    const QString path = unlockRequestFile(options.dataFolder, account->name);
    QDir().mkpath(QFileInfo(path).path());
    QFile request(path);
    if (!request.open(QIODevice::WriteOnly))
        return fail("cannot write " + path + ": " + request.errorString());
    std::printf("%s: the running server forgets its failed logins and lifts its lock\n",
                qPrintable(account->name));
    return 0;
}

int runAccountCommand(const ServerOptions& options, Store& store, int passwordIterations)
{
    const QString command = options.command.value(0);
    if (command == "list-accounts" && options.command.size() == 1)
        return listAccounts(store);
    if (command == "make-admin")
        return makeAdmin(options, store);
    if (command == "create-account")
        return createAccount(options, store, passwordIterations);
    if (command == "unlock-account")
        return unlockAccount(options, store);
    return fail("unknown subcommand " + options.command.join(' ') + " (see --help)");
}
