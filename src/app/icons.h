// The program's image list: small pictures drawn at run time, addressed by the
// indexes the menus, toolbar, trees and status bar use.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace quorvel {

// Image list indexes with a role in the program.
enum ImageIndex {
  imgBlank = 0,
  imgRoot = 1,
  imgEdit = 15,
  imgExit = 16,
  imgEntry = 17,
  imgEntrySelected = 18,
  imgServer = 19,
  imgProfile = 20,
  imgTest = 21,
  imgRun = 22,
  imgSave = 23,
  imgHelp = 24,
  imgAbout = 25,
  imgDeleteServer = 26,
  imgDeleteProfile = 27,
  imgBrowse = 28,
  imgUser = 29,
  imgInfo = 30,
  imgWarning = 31,
  imgError = 32,
  imgProfileSelected = 33,
  imgServerSelected = 34,
  imgWebsite = 35,
  imgCount = 36
};

// The 16 by 16 picture of one index (a blank picture for indexes without a role).
const QPixmap& ImageListPixmap(int index);
// An icon of one index; with a second index, that picture is used when selected.
QIcon ImageListIcon(int index, int selectedIndex = -1);
// The program icon (48 by 48), also used as the window icon.
QPixmap ProgramPixmap(int size = 48);

}  // namespace quorvel
