#include "protocol/targetkind.h"

namespace {

constexpr TargetKind kKinds[] = {TargetKind::Module, TargetKind::DemoBoard, TargetKind::Gateway};

} // namespace

namespace TargetKindText {

QString name(TargetKind kind)
{
    switch (kind) {
    case TargetKind::Module:
        return QStringLiteral("module");
    case TargetKind::DemoBoard:
        return QStringLiteral("demo");
    case TargetKind::Gateway:
        return QStringLiteral("gateway");
    }
    return QString();
}

bool parse(const QString &text, TargetKind *kind)
{
    for (TargetKind candidate : kKinds) {
        if (text == name(candidate)) {
            *kind = candidate;
            return true;
        }
    }
    return false;
}

} // namespace TargetKindText
