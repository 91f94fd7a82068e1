// The executable's Windows resources, compiled here with the mingw resource compiler so that
// the script cannot rot on a machine that never builds for Windows, and read back out of the
// built norvane.exe (scripts/build-windows): one icon group holding the six icon images, the
// manifest asking for the invoking user's rights, the version block.
#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtEndian>
#include <QtTest>

namespace {

enum ResourceType : quint16 {
    RtIcon = 3,
    RtGroupIcon = 14,
    RtVersion = 16,
    RtManifest = 24,
};

struct Resource
{
    quint16 type = 0; // 0: named by a string (none of ours is)
    quint16 id = 0;
    QByteArray data;
};

// One field of a resource header: either 0xFFFF and a number, or a NUL-terminated UTF-16
// name. Returns the number, or 0 for a name; advances `at`.
quint16 readIdOrName(const QByteArray &res, int &at)
{
    const auto *p = reinterpret_cast<const uchar *>(res.constData());
    if (qFromLittleEndian<quint16>(p + at) == 0xFFFF) {
        const quint16 id = qFromLittleEndian<quint16>(p + at + 2);
        at += 4;
        return id;
    }
    while (qFromLittleEndian<quint16>(p + at) != 0)
        at += 2;
    at += 2;
    return 0;
}

// Splits a compiled .res file into its resources.
QList<Resource> parseRes(const QByteArray &res)
{
    QList<Resource> out;
    const auto *p = reinterpret_cast<const uchar *>(res.constData());
    int at = 0;
    while (at + 8 <= res.size()) {
        const quint32 dataSize = qFromLittleEndian<quint32>(p + at);
        const quint32 headerSize = qFromLittleEndian<quint32>(p + at + 4);
        int field = at + 8;
        Resource r;
        r.type = readIdOrName(res, field);
        r.id = readIdOrName(res, field);
        r.data = res.mid(at + int(headerSize), int(dataSize));
        if (dataSize > 0) // the file opens with an empty entry
            out << r;
        at = (at + int(headerSize) + int(dataSize) + 3) & ~3;
    }
    return out;
}

QList<Resource> ofType(const QList<Resource> &all, quint16 type)
{
    QList<Resource> out;
    for (const Resource &r : all)
        if (r.type == type)
            out << r;
    return out;
}

} // namespace

class TestWinResources : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data();
    void initTestCase();
    void init();
    void oneIconGroupOfSixImages();
    void manifestRunsAsInvoker();
    void versionBlock();

private:
    QTemporaryDir dir;
    QMap<QString, QList<Resource>> compiled; // by input file
    QList<Resource> resources;
};

void TestWinResources::initTestCase_data()
{
    QTest::addColumn<QString>("input");
    QTest::newRow("script") << QStringLiteral(NORVANE_RC);
    QTest::newRow("executable") << QStringLiteral(NORVANE_WINDOWS_EXE);
}

void TestWinResources::initTestCase()
{
    const QString windres = QStringLiteral(NORVANE_WINDRES);
    QVERIFY2(!windres.isEmpty(), "x86_64-w64-mingw32-windres not found (binutils-mingw-w64)");
    QVERIFY(dir.isValid());

    // windres reads the resource section of an executable as well as a script.
    for (const QString &input : {QStringLiteral(NORVANE_RC), QStringLiteral(NORVANE_WINDOWS_EXE)}) {
        if (!QFile::exists(input))
            continue; // init() fails that row's tests
        const QString out = dir.filePath(QString::number(compiled.size()) + ".res");
        QProcess compile;
        compile.start(windres,
                      {"-I", NORVANE_VERSION_INCLUDE, "-i", input, "-O", "res", "-o", out});
        QVERIFY(compile.waitForFinished(60000));
        QVERIFY2(compile.exitStatus() == QProcess::NormalExit && compile.exitCode() == 0,
                 compile.readAllStandardError().constData());

        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        compiled[input] = parseRes(file.readAll());
        QVERIFY(!compiled[input].isEmpty());
    }
}

void TestWinResources::init()
{
    QFETCH_GLOBAL(QString, input);
    QVERIFY2(compiled.contains(input),
             qPrintable(input + " is missing: scripts/build-windows builds it"));
    resources = compiled.value(input);
}

