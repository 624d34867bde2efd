#include "mainwindow.h"
#include "myconfig.h"
#include "platform.h"

#include <QApplication>
#include <QDir>
#include <QTextCodec>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);

    // Every relative path (settings, protocol file, tools) is resolved next to the executable.
    QDir::setCurrent(QCoreApplication::applicationDirPath());

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
