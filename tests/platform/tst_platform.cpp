#include "platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

bool writeFile(const QString &path, const QByteArray &content, QFileDevice::Permissions permissions)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return false;
    file.close();
    return file.setPermissions(permissions);
}

const QFileDevice::Permissions plainFile =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
const QFileDevice::Permissions executableFile =
        plainFile | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_Platform : public QObject
{
    Q_OBJECT

private slots:
    void programName_data();
    void programName();
    void firstArgument_data();
    void firstArgument();

    void toolEntryNames_data();
    void toolEntryNames();
    void toolEntryNamesOfMissingDirectory();
    void toolEntryText_data();
    void toolEntryText();

    void localFileUrl_data();
    void localFileUrl();
    void toolLaunch_data();
    void toolLaunch();

    void copyProgramSucceeds();
    void copyProgramFails_data();
    void copyProgramFails();

    void layout_data();
    void layout();
    void firstStartCopy_data();
    void firstStartCopy();
};

void tst_Platform::programName_data()
{
    QTest::addColumn<QString>("argv0");
    QTest::addColumn<bool>("slashSeparates");
    QTest::addColumn<QString>("expected");

    // Rules that hold with either separator rule: backslash paths.
    const bool rules[] = { false, true };
    for (bool slash : rules) {
        const char *rule = slash ? "slash rule" : "backslash rule";
        QTest::addRow("%s: full path with .exe", rule) << "C:\\Apps\\rurodur.exe" << slash << "rurodur";
        QTest::addRow("%s: bare name with .exe", rule) << "rurodur.exe" << slash << "rurodur";
        QTest::addRow("%s: no dot at all", rule) << "C:\\Apps\\rurodur" << slash << "rurodur";
        QTest::addRow("%s: dot only in a directory", rule) << "C:\\Old.Tools\\rurodur" << slash << "rurodur";
        QTest::addRow("%s: only the last dot ends it", rule)
                << "C:\\Apps\\rurodur.new.exe" << slash << "rurodur.new";
        QTest::addRow("%s: trailing dot", rule) << "C:\\Apps\\rurodur." << slash << "rurodur";
        QTest::addRow("%s: empty", rule) << "" << slash << "";
    }

    // Forward slashes separate only under the slash rule.
    QTest::newRow("backslash rule: forward slashes kept") << "C:/Apps/rurodur.exe" << false << "C:/Apps/rurodur";
    QTest::newRow("slash rule: forward slashes separate") << "C:/Apps/rurodur.exe" << true << "rurodur";
    QTest::newRow("backslash rule: leading ./ ends at its dot") << "./rurodur" << false << "";
    QTest::newRow("slash rule: leading ./") << "./rurodur" << true << "rurodur";
    QTest::newRow("slash rule: absolute unix path") << "/usr/bin/rurodur" << true << "rurodur";
    QTest::newRow("backslash rule: absolute unix path kept whole")
            << "/usr/bin/rurodur" << false << "/usr/bin/rurodur";
    QTest::newRow("slash rule: dot in a unix directory") << "/opt/my.app/rurodur" << true << "rurodur";
    QTest::newRow("slash rule: mixed separators, last one wins") << "C:\\dir/sub\\x.exe" << true << "x";
    QTest::newRow("slash rule: mixed separators, slash last") << "C:\\dir\\sub/x.exe" << true << "x";
    QTest::newRow("backslash rule: mixed separators, slash last")
            << "C:\\dir\\sub/x.exe" << false << "sub/x";
}

void tst_Platform::programName()
{
    QFETCH(QString, argv0);
    QFETCH(bool, slashSeparates);
    QFETCH(QString, expected);
    QCOMPARE(Platform::programNameFromArgv0(argv0, slashSeparates), expected);
}

void tst_Platform::firstArgument_data()
{
    QTest::addColumn<QByteArray>("argv0");
    QTest::addColumn<QString>("expected"); // the program name, where argv0 is the source

    QTest::newRow("ASCII path") << QByteArray("/opt/tools/rurodur") << "rurodur";
    // "传感器" in UTF-8 bytes, in a directory named "工具".
    QTest::newRow("Chinese name")
            << QByteArray("/opt/\xe5\xb7\xa5\xe5\x85\xb7/\xe4\xbc\xa0\xe6\x84\x9f\xe5\x99\xa8.exe")
            << QString::fromUtf8("\xe4\xbc\xa0\xe6\x84\x9f\xe5\x99\xa8");
}

