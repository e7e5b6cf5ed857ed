// SPDX-License-Identifier: GPL-3.0-or-later
#include "prometheustext.h"

namespace
{
QByteArray escaped(const QString& value)
{
    QByteArray text = value.toUtf8();
    text.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return text;
}
} // namespace

void PrometheusText::family(const QByteArray& name, const char* type, const char* help)
{
    current = name;
    out += "# HELP " + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}

void PrometheusText::sample(double value, const Labels& labels, const char* suffix)
{
    out += current + suffix;
    if (!labels.isEmpty()) {
        out += '{';
        for (qsizetype i = 0; i < labels.size(); ++i)
            out += (i ? "," : "") + labels[i].first + "=\"" + escaped(labels[i].second) + '"';
        out += '}';
    }
    out += ' ' + QByteArray::number(value, 'g', 17) + '\n';
}

void PrometheusText::counter(const QByteArray& name, const char* help, double value)
{
    family(name, "counter", help);
    sample(value);
}

void PrometheusText::gauge(const QByteArray& name, const char* help, double value)
{
    family(name, "gauge", help);
    sample(value);
}
