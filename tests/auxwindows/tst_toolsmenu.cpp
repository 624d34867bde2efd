#include "modalcatcher.h"
#include "myconfig.h"
#include "platform.h"
#include "windowfixture.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QFileDevice::Permissions plainFile =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
const QFileDevice::Permissions executableFile =
        plainFile | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;

bool writeFile(const QString &path, const QByteArray &content, QFileDevice::Permissions permissions)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return false;
    file.close();
    return file.setPermissions(permissions);
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entriesOf(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

// Stands in for the desktop's handler of file URLs, so nothing is really opened.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

enum class ReleaseFailure { MissingDeployDirectory, EmptyDeployDirectory, MissingSource,
                            SourceIsDirectory, TargetIsDirectory };
Q_DECLARE_METATYPE(ReleaseFailure)

class tst_ToolsMenu : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void resourcesLoad_data();
    void resourcesLoad();

    void menuListsTools();
    void choosingToolStartsIt_data();
    void choosingToolStartsIt();
    void openDirectoryEntry();
    void releaseEntryOpensNothing();

    void releaseTwice();
    void releaseFails_data();
    void releaseFails();

private:
    void createWindow();
    QAction *action(const QString &text) const;

    // The program directory: the fixture's sandbox, current while a test runs.
    QString programDir() const { return m_f->directory(); }
    QString inProgramDir(const QString &name) const { return m_f->path(name); }

    std::unique_ptr<WindowFixture> m_f;
    std::unique_ptr<QTemporaryDir> m_outside;
    MainWindow *m_window = nullptr;
    UrlRecorder m_urls;
};

void tst_ToolsMenu::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_urls, "open");
}

void tst_ToolsMenu::init()
{
    m_urls.urls.clear();
    m_f = std::make_unique<WindowFixture>(QStringLiteral("tst_toolsmenu"));
    m_outside.reset(new QTemporaryDir);
    QVERIFY(m_f->isValid());
    QVERIFY(m_outside->isValid());

    // Each tool records where it ran, into a file outside the program directory.
    const auto tool = [this](const QString &name) {
        const QByteArray script = "#!/bin/sh\npwd -P > '" + m_outside->filePath(name + ".ran").toUtf8() + "'\n";
        return writeFile(inProgramDir(name), script, executableFile);
    };
    QVERIFY(tool("Alpha"));
    QVERIFY(tool("beta"));
    QVERIFY(tool("tool.1.2"));
    QVERIFY(tool("Zulu"));
    QVERIFY(writeFile(inProgramDir("notes.txt"), "notes", plainFile));
    QVERIFY(QDir(programDir()).mkdir("subdir"));
}

void tst_ToolsMenu::cleanup()
{
    m_window = nullptr;
    m_f.reset();
    m_outside.reset();
}

void tst_ToolsMenu::createWindow()
{
    m_window = m_f->create();
}

QAction *tst_ToolsMenu::action(const QString &text) const
{
    const auto *menu = m_window->findChild<QMenu *>("menu_tool");
    if (!menu)
        return nullptr;
    const QList<QAction *> actions = menu->actions();
    for (QAction *entry : actions) {
        if (entry->text() == text)
            return entry;
    }
    return nullptr;
}

void tst_ToolsMenu::resourcesLoad_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("COM entry icon") << ":/myImage/lwarranty0.ico";
    QTest::newRow("tool entry icon, no slash after the colon") << ":myImage/0000_1.png";
    QTest::newRow("tool entry icon, with slash") << ":/myImage/0000_1.png";
}

