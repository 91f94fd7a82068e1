// The runtime loader: where it looks and in which order, which libraries it refuses, and the
// one line it prints when nothing serves. Stand-in libraries play the runtime here.
#include "DynamicLibrary.h"
#include "NdiRuntime.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>

#include <cstdio>

namespace {

using Candidates = std::vector<NdiRuntime::Candidate>;

QStringList names(const Candidates &c)
{
    QStringList out;
    for (const auto &x : c)
        out << QString::fromStdString(x.name) + (x.bySystemLoader ? " (bare)" : "");
    return out;
}

// A folder holding a copy of a stand-in library under the runtime's name.
struct Folder
{
    QTemporaryDir dir;
    explicit Folder(const char *library = nullptr)
    {
        if (library)
            QFile::copy(library, dir.filePath("libndi.so.6"));
    }
    std::string path() const { return dir.path().toStdString(); }
    std::string lib() const { return path() + "/libndi.so.6"; }
};

bool isLoaded(const std::string &path)
{
    void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h)
        dlclose(h);
    return h != nullptr;
}

} // namespace

class TestNdiLoader : public QObject
{
    Q_OBJECT

private slots:
    void searchesEnvironmentFoldersThenExecutableFolderThenSystemNames()
    {
        QCOMPARE(names(NdiRuntime::searchOrder("/v6", "/v5/", "/exe")),
                 (QStringList{"/v6/libndi.so.6", "/v6/libndi.so.5", "/v5/libndi.so.6",
                              "/v5/libndi.so.5", "/exe/libndi.so.6", "/exe/libndi.so.5",
                              "libndi.so.6 (bare)", "libndi.so.5 (bare)"}));
        // Unset, empty or relative folders would mean the working directory: left out.
        QCOMPARE(names(NdiRuntime::searchOrder(nullptr, "relative/dir", "")),
                 (QStringList{"libndi.so.6 (bare)", "libndi.so.5 (bare)"}));
        QCOMPARE(names(NdiRuntime::searchOrder("", nullptr, "/exe")),
                 (QStringList{"/exe/libndi.so.6", "/exe/libndi.so.5", "libndi.so.6 (bare)",
                              "libndi.so.5 (bare)"}));
    }

    void executableDirectoryIsThisTestsFolder()
    {
        QCOMPARE(QString::fromStdString(executableDirectory()),
                 QCoreApplication::applicationDirPath());
    }

    void takesTheFirstCompleteLibrary()
    {
        Folder empty, partial(NDI_STUB_PARTIAL_PATH), full(NDI_STUB_FULL_PATH),
            later(NDI_STUB_FULL_PATH);
        const auto loaded = NdiRuntime::load(
            NdiRuntime::searchOrder(empty.path().c_str(), partial.path().c_str(), full.path()));
        QVERIFY(loaded.ok());
        QCOMPARE(loaded.from, full.lib());
        QVERIFY(loaded.table.initialize && loaded.table.send_create &&
                loaded.table.send_send_video_v2);
        QVERIFY(loaded.table.initialize());
        // The partial library was opened, refused and closed again.
        QVERIFY(!isLoaded(partial.lib()));
        QVERIFY(!isLoaded(later.lib()));

        // The first folder wins over later ones.
        const auto first = NdiRuntime::load(
            NdiRuntime::searchOrder(later.path().c_str(), full.path().c_str(), empty.path()));
        QCOMPARE(first.from, later.lib());
    }

    void refusesALibraryWithoutTheVideoSend()
    {
        Folder partial(NDI_STUB_PARTIAL_PATH);
        DynamicLibrary lib = DynamicLibrary::openPath(partial.lib());
        QVERIFY(lib.isOpen());
        NdiApi table;
        QVERIFY(!NdiRuntime::resolve(lib, table));
        QVERIFY(!table.initialize); // nothing half-filled is left behind

        const auto loaded =
            NdiRuntime::load({{partial.lib(), false}, {"libndi-nowhere.so.6", true}});
        QVERIFY(!loaded.ok());
        QVERIFY(!loaded.table.initialize);
    }

    // A runtime that is there but cannot serve is named with its reason, so a missing
    // dependency is not reported as a missing file; absent candidates are not.
    void namesLibrariesThatAreThereButUnusable()
    {
        Folder broken, partial(NDI_STUB_PARTIAL_PATH), empty;
        {
            QFile junk(broken.dir.filePath("libndi.so.6"));
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write("not a shared library");
        }
        const Candidates candidates{{broken.lib(), false},
                                    {partial.lib(), false},
                                    {empty.lib(), false},
                                    {"libndi-nowhere.so.6", true}};
        const auto loaded = NdiRuntime::load(candidates);
        QVERIFY(!loaded.ok());
        QCOMPARE(loaded.rejected.size(), std::size_t(2));
        QVERIFY(QString::fromStdString(loaded.rejected[0].line())
                    .startsWith(QString::fromStdString(broken.lib() + " (")));
        QCOMPARE(loaded.rejected[1].line(), partial.lib() + " (lacks the NDI send functions)");

        const QString line =
            QString::fromStdString(NdiRuntime::notFoundLine(candidates, loaded.rejected));
        QVERIFY(line.startsWith("NDI runtime not found; looked for "));
        QVERIFY(line.contains("Found but not usable: " + QString::fromStdString(broken.lib())));
        QVERIFY(!line.contains('\n'));
        QVERIFY(
            !QString::fromStdString(NdiRuntime::notFoundLine(candidates)).contains("not usable"));
    }

