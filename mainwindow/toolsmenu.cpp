#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "logging.h"
#include "myconfig.h"
#include "platform.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QIcon>
#include <QMessageBox>
#include <QProcess>

void MainWindow::addToolEntries()
{
    // Built once: a program added to the directory later appears at the next start.
    const QStringList names = Platform::toolEntryNames(QDir::currentPath());
    const QIcon icon(QStringLiteral(":myImage/0000_1.png"));
    for (const QString &name : names) {
        QString text = Platform::toolEntryText(name);
        // A menu would take a single "&" as a shortcut marker and swallow it.
        text.replace(QLatin1Char('&'), QLatin1String("&&"));
        auto *action = new QAction(icon, text, this);
        action->setData(name);
        ui->menu_tool->addAction(action);
    }
}

void MainWindow::pluginSlot(QAction *action)
{
    if (!action)
        return;
    qCDebug(lcSettings) << action->text();
    qCDebug(lcSettings) << action->data().toString();

    // The fixed entries carry no file name; release has a slot of its own.
    QString fileName;
    if (action->data().isNull()) {
        if (action->text() != tr("打开程序目录"))
            return;
    } else {
        fileName = action->data().toString();
    }

    // The directory as it is now, at the click, not as it was at start-up.
    const Platform::ToolLaunch launch = Platform::toolLaunch(QDir::currentPath(), fileName);
    // A tool that vanished or that the platform refuses is not reported.
    if (launch.kind == Platform::ToolLaunch::StartDetached)
        QProcess::startDetached(launch.program, QStringList(), launch.workingDirectory);
    else
        QDesktopServices::openUrl(launch.url);
}

void MainWindow::on_actionrelease_triggered()
{
    const QString fileName = MyConfig::programName + Platform::executableSuffix();
    const QString target = MyConfig::destDir + QLatin1Char('/') + fileName;
    qCDebug(lcSettings) << target;

    // An empty deployment directory would put the copy at the root of the file system.
    const bool copied = !MyConfig::destDir.isEmpty()
            && Platform::copyProgram(Platform::releaseSource(MyConfig::programName), target);
    if (!copied)
        QMessageBox::warning(this, tr("复制失败"), tr("权限不够或者正在运行."));
}
