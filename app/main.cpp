#include "logging.h"
#include "mainwindow.h"
#include "myconfig.h"
#include "platform.h"
#include "stopsignals.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QTextCodec>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // The menu entry's id: the desktop's task bar finds the entry's name and icon by it. The
    // icon installed with it, where there is one, is the windows' icon as well.
    const QString id = QStringLiteral("org.rurodur.Rurodur");
    QGuiApplication::setDesktopFileName(id);
    if (QIcon::hasThemeIcon(id))
        QApplication::setWindowIcon(QIcon::fromTheme(id));

    // Portable: everything beside the executable. Installed: the user's folders, the program
    // directory made at first start with the sample workbook in it.
    const Platform::Locations locations =
            Platform::locationsFor(QCoreApplication::applicationFilePath());
    if (!Platform::prepareLocations(locations))
        qCWarning(lcSettings).noquote() << "cannot prepare" << locations.programDir << "and"
                                        << locations.settingsDir;
    Platform::setLocations(locations);

    // Every relative path (protocol file, tools) is resolved in the program directory.
    if (!QDir::setCurrent(locations.programDir))
        qCWarning(lcSettings).noquote() << "cannot enter the program directory" << locations.programDir;

    // A termination request closes the windows as the user would, so the settings and the
    // geometry are written; a second one ends the process at once. In place before the
    // settings are read (tests/installed waits for that line before it signals).
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &application, []() {
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    });

    // Named after the first argument as given, not after the resolved file path, so a renamed
    // copy keeps its own settings file and geometry entry.
    MyConfig::programName = Platform::programNameFromArgv0(Platform::firstArgument(argv[0]));

    MyConfig::load();

    QTextCodec::setCodecForLocale(QTextCodec::codecForName("utf-8"));

    int result = 0;
    {
        MainWindow window;
        window.setWindowTitle(MyConfig::programName);
        window.show();
        result = application.exec();
        // The window's destructor writes the settings and the geometry here.
    }
    return result;
}
