// The committed images are the generator's output: redrawing them gives the same pixels, so
// an edit to the script that was not followed by a redraw (or a hand edit of an image) shows.
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QList<QImage> readAll(const QString &path)
{
    QList<QImage> images;
    QImageReader reader(path);
    do {
        const QImage image = reader.read();
        if (image.isNull())
            break;
        images << image.convertToFormat(QImage::Format_ARGB32);
    } while (reader.jumpToNextImage());
    return images;
}

} // namespace

class TestArtwork : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void redrawnImagesMatch_data();
    void redrawnImagesMatch();

private:
    QTemporaryDir dir;
};

void TestArtwork::initTestCase()
{
    QVERIFY(dir.isValid());
    QProcess draw;
    draw.start(QStringLiteral(NORVANE_PYTHON),
               {QStringLiteral(NORVANE_SOURCE_DIR "/Resources/draw_artwork.py"), dir.path()});
    QVERIFY(draw.waitForFinished(120000));
    QVERIFY2(draw.exitStatus() == QProcess::NormalExit && draw.exitCode() == 0,
             draw.readAllStandardError().constData());
}

void TestArtwork::redrawnImagesMatch_data()
{
    QTest::addColumn<int>("imageCount");
    QTest::newRow("NDILog.png") << 1;
    QTest::newRow("btnCmb1.png") << 1;
    QTest::newRow("btnCmb2.png") << 1;
    QTest::newRow("iconSendBtn.png") << 1;
    QTest::newRow("iconStopBtn.png") << 1;
    QTest::newRow("btnClose.png") << 1;
    QTest::newRow("Orlecast.ico") << 6;
}

// Pixels, not bytes: another zlib may deflate the same pixels differently.
void TestArtwork::redrawnImagesMatch()
{
    QFETCH(int, imageCount);
    const QString name = QTest::currentDataTag();
    const QList<QImage> redrawn = readAll(dir.filePath(name));
    const QList<QImage> committed = readAll(":/Norvane/Resources/" + name);
    QCOMPARE(redrawn.size(), imageCount);
    QCOMPARE(committed.size(), imageCount);
    for (int i = 0; i < imageCount; ++i)
        QVERIFY2(redrawn[i] == committed[i], qPrintable(QString("image %1").arg(i)));
}

QTEST_MAIN(TestArtwork)
#include "tst_artwork.moc"
