// SPDX-License-Identifier: GPL-3.0-or-later
#include "outbox.h"

#include <QDateTime>
#include <QDir>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTemporaryFile>

#include <fcntl.h>
#include <unistd.h>

// Headers are ASCII; a subject in Japanese travels as an RFC 2047 encoded word.
static QByteArray encodedHeader(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    bool ascii = true;
    for (char c : utf8)
        ascii = ascii && uchar(c) >= 0x20 && uchar(c) < 0x7F;
    return ascii ? utf8 : "=?UTF-8?B?" + utf8.toBase64() + "?=";
}

// The folder's entry of a file renamed into it lasts only once the folder itself is synced.
static bool syncFolder(const QString& folder)
{
    const int descriptor = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    const bool synced = descriptor >= 0 && ::fsync(descriptor) == 0;
    if (descriptor >= 0)
        ::close(descriptor);
    return synced;
}

Outbox::Outbox(const QString& folder, const QString& from) : folder(folder), from(from)
{
    QDir().mkpath(folder);
}

bool Outbox::check(QString& error) const
{
    QTemporaryFile probe(QDir(folder).filePath(".write-check-XXXXXX"));
    if (probe.open())
        return true;
    error = QString("the outbox folder %1 is not writable: %2").arg(folder, probe.errorString());
    return false;
}

bool Outbox::send(const QString& to, const QString& subject, const QString& body)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString unique = QString::number(QRandomGenerator::system()->generate64(), 16);
    QByteArray message;
    message += "From: " + from.toUtf8() + "\r\n";
    message += "To: <" + to.toUtf8() + ">\r\n";
    message += "Subject: " + encodedHeader(subject) + "\r\n";
    message += "Date: " + now.toString(Qt::RFC2822Date).toUtf8() + "\r\n";
    message += "Message-ID: <" + unique.toUtf8() + "@tileparlor-server>\r\n";
    message += "MIME-Version: 1.0\r\n";
    message += "Content-Type: text/plain; charset=UTF-8\r\n";
    message += "Content-Transfer-Encoding: 8bit\r\n\r\n";
    message += QString(body).replace("\n", "\r\n").toUtf8();

    const QString name = now.toString("yyyyMMdd-HHmmsszzz") + "-" + unique + ".eml";
    // Unbuffered: a write the disk refuses fails here. Buffered, it failed only in commit(),
    // which still renamed the empty file into place. Synced before it gets its name, so that no
    // mail agent picks up a file that a crash would cut short.
    const QString path = QDir(folder).filePath(name);
    QSaveFile file(path);
    QString failure;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
        file.write(message) != message.size())
        failure = file.errorString();
    else if (::fsync(file.handle()) != 0)
        failure = "fsync: " + qt_error_string(errno);
    else if (!file.commit())
        failure = file.errorString();
    else if (!syncFolder(folder)) {
        // A crash could still take it back, so it is not reported as sent.
        failure = "cannot sync the outbox folder";
        QFile::remove(path);
    }
    if (!failure.isEmpty()) {
        qWarning().noquote() << QString("mail to %1 not written: %2").arg(to, failure);
        return false;
    }
    qInfo().noquote() << QString("mail to %1: \"%2\" in outbox/%3").arg(to, subject, name);
    return true;
}
