// The embedded collection: every file under ":/Norvane/Resources/" is there from the start
// (no one calls Q_INIT_RESOURCE), in the format and size the window's code relies on.
#include <QColor>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QResource>
#include <QtEndian>
#include <QtTest>

#include <algorithm>

namespace {

const QString prefix = QStringLiteral(":/Norvane/Resources/");

struct Look
{
    double chroma = 0;
    double lightness = 0;
};

// Mean chroma and lightness of the frame as it shows over the window's background.
Look lookOf(const QImage &frame)
{
    const QColor background(25, 30, 42);
    Look look;
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            const QColor c = frame.pixelColor(x, y);
            const double a = c.alphaF();
            const QColor shown = QColor::fromRgbF(c.redF() * a + background.redF() * (1 - a),
                                                  c.greenF() * a + background.greenF() * (1 - a),
                                                  c.blueF() * a + background.blueF() * (1 - a));
            const double high = std::max({shown.redF(), shown.greenF(), shown.blueF()});
            const double low = std::min({shown.redF(), shown.greenF(), shown.blueF()});
            look.chroma += high - low;
            look.lightness += shown.lightnessF();
        }
    }
    const double count = double(frame.width()) * frame.height();
    look.chroma /= count;
    look.lightness /= count;
    return look;
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT
private slots:
    void pngImages_data();
    void pngImages();
    void stripsRunDisabledNormalHoverPressed_data();
    void stripsRunDisabledNormalHoverPressed();
    void iconHoldsSixImages();
    void onlyTheIconIsCompressed();
};

void TestResources::pngImages_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("NDILog.png") << QSize(24, 24);
    QTest::newRow("btnCmb1.png") << QSize(18, 18);
    QTest::newRow("btnCmb2.png") << QSize(18, 18);
    QTest::newRow("iconSendBtn.png") << QSize(352, 26);
    QTest::newRow("iconStopBtn.png") << QSize(352, 26);
    QTest::newRow("btnClose.png") << QSize(152, 38);
}

void TestResources::pngImages()
{
    QFETCH(QSize, size);
    const QString path = prefix + QTest::currentDataTag();

    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("\x89PNG\r\n\x1a\n"));
    // IHDR: width, height, bit depth 8, colour type 6 (RGB with alpha)
    QCOMPARE(bytes.mid(12, 4), QByteArray("IHDR"));
    const auto *ihdr = reinterpret_cast<const uchar *>(bytes.constData() + 16);
    QCOMPARE(QSize(int(qFromBigEndian<quint32>(ihdr)), int(qFromBigEndian<quint32>(ihdr + 4))),
             size);
    QCOMPARE(int(ihdr[8]), 8);
    QCOMPARE(int(ihdr[9]), 6);

    QImageReader reader(path);
    QCOMPARE(reader.format(), QByteArray("png"));
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), size);
    QVERIFY(image.hasAlphaChannel());
}

void TestResources::stripsRunDisabledNormalHoverPressed_data()
{
    QTest::addColumn<int>("frameWidth");
    QTest::newRow("iconSendBtn.png") << 88;
    QTest::newRow("iconStopBtn.png") << 88;
    QTest::newRow("btnClose.png") << 38;
}

// The button cuts the strip by position, so a frame drawn in the wrong place shows the wrong
// state: the disabled frame must be greyer and dimmer than the normal one, hover lighter than
// normal, and pressed darker than hover.
void TestResources::stripsRunDisabledNormalHoverPressed()
{
    QFETCH(int, frameWidth);
    const QImage strip(prefix + QTest::currentDataTag());
    QVERIFY(!strip.isNull());
    QCOMPARE(strip.width(), 4 * frameWidth);

    QVector<QImage> frames;
    for (int i = 0; i < 4; ++i)
        frames << strip.copy(i * frameWidth, 0, frameWidth, strip.height());
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j)
            QVERIFY2(frames[i] != frames[j], qPrintable(QString("frames %1, %2").arg(i).arg(j)));

    const Look disabled = lookOf(frames[0]), normal = lookOf(frames[1]), hover = lookOf(frames[2]),
               pressed = lookOf(frames[3]);
    QVERIFY(disabled.chroma < normal.chroma);
    QVERIFY(disabled.lightness < normal.lightness);
    QVERIFY(hover.lightness > normal.lightness);
    QVERIFY(pressed.lightness < hover.lightness);
}

void TestResources::iconHoldsSixImages()
{
    QFile file(prefix + "Orlecast.ico");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    QVERIFY(bytes.size() > 6);
    QCOMPARE(qFromLittleEndian<quint16>(data), quint16(0));
    QCOMPARE(qFromLittleEndian<quint16>(data + 2), quint16(1)); // an icon, not a cursor
    QCOMPARE(qFromLittleEndian<quint16>(data + 4), quint16(6));
    QVERIFY(bytes.size() >= 6 + 6 * 16);

    QList<int> sizes;
    for (int i = 0; i < 6; ++i) {
        const uchar *entry = data + 6 + 16 * i;
        const int width = entry[0] == 0 ? 256 : entry[0];
        const int height = entry[1] == 0 ? 256 : entry[1];
        QCOMPARE(height, width);
        QCOMPARE(qFromLittleEndian<quint16>(entry + 6), quint16(32));
        const quint32 length = qFromLittleEndian<quint32>(entry + 8);
        const quint32 offset = qFromLittleEndian<quint32>(entry + 12);
        QVERIFY(offset + length <= quint32(bytes.size()));
        const QByteArray image = bytes.mid(int(offset), int(length));
        if (width == 256) {
            QVERIFY(image.startsWith("\x89PNG\r\n\x1a\n"));
            QCOMPARE(QImage::fromData(image, "PNG").size(), QSize(256, 256));
        } else {
            // BITMAPINFOHEADER: header size 40, the height counts the AND mask too, 32 bpp
            const auto *dib = reinterpret_cast<const uchar *>(image.constData());
            QCOMPARE(qFromLittleEndian<quint32>(dib), quint32(40));
            QCOMPARE(qFromLittleEndian<qint32>(dib + 4), qint32(width));
            QCOMPARE(qFromLittleEndian<qint32>(dib + 8), qint32(2 * width));
            QCOMPARE(qFromLittleEndian<quint16>(dib + 14), quint16(32));
        }
        sizes << width;
    }
    QCOMPARE(sizes, (QList<int>{256, 128, 64, 48, 32, 16}));

    // And Qt reads every one of them, as the window and tray icon will.
    const QIcon icon(prefix + "Orlecast.ico");
    QList<QSize> available = icon.availableSizes();
    std::sort(available.begin(), available.end(),
              [](const QSize &a, const QSize &b) { return a.width() < b.width(); });
    QCOMPARE(available,
             (QList<QSize>{{16, 16}, {32, 32}, {48, 48}, {64, 64}, {128, 128}, {256, 256}}));
    QVERIFY(!icon.pixmap(16, 16).isNull());
}

void TestResources::onlyTheIconIsCompressed()
{
    QCOMPARE(QResource(prefix + "Orlecast.ico").compressionAlgorithm(), QResource::ZlibCompression);
    for (const char *png : {"NDILog.png", "btnCmb1.png", "btnCmb2.png", "iconSendBtn.png",
                            "iconStopBtn.png", "btnClose.png"})
        QCOMPARE(QResource(prefix + png).compressionAlgorithm(), QResource::NoCompression);
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
