// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPoint>
#include <QStringList>

class QPlainTextEdit;

// Writes lines to a log view. Lines appended in one burst (a flood of room events) reach the
// view together in the next turn of the event loop: one edit per burst costs a fraction of one
// edit per line, and the order and text of the lines stay as they came.
//
// A log keeps every line of an evening, so each line must be cheap: a text block costs its
// layout and block data, a few hundred bytes whatever its length, so lines share blocks, joined
// by line separators. They look, select and copy as the lines of a block per line would, and
// toPlainText() gives the separators back as line breaks. A triple click, which selects a block,
// is narrowed to the line under the mouse.
class BatchedLog : public QObject
{
    Q_OBJECT

  public:
    // Appending to a block lays the whole block out again: the cap keeps that short.
    static constexpr int linesPerBlock = 16;

    explicit BatchedLog(QPlainTextEdit* view);

    void append(const QString& line);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void flush();
    void selectLineAt(const QPoint& position);

    QPlainTextEdit* view;
    QStringList pending;
    QElapsedTimer sinceDoubleClick;
    QPoint doubleClickAt;
};
