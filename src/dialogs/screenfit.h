// Keeping top-level windows inside the screen's available area, so that a
// large window on a small or strongly scaled screen (QT_SCALE_FACTOR=2 on
// 1280x900 leaves 640x450 of room) never opens with its title bar or menus
// off screen.
#pragma once

class QWidget;

namespace quorvel {

// Shrinks `window` (not below its minimum size) so that it fits, with its
// frame, into the available area of the screen it is on (the primary screen
// when it has none yet), then centres it there; when it is still larger than
// the area, its top left corner is kept at the area's top left. The frame's
// size is taken from the window when it has been shown, else estimated.
void FitIntoScreen(QWidget& window);

}  // namespace quorvel
