#include "rooms/batchedlog.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

BatchedLog::BatchedLog(QPlainTextEdit* view) : QObject(view), view(view) {}

void BatchedLog::append(const QString& line)
{
    pending.append(line);
    if (pending.size() == 1)
        QMetaObject::invokeMethod(this, &BatchedLog::flush, Qt::QueuedConnection);
}

void BatchedLog::flush()
{
    QTextDocument* document = view->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    // As appendPlainText() does: a shown view whose end is in sight follows the new lines.
    const bool atEnd =
        view->isVisible() && view->cursorRect(cursor).bottom() <= view->viewport()->rect().bottom();
    // A block's user state counts the lines written to it; a block that is not ours (one the
    // user typed, or a fresh document's) has -1 and gets no more lines.
    int lines = cursor.block().userState();
    cursor.beginEditBlock();
    for (const QString& line : std::as_const(pending)) {
        if (document->isEmpty()) {
            lines = 0;
        } else if (lines < 0 || lines >= linesPerBlock) {
            cursor.insertBlock();
            lines = 0;
        } else {
            cursor.insertText(QString(QChar::LineSeparator));
        }
        cursor.insertText(line);
        ++lines;
    }
    cursor.block().setUserState(lines);
    cursor.endEditBlock();
    pending.clear();
    if (atEnd)
        view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
}
