#pragma once

#include "lobbywire.h"

#include <QByteArray>
#include <QString>

// Builds one complete server frame (length prefix included) in a single buffer, so that a
// notification can be built once and written to every recipient.
class FrameBuilder
{
  public:
    static FrameBuilder reply();
    static FrameBuilder notify(NotifyKind kind);
    static FrameBuilder hello();

    FrameBuilder& u32(quint32 value);
    FrameBuilder& str(const QString& text);
    QByteArray finish();

  private:
    FrameBuilder();
    QByteArray frame;
};

QByteArray helloAnswer(quint32 result);
QByteArray closeNotice(CloseNoticeReason reason);
QByteArray roomEventFrame(RoomEventKind kind, quint32 roomId, quint32 userId, quint32 otherId,
                          quint32 value, const QString& text = {});
