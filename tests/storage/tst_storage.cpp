#include "platform/platformpaths.h"
#include "storage/configini.h"
#include "storage/imagesource.h"
#include "storage/nativefile.h"
#include "storage/settingskeys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaMethod>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

#include <memory>

namespace {

const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
const QFileDevice::Permissions groupOrOther = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                              QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                              QFileDevice::WriteOther | QFileDevice::ExeOther;

QRegularExpression moduleTrace(const QString &function, const QString &message)
{
    return QRegularExpression(
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d - \\[Info \\] \\(nativefile\\.cpp-\\d+ %1\\): +%2$")
            .arg(function, message));
}

void writeRaw(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readRaw(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Line breaks are the platform's; reading in text mode makes the expected text portable.
QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromUtf8(file.readAll()) : QString();
}

bool isOwnerOnly(const QString &path)
{
    const QFileDevice::Permissions permissions = QFile::permissions(path);
    return (permissions & ownerOnly) == ownerOnly && !(permissions & groupOrOther);
}

} // namespace

class tst_Storage : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir configHome;
    QString defaultFolder;
    QString defaultName;

private slots:
    void initTestCase();
    void cleanup();

    void slotsKeepTheirOrder();
    void defaultFolderLivesUnderConfigHome();
    void writeItem_fileText_data();
    void writeItem_fileText();
    void readItem_absentValue_data();
    void readItem_absentValue();
    void listForms_data();
    void listForms();
    void defaultForms_emptyDefault_data();
    void defaultForms_emptyDefault();
    void writeItem_folder_data();
    void writeItem_folder();
    void getFileContent_data();
    void getFileContent();
    void fileFacts();
    void imageSource_followsChange();
    void fileFacts_noRegularFile_data();
    void fileFacts_noRegularFile();
    void corruptStore_keptAside_data();
    void corruptStore_keptAside();
    void corruptStore_secondCopyKeepsFirst();
    void storeFile_ownerOnly();
    void writeFailure_keepsOldContent_data();
    void writeFailure_keepsOldContent();
    void configIni_ownerOnly();
    void configIni_recreatedFileOwnerOnly();
    void configIni_unreadableFileKeptAside();
    void configIni_rawUtf8ReadAndRewrittenInDefaultForm();
    void configIni_notWrittenThroughLinks_data();
    void configIni_notWrittenThroughLinks();
};

