#include "app/accountlogin.h"
#include "app/console/appstartmessage.h"
#include "app/mainwindow.h"
#include "app/mymqttconfig.h"
#include "app/windowlanguage.h"

#include <QAbstractItemView>
#include <QAction>
#include <QMessageBox>
#include <QMetaProperty>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Every text a widget shows: its string properties (text, title, tool tip, placeholder, suffix,
// ...), its actions (menus), its tabs, and its item view's headers and cells.
QStringList textsOf(QWidget *widget)
{
    QStringList texts;
    for (int i = 0; i < widget->metaObject()->propertyCount(); ++i)
        texts << widget->metaObject()->property(i).read(widget).toStringList();
    for (QAction *action : widget->actions())
        texts << action->text() << action->toolTip();
    for (int tab = 0; qobject_cast<QTabBar *>(widget) && tab < static_cast<QTabBar *>(widget)->count(); ++tab)
        texts << static_cast<QTabBar *>(widget)->tabText(tab);
    const QAbstractItemModel *model = qobject_cast<QAbstractItemView *>(widget)
                                          ? static_cast<QAbstractItemView *>(widget)->model()
                                          : nullptr;
    for (int column = 0; model && column < model->columnCount(); ++column) {
        texts << model->headerData(column, Qt::Horizontal).toString();
        for (int row = 0; row < model->rowCount(); ++row)
            texts << model->index(row, column).data().toString();
    }
    return texts;
}

// "class objectName: text" of each text with a CJK ideograph, kana or full-width form in any window.
QStringList chineseTexts()
{
    QStringList found;
    const QRegularExpression cjk(
        QStringLiteral("[\\x{3000}-\\x{30ff}\\x{3400}-\\x{9fff}\\x{f900}-\\x{faff}\\x{ff00}-\\x{ffef}]"));
    for (QWidget *top : QApplication::topLevelWidgets()) {
        QWidgetList widgets = top->findChildren<QWidget *>();
        for (QWidget *widget : widgets << top)
            for (const QString &text : textsOf(widget).filter(cjk))
                found << QStringLiteral("%1 %2: %3")
                             .arg(widget->metaObject()->className(), widget->objectName(), text);
    }
    return found;
}

// The same while the modal window that `open` shows is up; it is closed after.
QStringList chineseTextsInside(const std::function<void()> &open)
{
    QStringList found{QStringLiteral("(no modal window)")};
    QTimer::singleShot(0, [&found] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            found = chineseTexts();
            modal->close();
        }
    });
    open();
    return found;
}

} // namespace

class tst_I18n : public QObject
{
    Q_OBJECT

private slots:
    void languageChoice_data();
    void languageChoice();
    void englishWindowsHaveNoChinese();
};

void tst_I18n::languageChoice_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("english");
    const auto row = [](const char *name, const char *menu, const char *environment, const char *locale,
                        bool english) { QTest::newRow(name) << menu << environment << locale << english; };
    row("Chinese locale", "", "", "zh_TW", false);
    row("other locale", "", "", "de_DE", true);
    row("environment over locale", "", "en", "zh_CN", true);
    row("environment zh", "", " ZH ", "en_US", false);
    row("unknown environment", "", "fr", "zh_CN", false);
    row("menu over environment", "zh", "en", "en_US", false);
    row("menu en", "en", "zh", "zh_CN", true);
}

void tst_I18n::languageChoice()
{
    QFETCH(QString, menu);
    QFETCH(QString, environment);
    QFETCH(QString, locale);
    QFETCH(bool, english);
    QCOMPARE(WindowLanguage::choose(menu, environment, QLocale(locale)) == WindowLanguage::Language::English,
             english);
}

// Opens every window, page, dialog and message box the tool shows without a device, in English.
void tst_I18n::englishWindowsHaveNoChinese()
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    for (const char *file : {"startContent.html", "startContent_en.html", "project.conf"})
        QVERIFY(QFile::copy(QStringLiteral(PLOVIKKIT_SOURCE_DIR "/dist/") + file, file));
    QVERIFY(WindowLanguage::install(WindowLanguage::Language::English));
    MainWindow window;
    window.show();
    const auto startPageShown = [] {
        const QWidgetList windows = QApplication::topLevelWidgets();
        return std::any_of(windows.begin(), windows.end(),
                           [](QWidget *w) { return qobject_cast<appStartMessage *>(w); });
    };
    QTRY_VERIFY(startPageShown());
    window.findChild<QAction *>(QStringLiteral("action_mqttParams"))->trigger();
    window.mqttWindow()->pushButton_mqtt_clearBuffer->click();
    window.findChild<QAction *>(QStringLiteral("action_language_zh"))->trigger();
    QVERIFY(window.findChild<QMessageBox *>(QStringLiteral("messageBox_languageNextStart")));
    QCOMPARE(WindowLanguage::rememberedCode(), QStringLiteral("zh"));
    QWidget *account = window.account()->openAccountWindow();
    QStringList found =
        chineseTextsInside([account] { account->findChildren<QPushButton *>().first()->click(); });
    found << chineseTextsInside(
        [&window] { window.findChild<QAction *>(QStringLiteral("action_historySettings"))->trigger(); });
    for (const QString &text : qAsConst(found))
        qWarning().noquote() << "Chinese in English:" << text;
    QCOMPARE(found.size(), 0);
}

QTEST_MAIN(tst_I18n)
#include "tst_i18n.moc"