    // Files the loader would fault on, or call missing, are looked at before it gets them: by
    // path, and by the name the system loader would look up (here through LD_LIBRARY_PATH).
    void looksAtTheFileFirst_data()
    {
        QTest::addColumn<QByteArray>("damage");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("saying");
        using Kind = NdiRuntime::Rejection::Kind;
        QTest::newRow("the runtime's first 64 KiB (an interrupted copy)")
            << QByteArray("64k") << int(Kind::Damaged) << "damaged";
        QTest::newRow("ELF header only") << QByteArray("header") << int(Kind::Damaged) << "damaged";
        QTest::newRow("for aarch64")
            << QByteArray("aarch64") << int(Kind::OtherProcessor) << "another processor (aarch64)";
        QTest::newRow("32-bit") << QByteArray("32-bit") << int(Kind::OtherProcessor)
                                << "another processor";
        QTest::newRow("not ELF") << QByteArray("text") << int(Kind::NotALibrary) << "no ELF header";
    }
    void looksAtTheFileFirst()
    {
        QFETCH(QByteArray, damage);
        QFETCH(int, kind);
        QFETCH(QString, saying);
        const QByteArray runtime = qgetenv("NDI_RUNTIME_DIR_V6") + "/libndi.so.6";
        Folder folder(damage == "64k" ? runtime.constData() : NDI_STUB_FULL_PATH);
        QFile file(QString::fromStdString(folder.lib()));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        if (damage == "64k")
            bytes.truncate(64 << 10);
        else if (damage == "header")
            bytes.truncate(40);
        else if (damage == "aarch64")
            bytes[18] = char(183), bytes[19] = 0; // e_machine EM_AARCH64
        else if (damage == "32-bit")
            bytes[4] = 1; // ELFCLASS32
        else
            bytes = "#!/bin/sh\n";
        QVERIFY(file.resize(0) && file.seek(0) && file.write(bytes) == bytes.size());
        file.close();

        qputenv("LD_LIBRARY_PATH", QByteArray::fromStdString(folder.path()));
        const auto loaded = NdiRuntime::load({{folder.lib(), false}, {"libndi.so.6", true}});
        qunsetenv("LD_LIBRARY_PATH");
        QVERIFY(!loaded.ok());
        QCOMPARE(loaded.rejected.size(), std::size_t(2));
        for (const NdiRuntime::Rejection &r : loaded.rejected) {
            QCOMPARE(r.file, folder.lib());
            QCOMPARE(int(r.kind), kind);
            QVERIFY2(QString::fromStdString(r.reason).contains(saying), r.reason.c_str());
        }
    }

    void openPathNeverSearches()
    {
        QVERIFY(!DynamicLibrary::openPath("libc.so.6").isOpen());
        QVERIFY(!DynamicLibrary::openSystem("/lib/x86_64-linux-gnu/libc.so.6").isOpen());
        DynamicLibrary libc = DynamicLibrary::openSystem("libc.so.6");
        QVERIFY(libc.isOpen());
        QVERIFY(libc.symbol("malloc") != nullptr);
        QVERIFY(libc.symbol("no_such_symbol_here") == nullptr);
        DynamicLibrary moved = std::move(libc);
        QVERIFY(!libc.isOpen());
        QVERIFY(moved.symbol("malloc") != nullptr);
    }

    // In a child process: no runtime in the folders it is told about, and stand-ins in its
    // working directory, which must not be searched. It prints one line, however often asked.
    void missingRuntimePrintsOneLine()
    {
        Folder empty, cwd(NDI_STUB_FULL_PATH);
        QFile::copy(NDI_STUB_FULL_PATH, cwd.dir.filePath("libndi.so.5"));
        QProcess child;
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("NDI_RUNTIME_DIR_V6", QString::fromStdString(empty.path()));
        env.insert("NDI_RUNTIME_DIR_V5", "relative/dir");
        env.remove("LD_LIBRARY_PATH");
        child.setProcessEnvironment(env);
        child.setWorkingDirectory(QString::fromStdString(cwd.path()));
        child.start(QCoreApplication::applicationFilePath(), {"--ask-three-times"});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 0);
        const QString err = QString::fromLocal8Bit(child.readAllStandardError());
        const QStringList lines = err.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines[0].contains("NDI runtime not found"));
        QVERIFY(lines[0].contains(QString::fromStdString(empty.path()) + "/libndi.so.6"));
        QVERIFY(lines[0].contains("libndi.so.5 (system loader)"));
        QVERIFY(lines[0].contains("https://ndi.video/"));
        QVERIFY(!lines[0].contains(QString::fromStdString(cwd.path())));
        // The folder the user named is not searched, and the line says why.
        QVERIFY(lines[0].contains("Ignored NDI_RUNTIME_DIR_V5=relative/dir: not a full path"));
    }
};

int main(int argc, char **argv)
{
    if (argc == 2 && std::string(argv[1]) == "--ask-three-times") {
        for (int i = 0; i < 3; ++i) {
            if (NdiRuntime::api() != nullptr)
                return 1;
        }
        return NdiRuntime::loadedFrom().empty() ? 0 : 1;
    }
    QCoreApplication app(argc, argv);
    TestNdiLoader test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ndi_loader.moc"
