#pragma once

class QLayout;

// Panels build their widgets into a layout that a window installs later. Until then nothing
// owns them, so a panel that is destroyed uninstalled must delete them itself.
namespace PanelLayout {

// Deletes the layout with every widget and inner layout in it, unless a widget holds it.
void deleteIfUninstalled(QLayout *layout);

} // namespace PanelLayout
