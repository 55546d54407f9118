#pragma once

#include <QString>

// The local store's file made ready for SQLite: its folder exists, it is a regular file of its
// own (never a symbolic link, which could point the writes anywhere) and only its owner may read
// or write it.
class HistoryFile
{
public:
    static bool prepare(const QString &path, QString *problem);

private:
    static bool makeFolder(const QString &path, QString *problem);
    static bool makeFile(const QString &path, QString *problem);
    static bool checkFile(const QString &path, QString *problem);
};