void tst_Storage::initTestCase()
{
    // Before the store's defaults are first used, so that they, and config.ini, land in a folder
    // of this run and never in the user's own configuration.
    QVERIFY(configHome.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    NativeFile store;
    defaultFolder = store.getPath();
    defaultName = store.getName();
}

void tst_Storage::cleanup()
{
    NativeFile().setPath_name(defaultFolder, defaultName);
}

void tst_Storage::slotsKeepTheirOrder()
{
    // Callers invoke the slots by name and index, so their order is part of the interface.
    const QStringList expected = {
        "setPath_name(QString,QString)",
        "getPath()",
        "getName()",
        "getFileContent(QString,QString*)",
        "getFileContent(QString,QByteArray*)",
        "getFileCreatedTime(QString)",
        "getFileName(QString)",
        "getFileOwner(QString)",
        "writeItem(QString,QString,QString,QString)",
        "writeItem(QString,QString,QString,QStringList)",
        "writeItem(QString,QString)",
        "writeItem(QString,QStringList)",
        "readItem(QString,QString,QString,QString*)",
        "readItem(QString,QString,QString,QStringList*)",
        "readItem(QString,QString*)",
        "readItem(QString,QStringList*)",
    };
    const QMetaObject &meta = NativeFile::staticMetaObject;
    QStringList actual;
    for (int index = meta.methodOffset(); index < meta.methodCount(); ++index) {
        QCOMPARE(meta.method(index).methodType(), QMetaMethod::Slot);
        actual << QString::fromLatin1(meta.method(index).methodSignature());
    }
    QCOMPARE(actual, expected);
}

void tst_Storage::defaultFolderLivesUnderConfigHome()
{
#ifdef Q_OS_WIN
    QSKIP("Windows keeps the store in the public folder");
#endif
    QCOMPARE(defaultFolder, configHome.path() + "/FERNO-FLASH_PROGRAMER");
    QCOMPARE(defaultName, QStringLiteral("WORK_PARAMS.txt"));

    NativeFile store;
    QVERIFY(store.writeItem(SettingsKeys::getFirmwareAccount, QStringLiteral("demo")));
    QString value;
    QVERIFY(store.readItem(configHome.path() + "/FERNO-FLASH_PROGRAMER", "WORK_PARAMS.txt",
                           SettingsKeys::getFirmwareAccount, &value));
    QCOMPARE(value, QStringLiteral("demo"));
}

void tst_Storage::writeItem_fileText_data()
{
    QTest::addColumn<QByteArray>("initial"); // null: no file yet
    QTest::addColumn<QStringList>("writes"); // "key=value", in order
    QTest::addColumn<QString>("expectedText");

    QTest::newRow("missing file gets a single member")
        << QByteArray() << QStringList{"a=1"} << "{\n    \"a\": \"1\"\n}\n";
    QTest::newRow("empty file gets a single member")
        << QByteArray("") << QStringList{"a=1"} << "{\n    \"a\": \"1\"\n}\n";
    QTest::newRow("second key keeps the first, in key order")
        << QByteArray() << QStringList{"b=2", "a=1"} << "{\n    \"a\": \"1\",\n    \"b\": \"2\"\n}\n";
    QTest::newRow("existing key is replaced")
        << QByteArray() << QStringList{"a=1", "a=x"} << "{\n    \"a\": \"x\"\n}\n";
    QTest::newRow("keys are case sensitive")
        << QByteArray() << QStringList{"a=1", "A=2"} << "{\n    \"A\": \"2\",\n    \"a\": \"1\"\n}\n";
    QTest::newRow("other members keep their types")
        << QByteArray("{\"n\": 5, \"z\": [true]}") << QStringList{"a=1"}
        << "{\n    \"a\": \"1\",\n    \"n\": 5,\n    \"z\": [\n        true\n    ]\n}\n";
    QTest::newRow("non-ASCII value as UTF-8")
        << QByteArray() << QStringList{QStringLiteral("p=D:/固件/升级.bin")}
        << QStringLiteral("{\n    \"p\": \"D:/固件/升级.bin\"\n}\n");
}

void tst_Storage::writeItem_fileText()
{
    QFETCH(QByteArray, initial);
    QFETCH(QStringList, writes);
    QFETCH(QString, expectedText);

    QTemporaryDir dir;
    const QString path = dir.filePath("store.txt");
    if (!initial.isNull())
        writeRaw(path, initial);

    NativeFile store;
    for (const QString &write : writes) {
        const int equals = write.indexOf('=');
        QVERIFY(store.writeItem(dir.path(), "store.txt", write.left(equals), write.mid(equals + 1)));
    }
    QCOMPARE(readText(path), expectedText);

    const QString lastWrite = writes.last();
    const int equals = lastWrite.indexOf('=');
    QString value;
    QVERIFY(store.readItem(dir.path(), "store.txt", lastWrite.left(equals), &value));
    QCOMPARE(value, lastWrite.mid(equals + 1));
}

void tst_Storage::readItem_absentValue_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file

    QTest::newRow("number") << QByteArray("{\"k\": 5}");
    QTest::newRow("boolean") << QByteArray("{\"k\": true}");
    QTest::newRow("null") << QByteArray("{\"k\": null}");
    QTest::newRow("array") << QByteArray("{\"k\": [\"v\"]}");
    QTest::newRow("object") << QByteArray("{\"k\": {\"k\": \"v\"}}");
    QTest::newRow("other key") << QByteArray("{\"j\": \"v\"}");
    QTest::newRow("key in other case") << QByteArray("{\"K\": \"v\"}");
    QTest::newRow("top level array") << QByteArray("[\"k\", \"v\"]");
    QTest::newRow("not JSON") << QByteArray("k=v");
    QTest::newRow("empty file") << QByteArray("");
    QTest::newRow("missing file") << QByteArray();
}

