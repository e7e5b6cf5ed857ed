// SPDX-License-Identifier: GPL-3.0-or-later
#include "serverlog.h"

#include "textchecks.h"

#include <QByteArray>

#include <cstdio>

namespace
{
void writeLine(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QByteArray line =
        qFormatLogMessage(type, context, escapeControls(message)).toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}
} // namespace

QString escapeControls(QStringView text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c == '\\')
            escaped += QLatin1String("\\\\");
        else if (c == '\n')
            escaped += QLatin1String("\\n");
        else if (c == '\r')
            escaped += QLatin1String("\\r");
        else if (c == '\t')
            escaped += QLatin1String("\\t");
        else if (c > 0xFF && isControlCharacter(c))
            escaped += QString("\\u%1").arg(uint(c), 4, 16, QChar('0'));
        else if (isControlCharacter(c))
            escaped += QString("\\x%1").arg(uint(c), 2, 16, QChar('0'));
        else
            escaped += qc;
    }
    return escaped;
}

void installServerLog()
{
    qSetMessagePattern("%{time yyyy-MM-ddThh:mm:ss.zzz} %{message}");
    qInstallMessageHandler(writeLine);
}
