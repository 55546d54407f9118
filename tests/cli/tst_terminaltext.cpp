// What a terminal is sent of names and device texts: nothing that moves the cursor or turns the
// line around, and columns counted as the terminal counts them.
#include "cli/terminaltext.h"

#include <QtTest>

class tst_TerminalText : public QObject
{
    Q_OBJECT

private slots:
    void shownAsTheTerminalShowsIt_data();
    void shownAsTheTerminalShowsIt();
};

void tst_TerminalText::shownAsTheTerminalShowsIt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("escaped");
    QTest::addColumn<int>("width");   // of the escaped text
    QTest::addColumn<QString>("cut"); // the escaped text fitted to 5 columns

    QTest::newRow("plain") << "GW7"
                           << "GW7" << 3 << "GW7";
    QTest::newRow("CJK takes two columns") << "网关七号"
                                           << "网关七号" << 8 << "网关…";
    QTest::newRow("a combining mark takes none") << "e\u0301e\u0301e\u0301"
                                                 << "e\u0301e\u0301e\u0301" << 3 << "e\u0301e\u0301e\u0301";
    QTest::newRow("beyond the first plane")
        << QString::fromUcs4(U"\U0001F600x") << QString::fromUcs4(U"\U0001F600x") << 3
        << QString::fromUcs4(U"\U0001F600x");
    QTest::newRow("a clear-screen sequence") << "G\x1b[2J"
                                             << "G\\x1B[2J" << 8 << "G\\x1…";
    QTest::newRow("a line end and a NUL")
        << QString::fromLatin1("a\nb\0", 4) << "a\\x0Ab\\x00" << 10 << "a\\x0…";
    QTest::newRow("C1 control") << "a\u009bb"
                                << "a\\x9Bb" << 6 << "a\\x9…";
    QTest::newRow("a direction override") << "GW\u202E1"
                                          << "GW\\u202E1" << 9 << "GW\\u…";
}

void tst_TerminalText::shownAsTheTerminalShowsIt()
{
    QFETCH(QString, text);
    QFETCH(QString, escaped);
    QFETCH(int, width);
    QFETCH(QString, cut);
    QCOMPARE(TerminalText::escaped(text), escaped);
    QCOMPARE(TerminalText::forbiddenCharacter(text).isNull(), text == escaped);
    QCOMPARE(TerminalText::width(escaped), width);
    QCOMPARE(TerminalText::fitted(escaped, 5), cut);
    QCOMPARE(TerminalText::width(TerminalText::padded(escaped, 9)), qMax(9, width));
}

QTEST_GUILESS_MAIN(tst_TerminalText)
#include "tst_terminaltext.moc"
