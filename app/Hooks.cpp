// The window's links to the parts that live in their own units: tip of the
// day, help, about box, home page, update check and power off. Each is called
// from exactly one place of the window; they are wired to their units here.
#include "app/Main.h"

void TFMain::ShowTipOfTheDay() {
    // To be wired: ::ShowTipOfTheDay with the program's tips and showTipAtStart,
    // storing the returned check-box state in settings_.showTipAtStart.
}

void TFMain::ShowHelpIndex() {
    // To be wired: the help window at its table of contents.
}

void TFMain::CloseHelp() {
    // To be wired: close the help window at exit.
}

void TFMain::ShowAbout() {
    // To be wired: ::ShowAbout with the about caption and text, help context 50.
}

void TFMain::OpenHomePage() {
    // To be wired: open the home page in the browser; on failure tell the
    // user with the address (AppMessageBox 64).
}

void TFMain::CheckForUpdate() {
    // To be wired: the wait message around the update check (once every two
    // days, from settings_.updateCheckDay).
}

void TFMain::RequestPowerOff() {
    // To be wired: power off at the end of FormDestroy, plain shutdown when that fails.
}
