#include "core/jsontext.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace JsonText {

QString escaped(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    // ["..."]: the quotes and brackets around the string go.
    return QString::fromUtf8(array.mid(2, array.size() - 4));
}

} // namespace JsonText