void TestWinResources::oneIconGroupOfSixImages()
{
    const QList<Resource> groups = ofType(resources, RtGroupIcon);
    QCOMPARE(groups.size(), 1);
    const QList<Resource> icons = ofType(resources, RtIcon);
    QCOMPARE(icons.size(), 6);

    // GRPICONDIR: reserved, type 1, count; then 14-byte entries naming the RT_ICON ids.
    const QByteArray &group = groups.first().data;
    const auto *g = reinterpret_cast<const uchar *>(group.constData());
    QVERIFY(group.size() >= 6);
    QCOMPARE(qFromLittleEndian<quint16>(g + 2), quint16(1));
    QCOMPARE(qFromLittleEndian<quint16>(g + 4), quint16(6));
    QCOMPARE(group.size(), 6 + 6 * 14);

    QList<int> sizes;
    for (int i = 0; i < 6; ++i) {
        const uchar *entry = g + 6 + 14 * i;
        const int size = entry[0] == 0 ? 256 : entry[0];
        QCOMPARE(qFromLittleEndian<quint16>(entry + 6), quint16(32));
        const quint32 length = qFromLittleEndian<quint32>(entry + 8);
        const quint16 id = qFromLittleEndian<quint16>(entry + 12);
        const auto icon = std::find_if(icons.begin(), icons.end(),
                                       [id](const Resource &r) { return r.id == id; });
        QVERIFY2(icon != icons.end(), qPrintable(QString("icon %1").arg(id)));
        QCOMPARE(quint32(icon->data.size()), length);
        QCOMPARE(icon->data.startsWith("\x89PNG"), size == 256);
        sizes << size;
    }
    QCOMPARE(sizes, (QList<int>{256, 128, 64, 48, 32, 16}));
}

void TestWinResources::manifestRunsAsInvoker()
{
    const QList<Resource> manifests = ofType(resources, RtManifest);
    QCOMPARE(manifests.size(), 1);
    QCOMPARE(manifests.first().id, quint16(1)); // the one the loader reads for a process

    QXmlStreamReader xml(manifests.first().data);
    int levels = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement &&
            xml.name() == QLatin1String("requestedExecutionLevel")) {
            QCOMPARE(xml.attributes().value("level").toString(), QString("asInvoker"));
            QCOMPARE(xml.attributes().value("uiAccess").toString(), QString("false"));
            ++levels;
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(levels, 1);
}

void TestWinResources::versionBlock()
{
    const QList<Resource> versions = ofType(resources, RtVersion);
    QCOMPARE(versions.size(), 1);
    const QByteArray &block = versions.first().data;
    // VS_VERSIONINFO: length, value length, type, the key, then VS_FIXEDFILEINFO.
    const QByteArray key =
        QByteArray::fromRawData(reinterpret_cast<const char *>(u"VS_VERSION_INFO"), 15 * 2);
    QCOMPARE(block.mid(6, key.size()), key);
    // VS_FIXEDFILEINFO: signature, structure version, then file and product versions, each as
    // major << 16 | minor and patch << 16 | 0: the project's version.
    const int fixed = block.indexOf(QByteArray("\xBD\x04\xEF\xFE", 4));
    QVERIFY(fixed > 0 && fixed + 24 <= block.size());
    const auto *f = reinterpret_cast<const uchar *>(block.constData()) + fixed;
    const quint32 high = NORVANE_VERSION_MAJOR << 16 | NORVANE_VERSION_MINOR;
    const quint32 low = NORVANE_VERSION_PATCH << 16;
    for (int at : {8, 16}) {
        QCOMPARE(qFromLittleEndian<quint32>(f + at), high);
        QCOMPARE(qFromLittleEndian<quint32>(f + at + 4), low);
    }
    const QByteArray product =
        QByteArray::fromRawData(reinterpret_cast<const char *>(u"ProductName"), 11 * 2);
    QVERIFY(block.contains(product));
}

QTEST_GUILESS_MAIN(TestWinResources)
#include "tst_winresources.moc"
