// The frame builder and the reply decoders, byte for byte, where the simulator cannot tell: the
// words a frame carries beyond its payload, and what a decoder makes of a short reply.
#include "protocol/codec.h"

#include <QTest>

#include <cstring>

using namespace qv;

class CodecTest : public QObject {
    Q_OBJECT
  private slots:
    // A frame is what the buffer holds after the calls in turn: the payload a code does not
    // write keeps the bytes of the frame before.
    void frames_data() {
        QTest::addColumn<bool>("defaults");    // else pp[i] = 0x1000 + i
        QTest::addColumn<QList<int>>("calls"); // code, row, code, row, ...
        QTest::addColumn<QByteArray>("expected");
        const QByteArray stale = "0BB8 0DAC 0000 0000 0000";
        const QByteArray row30 =
            "0055 0002 001E 10C4 10C5 10C6 10C7 10C8 10C9" + QByteArray(36, '0');
        // clang-format off
        QTest::newRow("defaults") << true << QList{1, 0}
            << "0055 0001 00FA 0000 0080 0000 000A 0032 0001 0000 0000 0000 0000" + stale;
        QTest::newRow("teach row 0 after them") << true << QList{1, 0, 2, 0}
            << "0055 0002 0000 0001 0001 0001 0001 0001 0000 0000 0000 0000 0000" + stale;
        QTest::newRow("teach row 30") << false << QList{2, 30} << row30;
        QTest::newRow("teach row 31 is row 30") << false << QList{2, 31} << row30;
        QTest::newRow("factors after a data request") << false << QList{5, 0, 8, 0}
            << QByteArray("0055 0008 03E8 03E9 FFFE 1003 1004 1005 1006 1007 1008 1009 100A 100B "
                          "100C 100D 100E 100F");
        // clang-format on
    }
    void frames() {
        QFETCH(bool, defaults);
        QFETCH(QList<int>, calls);
        QFETCH(QByteArray, expected);
        qv::sync = 85;
        anzframe = 16;
        std::memset(szWriteBuf, 0, sizeof szWriteBuf);
        for (int i = 0; i < kParaWords; ++i)
            pp[i] = static_cast<u16>(0x1000 + i);
        if (defaults)
            CopyVarsToPP();
        cfrot = 1000;
        cfgruen = 1001;
        cfblau = 0xFFFE;
        for (int i = 0; i + 1 < calls.size(); i += 2)
            FillTxBuf(u16(calls[i]), u16(calls[i + 1]));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(szWriteBuf), FrameBytes()).toHex(),
                 expected.replace(' ', "").toLower());
    }

    // A factor reply is six bytes, but the decoder converts the whole image: the other words
    // come from what the buffer still holds. maxcolno is held to 31, pp keeps what came.
    void decoders() {
        anzpara = 202;
        std::memset(szReadBuf, 0x11, 404);
        std::memcpy(szReadBuf, "\x03\xE8\x03\xE9\x03\xEA", 6);
        szReadBuf[12] = 0;
        szReadBuf[13] = 40;
        GetRxBufPara();
        CopyPPtoVars();
        QCOMPARE((QList<u16>{pp[0], pp[1], pp[2], pp[3], pp[201], pp[6], maxcolno}),
                 (QList<u16>{1000, 1001, 1002, 0x1111, 0x1111, 40, 31}));
    }
};

QTEST_APPLESS_MAIN(CodecTest)
#include "test_codec.moc"
