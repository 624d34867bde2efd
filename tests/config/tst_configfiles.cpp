#include "myconfig.h"
#include "settingsfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#ifdef Q_OS_LINUX
#include <sys/sysmacros.h>
#endif
#include <sys/types.h>
#endif

// The settings file as a file: the backup of one that did not parse, and names that are not
// regular files (FIFOs, devices, directories, oversized files, links to any of them).
class TestConfigFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void backupOfUnparsableFile_data();
    void backupOfUnparsableFile();
    void failedBackupKeepsFile();
    void loadReadsOnlySmallRegularFiles_data();
    void loadReadsOnlySmallRegularFiles();
    void saveWritesOnlyRegularFiles_data();
    void saveWritesOnlyRegularFiles();

private:
    std::unique_ptr<SettingsDir> dir;
};

namespace {

const QString settingsName = QStringLiteral("rurodur.json");
const QString backupName = QStringLiteral("rurodur.json.bak");
const qint64 mebibyte = 1024 * 1024;
const QByteArray olderBackup = "an older backup";

// A settings text of exactly size bytes that sets the period to 250: spaces pad it, which a
// JSON reader skips.
QByteArray paddedSettings(qint64 size)
{
    QByteArray text = R"({"modbusDisplay": {"period": 250}})";
    text.append(QByteArray(int(size - text.size()), ' '));
    return text;
}

QStringList entriesOf(const QString &path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

#ifdef Q_OS_UNIX
const bool unixFiles = true;

// What path leads to, after its links: "file", "fifo", "char device", "directory", "other",
// or "" when nothing.
QString typeOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QString();
    switch (st.st_mode & S_IFMT) {
    case S_IFREG: return QStringLiteral("file");
    case S_IFIFO: return QStringLiteral("fifo");
    case S_IFCHR: return QStringLiteral("char device");
    case S_IFDIR: return QStringLiteral("directory");
    default: return QStringLiteral("other");
    }
}

// Makes at name what a row describes: "file" (a settings file of size bytes), "fifo",
// "directory", "char device", "sparse 200 MB", or "link to <target>". The targets sub/fifo,
// sub/folder, sub/real.json (period 250) and sub/link.json (a link to it) exist beforehand.
bool make(const QString &name, const QString &kind, qint64 size = 0)
{
    const QByteArray path = QFile::encodeName(name);
    if (kind == "file")
        return SettingsDir::write(name, paddedSettings(size));
    if (kind == "fifo")
        return ::mkfifo(path.constData(), 0600) == 0;
    if (kind == "directory")
        return QDir().mkdir(name);
    if (kind == "char device") // the numbers of /dev/null, in a node of our own
        return ::mknod(path.constData(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    if (kind == "sparse 200 MB") {
        // Starts like a good settings file; holes make up the rest without using the disk.
        QFile file(name);
        return file.open(QIODevice::WriteOnly) && file.write(paddedSettings(64)) == 64
                && file.resize(200 * mebibyte);
    }
    if (kind.startsWith("link to "))
        return QFile::link(kind.mid(8), name);
    return false;
}

bool makeTargets()
{
    return QDir().mkdir("sub") && make("sub/fifo", "fifo") && make("sub/folder", "directory")
            && make("sub/real.json", "file", 64) && make("sub/link.json", "link to real.json");
}
#else
const bool unixFiles = false;
QString typeOf(const QString &) { return QString(); }
bool make(const QString &, const QString &, qint64 = 0) { return false; }
bool makeTargets() { return false; }
#endif

} // namespace

void TestConfigFiles::init()
{
    dir.reset(new SettingsDir);
    QVERIFY(dir->isValid());
}

void TestConfigFiles::cleanup()
{
    dir.reset();
}

void TestConfigFiles::backupOfUnparsableFile_data()
{
    QTest::addColumn<QByteArray>("text");   // empty: no settings file
    QTest::addColumn<bool>("hasOlderBackup");
    QTest::addColumn<QString>("then");      // before the save: "reload" a mended file, "restore" defaults
    QTest::addColumn<bool>("backedUp");

    const QByteArray good = R"({"modbusDisplay": {"period": 250}})";
    const QByteArray typo = R"({"destDir": "D:/deploy", "modbusDisplay": {"period": 250,}})";
    QTest::newRow("trailing comma typed by hand") << typo << false << "" << true;
    QTest::newRow("older backup replaced") << typo << true << "" << true;
    QTest::newRow("truncated") << QByteArray(R"({"modbusDisplay": {"period": 5, "isRep)") << false << "" << true;
    QTest::newRow("top level array") << QByteArray(R"([{"modbusDisplay": {"period": 5}}])") << false << "" << true;
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe{", 4) << false << "" << true;
    QTest::newRow("whitespace only") << QByteArray(" \n") << false << "" << true;

    QTest::newRow("good file") << good << false << "" << false;
    QTest::newRow("good file, older backup untouched") << good << true << "" << false;
    QTest::newRow("object with wrong types") << QByteArray(R"({"serialport": 5})") << false << "" << false;
    QTest::newRow("no file") << QByteArray() << false << "" << false;
    QTest::newRow("unparsable, then mended before a reload") << typo << false << "reload" << false;
    QTest::newRow("unparsable, then defaults restored") << typo << false << "restore" << false;
}

void TestConfigFiles::backupOfUnparsableFile()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, hasOlderBackup);
    QFETCH(QString, then);
    QFETCH(bool, backedUp);

    if (!text.isEmpty())
        QVERIFY(SettingsDir::write(settingsName, text));
    if (hasOlderBackup)
        QVERIFY(SettingsDir::write(backupName, olderBackup));
    MyConfig::load();
    if (then == "reload") {
        QVERIFY(SettingsDir::write(settingsName, R"({"modbusDisplay": {"period": 250}})"));
        MyConfig::load();
    } else if (then == "restore") {
        MyConfig::restoreDefaults();
    }
    // Loading alone never writes.
    QCOMPARE(QFile::exists(backupName), hasOlderBackup);

    MyConfig::regsLenRead = 20;
    QVERIFY(MyConfig::save());
    QCOMPARE(SettingsDir::read(settingsName), MyConfig::toJson());
    if (backedUp)
        QCOMPARE(SettingsDir::read(backupName), text);
    else if (hasOlderBackup)
        QCOMPARE(SettingsDir::read(backupName), olderBackup);
    else
        QVERIFY(!QFile::exists(backupName));
    QCOMPARE(dir->entries().size(), backedUp || hasOlderBackup ? 2 : 1);
}

void TestConfigFiles::failedBackupKeepsFile()
{
    // The backup's name is taken by a directory: the file that holds the hand-made values is
    // not replaced without its backup.
    const QByteArray typo = R"({"modbusDisplay": {"period": 250,}})";
    QVERIFY(SettingsDir::write(settingsName, typo));
    QVERIFY(QDir().mkdir(backupName));
    MyConfig::load();

    QVERIFY(!MyConfig::save());
    QCOMPARE(SettingsDir::read(settingsName), typo);
    QVERIFY(entriesOf(backupName).isEmpty());
    QCOMPARE(dir->entries(), QStringList({ settingsName, backupName }));
}

void TestConfigFiles::loadReadsOnlySmallRegularFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("period"); // 250 when the file was read, else the default 1000
    QTest::addColumn<bool>("saves"); // whether save() then writes the name (never a device)

