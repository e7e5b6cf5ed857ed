// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHostAddress>
#include <QHttpServer>

#include <functional>

// Serves GET /metrics for Prometheus, the text made by report() at each scrape; nothing else.
class MetricsEndpoint
{
  public:
    explicit MetricsEndpoint(std::function<QByteArray()> report);
    // True once listening; error says why not.
    bool listen(const QHostAddress& address, quint16 port, QString& error);
    quint16 port() const { return listening; }

  private:
    QHttpServer http;
    quint16 listening = 0;
};

// "PORT" (on 127.0.0.1), "ADDRESS:PORT" or "[IPv6]:PORT"; false when the text is none of them.
bool parseMetricsAddress(const QString& text, QHostAddress& address, quint16& port);