void tst_Platform::firstArgument()
{
    QFETCH(QByteArray, argv0);
    QFETCH(QString, expected);
#ifdef Q_OS_WIN
    // The bytes of argv are in the local code page there; the wide command line is the source.
    QCOMPARE(Platform::firstArgument(argv0.constData()), QCoreApplication::arguments().first());
#else
    QCOMPARE(Platform::programNameFromArgv0(Platform::firstArgument(argv0.constData())), expected);
#endif
}

void tst_Platform::toolEntryNames_data()
{
    QTest::addColumn<bool>("windowsRules");
    QTest::addColumn<QStringList>("expected");

    // Case-insensitive order puts "beta" before "tool" and "Zulu" last; a case-sensitive sort
    // would put the capitals first.
    QTest::newRow("windows: *.exe in any case, directories too")
            << true << QStringList{ "Alpha.exe", "beta.EXE", "tool.1.2.exe", "x.exe", "Zulu.Exe" };
    QTest::newRow("elsewhere: executable regular files")
            << false << QStringList{ "Alpha", "beta", "tool.1.2", "Zulu" };
}

void tst_Platform::toolEntryNames()
{
    QFETCH(bool, windowsRules);
    QFETCH(QStringList, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString d = dir.path() + QLatin1Char('/');
    // Windows-style names: listed by pattern, permissions do not matter.
    QVERIFY(writeFile(d + "Alpha.exe", "a", plainFile));
    QVERIFY(writeFile(d + "beta.EXE", "b", plainFile));
    QVERIFY(writeFile(d + "tool.1.2.exe", "t", plainFile));
    QVERIFY(writeFile(d + "Zulu.Exe", "z", plainFile));
    QVERIFY(writeFile(d + "notes.txt", "n", plainFile));
    QVERIFY(writeFile(d + ".hidden.exe", "h", executableFile));
    QVERIFY(writeFile(d + "setup.exe.bak", "s", plainFile));
    QVERIFY(QDir(d).mkdir("x.exe"));
    // Unix-style names: listed by the executable bits of regular files.
    QVERIFY(writeFile(d + "Alpha", "#!/bin/sh\n", executableFile));
    QVERIFY(writeFile(d + "beta", "#!/bin/sh\n", executableFile));
    QVERIFY(writeFile(d + "tool.1.2", "#!/bin/sh\n", executableFile));
    QVERIFY(writeFile(d + "Zulu", "#!/bin/sh\n", executableFile));
    QVERIFY(writeFile(d + "readme", "r", plainFile));
    QVERIFY(writeFile(d + ".hidden", "#!/bin/sh\n", executableFile));
    QVERIFY(QDir(d).mkdir("subdir"));

    QCOMPARE(Platform::toolEntryNames(dir.path(), windowsRules), expected);
}

void tst_Platform::toolEntryNamesOfMissingDirectory()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString missing = dir.path() + "/missing";
    QCOMPARE(Platform::toolEntryNames(missing, true), QStringList());
    QCOMPARE(Platform::toolEntryNames(missing, false), QStringList());
}

void tst_Platform::toolEntryText_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain exe") << "Probe.exe" << "Probe";
    QTest::newRow("cut at the first dot") << "Probe.old.exe" << "Probe";
    QTest::newRow("versioned unix name") << "tool.1.2" << "tool";
    QTest::newRow("no dot") << "Alpha" << "Alpha";
    QTest::newRow("dot first") << ".exe" << "";
    QTest::newRow("trailing dot") << "a." << "a";
}

void tst_Platform::toolEntryText()
{
    QFETCH(QString, fileName);
    QFETCH(QString, expected);
    QCOMPARE(Platform::toolEntryText(fileName), expected);
}

