// The order blocks the client writes to the game engine, and the pipes they travel through.

#include "app/globals.h"
#include "match/childprocess_native.h"
#include "match/engineorder.h"

#include <QTextCodec>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace
{

QByteArray zeros(int count)
{
    return QByteArray(count, '\0');
}

// What a block must hold: the order's four bytes, twelve zero bytes, then the text and zeros.
QByteArray expectedBlock(quint8 order, const QByteArray& text = {})
{
    return QByteArray(1, char(order)) + zeros(15) + text + zeros(orderTextSize - int(text.size()));
}

bool closesOnExec(PipeHandle end)
{
    return (fcntl(int(end), F_GETFD) & FD_CLOEXEC) != 0;
}

} // namespace

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
    QTest::addColumn<QByteArray>("block");

    const QString kana = QString(QChar(0x3042));
    const QString emoji = QString::fromUtf8("\xF0\x9F\x8E\xAE");
    const QByteArray kanaUtf8 = kana.toUtf8();
    const auto row = [](const char* name, const char* codec, int order, const QString& address,
                        const QByteArray& block) {
        QTest::newRow(name) << QByteArray(codec) << order << address << block;
    };

    row("stop is all zero", "UTF-8", StopOrder, "", zeros(orderBlockSize));
    row("host carries no address", "UTF-8", HostOrder, "192.0.2.7", expectedBlock(1));
    row("join with address", "UTF-8", JoinOrder, "192.0.2.7:14141",
        expectedBlock(2, "192.0.2.7:14141"));
    row("join, 255 bytes fit with the NUL", "UTF-8", JoinOrder, QString(255, 'a'),
        expectedBlock(2, QByteArray(255, 'a')));
    row("join, 256 bytes cut to 255", "UTF-8", JoinOrder, QString(256, 'a'),
        expectedBlock(2, QByteArray(255, 'a')));
    row("join, 85 kana fit", "UTF-8", JoinOrder, kana.repeated(85),
        expectedBlock(2, kanaUtf8.repeated(85)));
    row("join, cut before a kana that does not fit whole", "UTF-8", JoinOrder,
        "a" + kana.repeated(85), expectedBlock(2, "a" + kanaUtf8.repeated(84)));
    row("join, cut before a surrogate pair", "UTF-8", JoinOrder, "ab" + emoji.repeated(64),
        expectedBlock(2, "ab" + emoji.toUtf8().repeated(63)));
    // The engine reads the system's 8-bit encoding: two bytes a kana in Shift-JIS.
    row("join in Shift-JIS, cut to 127 kana", "Shift_JIS", JoinOrder, kana.repeated(130),
        expectedBlock(2, QByteArray("\x82\xa0").repeated(127)));
}

void EnginePipesTest::orderBlock()
{
    QFETCH(QByteArray, codec);
    QFETCH(int, order);
    QFETCH(QString, address);
    QFETCH(QByteArray, block);

    localCodec = QTextCodec::codecForName(codec);
    QVERIFY(localCodec);
    const QByteArray made = ::orderBlock(EngineOrder(order), address);
    QCOMPARE(made.size(), orderBlockSize);
    QCOMPARE(made.toHex(), block.toHex());
}

// The engine's input and output: the engine inherits its end of each, the client's end stays out.
void EnginePipesTest::onlyTheChildEndIsInherited()
{
    for (const ChildEnd side : {ChildEnd::Read, ChildEnd::Write}) {
        PipeHandle clientEnd = invalidPipeHandle;
        PipeHandle childEnd = invalidPipeHandle;
        QVERIFY(createNativePipe(side, &clientEnd, &childEnd));
        QVERIFY(closesOnExec(clientEnd));
        QVERIFY(!closesOnExec(childEnd));
        QCOMPARE(fcntl(int(clientEnd), F_GETPIPE_SZ), int(pipeBufferSize));

        const PipeHandle writer = side == ChildEnd::Read ? clientEnd : childEnd;
        const PipeHandle reader = side == ChildEnd::Read ? childEnd : clientEnd;
        QVERIFY(writeNativePipe(writer, "order", 5));
        char got[5] = {};
        QCOMPARE(::read(int(reader), got, sizeof got), ssize_t(5));
        QCOMPARE(QByteArray(got, 5), QByteArray("order"));
        closeNativePipe(clientEnd);
        closeNativePipe(childEnd);
    }
}

QTEST_GUILESS_MAIN(EnginePipesTest)
#include "tst_enginepipes.moc"
