// The order blocks the client writes to the game engine, and the pipes they travel through.

#include "app/globals.h"
#include "match/childprocess_native.h"
#include "match/engineorder.h"

#include <QTextCodec>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

class EnginePipesTest : public QObject
{
    Q_OBJECT

  private slots:
    void orderBlock_data();
    void orderBlock();
    void onlyTheChildEndIsInherited();
};

void EnginePipesTest::orderBlock_data()
{
    QTest::addColumn<QByteArray>("codec");
    QTest::addColumn<int>("order");
    QTest::addColumn<QString>("address");
    // The order's byte, then the text at offset 16; the rest of the block is zero.
    QTest::addColumn<QByteArray>("text");
    const QString kana(QChar(0x3042));
    const QString emoji = QString::fromUtf8("\xF0\x9F\x8E\xAE");
    const auto row = [](const char* name, const char* codec, int order, const QString& address,
                        const QByteArray& text) {
        QTest::newRow(name) << QByteArray(codec) << order << address << text;
    };
    row("stop", "UTF-8", StopOrder, "", "");
    row("host carries no address", "UTF-8", HostOrder, "192.0.2.7", "");
    row("join, 255 bytes fit with the NUL", "UTF-8", JoinOrder, QString(255, 'a'),
        QByteArray(255, 'a'));
    row("join, 256 bytes cut to 255", "UTF-8", JoinOrder, QString(256, 'a'), QByteArray(255, 'a'));
    row("join, 85 kana fit", "UTF-8", JoinOrder, kana.repeated(85), kana.toUtf8().repeated(85));
    row("join, cut before a kana that does not fit whole", "UTF-8", JoinOrder,
        "a" + kana.repeated(85), "a" + kana.toUtf8().repeated(84));
    row("join, cut before a surrogate pair", "UTF-8", JoinOrder, "ab" + emoji.repeated(64),
        "ab" + emoji.toUtf8().repeated(63));
    // The engine reads the system's 8-bit encoding: two bytes a kana in Shift-JIS.
    row("join in Shift-JIS", "Shift_JIS", JoinOrder, kana.repeated(130),
        QByteArray("\x82\xa0").repeated(127));
}

void EnginePipesTest::orderBlock()
{
    QFETCH(QByteArray, codec);
    QFETCH(int, order);
    QFETCH(QString, address);
    QFETCH(QByteArray, text);
    localCodec = QTextCodec::codecForName(codec);
    QVERIFY(localCodec);
    QByteArray block(orderBlockSize, '\0');
    block[0] = char(order);
    block.replace(orderTextOffset, int(text.size()), text);
    QCOMPARE(::orderBlock(EngineOrder(order), address).toHex(), block.toHex());
}

// The engine inherits its end of each pipe; the client's end stays out of it.
void EnginePipesTest::onlyTheChildEndIsInherited()
{
    for (const ChildEnd side : {ChildEnd::Read, ChildEnd::Write}) {
        PipeHandle clientEnd = invalidPipeHandle;
        PipeHandle childEnd = invalidPipeHandle;
        QVERIFY(createNativePipe(side, &clientEnd, &childEnd));
        QCOMPARE(fcntl(int(clientEnd), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
        QCOMPARE(fcntl(int(childEnd), F_GETFD) & FD_CLOEXEC, 0);
        QCOMPARE(fcntl(int(clientEnd), F_GETPIPE_SZ), int(pipeBufferSize));
        const bool toChild = side == ChildEnd::Read;
        QVERIFY(writeNativePipe(toChild ? clientEnd : childEnd, "order", 5));
        char got[6] = {};
        QCOMPARE(::read(int(toChild ? childEnd : clientEnd), got, 5), ssize_t(5));
        QCOMPARE(got, "order");
        closeNativePipe(clientEnd);
        closeNativePipe(childEnd);
    }
}

QTEST_GUILESS_MAIN(EnginePipesTest)
#include "tst_enginepipes.moc"