void tst_Storage::readItem_absentValue()
{
    QFETCH(QByteArray, content);

    QTemporaryDir dir;
    if (!content.isNull())
        writeRaw(dir.filePath("store.txt"), content);

    NativeFile store;
    QString value = QStringLiteral("untouched");
    QStringList list = {QStringLiteral("untouched")};
    QVERIFY(!store.readItem(dir.path(), "store.txt", "k", &value));
    QVERIFY(!store.readItem(dir.path(), "store.txt", "k", &list));
    QCOMPARE(value, QStringLiteral("untouched"));
    QCOMPARE(list, QStringList{"untouched"});
}

void tst_Storage::listForms_data()
{
    QTest::addColumn<bool>("defaultFile");
    QTest::addColumn<QStringList>("written");
    QTest::addColumn<QString>("storedText");
    QTest::addColumn<QStringList>("readBack");

    for (const bool defaultFile : {false, true}) {
        const char *scope = defaultFile ? "default file" : "explicit file";
        QTest::addRow("%s: empty middle item", scope)
            << defaultFile << QStringList{"x", "", "y"} << "x,,y" << QStringList{"x", "", "y"};
        QTest::addRow("%s: item with a comma", scope)
            << defaultFile << QStringList{"a,b"} << "a,b" << QStringList{"a", "b"};
        QTest::addRow("%s: empty list", scope) << defaultFile << QStringList{} << "" << QStringList{""};
        QTest::addRow("%s: blanks kept", scope)
            << defaultFile << QStringList{" a", "b "} << " a,b " << QStringList{" a", "b "};
    }
}

void tst_Storage::listForms()
{
    QFETCH(bool, defaultFile);
    QFETCH(QStringList, written);
    QFETCH(QString, storedText);
    QFETCH(QStringList, readBack);

    QTemporaryDir dir;
    NativeFile store;
    QStringList list;
    QString text;
    if (defaultFile) {
        store.setPath_name(dir.path(), "WORK.txt");
        QVERIFY(store.writeItem("ids", written));
        QVERIFY(store.readItem("ids", &text));
        QVERIFY(store.readItem("ids", &list));
    } else {
        QVERIFY(store.writeItem(dir.path(), "store.txt", "ids", written));
        QVERIFY(store.readItem(dir.path(), "store.txt", "ids", &text));
        QVERIFY(store.readItem(dir.path(), "store.txt", "ids", &list));
    }
    QCOMPARE(text, storedText);
    QCOMPARE(list, readBack);
    QCOMPARE(QFileInfo::exists(dir.filePath("WORK.txt")), defaultFile);
}

void tst_Storage::defaultForms_emptyDefault_data()
{
    QTest::addColumn<bool>("emptyFolder");
    QTest::newRow("empty folder") << true;
    QTest::newRow("empty file name") << false;
}

void tst_Storage::defaultForms_emptyDefault()
{
    QFETCH(bool, emptyFolder);

    QTemporaryDir dir;
    const QString folder = dir.filePath("store");
    const QString name = QStringLiteral("plovik-must-not-exist.txt");
    NativeFile store;
    QVERIFY(store.setPath_name(emptyFolder ? QString() : folder, emptyFolder ? name : QString()));

    QString value = QStringLiteral("untouched");
    QStringList list = {QStringLiteral("untouched")};
    QVERIFY(!store.writeItem("k", QStringLiteral("v")));
    QVERIFY(!store.writeItem("k", QStringList{"v"}));
    QVERIFY(!store.readItem("k", &value));
    QVERIFY(!store.readItem("k", &list));
    QCOMPARE(value, QStringLiteral("untouched"));
    QCOMPARE(list, QStringList{"untouched"});

    QVERIFY(!QFileInfo::exists(folder));
    QVERIFY(!QFileInfo::exists("/" + name));
    QVERIFY(!QFileInfo::exists(name));
}

void tst_Storage::writeItem_folder_data()
{
    QTest::addColumn<QString>("subFolder");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("written");

    QTest::newRow("existing folder") << ""
                                     << "fullpath exist" << true;
    QTest::newRow("one missing level is made") << "/new"
                                               << "Create fullpath success" << true;
    QTest::newRow("missing parent folder") << "/no/such"
                                           << "Create path fail" << false;
}

