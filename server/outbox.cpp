#include "outbox.h"

#include <QDateTime>
#include <QDir>
#include <QRandomGenerator>
#include <QSaveFile>

// Headers are ASCII; a subject in Japanese travels as an RFC 2047 encoded word.
static QByteArray encodedHeader(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    bool ascii = true;
    for (char c : utf8)
        ascii = ascii && uchar(c) >= 0x20 && uchar(c) < 0x7F;
    return ascii ? utf8 : "=?UTF-8?B?" + utf8.toBase64() + "?=";
}

Outbox::Outbox(const QString& folder, const QString& from) : folder(folder), from(from)
{
    QDir().mkpath(folder);
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
    QSaveFile file(QDir(folder).filePath(name));
    const bool written =
        file.open(QIODevice::WriteOnly) && file.write(message) == message.size() && file.commit();
    if (written)
        qInfo().noquote() << QString("mail to %1: \"%2\" in outbox/%3").arg(to, subject, name);
    else
        qWarning().noquote() << QString("mail to %1 not written: %2").arg(to, file.errorString());
    return written;
}
