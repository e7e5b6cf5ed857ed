// SPDX-License-Identifier: GPL-3.0-or-later
#include "metricsendpoint.h"

#include <QHttpServerResponse>

MetricsEndpoint::MetricsEndpoint(std::function<QByteArray()> report)
{
    http.route("/metrics", QHttpServerRequest::Method::Get, [report = std::move(report)] {
        return QHttpServerResponse("text/plain; version=0.0.4; charset=utf-8", report());
    });
}

bool MetricsEndpoint::listen(const QHostAddress& address, quint16 port, QString& error)
{
    listening = http.listen(address, port);
    if (listening == 0)
        error = QString("cannot serve metrics on %1:%2").arg(address.toString()).arg(port);
    return listening != 0;
}

bool parseMetricsAddress(const QString& text, QHostAddress& address, quint16& port)
{
    const qsizetype colon = text.lastIndexOf(':');
    QString host = colon < 0 ? QString("127.0.0.1") : text.left(colon);
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (!ok || number > 65535 || !address.setAddress(host))
        return false;
    port = quint16(number);
    return true;
}