void tst_Platform::localFileUrl_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("expected");

    QTest::newRow("drive letter, file") << "C:/Tools" << "Probe.exe" << "file:///C:/Tools/Probe.exe";
    QTest::newRow("drive letter, directory itself") << "C:/Tools" << "" << "file:///C:/Tools/";
    QTest::newRow("rooted, file") << "/opt/tools" << "Probe" << "file:///opt/tools/Probe";
    QTest::newRow("rooted, directory itself") << "/opt/tools" << "" << "file:///opt/tools/";
    QTest::newRow("directory with trailing slash") << "/opt/tools/" << "Probe" << "file:///opt/tools/Probe";
    QTest::newRow("root directory") << "/" << "" << "file:///";
    QTest::newRow("characters a URL would misread")
            << "/opt/my tools" << "a#1%.exe" << "file:///opt/my%20tools/a%231%25.exe";
}

void tst_Platform::localFileUrl()
{
    QFETCH(QString, dir);
    QFETCH(QString, fileName);
    QFETCH(QString, expected);

    const QUrl url = Platform::localFileUrl(dir, fileName);
    QVERIFY(url.isValid());
    QVERIFY(url.isLocalFile());
    QCOMPARE(url.toString(QUrl::FullyEncoded), expected);
}

void tst_Platform::toolLaunch_data()
{
    QTest::addColumn<bool>("windowsRules");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("started");
    QTest::addColumn<QString>("relativeUrlPath");

    QTest::newRow("windows: program opened by the desktop") << true << "Alpha.exe" << false << "/Alpha.exe";
    QTest::newRow("windows: directory named like a program") << true << "x.exe" << false << "/x.exe";
    QTest::newRow("windows: program directory") << true << "" << false << "/";
    QTest::newRow("elsewhere: program started") << false << "Alpha" << true << "";
    QTest::newRow("elsewhere: directory opened") << false << "x.exe" << false << "/x.exe";
    QTest::newRow("elsewhere: program directory") << false << "" << false << "/";
}

void tst_Platform::toolLaunch()
{
    QFETCH(bool, windowsRules);
    QFETCH(QString, fileName);
    QFETCH(bool, started);
    QFETCH(QString, relativeUrlPath);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(dir.filePath("Alpha.exe"), "a", plainFile));
    QVERIFY(writeFile(dir.filePath("Alpha"), "#!/bin/sh\n", executableFile));
    QVERIFY(QDir(dir.path()).mkdir("x.exe"));

    const Platform::ToolLaunch launch = Platform::toolLaunch(dir.path(), fileName, windowsRules);
    if (started) {
        QCOMPARE(launch.kind, Platform::ToolLaunch::StartDetached);
        QCOMPARE(launch.program, dir.path() + "/" + fileName);
        QCOMPARE(launch.workingDirectory, dir.path());
        QVERIFY(launch.url.isEmpty());
    } else {
        QCOMPARE(launch.kind, Platform::ToolLaunch::OpenUrl);
        QCOMPARE(launch.url, QUrl(QStringLiteral("file://") + dir.path() + relativeUrlPath));
        QVERIFY(launch.program.isEmpty());
    }
}

void tst_Platform::copyProgramSucceeds()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath("rurodur");
    const QString deploy = dir.filePath("deploy");
    const QString target = deploy + "/rurodur";
    QVERIFY(QDir(dir.path()).mkdir("deploy"));

    // Larger than one read chunk, so the copy loops.
    QByteArray first(200 * 1024 + 7, '\0');
    for (int i = 0; i < first.size(); ++i)
        first[i] = char(i * 31 + 7);
    QVERIFY(writeFile(source, first, executableFile));

    QVERIFY(Platform::copyProgram(source, target));
    QCOMPARE(contentOf(target), first);
    QVERIFY(QFileInfo(target).permissions() & QFileDevice::ExeOwner);
    QVERIFY(QFileInfo(target).permissions() & QFileDevice::ExeOther);

    // Replacing an older copy, which has other permission bits.
    QVERIFY(QFile::setPermissions(target, plainFile));
    const QByteArray second("second build");
    QVERIFY(writeFile(source, second, executableFile));
    QVERIFY(Platform::copyProgram(source, target));
    QCOMPARE(contentOf(target), second);
    QVERIFY(QFileInfo(target).permissions() & QFileDevice::ExeOwner);

    QCOMPARE(QDir(deploy).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{ "rurodur" });
}

