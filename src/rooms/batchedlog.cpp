// SPDX-License-Identifier: GPL-3.0-or-later
#include "rooms/batchedlog.h"

#include <QApplication>
#include <QClipboard>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>

BatchedLog::BatchedLog(QPlainTextEdit* view) : QObject(view), view(view)
{
    view->viewport()->installEventFilter(this);
}

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

// The third click of a triple click is a press soon after a double click, near it, as the text
// control counts them.
bool BatchedLog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::MouseButtonDblClick && event->type() != QEvent::MouseButtonPress)
        return QObject::eventFilter(watched, event);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint at = mouse->position().toPoint();
    if (mouse->button() != Qt::LeftButton)
        return false;
    if (event->type() == QEvent::MouseButtonDblClick) {
        sinceDoubleClick.start();
        doubleClickAt = at;
        return false;
    }
    if (!sinceDoubleClick.isValid() ||
        sinceDoubleClick.elapsed() >= QApplication::doubleClickInterval() ||
        (at - doubleClickAt).manhattanLength() >= QApplication::startDragDistance())
        return false;
    sinceDoubleClick.invalidate();
    selectLineAt(at);
    return true;
}

// Selects the line and the break after it, as a triple click selects a block and its break.
void BatchedLog::selectLineAt(const QPoint& position)
{
    QTextCursor cursor = view->cursorForPosition(position);
    const QTextBlock block = cursor.block();
    const QString text = block.text();
    const int at = cursor.positionInBlock();
    const int start = at > 0 ? int(text.lastIndexOf(QChar::LineSeparator, at - 1)) + 1 : 0;
    int end = int(text.indexOf(QChar::LineSeparator, at));
    if (end < 0)
        end = int(text.size());
    cursor.setPosition(block.position() + start);
    cursor.setPosition(block.position() + end, QTextCursor::KeepAnchor);
    cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
    view->setTextCursor(cursor);
    QClipboard* clipboard = QApplication::clipboard();
    if (clipboard->supportsSelection())
        clipboard->setText(cursor.selection().toPlainText(), QClipboard::Selection);
}
