#pragma once
// One QApplication for a test program (widget tests run with QT_QPA_PLATFORM=offscreen).
void EnsureQApplication();