void tst_Storage::writeItem_folder()
{
    QFETCH(QString, subFolder);
    QFETCH(QString, message);
    QFETCH(bool, written);

    QTemporaryDir dir;
    const QString folder = dir.path() + subFolder;
    QTest::ignoreMessage(QtDebugMsg, moduleTrace("writeItem", message));
    QCOMPARE(NativeFile().writeItem(folder, "store.txt", "k", QStringLiteral("v")), written);
    QCOMPARE(QFileInfo::exists(folder + "/store.txt"), written);
    if (!written)
        QVERIFY(!QFileInfo::exists(dir.filePath("no")));
}

void tst_Storage::getFileContent_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("textRead");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty file") << QByteArray("") << false << QString("untouched");
    QTest::newRow("plain text") << QByteArray("abc") << true << QString("abc");
    QTest::newRow("text ends at the first zero byte") << QByteArray("ab\0cd", 5) << true << QString("ab");
    QTest::newRow("zero byte first") << QByteArray("\0ab", 3) << true << QString("");
    QTest::newRow("UTF-8") << QStringLiteral("打开文件").toUtf8() << true << QStringLiteral("打开文件");
}

void tst_Storage::getFileContent()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, textRead);
    QFETCH(QString, text);

    QTemporaryDir dir;
    const QString path = dir.filePath("file.bin");
    writeRaw(path, content);

    NativeFile store;
    QString readText = QStringLiteral("untouched");
    QCOMPARE(store.getFileContent(path, &readText), textRead);
    QCOMPARE(readText, text);

    QByteArray bytes("untouched");
    QVERIFY(store.getFileContent(path, &bytes));
    QCOMPARE(bytes, content);
    QVERIFY(!bytes.isNull() || content.isEmpty());
}

void tst_Storage::fileFacts()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("fw"));
    const QString path = dir.filePath("fw/app_v2.bin");
    writeRaw(path, QByteArray(64, '\xff'));

    NativeFile store;
    QCOMPARE(store.getFileName(path), QStringLiteral("app_v2.bin"));
    QCOMPARE(store.getFileOwner(path), QFileInfo(path).owner());

    const QString created = store.getFileCreatedTime(path);
    QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$").match(created).hasMatch(),
             qPrintable(created));
    const QFileInfo info(path);
    const QDateTime expected = info.birthTime().isValid()            ? info.birthTime()
                               : info.metadataChangeTime().isValid() ? info.metadataChangeTime()
                                                                     : info.lastModified();
    QCOMPARE(created, expected.toLocalTime().toString("yyyy-MM-dd'T'HH:mm:ss"));
    QVERIFY(qAbs(QDateTime::fromString(created, Qt::ISODate).secsTo(QDateTime::currentDateTime())) < 600);
}

// The record and the form read these facts: a rewritten file, a download or a vanished file must
// never leave an earlier image's digest or size behind.
void tst_Storage::imageSource_followsChange()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("app.bin");
    writeRaw(path, "abc");
    ImageSource image;
    QSignalSpy changes(&image, &ImageSource::changed);
    QVERIFY(image.setFile(path));
    QCOMPARE(image.facts().name, QStringLiteral("app.bin"));
    QVERIFY(image.sha256().isEmpty()); // nothing read yet
    QString problem;
    QVERIFY(image.load(&problem));
    QCOMPARE(image.sha256(),
             QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));

    writeRaw(path, "abcd");
    QVERIFY(image.load(&problem));
    QCOMPARE(image.facts().size, 4);
    QCOMPARE(image.sha256(),
             QStringLiteral("88d4266fd4e6338d13b845fcf289579d209c897823b9217da3e161936f031589"));
    QCOMPARE(image.sourceText(), path);

    image.setCloudRecord(QStringLiteral("17"), "abc", {QStringLiteral("v2, \"beta\""), 99, {}, {}});
    QCOMPARE(image.facts().size, 3); // the bytes' size, never the record's claim
    QCOMPARE(image.sha256(),
             QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    QCOMPARE(image.sourceText(), QStringLiteral("cloud:17 v2, \"beta\""));

    QVERIFY(!image.setFile(dir.filePath("gone.bin")));
    QVERIFY(image.facts().size < 0 && image.facts().name.isEmpty() && image.sha256().isEmpty());
    QCOMPARE(changes.count(), 5);
}

