#include "panellayout.h"

#include <QLayout>
#include <QWidget>

namespace PanelLayout {

namespace {

void deleteItems(QLayout *layout)
{
    while (QLayoutItem *item = layout->takeAt(0)) {
        if (QLayout *inner = item->layout())
            deleteItems(inner);
        delete item->widget();
        delete item;
    }
}

} // namespace

void deleteIfUninstalled(QLayout *layout)
{
    if (!layout || layout->parent())
        return;
    deleteItems(layout);
    delete layout;
}

} // namespace PanelLayout
