#pragma once
// The set-up of the application object that the program and the widget tests share.
class QApplication;

// Names the application "Kelpora" (the caption of message boxes) without a display name, so that the
// window system shows every window caption exactly as the window sets it (Qt appends a display name to
// each one otherwise), and installs Qt's own German translation of its standard dialogs and buttons
// from the system's Qt translations, as the rest of the program speaks German. Without that
// translation installed the standard dialogs stay in English.
void SetUpApplication(QApplication& app);

// Keeps free heap with the process instead of handing it back to the system and taking it again: an
// import frees the statements of each window of features in flight, the records behind the parser and
// their texts, and needs the same again a moment later; each time the heap shrank, the pages came back
// with a system call and a page fault each (about 3 % of an import's time). Up to 16 MiB of free heap
// stay. Called by the program first thing; no effect outside glibc.
void KeepFreedHeap();
