#include "app/mainwindow.h"
#include "app/windowlanguage.h"
#include "core/appversion.h"
#include "core/debugtrace.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>

namespace {

// Every offered style is applied in turn; the last one stays, with a font sized to the
// primary screen (a 1920-pixel screen gives 11 pt).
void applyStyleAndFont()
{
    for (const QString &name : QStyleFactory::keys()) {
        QStyle *style = QStyleFactory::create(name);
        QApplication::setStyle(style);
        QFont font = QApplication::font();
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            font.setPointSize(qMax(1, screen->geometry().width() / 170));
        QApplication::setFont(font);
    }
}

void parseCommandLine(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes new firmware into radio modules, demo boards and gateways through their bootloader, over a\n"
        "serial port or through an MQTT broker and a radio gateway. The window reads project.conf,\n"
        "startContent.html (startContent_en.html in English) and app.ico from the working directory, or\n"
        "else from the installed data folder. It speaks Chinese or English: the language chosen in its\n"
        "menu, else PLOVIKKIT_LANG=zh|en, else Chinese for a Chinese locale and English for any other."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);
}

// --help and --version print and end the process inside parseCommandLine; they need no display,
// so they are answered before the window's application object would look for one (the restart
// script asks a new build for its version to see that it starts).
void answerTextOptions(int &argc, char *argv[])
{
    const QStringList textOptions{"-h", "--help", "-?", "--help-all", "-v", "--version"};
    for (int i = 1; i < argc; ++i) {
        if (textOptions.contains(QString::fromLocal8Bit(argv[i]))) {
            QCoreApplication app(argc, argv);
            parseCommandLine(app);
        }
    }
}

} // namespace

int main(int argc, char *argv[])
{
    // The toolkit reads this attribute only before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QCoreApplication::setApplicationName(QStringLiteral("plovikKit"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PLOVIKKIT_VERSION));
    answerTextOptions(argc, argv);
    QApplication app(argc, argv);
    DebugTrace::useMessageOnlyPattern();
    parseCommandLine(app);
    applyStyleAndFont();
    // Before the first window exists: every text is translated as its widget is built.
    WindowLanguage::install(WindowLanguage::forThisStart());

    MainWindow window;
    window.show();
    return app.exec();
}