    QTest::newRow("exactly 1 MiB") << "file" << mebibyte << 250 << true;
    QTest::newRow("link to a regular file") << "link to sub/real.json" << qint64(0) << 250 << true;
    QTest::newRow("link to a link to a regular file") << "link to sub/link.json" << qint64(0) << 250 << true;
    QTest::newRow("1 MiB and one byte") << "file" << mebibyte + 1 << 1000 << true;
    QTest::newRow("200 MB") << "sparse 200 MB" << qint64(0) << 1000 << true;
    QTest::newRow("dangling link") << "link to sub/nowhere.json" << qint64(0) << 1000 << true;
    QTest::newRow("FIFO") << "fifo" << qint64(0) << 1000 << false;
    QTest::newRow("link to a FIFO") << "link to sub/fifo" << qint64(0) << 1000 << false;
    QTest::newRow("directory") << "directory" << qint64(0) << 1000 << false;
    QTest::newRow("link to /dev/zero") << "link to /dev/zero" << qint64(0) << 1000 << false;
    QTest::newRow("link to /dev/urandom") << "link to /dev/urandom" << qint64(0) << 1000 << false;
}

void TestConfigFiles::loadReadsOnlySmallRegularFiles()
{
    QFETCH(QString, kind);
    QFETCH(qint64, size);
    QFETCH(int, period);
    QFETCH(bool, saves);
    if (!unixFiles)
        QSKIP("FIFOs, device nodes and links are made with Unix calls");
    QVERIFY(makeTargets());
    QVERIFY(make(settingsName, kind, size));

    // Neither waits for a writer nor reads without end: what is not read leaves the defaults,
    // as a missing file does.
    MyConfig::load();
    QCOMPARE(MyConfig::period, period);
    if (!saves)
        return;
    // Not read is not unparsable: no backup.
    QVERIFY(MyConfig::save());
    QVERIFY(!QFile::exists(backupName));
    QCOMPARE(SettingsDir::read(settingsName), MyConfig::toJson());
}