enum class CopyFailure { MissingSource, SourceIsDirectory, MissingTargetDirectory,
                         TargetDirectoryIsFile, TargetIsDirectory, TargetLinksToFifo };
Q_DECLARE_METATYPE(CopyFailure)

void tst_Platform::copyProgramFails_data()
{
    QTest::addColumn<CopyFailure>("failure");
    QTest::newRow("missing source") << CopyFailure::MissingSource;
    QTest::newRow("source is a directory") << CopyFailure::SourceIsDirectory;
    QTest::newRow("missing target directory") << CopyFailure::MissingTargetDirectory;
    QTest::newRow("target directory is a file") << CopyFailure::TargetDirectoryIsFile;
    QTest::newRow("target is a non-empty directory") << CopyFailure::TargetIsDirectory;
#ifdef Q_OS_UNIX
    QTest::newRow("target links to a FIFO") << CopyFailure::TargetLinksToFifo;
#endif
}

void tst_Platform::copyProgramFails()
{
    QFETCH(CopyFailure, failure);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath("rurodur");
    QString deploy = dir.filePath("deploy");
    QVERIFY(QDir(dir.path()).mkdir("deploy"));
    const QByteArray oldProgram("old program");
    QVERIFY(writeFile(deploy + "/rurodur", oldProgram, executableFile));
    QVERIFY(writeFile(source, "new program", executableFile));

    switch (failure) {
    case CopyFailure::MissingSource:
        QVERIFY(QFile::remove(source));
        break;
    case CopyFailure::SourceIsDirectory:
        QVERIFY(QFile::remove(source));
        QVERIFY(QDir(dir.path()).mkdir("rurodur"));
        break;
    case CopyFailure::MissingTargetDirectory:
        deploy = dir.filePath("missing");
        break;
    case CopyFailure::TargetDirectoryIsFile:
        deploy = dir.filePath("deploy/rurodur");
        break;
    case CopyFailure::TargetIsDirectory:
        deploy = dir.filePath("other");
        QVERIFY(QDir(dir.path()).mkpath("other/rurodur"));
        QVERIFY(writeFile(deploy + "/rurodur/keep", "keep", plainFile));
        break;
    case CopyFailure::TargetLinksToFifo:
#ifdef Q_OS_UNIX
        deploy = dir.filePath("other");
        QVERIFY(QDir(dir.path()).mkdir("other"));
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600) == 0);
        QVERIFY(QFile::link(dir.filePath("fifo"), deploy + "/rurodur"));
#endif
        break;
    }

    QVERIFY(!Platform::copyProgram(source, deploy + "/rurodur"));

    // Whatever was there is still there, unchanged, and nothing was left beside it.
    QCOMPARE(contentOf(dir.filePath("deploy/rurodur")), oldProgram);
    QCOMPARE(QDir(dir.filePath("deploy")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{ "rurodur" });
    QVERIFY(!QFileInfo::exists(dir.filePath("missing")));
    if (failure == CopyFailure::TargetIsDirectory) {
        QCOMPARE(contentOf(deploy + "/rurodur/keep"), QByteArray("keep"));
        QCOMPARE(QDir(deploy).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{ "rurodur" });
    }
    if (failure == CopyFailure::TargetLinksToFifo) {
        QVERIFY(QFileInfo(deploy + "/rurodur").isSymLink());
        QVERIFY(!QFileInfo(dir.filePath("fifo")).isFile()); // still the FIFO, not replaced
        QCOMPARE(QDir(deploy).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System),
                 QStringList{ "rurodur" });
    }
}