void tst_ToolsMenu::resourcesLoad()
{
    QFETCH(QString, path);
    QVERIFY(QFile::exists(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.size() > 0);
    QImage image;
    QVERIFY(image.load(path));
    QVERIFY(image.width() >= 16 && image.height() >= 16);
    const QIcon icon(path);
    QVERIFY(!icon.isNull());
    QVERIFY(!icon.pixmap(16, 16).isNull());
}

void tst_ToolsMenu::menuListsTools()
{
    createWindow();
    const auto *menu = m_window->findChild<QMenu *>("menu_tool");
    QVERIFY(menu);
    QStringList texts;
    QList<QVariant> data;
    const QList<QAction *> actions = menu->actions();
    for (const QAction *entry : actions) {
        texts << entry->text();
        data << entry->data();
    }
    // Fixed entries first, then the programs ignoring letter case; not notes.txt, not subdir.
    QCOMPARE(texts, (QStringList{ QString::fromUtf8("打开程序目录"), QString::fromUtf8("发布"),
                                  "Alpha", "beta", "tool", "Zulu" }));
    QCOMPARE(data, (QList<QVariant>{ QVariant(), QVariant(), QString("Alpha"), QString("beta"),
                                     QString("tool.1.2"), QString("Zulu") }));
    QCOMPARE(actions.at(0), m_window->findChild<QAction *>("actionopenDir"));
    QCOMPARE(actions.at(1), m_window->findChild<QAction *>("actionrelease"));
    for (int i = 2; i < actions.size(); ++i) {
        QVERIFY(!actions.at(i)->icon().pixmap(16, 16).isNull());
        QCOMPARE(actions.at(i)->parent(), m_window);
    }
    const auto *com = m_window->findChild<QAction *>("actionCOM");
    QVERIFY(com && !com->icon().pixmap(16, 16).isNull());

    // Listed once, at construction: a program added later is not offered.
    QVERIFY(writeFile(inProgramDir("Later"), "#!/bin/sh\n", executableFile));
    QVERIFY(!action("Later"));
}

void tst_ToolsMenu::choosingToolStartsIt_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("Alpha") << "Alpha" << "Alpha";
    QTest::newRow("name cut at the first dot") << "tool" << "tool.1.2";
}

void tst_ToolsMenu::choosingToolStartsIt()
{
    QFETCH(QString, entry);
    QFETCH(QString, fileName);

    createWindow();
    QAction *tool = action(entry);
    QVERIFY(tool);
    tool->trigger();

    const QString marker = m_outside->filePath(fileName + ".ran");
    QTRY_VERIFY_WITH_TIMEOUT(contentOf(marker).endsWith('\n'), 10000);
    QCOMPARE(QString::fromUtf8(contentOf(marker)).trimmed(), QFileInfo(programDir()).canonicalFilePath());
    // Only the chosen one ran, and nothing went to the desktop's handler.
    QCOMPARE(entriesOf(m_outside->path()), QStringList{ fileName + ".ran" });
    QVERIFY(m_urls.urls.isEmpty());
}

void tst_ToolsMenu::openDirectoryEntry()
{
    createWindow();
    QAction *openDir = m_window->findChild<QAction *>("actionopenDir");
    QVERIFY(openDir);
    openDir->trigger();
    QCOMPARE(m_urls.urls.size(), 1);
    QCOMPARE(m_urls.urls.first(), QUrl::fromLocalFile(programDir() + "/"));
    QVERIFY(m_urls.urls.first().toString().endsWith('/'));

    // The directory current at the click, not the one at start-up.
    QVERIFY(QDir::setCurrent(m_outside->path()));
    openDir->trigger();
    QCOMPARE(m_urls.urls.size(), 2);
    QCOMPARE(m_urls.urls.last(), QUrl::fromLocalFile(m_outside->path() + "/"));
    QVERIFY(QDir::setCurrent(programDir()));
}

void tst_ToolsMenu::releaseEntryOpensNothing()
{
    createWindow();
    MyConfig::destDir = m_outside->path();
    QVERIFY(writeFile(inProgramDir(MyConfig::programName), "program", executableFile));
    ModalCatcher catcher;
    m_window->findChild<QAction *>("actionrelease")->trigger();
    QCOMPARE(catcher.count(), 0);
    QVERIFY(m_urls.urls.isEmpty());
    QCOMPARE(entriesOf(m_outside->path()), QStringList{ MyConfig::programName });
}

