// The frame builder and the reply decoders, byte for byte.
#include "calibration/calibration.h"
#include "protocol/codec.h"

#include <QTest>

#include <cstring>

using namespace qv;

namespace {

QByteArray hex(const char *spaced) {
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}

QByteArray frame() {
    return QByteArray(reinterpret_cast<const char *>(szWriteBuf), FrameBytes());
}

void startValues() {
    qv::sync = 85;
    anzframe = 16;
    anzpara = 202;
    anzdata = 16;
    std::memset(szWriteBuf, 0, sizeof szWriteBuf);
    std::memset(szReadBuf, 0, sizeof szReadBuf);
    std::memset(pp, 0, sizeof pp);
}

void putReply(const QByteArray &bytes) {
    std::memcpy(szReadBuf, bytes.constData(), bytes.size());
}

} // namespace

class CodecTest : public QObject {
    Q_OBJECT
  private slots:
    void init() { startValues(); }

    void defaultDownloadFramesAreExact() {
        CopyVarsToPP();
        FillTxBuf(ORDER_SETPARA, 0);
        QCOMPARE(frame(), hex("00 55 00 01 00 FA 00 00 00 80 00 00 00 0A 00 32 00 01 00 00 00 00 "
                              "00 00 00 00 0B B8 0D AC 00 00 00 00 00 00"));
        // Offsets 18 to 35 still hold pp[7] to pp[15] of the frame before.
        FillTxBuf(ORDER_SETTEACH, 0);
        const QByteArray row0 = hex("00 55 00 02 00 00 00 01 00 01 00 01 00 01 00 01 00 00 00 00 "
                                    "00 00 00 00 00 00 0B B8 0D AC 00 00 00 00 00 00");
        QCOMPARE(frame(), row0);
        FillTxBuf(ORDER_SETTEACH, 30);
        QByteArray row30 = row0;
        row30[5] = 0x1E;
        QCOMPARE(frame(), row30);
    }

    void teachRowCarriesItsOwnWords() {
        for (int i = 0; i < kParaWords; ++i)
            pp[i] = static_cast<u16>(0x1000 + i);
        FillTxBuf(ORDER_SETTEACH, 30);
        QCOMPARE(frame().mid(4, 2), hex("00 1E"));
        for (int c = 0; c < 6; ++c)
            QCOMPARE(static_cast<int>(static_cast<unsigned char>(frame()[6 + 2 * c]) * 256 +
                                      static_cast<unsigned char>(frame()[7 + 2 * c])),
                     0x1000 + 196 + c);
    }

    void dataRequestBeforeAnyDownloadIsAllZero() {
        FillTxBuf(ORDER_GETDATA, 0);
        QCOMPARE(frame(), hex("00 55 00 05") + QByteArray(32, '\0'));
    }

    void factorFrameLeavesTheRestOfTheFrameBefore() {
        for (int i = 0; i < 16; ++i)
            pp[i] = static_cast<u16>(0x0100 * (i + 1) + i);
        FillTxBuf(ORDER_GETDATA, 0);
        const QByteArray before = frame();
        cfrot = 1000;
        cfgruen = 1001;
        cfblau = 0xFFFE;
        FillTxBuf(ORDER_SETCF, 0);
        QCOMPARE(frame().left(10), hex("00 55 00 08 03 E8 03 E9 FF FE"));
        QCOMPARE(frame().mid(10), before.mid(10)); // pp[3] .. pp[15] of the data request
    }

    void everyCodeGivesAThirtySixByteFrame() {
        CopyVarsToPP();
        for (u16 code = 0; code <= 12; ++code) {
            std::memset(szWriteBuf, 0xAA, sizeof szWriteBuf);
            FillTxBuf(code, 0);
            QCOMPARE(frame().left(4), QByteArray("\x00\x55\x00", 3) + char(code));
            QVERIFY(frame().mid(4) != QByteArray(32, char(0xAA)));
            // Nothing is written past the frame.
            QCOMPARE(static_cast<int>(szWriteBuf[FrameBytes()]), 0xAA);
            if (code != ORDER_SETTEACH && code != ORDER_SETCF) // codes out of the table too
                QCOMPARE(frame().mid(4, 4), hex("00 FA 00 00"));
        }
    }

    void defaultsFillTheWholeImage() {
        CopyVarsToPP();
        const u16 scalars[16] = {250, 0, 128, 0, 10, 50, 1, 0, 0, 0, 0, 3000, 3500, 0, 0, 0};
        for (int i = 0; i < 16; ++i)
            QCOMPARE(pp[i], scalars[i]);
        for (int i = 16; i < kParaWords; ++i)
            QCOMPARE(pp[i], static_cast<u16>((i - 16) % 6 == 5 ? 0 : 1));
    }

    void decodersAreUnsignedBigEndian() {
        putReply(hex("01 F4 01 F5 01 F6 FF FE"));
        GetRxBufData();
        CopyDatatoVars();
        QCOMPARE(dataR, u16(500));
        QCOMPARE(dataG, u16(501));
        QCOMPARE(dataB, u16(502));
        QCOMPARE(dataX, u16(65534));
        QByteArray reply;
        for (int i = 0; i < 16; ++i)
            reply.append(char(0)).append(char(i));
        putReply(reply);
        GetRxBufData();
        CopyDatatoVars();
        QCOMPARE(dataCOL, u16(6));
        QCOMPARE(dataRawR, u16(7));
        QCOMPARE(dataRawB, u16(9));
    }

    void parameterReplyFillsTheMirrorsAndHoldsMaxcolno() {
        QByteArray reply;
        for (int i = 0; i < kParaWords; ++i)
            reply.append(char(i >> 8)).append(char(i & 0xFF));
        reply[12] = 0;
        reply[13] = 40; // pp[6], maxcolno
        putReply(reply);
        GetRxBufPara();
        CopyPPtoVars();
        QCOMPARE(pp[6], u16(40));
        QCOMPARE(maxcolno, u16(31));
        QCOMPARE(dynwinhi, u16(12));
        QCOMPARE(frei16, u16(15));
        QCOMPARE(ctt[0][0], u16(16));
        QCOMPARE(groupbuf[0], u16(21));
        QCOMPARE(ctt[30][4], u16(200));
        QCOMPARE(groupbuf[30], u16(201));
        for (u16 v : {u16(31), u16(0)}) {
            pp[6] = v;
            CopyPPtoVars();
            QCOMPARE(maxcolno, v);
        }
    }

    // A factor reply is six bytes, but the decoder converts the whole image: the other words
    // come from what the buffer still holds.
    void factorReplyDecodesThroughTheParameterDecoder() {
        putReply(QByteArray(404, char(0x11)));
        putReply(hex("03 E8 03 E9 03 EA"));
        GetRxBufPara();
        QCOMPARE(pp[0], u16(1000));
        QCOMPARE(pp[1], u16(1001));
        QCOMPARE(pp[2], u16(1002));
        QCOMPARE(pp[3], u16(0x1111));
        QCOMPARE(pp[201], u16(0x1111));
    }
};

QTEST_APPLESS_MAIN(CodecTest)
#include "test_codec.moc"
