// The work-parameter store reads whatever is in its file: any bytes must read as a store or as
// nothing, and a write after them must keep them aside and leave a valid store.
#include "fuzz/fuzzsupport.h"
#include "storage/nativefile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    startFuzzedApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    const QString name = QStringLiteral("WORK_PARAMS.txt");
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        abort();
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();

    NativeFile store;
    QString value;
    QStringList list;
    store.readItem(dir.path(), name, QStringLiteral("file_path_firmware"), &value);
    store.readItem(dir.path(), name, QStringLiteral("dirListIndex"), &list);
    if (!store.writeItem(dir.path(), name, QStringLiteral("k"), QStringLiteral("v")))
        abort();
    if (!store.readItem(dir.path(), name, QStringLiteral("k"), &value) || value != QStringLiteral("v"))
        abort();
    for (const QString &copy : QDir(dir.path()).entryList({name + QStringLiteral(".corrupt*")}))
        QFile::remove(dir.filePath(copy));
    return 0;
}