void tst_ToolsMenu::releaseTwice()
{
    createWindow();
    const QString deploy = m_outside->filePath("deploy");
    QVERIFY(QDir().mkpath(deploy));
    MyConfig::destDir = deploy;
    const QString program = MyConfig::programName;
    QAction *release = m_window->findChild<QAction *>("actionrelease");
    QVERIFY(release);
    ModalCatcher catcher;

    QVERIFY(writeFile(inProgramDir(program), "first build", executableFile));
    release->trigger();
    QCOMPARE(contentOf(deploy + "/" + program), QByteArray("first build"));
    QVERIFY(QFileInfo(deploy + "/" + program).isExecutable());

    QVERIFY(writeFile(inProgramDir(program), "second build", executableFile));
    release->trigger();
    QCOMPARE(contentOf(deploy + "/" + program), QByteArray("second build"));
    QVERIFY(QFileInfo(deploy + "/" + program).permissions() & QFileDevice::ExeOwner);

    QCOMPARE(catcher.count(), 0);
    QCOMPARE(entriesOf(deploy), QStringList{ program });
}

void tst_ToolsMenu::releaseFails_data()
{
    QTest::addColumn<ReleaseFailure>("failure");
    QTest::newRow("deployment directory missing") << ReleaseFailure::MissingDeployDirectory;
    QTest::newRow("deployment directory empty") << ReleaseFailure::EmptyDeployDirectory;
    QTest::newRow("own program missing") << ReleaseFailure::MissingSource;
    QTest::newRow("own program is a directory") << ReleaseFailure::SourceIsDirectory;
    QTest::newRow("target taken by a directory") << ReleaseFailure::TargetIsDirectory;
}

void tst_ToolsMenu::releaseFails()
{
    QFETCH(ReleaseFailure, failure);

    createWindow();
    const QString program = MyConfig::programName;
    const QString deploy = m_outside->filePath("deploy");
    QVERIFY(QDir().mkpath(deploy));
    const QByteArray oldProgram("old release");
    QVERIFY(writeFile(deploy + "/" + program, oldProgram, executableFile));
    QVERIFY(writeFile(inProgramDir(program), "new build", executableFile));
    MyConfig::destDir = deploy;

    switch (failure) {
    case ReleaseFailure::MissingDeployDirectory:
        MyConfig::destDir = m_outside->filePath("missing");
        break;
    case ReleaseFailure::EmptyDeployDirectory:
        MyConfig::destDir.clear();
        break;
    case ReleaseFailure::MissingSource:
        QVERIFY(QFile::remove(inProgramDir(program)));
        break;
    case ReleaseFailure::SourceIsDirectory:
        QVERIFY(QFile::remove(inProgramDir(program)));
        QVERIFY(QDir(programDir()).mkdir(program));
        break;
    case ReleaseFailure::TargetIsDirectory:
        // Replacing a non-empty directory by a file fails even for root.
        MyConfig::destDir = m_outside->filePath("taken");
        QVERIFY(QDir().mkpath(MyConfig::destDir + "/" + program + "/inside"));
        break;
    }

    ModalCatcher catcher;
    m_window->findChild<QAction *>("actionrelease")->trigger();
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.last().title, QString::fromUtf8("复制失败"));
    QCOMPARE(catcher.last().text, QString::fromUtf8("权限不够或者正在运行."));

    // The released program is untouched and nothing was created anywhere.
    QCOMPARE(contentOf(deploy + "/" + program), oldProgram);
    QCOMPARE(entriesOf(deploy), QStringList{ program });
    QVERIFY(!QFileInfo::exists(m_outside->filePath("missing")));
    QVERIFY(!QFileInfo::exists("/" + program));
    if (failure == ReleaseFailure::TargetIsDirectory)
        QCOMPARE(entriesOf(MyConfig::destDir + "/" + program), QStringList{ "inside" });
}

QTEST_MAIN(tst_ToolsMenu)
#include "tst_toolsmenu.moc"