void tst_Platform::layout_data()
{
    QTest::addColumn<QString>("executable"); // in a fresh folder, with these folders ("name=": a file)
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<bool>("installed");

    const QStringList usr{ "usr/bin", "usr/share/rurodur" };
    QTest::newRow("bin beside share/rurodur") << "usr/bin/rurodur" << usr << true;
    QTest::newRow("any prefix, any name") << "opt/x/bin/传感器" << QStringList{ "opt/x/bin", "opt/x/share/rurodur" } << true;
    QTest::newRow("no share/rurodur") << "usr/bin/rurodur" << QStringList{ "usr/bin", "usr/share" } << false;
    QTest::newRow("share/rurodur a file") << "usr/bin/rurodur" << QStringList{ "usr/bin", "usr/share", "usr/share/rurodur=" } << false;
    QTest::newRow("another prefix's share") << "usr/local/bin/rurodur" << QStringList{ "usr/local/bin", "usr/share/rurodur" } << false;
    QTest::newRow("build folder") << "build/rurodur" << QStringList{ "build", "share/rurodur" } << false;
    QTest::newRow("Windows rules") << "usr/bin/rurodur.exe" << usr << false;
}

void tst_Platform::layout()
{
    QFETCH(QString, executable);
    QFETCH(QStringList, folders);
    QFETCH(bool, installed);
    QTemporaryDir dir;
    for (const QString &folder : folders) {
        QVERIFY(folder.endsWith('=') ? writeFile(dir.filePath(folder.chopped(1)), "", plainFile)
                                     : QDir(dir.path()).mkpath(folder));
    }
    const QString exe = dir.filePath(executable);
    const Platform::Locations where = Platform::locationsFor(exe, "/c", "/d", executable.endsWith(".exe"));

    const QString bin = QFileInfo(exe).path();
    QCOMPARE(where.executable, exe);
    QCOMPARE(where.layout, installed ? Platform::Layout::Installed : Platform::Layout::Portable);
    QCOMPARE(where.settingsDir, installed ? QStringLiteral("/c/rurodur") : bin);
    QCOMPARE(where.programDir, installed ? QStringLiteral("/d/rurodur") : bin);
    QCOMPARE(where.sampleWorkbook,
             installed ? QDir::cleanPath(bin + "/../share/rurodur/ProtocolFile/modbus.xlsx") : QString());
}

void tst_Platform::firstStartCopy_data()
{
    QTest::addColumn<QString>("before"); // what the program directory's workbook name holds
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("first start: the sample") << "nothing" << QByteArray("sample");
    QTest::newRow("the user's workbook kept") << "workbook" << QByteArray("mine");
    QTest::newRow("a link kept, not followed") << "dangling link" << QByteArray();
    QTest::newRow("portable: nothing made") << "portable" << QByteArray();
}

void tst_Platform::firstStartCopy()
{
    QFETCH(QString, before);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("usr/bin") && QDir(dir.path()).mkpath("usr/share/rurodur/ProtocolFile"));
    const QString sample = dir.filePath("usr/share/rurodur/ProtocolFile/modbus.xlsx");
    QVERIFY(writeFile(sample, "sample", QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    Platform::Locations where = Platform::locationsFor(dir.filePath("usr/bin/rurodur"), dir.filePath("config"),
                                                       dir.filePath("data"), false);
    const QString workbook = dir.filePath("data/rurodur/ProtocolFile/modbus.xlsx");
    if (before == "portable")
        where.layout = Platform::Layout::Portable;
    if (before == "workbook" || before == "dangling link")
        QVERIFY(QDir(dir.path()).mkpath("data/rurodur/ProtocolFile"));
    if (before == "workbook")
        QVERIFY(writeFile(workbook, "mine", plainFile));
    if (before == "dangling link")
        QVERIFY(QFile::link(dir.filePath("nowhere"), workbook));

    QVERIFY(Platform::prepareLocations(where));
    QCOMPARE(contentOf(workbook), after);
    QCOMPARE(contentOf(sample), QByteArray("sample"));
    QCOMPARE(QFileInfo(where.settingsDir).isDir(), before != "portable");
    QCOMPARE(QFileInfo(workbook).isSymLink(), before == "dangling link");
    QVERIFY(!QFileInfo::exists(dir.filePath("nowhere")));
    QVERIFY(after.isEmpty() || (QFileInfo(workbook).permissions() & QFileDevice::WriteOwner));
}

QTEST_GUILESS_MAIN(tst_Platform)
#include "tst_platform.moc"
