// The frame builder and the reply decoders, byte for byte.
#include "protocol/codec.h"

#include <QTest>

#include <cstring>

using namespace qv;

namespace {

QByteArray hex(const QByteArray &spaced) {
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}

QByteArray frame() {
    return QByteArray(reinterpret_cast<const char *>(szWriteBuf), FrameBytes());
}

void putReply(const QByteArray &bytes) {
    std::memcpy(szReadBuf, bytes.constData(), std::size_t(bytes.size()));
}

} // namespace

class CodecTest : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        qv::sync = 85;
        anzframe = 16;
        anzpara = 202;
        anzdata = 16;
        std::memset(szWriteBuf, 0, sizeof szWriteBuf);
        std::memset(szReadBuf, 0, sizeof szReadBuf);
        std::memset(pp, 0, sizeof pp);
    }

    // A frame is whatever the buffer holds after the calls in turn: the payload a code does not
    // write keeps the frame before's bytes.
    void frames_data() {
        QTest::addColumn<bool>("defaults");    // else pp[i] = 0x1000 + i
        QTest::addColumn<QList<int>>("calls"); // code, row, code, row, ...
        QTest::addColumn<QByteArray>("expected");
        const QByteArray stale = hex("0B B8 0D AC 00 00 00 00 00 00"),
                         row30 = hex("00 55 00 02 00 1E 10 C4 10 C5 10 C6 10 C7 10 C8 10 C9") +
                                 QByteArray(18, '\0');
        // clang-format off
        QTest::newRow("defaults") << true << QList<int>{1, 0}
            << hex("00 55 00 01 00 FA 00 00 00 80 00 00 00 0A 00 32 00 01 00 00 00 00 00 00 00 00") + stale;
        QTest::newRow("teach row 0 after them") << true << QList<int>{1, 0, 2, 0}
            << hex("00 55 00 02 00 00 00 01 00 01 00 01 00 01 00 01 00 00 00 00 00 00 00 00 00 00") + stale;
        QTest::newRow("teach row 30") << false << QList<int>{2, 30} << row30;
        QTest::newRow("teach row 31 is row 30") << false << QList<int>{2, 31} << row30;
        QTest::newRow("factors after a data request") << false << QList<int>{5, 0, 8, 0}
            << hex("00 55 00 08 03 E8 03 E9 FF FE 10 03 10 04 10 05 10 06 10 07 10 08 10 09 "
                   "10 0A 10 0B 10 0C 10 0D 10 0E 10 0F");
        // clang-format on
    }
    void frames() {
        QFETCH(bool, defaults);
        QFETCH(QList<int>, calls);
        QFETCH(QByteArray, expected);
        if (defaults)
            CopyVarsToPP();
        else
            for (int i = 0; i < kParaWords; ++i)
                pp[i] = static_cast<u16>(0x1000 + i);
        cfrot = 1000;
        cfgruen = 1001;
        cfblau = 0xFFFE;
        for (int i = 0; i + 1 < calls.size(); i += 2)
            FillTxBuf(u16(calls[i]), u16(calls[i + 1]));
        QCOMPARE(frame().toHex(' '), expected.toHex(' '));
    }

    void everyCodeGivesAThirtySixByteFrame() {
        QCOMPARE(FrameBytes(), 36);
        FillTxBuf(ORDER_GETDATA, 0);
        QCOMPARE(frame(), hex("00 55 00 05") + QByteArray(32, '\0')); // before any download
        CopyVarsToPP();
        for (u16 code = 0; code <= 12; ++code) {
            std::memset(szWriteBuf, 0xAA, sizeof szWriteBuf);
            FillTxBuf(code, 0);
            QCOMPARE(frame().left(4), QByteArray("\x00\x55\x00", 3) + char(code));
            QVERIFY(frame().mid(4) != QByteArray(32, char(0xAA)));
            QCOMPARE(static_cast<int>(szWriteBuf[FrameBytes()]), 0xAA); // nothing past it
            if (code != ORDER_SETTEACH && code != ORDER_SETCF) // codes out of the table too
                QCOMPARE(frame().mid(4, 4), hex("00 FA 00 00"));
        }
    }

    void repliesAreUnsignedBigEndian() {
        putReply(hex("01 F4 01 F5 01 F6 FF FE 00 00 00 00 00 06 00 07 00 08 00 09"));
        GetRxBufData();
        CopyDatatoVars();
        QCOMPARE((QList<u16>{dataR, dataG, dataB, dataX, dataCOL, dataRawR, dataRawB}),
                 (QList<u16>{500, 501, 502, 65534, 6, 7, 9}));

        QByteArray reply;
        for (int i = 0; i < kParaWords; ++i)
            reply.append(char(i >> 8)).append(char(i & 0xFF));
        reply[13] = 40; // pp[6], maxcolno: held to 31, pp keeps what came
        putReply(reply);
        GetRxBufPara();
        CopyPPtoVars();
        QCOMPARE((QList<u16>{pp[6], maxcolno, dynwinhi, frei16, ctt[0][0], groupbuf[0], ctt[30][4],
                             groupbuf[30]}),
                 (QList<u16>{40, 31, 12, 15, 16, 21, 200, 201}));
        pp[6] = 31;
        CopyPPtoVars();
        QCOMPARE(maxcolno, u16(31));

        // A factor reply is six bytes, but the decoder converts the whole image: the other
        // words come from what the buffer still holds.
        putReply(QByteArray(404, char(0x11)));
        putReply(hex("03 E8 03 E9 03 EA"));
        GetRxBufPara();
        QCOMPARE((QList<u16>{pp[0], pp[1], pp[2], pp[3], pp[201]}),
                 (QList<u16>{1000, 1001, 1002, 0x1111, 0x1111}));
    }
};

QTEST_APPLESS_MAIN(CodecTest)
#include "test_codec.moc"
