#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>

#include "QtApp.h"

// The application is set up as the program sets it up (tests/support/QtApp.cpp calls the same code).
TEST(Application, StandardDialogsSpeakGerman) {
    EnsureQApplication();
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::Abort | QMessageBox::Cancel | QMessageBox::Ok);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), "Abbrechen");
    EXPECT_EQ(box.button(QMessageBox::Yes)->text(), "&Ja");
    QFileDialog files;
    files.setOption(QFileDialog::DontUseNativeDialog);
    std::vector<QString> labels;
    for (const QLabel* l : files.findChildren<QLabel*>())
        labels.push_back(l->text());
    EXPECT_EQ(labels, (std::vector<QString>{"Suchen in:", "Datei&name:", "Dateien des Typs:"}));
}

// Qt appends a display name, once one is set, to every caption it hands the window system
// ("Optionen — Kelpora"); without one the captions stay exactly as the windows set them. Whether one is
// set shows in that the display name then no longer follows the application name.
TEST(Application, CaptionsGetNoDisplayName) {
    EnsureQApplication();
    EXPECT_EQ(QApplication::applicationName(), "Kelpora");
    QApplication::setApplicationName(QStringLiteral("probe"));
    EXPECT_EQ(QApplication::applicationDisplayName(), "probe");
    QApplication::setApplicationName(QStringLiteral("Kelpora"));
}
