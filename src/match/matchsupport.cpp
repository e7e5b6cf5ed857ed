#include "match/matchsupport.h"

#include "lobbymessages.h"

#include <QMessageBox>

quint32 readMatchResult(ProtocolSocket* socket)
{
    socket->prepareRecvReply(true);
    const quint32 result = socket->read<ResultReply>().result;
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
