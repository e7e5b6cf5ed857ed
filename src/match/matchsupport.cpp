#include "match/matchsupport.h"

#include "protocol/protocolsocket.h"

#include <QMessageBox>
#include <QVector>
#include <QWidget>

void sendMatchCommand(ProtocolSocket* socket, QWidget* dialog, const char* replySlot,
                      RequestCode code, std::initializer_list<quint32> fields)
{
    const QVector<quint32> values(fields);
    socket->whenIdle(dialog, [=] {
        socket->beginCommand(dialog, replySlot, dialog->parentWidget(), SLOT(setEnabled(bool)));
        socket->writeUInt32(code);
        for (const quint32 value : values)
            socket->writeUInt32(value);
        socket->sendCommand();
    });
}

quint32 readMatchResult(ProtocolSocket* socket)
{
    socket->prepareRecvReply(true);
    const quint32 result = socket->readUInt32();
    socket->endCommand();
    return result;
}

void showMatchInformation(QWidget* dialog, const QString& title, const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok, dialog);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

QString participationText(quint32 count, quint32 maxPlayers)
{
    return QString("参加状況(%1 / %2人)").arg(count).arg(maxPlayers);
}