void TestConfigFiles::saveWritesOnlyRegularFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("written"); // the file that receives the text; empty: refused

    QTest::newRow("link to a regular file") << "link to sub/real.json" << "sub/real.json";
    QTest::newRow("link to a link to a regular file") << "link to sub/link.json" << "sub/real.json";
    QTest::newRow("dangling link") << "link to sub/new.json" << "sub/new.json";
    QTest::newRow("FIFO") << "fifo" << "";
    QTest::newRow("link to a FIFO") << "link to sub/fifo" << "";
    QTest::newRow("link to a link to a FIFO") << "link to sub/fifolink" << "";
    QTest::newRow("link to a directory") << "link to sub/folder" << "";
    QTest::newRow("link to a character device") << "link to sub/null" << "";
}

void TestConfigFiles::saveWritesOnlyRegularFiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, written);
    if (!unixFiles)
        QSKIP("FIFOs, device nodes and links are made with Unix calls");
    QVERIFY(makeTargets());
    QVERIFY(make("sub/fifolink", "link to fifo"));
    if (kind.endsWith("sub/null") && !make("sub/null", "char device"))
        QSKIP("device nodes cannot be made here");
    QVERIFY(make(settingsName, kind));
    const bool link = QFileInfo(settingsName).isSymLink();
    const QString linkTarget = QFileInfo(settingsName).symLinkTarget();
    const QString type = typeOf(settingsName);
    const QStringList sub = entriesOf("sub");

    MyConfig::period = 300;
    QCOMPARE(MyConfig::save(), !written.isEmpty());

    // A link stays a link to the same place, and nothing is left beside the name or beside
    // what it leads to.
    QCOMPARE(QFileInfo(settingsName).isSymLink(), link);
    QCOMPARE(QFileInfo(settingsName).symLinkTarget(), linkTarget);
    QCOMPARE(dir->entries(), QStringList({ settingsName, "sub" }));
    QCOMPARE(typeOf("sub/fifo"), QString("fifo"));
    QVERIFY(entriesOf("sub/folder").isEmpty());
    if (kind.endsWith("sub/null"))
        QCOMPARE(typeOf("sub/null"), QString("char device"));
    if (written.isEmpty()) {
        QCOMPARE(typeOf(settingsName), type);
        QCOMPARE(entriesOf("sub"), sub);
        QCOMPARE(SettingsDir::read("sub/real.json"), paddedSettings(64));
        return;
    }
    QCOMPARE(SettingsDir::read(written), MyConfig::toJson());
    MyConfig::restoreDefaults();
    MyConfig::load();
    QCOMPARE(MyConfig::period, 300);
}

QTEST_GUILESS_MAIN(TestConfigFiles)
#include "tst_configfiles.moc"
