#pragma once
// One QApplication for a test program (widget tests run with QT_QPA_PLATFORM=offscreen), set up as the
// program sets up its own.
void EnsureQApplication();
