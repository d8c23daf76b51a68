#pragma once
// The set-up of the application object that the program and the widget tests share.
class QApplication;

// Names the application "Kelpora" (the caption of message boxes) without a display name, so that the
// window system shows every window caption exactly as the window sets it (Qt appends a display name to
// each one otherwise), and installs Qt's own German translation of its standard dialogs and buttons
// from the system's Qt translations, as the rest of the program speaks German. Without that
// translation installed the standard dialogs stay in English.
void SetUpApplication(QApplication& app);
