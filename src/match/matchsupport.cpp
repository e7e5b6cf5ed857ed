#include "match/matchsupport.h"

#include "protocol/protocolsocket.h"

#include <QMessageBox>
#include <QWidget>

void sendMatchCommand(ProtocolSocket* socket, QWidget* dialog, const char* replySlot,
                      RequestCode code, std::initializer_list<quint32> fields)
{
    socket->beginCommand(dialog, replySlot, dialog->parentWidget(), SLOT(setEnabled(bool)));
    socket->writeUInt32(code);
    for (const quint32 field : fields)
        socket->writeUInt32(field);
    socket->sendCommand();
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