void tst_Storage::fileFacts_noRegularFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing") << "missing";
    // Opening a FIFO would block for ever, and reading /dev/zero never ends.
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("device") << "device";
}

void tst_Storage::fileFacts_noRegularFile()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QString path = dir.filePath("missing.bin");
#ifndef Q_OS_WIN
    if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == QLatin1String("device"))
        path = QStringLiteral("/dev/zero");
#endif
    NativeFile store;
    QCOMPARE(NativeFile::getFileSize(path), qint64(-1));
    QByteArray bytes("untouched");
    for (const char *function : {"getFileContent", "getFileName", "getFileCreatedTime", "getFileOwner"})
        QTest::ignoreMessage(QtDebugMsg, moduleTrace(function, "open file ERROR"));
    QVERIFY(!store.getFileContent(path, &bytes));
    QCOMPARE(store.getFileName(path), QString());
    QCOMPARE(store.getFileCreatedTime(path), QString());
    QCOMPARE(store.getFileOwner(path), QString());
    QCOMPARE(bytes, QByteArray("untouched"));
}

void tst_Storage::corruptStore_keptAside_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("keptAside");

    QTest::newRow("not JSON") << QByteArray("file_path_firmware=D:/fw.bin") << true;
    QTest::newRow("cut off object") << QByteArray("{\n    \"a\": \"1\",\n    \"b\": ") << true;
    QTest::newRow("top level array") << QByteArray("[\"a\"]") << true;
    QTest::newRow("zero byte first") << QByteArray("\0{}", 3) << true;
    QTest::newRow("empty file") << QByteArray("") << false;
    QTest::newRow("object") << QByteArray("{\"a\": \"1\"}") << false;
}

void tst_Storage::corruptStore_keptAside()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, keptAside);

    QTemporaryDir dir;
    const QString path = dir.filePath("store.txt");
    writeRaw(path, content);

    if (keptAside)
        QTest::ignoreMessage(QtDebugMsg,
                             moduleTrace("writeItem", "store is not a JSON object, old content kept in " +
                                                          QRegularExpression::escape(path) + ".corrupt"));
    QVERIFY(NativeFile().writeItem(dir.path(), "store.txt", "k", QStringLiteral("v")));
    QVERIFY(readText(path).contains("\"k\": \"v\""));
    QCOMPARE(QFileInfo::exists(path + ".corrupt"), keptAside);
    if (keptAside) {
        QCOMPARE(readRaw(path + ".corrupt"), content);
#ifndef Q_OS_WIN
        QVERIFY(isOwnerOnly(path + ".corrupt"));
#endif
    }
}

void tst_Storage::corruptStore_secondCopyKeepsFirst()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("store.txt");
    NativeFile store;
    writeRaw(path, "first");
    QVERIFY(store.writeItem(dir.path(), "store.txt", "k", QStringLiteral("v")));
    writeRaw(path, "second");
    QVERIFY(store.writeItem(dir.path(), "store.txt", "k", QStringLiteral("v")));
    QCOMPARE(readRaw(path + ".corrupt"), QByteArray("first"));
    QCOMPARE(readRaw(path + ".corrupt.1"), QByteArray("second"));
}

void tst_Storage::storeFile_ownerOnly()
{
#ifdef Q_OS_WIN
    QSKIP("owner-only permissions are a Unix matter");
#endif
    QTemporaryDir dir;
    const QString path = dir.filePath("store.txt");
    NativeFile store;
    QVERIFY(store.writeItem(dir.path(), "store.txt", "a", QStringLiteral("1")));
    QVERIFY(isOwnerOnly(path));
    // The rewrite replaces the file with a new one; it must not come back with wider permissions.
    QVERIFY(store.writeItem(dir.path(), "store.txt", "b", QStringLiteral("2")));
    QVERIFY(isOwnerOnly(path));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"store.txt"});
    // Nor may a file someone made readable to all stay so once the tool has written it.
    QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ReadOther));
    QVERIFY(store.writeItem(dir.path(), "store.txt", "c", QStringLiteral("3")));
    QVERIFY(isOwnerOnly(path));
}

