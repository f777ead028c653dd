// Running a profile into the results grid, and the directory browser.
#include "app/mainform.h"

void TMainForm::mnu_actions_runClick() {}
void TMainForm::run_profileClick() {}
void TMainForm::o_browseClick() {}
void TMainForm::o_propertiesClick() {}
