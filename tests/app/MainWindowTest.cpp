#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <gtest/gtest.h>

#include "FakeDialogs.h"
#include "QtApp.h"
#include "app/FormKelpora.h"

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override { EnsureQApplication(); }
};

TEST_F(MainWindow, StartState) {
    TfrmKelpora w;
    EXPECT_EQ(frmKelpora, &w);
    EXPECT_EQ(w.windowTitle(), "Brenko-Kelpora");
    EXPECT_EQ(w.minimumSize(), QSize(590, 300));
    ASSERT_EQ(w.cboSRID->count(), 17);
    EXPECT_EQ(w.cboSRID->currentIndex(), 7);
    EXPECT_EQ(w.cboSRID->currentText(), "25832 ETRS89 / UTM zone 32N");
    EXPECT_EQ(w.cboSRID->itemText(16), "2398 Pulkovo 1942(83) / Gauss-Kruger zone 4");
    EXPECT_EQ(w.SelectedTargetSRID(), 25832);
    EXPECT_TRUE(w.nachObjektarten1->isChecked());
    EXPECT_FALSE(w.nachFolien1->isChecked());
    EXPECT_TRUE(w.Referenzen1->isChecked());
    EXPECT_FALSE(w.oNachFolien);
    EXPECT_TRUE(w.oReferenzen);
    EXPECT_FALSE(w.ProgressBar1->isVisible());
    EXPECT_EQ(w.ProgressBar1->parentWidget(), w.StatusBar1);
    EXPECT_EQ(w.LogLines(), std::vector<std::string>{""});
    EXPECT_EQ(w.obInserts.Count(), 0);
    EXPECT_TRUE(w.obFiles.empty());
    EXPECT_FALSE(w.oRunFiles);
    EXPECT_EQ(w.iLfdNrUmsetzung, 0);
    EXPECT_EQ(w.Label1->text(), "Zielreferenzsystem:");
    // tool bar order and hints
    std::vector<QString> hints;
    for (QAction* a : w.ToolBar3->actions())
        if (auto* b = qobject_cast<QToolButton*>(w.ToolBar3->widgetForAction(a)))
            hints.push_back(b->toolTip());
        else if (auto* l = qobject_cast<QLabel*>(w.ToolBar3->widgetForAction(a)))
            hints.push_back("label:" + l->text());
        else if (qobject_cast<QComboBox*>(w.ToolBar3->widgetForAction(a)))
            hints.push_back("combo");
    EXPECT_EQ(hints, (std::vector<QString>{"Datenbankverbindung", "Datei(en) zum Umsetzen auswählen",
                                           "Import abbrechen", "Übersicht zur Umsetzung", "Optionen",
                                           "label:Zielreferenzsystem:", "combo", ""}));
}

TEST_F(MainWindow, OptionsMenu) {
    TfrmKelpora w;
    w.nachFolien1Click();
    w.nachFolien1Click();
    EXPECT_TRUE(w.nachFolien1->isChecked());
    EXPECT_FALSE(w.nachObjektarten1->isChecked());
    EXPECT_TRUE(w.oNachFolien);
    w.nachObjektarten1Click();
    EXPECT_TRUE(w.nachObjektarten1->isChecked());
    EXPECT_FALSE(w.nachFolien1->isChecked());
    EXPECT_FALSE(w.oNachFolien);
    // Through the menu actions as a user triggers them.
    w.nachFolien1->trigger();
    EXPECT_TRUE(w.oNachFolien);
    for (bool expected : {false, true, false}) {
        w.Referenzen1->trigger();
        EXPECT_EQ(w.oReferenzen, expected);
        EXPECT_EQ(w.Referenzen1->isChecked(), expected);
    }
    w.Referenzen1Click();
    EXPECT_TRUE(w.oReferenzen);
    EXPECT_TRUE(w.Referenzen1->isChecked());
}

TEST_F(MainWindow, TargetSelectionIsReadAtEachUse) {
    TfrmKelpora w;
    w.cboSRID->setCurrentIndex(15);
    EXPECT_EQ(w.cboSRID->currentText(), "325833 ETRS89 / UTM zone 33N BB");
    EXPECT_EQ(w.SelectedTargetSRID(), 325833);
    w.cboSRID->setCurrentIndex(-1);
    EXPECT_EQ(w.SelectedTargetSRID(), 0);
}

TEST_F(MainWindow, ProgressBarFollowsPanelOne) {
    TfrmKelpora w;
    w.show();
    w.ShowProgressBar(true);
    for (QSize size : {QSize(591, 304), QSize(900, 500), QSize(600, 320)}) {
        w.resize(size);
        QApplication::processEvents();
        EXPECT_EQ(w.ProgressBar1->geometry(), w.StatusPanel1->geometry()) << size.width();
        EXPECT_EQ(w.ProgressBar1->width(), 150);
    }
    EXPECT_TRUE(w.ProgressBar1->isVisible());
}

TEST_F(MainWindow, ManualOpensOnlyWhenPresent) {
    TFakeDialogs dialogs;
    TfrmKelpora w;
    QTemporaryDir dir;
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir.path());
    w.ToolButton6Click();
    EXPECT_TRUE(dialogs.opened.empty());
    EXPECT_TRUE(dialogs.messages.empty());
    QFile f(dir.filePath("Brenko-Kelpora.pdf"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    w.ToolButton6Click();
    QDir::setCurrent(old);
    ASSERT_EQ(dialogs.opened.size(), 1u);
    EXPECT_EQ(dialogs.opened[0], QDir(dir.path()).filePath("Brenko-Kelpora.pdf").toStdString());
}

TEST_F(MainWindow, LogAndStatusServices) {
    TfrmKelpora w;
    w.AddLogLine("a");
    w.AddLogLine("b\tc");
    EXPECT_EQ(w.LogLines(), (std::vector<std::string>{"", "a", "b\tc"}));
    w.SetStatusText(0, "Temporäre Daten integrieren ... ");
    w.SetStatusText(2, "5% der aktuellen Datei");
    EXPECT_EQ(w.StatusText(0), "Temporäre Daten integrieren ... ");
    EXPECT_EQ(w.StatusText(2), "5% der aktuellen Datei");
}

// The settings and help buttons show the icons drawn for them, at the tool bar's size.
TEST_F(MainWindow, SettingsAndHelpIconsComeFromTheResources) {
    TfrmKelpora w;
    const std::pair<QToolButton*, QString> cases[] = {{w.ToolButton2, "database-connection"},
                                                      {w.ToolButton6, "help"}};
    for (const auto& [button, name] : cases) {
        const QImage drawn(QStringLiteral(":/icons/%1-16.png").arg(name));
        ASSERT_FALSE(drawn.isNull()) << name.toStdString();
        EXPECT_EQ(button->icon().pixmap(QSize(16, 16)).toImage().convertToFormat(drawn.format()), drawn)
            << name.toStdString();
    }
}
