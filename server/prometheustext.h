// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

// Prometheus' text exposition format (version 0.0.4): each family's HELP and TYPE lines, then
// its samples, label values escaped.
class PrometheusText
{
  public:
    using Labels = QList<std::pair<QByteArray, QString>>;

    void family(const QByteArray& name, const char* type, const char* help);
    // A sample of the family last begun; a histogram's samples add a suffix to its name.
    void sample(double value, const Labels& labels = {}, const char* suffix = "");

    // A family of one sample.
    void counter(const QByteArray& name, const char* help, double value);
    void gauge(const QByteArray& name, const char* help, double value);

    QByteArray text() const { return out; }

  private:
    QByteArray out;
    QByteArray current;
};
