#pragma once

#include <QIcon>
#include <QPixmap>

namespace pixhold::app {

// Pictures the program draws for itself: no image files are shipped.

// The program picture (a framed landscape over a stack of prints), any size.
QPixmap ProgramPicture(int width, int height);
// The small maker's picture of the splash window.
QPixmap SmallPicture(int size);
// The window icon.
QIcon ProgramIcon();

// The tool-bar icons, in tool-bar order (0 to 15).
enum class TToolIcon {
    NewDatabase, OpenDatabase, CompactDatabase, ChangePassword, RemoveOrphans,
    Import, Export, ChangeCategory, MoveToDatabase,
    BrowseFolder, QuickBrowse,
    Delete,
    SwitchView, Options, Refresh,
    Help,
};
inline constexpr int ToolIconCount = 16;
QIcon ToolIcon(TToolIcon which);

}  // namespace pixhold::app
