#include "rooms/batchedlog.h"

#include <QPlainTextEdit>

BatchedLog::BatchedLog(QPlainTextEdit* view) : QObject(view), view(view) {}

void BatchedLog::append(const QString& line)
{
    if (flushPosted)
        pending += '\n';
    pending += line;
    if (flushPosted)
        return;
    flushPosted = true;
    QMetaObject::invokeMethod(this, &BatchedLog::flush, Qt::QueuedConnection);
}

// Each line of the text becomes a paragraph of its own, as if appended one by one.
void BatchedLog::flush()
{
    view->appendPlainText(pending);
    pending.clear();
    flushPosted = false;
}