void tst_Storage::writeFailure_keepsOldContent_data()
{
    QTest::addColumn<QByteArray>("initial"); // null: no file yet
    QTest::newRow("existing file") << QByteArray("{\n    \"k\": \"old\"\n}\n");
    QTest::newRow("missing file") << QByteArray();
}

void tst_Storage::writeFailure_keepsOldContent()
{
    QFETCH(QByteArray, initial);

    // A file name of the longest length the file system allows: the file itself can exist, but no
    // temporary file beside it can be made, so the write cannot be opened. This holds for root too.
    QTemporaryDir dir;
    const QString name = QString(251, 'w') + ".txt";
    const QString path = dir.filePath(name);
    if (!initial.isNull())
        writeRaw(path, initial);

    NativeFile store;
    QVERIFY(!store.writeItem(dir.path(), name, "k", QStringLiteral("new")));
    QCOMPARE(readRaw(path), initial);
    QCOMPARE(QFileInfo::exists(path), !initial.isNull());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), initial.isNull() ? 0 : 1);
}

void tst_Storage::configIni_ownerOnly()
{
    const QString path = configHome.path() + "/plovik/config.ini";
#ifndef Q_OS_WIN
    QVERIFY(!QFileInfo::exists(path));
#endif
    std::unique_ptr<QSettings> settings(ConfigIni::open(nullptr));
    QCOMPARE(QFileInfo(settings->fileName()).canonicalFilePath(), QFileInfo(path).canonicalFilePath());
#ifndef Q_OS_WIN
    QVERIFY(isOwnerOnly(path));
#endif

    settings->setValue(SettingsKeys::serialCom, QStringLiteral("ttyUSB0"));
    settings->setValue(SettingsKeys::accountName, QStringLiteral("工程师"));
    settings->setValue(SettingsKeys::mqttGatewayIdList, QStringList{"gw1", "gw2"});
    settings->setValue(SettingsKeys::profileKey("home", SettingsKeys::mqttPort), QStringLiteral("1883"));
    settings->sync();
    QCOMPARE(settings->status(), QSettings::NoError);
#ifndef Q_OS_WIN
    QVERIFY(isOwnerOnly(path));
#endif

    std::unique_ptr<QSettings> other(ConfigIni::open(nullptr));
    QCOMPARE(other->value(SettingsKeys::serialCom).toString(), QStringLiteral("ttyUSB0"));
    QCOMPARE(other->value(SettingsKeys::accountName).toString(), QStringLiteral("工程师"));
    QCOMPARE(other->value(SettingsKeys::mqttGatewayIdList).toStringList(), (QStringList{"gw1", "gw2"}));
    QCOMPARE(other->value("home_mqtt_port").toString(), QStringLiteral("1883"));

    // The MQTT window's clear empties the whole file; later writes must stay private as well.
    other->clear();
    QVERIFY(ConfigIni::sync(other.get()));
    other->setValue(SettingsKeys::passwordName, QStringLiteral("secret"));
    other->sync();
#ifndef Q_OS_WIN
    QVERIFY(isOwnerOnly(path));
#endif
    QVERIFY(readText(path).contains("password_name=secret"));
    QVERIFY(!readText(path).contains("serial_com"));
}

void tst_Storage::configIni_recreatedFileOwnerOnly()
{
#ifdef Q_OS_WIN
    QSKIP("owner-only permissions are a Unix matter");
#endif
    std::unique_ptr<QSettings> settings(ConfigIni::open(nullptr));
    QVERIFY(QFile::remove(settings->fileName()));
    settings->setValue(SettingsKeys::passwordName, QStringLiteral("secret"));
    QVERIFY(ConfigIni::sync(settings.get()));
    QVERIFY(isOwnerOnly(settings->fileName()));
}

