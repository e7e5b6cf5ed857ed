#pragma once

#include <QObject>
#include <QString>

class QPlainTextEdit;

// Writes lines to a log view. Lines appended in one burst (a flood of room events) reach the
// view together in the next turn of the event loop: one append per burst costs a fraction of
// one append per line, and the order and text of the lines stay as they came.
class BatchedLog : public QObject
{
    Q_OBJECT

  public:
    explicit BatchedLog(QPlainTextEdit* view);

    void append(const QString& line);

  private:
    void flush();

    QPlainTextEdit* view;
    QString pending;
    bool flushPosted = false;
};
