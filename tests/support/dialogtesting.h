// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Shared by the dialog tests of the accounts, settings and main window folders.

#include "support/connectedlobby.h"
#include "support/modalanswer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>

// A user setting as the file on disk holds it. QSettings objects of one process share what
// they have not written yet, so the file is read through a copy.
inline QVariant valueOnDisk(const TestEnvironment& env, const QString& key)
{
    const QString copy = env.path("on-disk.conf");
    QFile::remove(copy);
    if (!QFile::copy(env.userSettingsFile(), copy))
        return {};
    return QSettings(copy, QSettings::IniFormat).value(key);
}

// The named child; a missing one means the form is wrong, which no test can go on from.
template <class T> T* child(const QObject* parent, const char* name)
{
    T* found = parent->findChild<T*>(name);
    if (!found)
        qFatal("%s has no %s named %s", parent->metaObject()->className(),
               T::staticMetaObject.className(), name);
    return found;
}

// The texts of a list widget's items, top to bottom.
inline QStringList itemTexts(const QObject* parent, const char* list)
{
    QStringList texts;
    for (const QListWidgetItem* item :
         child<QListWidget>(parent, list)->findItems("*", Qt::MatchWildcard))
        texts << item->text();
    return texts;
}

inline void typeInto(const QObject* dialog, const char* lineEdit, const QString& text)
{
    child<QLineEdit>(dialog, lineEdit)->setText(text);
}

inline void press(const QObject* dialog, QDialogButtonBox::StandardButton which)
{
    child<QDialogButtonBox>(dialog, "buttonBox")->button(which)->click();
}

// Hiragana, three UTF-8 bytes each: limits at their edges written with them also fail when the
// code counts characters instead of bytes.
inline QString kana(int count)
{
    return QString(count, QChar(0x3042));
}

// For child scenarios that must end the process: runs the event loop for a bounded time and
// returns a code the parent does not expect, which only happens when the process did not end.
inline int keepRunningUntilExit()
{
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return 99;
}

// Checks a scenario's exit through fatalError with the given message; the scenario runs once.
#define VERIFY_FATAL_EXIT(result, message)                                                         \
    do {                                                                                           \
        const auto& exited_ = (result);                                                            \
        QVERIFY(exited_.finished);                                                                 \
        QCOMPARE(exited_.exitCode, 1);                                                             \
        QVERIFY2(exited_.stdErr.contains(QString("critical error: \"%1\"").arg(message)),          \
                 qPrintable(exited_.stdErr));                                                      \
    } while (false)