void tst_Storage::configIni_unreadableFileKeptAside()
{
    const QString path = PlatformPaths::settingsIniPath();
    QDir().mkpath(PlatformPaths::settingsFolder());
    QByteArray noise(4096, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 131 + 7) % 256);
    writeRaw(path, noise);
    writeRaw(path + ".corrupt", "an earlier copy");
    {
        std::unique_ptr<QSettings> settings(ConfigIni::open(nullptr));
        QVERIFY(settings->allKeys().isEmpty());
        settings->setValue(SettingsKeys::serialCom, QStringLiteral("ttyUSB0"));
        QVERIFY(ConfigIni::sync(settings.get()));
    }
    QCOMPARE(readRaw(path + ".corrupt.1"), noise);
    QCOMPARE(readRaw(path + ".corrupt"), QByteArray("an earlier copy"));
    QCOMPARE(readText(path).trimmed(), QStringLiteral("[General]\nserial_com=ttyUSB0"));
    QFile::remove(path);
}

void tst_Storage::configIni_rawUtf8ReadAndRewrittenInDefaultForm()
{
    const QString path = PlatformPaths::settingsIniPath();
    QDir().mkpath(PlatformPaths::settingsFolder());
    writeRaw(path, QStringLiteral("[General]\naccount_name=工程师\nhome_mqtt_port=1883\n").toUtf8());
    std::unique_ptr<QSettings> settings(ConfigIni::open(nullptr));
    QCOMPARE(settings->value(SettingsKeys::accountName).toString(), QStringLiteral("工程师"));
    QCOMPARE(settings->value("home_mqtt_port").toString(), QStringLiteral("1883"));
    // A Qt tool without a codec setting reads the file the same.
    const QByteArray bytes = readRaw(path);
    QVERIFY(std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) < 0x80; }));
    QSettings plain(path, QSettings::IniFormat);
    QCOMPARE(plain.value(SettingsKeys::accountName).toString(), QStringLiteral("工程师"));
    QFile::remove(path);
}

void tst_Storage::configIni_notWrittenThroughLinks_data()
{
    QTest::addColumn<QByteArray>("content"); // of the file config.ini is, or points at
    QTest::addColumn<bool>("link");

    const QByteArray settings("[General]\nserial_com=ttyS0\n");
    QTest::newRow("file readable by others") << settings << false;
    QTest::newRow("link to another file") << settings << true;
    QTest::newRow("link to a file holding a NUL")
        << QByteArray("[General]\nserial_com=tty\0S0\n", 26) << true;
}

void tst_Storage::configIni_notWrittenThroughLinks()
{
#ifdef Q_OS_WIN
    QSKIP("symbolic links and mode bits are a Unix matter");
#endif
    QFETCH(QByteArray, content);
    QFETCH(bool, link);
    const QString path = PlatformPaths::settingsIniPath();
    QDir().mkpath(PlatformPaths::settingsFolder());
    QFile::remove(path);
    QTemporaryDir elsewhere;
    const QString target = link ? elsewhere.filePath("other.ini") : path;
    writeRaw(target, content);
    QVERIFY(QFile::setPermissions(target, ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    QVERIFY(!link || QFile::link(target, path));
    const QFileDevice::Permissions mode = QFile::permissions(target);
    {
        std::unique_ptr<QSettings> settings(ConfigIni::open(nullptr));
        QCOMPARE(isOwnerOnly(path), !link); // private from the moment it is opened
        QCOMPARE(settings->value(SettingsKeys::serialCom).toString().left(3), QStringLiteral("tty"));
        settings->setValue(SettingsKeys::passwordName, QStringLiteral("secret"));
        QString why;
        QCOMPARE(ConfigIni::sync(settings.get(), &why), !link);
        QVERIFY2(why.contains(link ? "symbolic link" : ""), qPrintable(why));
    }
    QCOMPARE(readRaw(target) == content, link); // what a link points at is never rewritten
    QCOMPARE(QFile::permissions(target) == mode, link);
    QFile::remove(path);
}

QTEST_GUILESS_MAIN(tst_Storage)
#include "tst_storage.moc"
