#include <QCheckBox>
#include <QFrame>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>
#include <gtest/gtest.h>

#include "FakeDialogs.h"
#include "QtApp.h"
#include "model/StringList.h"
#include "run/FormFiles.h"

namespace {
class FilesDialog : public ::testing::Test {
protected:
    void SetUp() override { EnsureQApplication(); }
    void Add(TfrmFiles& f, std::vector<std::string> names) {
        fake.fileAnswers.push_back(std::move(names));
        f.btnAdd->click();
    }
    TFakeDialogs fake;
};
} // namespace

TEST_F(FilesDialog, Layout) {
    TfrmFiles f;
    EXPECT_EQ(f.windowTitle(), "Dateien für den Import auswählen");
    EXPECT_EQ(f.size(), QSize(417, 416));
    EXPECT_EQ(f.result(), 0);
    ASSERT_EQ(f.lvFiles->columnCount(), 1);
    EXPECT_EQ(f.lvFiles->horizontalHeaderItem(0)->text(), "Dateiname");
    EXPECT_EQ(f.lvFiles->columnWidth(0), 1000);
    EXPECT_TRUE(f.lvFiles->horizontalHeader()->isHidden());
    EXPECT_TRUE(f.lvFiles->showGrid());
    EXPECT_EQ(f.lvFiles->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(f.cbPostprocessing->text(), "Nachbearbeitung automatisch starten");
    EXPECT_TRUE(f.cbPostprocessing->isChecked());
    struct Case {
        QWidget* w;
        QRect at;
    };
    // the box is as large as its text needs in the font at hand, at least its designed size
    const QSize box(std::max(217, f.cbPostprocessing->sizeHint().width()),
                    std::max(17, f.cbPostprocessing->sizeHint().height()));
    const Case cases[] = {
        {f.lvFiles, {8, 8, 401, 325}},
        {f.cbPostprocessing, {QPoint(8, 339), box}},
        {f.btnAdd, {253, 339, 75, 25}},
        {f.btnDelete, {334, 339, 75, 25}},
        {f.Panel1, {8, 373, 401, 2}},
        {f.btnImport, {8, 383, 150, 25}},
        {f.btnPostprocessing, {165, 383, 150, 25}},
        {f.btnAbbruch, {321, 383, 93, 25}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.w->geometry(), c.at) << c.w->metaObject()->className();
    EXPECT_EQ(f.btnAdd->text(), "Hinzufügen");
    EXPECT_EQ(f.btnDelete->text(), "Entfernen");
    EXPECT_EQ(f.btnImport->text(), "Import starten");
    EXPECT_EQ(f.btnPostprocessing->text(), "Nachbearbeitung");
    EXPECT_EQ(f.btnAbbruch->text(), "Abbruch");

    // the list follows all four edges, the bottom rows the bottom and right edge, the box stays left
    f.show();
    f.resize(517, 466);
    EXPECT_EQ(f.lvFiles->geometry(), QRect(8, 8, 501, 375));
    EXPECT_EQ(f.cbPostprocessing->geometry(), QRect(QPoint(8, 389), box));
    EXPECT_EQ(f.btnAdd->geometry(), QRect(353, 389, 75, 25));
    EXPECT_EQ(f.Panel1->geometry(), QRect(8, 423, 501, 2));
    EXPECT_EQ(f.btnAbbruch->geometry(), QRect(421, 433, 93, 25));
}

TEST_F(FilesDialog, AddAndDeleteRows) {
    TfrmFiles f;
    Add(f, {"/d/a.xml", "/d/b.xml"});
    Add(f, {});           // cancelled: nothing added
    Add(f, {"/d/a.xml"}); // the same name again is listed again
    Add(f, {"/e/c.xml", "/e/d.xml"});
    ASSERT_EQ(fake.openCalls.size(), 4u);
    EXPECT_TRUE(fake.openCalls[0].multiSelect);
    EXPECT_EQ(fake.openCalls[0].filter, "XML-Dateien (*.xml);;Alle Dateien (*)");
    EXPECT_EQ(f.Rows(),
              (std::vector<std::string>{"/d/a.xml", "/d/b.xml", "/d/a.xml", "/e/c.xml", "/e/d.xml"}));

    f.lvFiles->clearSelection();
    f.btnDelete->click(); // no selection: nothing happens
    EXPECT_EQ(f.Rows().size(), 5u);

    auto* sel = f.lvFiles->selectionModel();
    for (int row : {0, 2, 4})
        sel->select(f.lvFiles->model()->index(row, 0),
                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    f.btnDelete->click();
    EXPECT_EQ(f.Rows(), (std::vector<std::string>{"/d/b.xml", "/e/c.xml"}));
    EXPECT_EQ(f.result(), 0); // still open
}

TEST_F(FilesDialog, Results) {
    struct Case {
        const char* name;
        std::vector<std::string> rows;
        bool ticked;
        std::function<void(TfrmFiles&)> press;
        int result;
        std::vector<std::string> handedOver;
    } cases[] = {
        {"import with post-processing",
         {"/a.xml", "/a.xml"},
         true,
         [](TfrmFiles& f) { f.btnImport->click(); },
         mrYes,
         {"/a.xml", "/a.xml"}},
        {"import only",
         {"/a.xml", "/b.xml"},
         false,
         [](TfrmFiles& f) { f.btnImport->click(); },
         mrOk,
         {"/a.xml", "/b.xml"}},
        {"empty list", {}, true, [](TfrmFiles& f) { f.btnImport->click(); }, mrYes, {}},
        {"post-processing only",
         {"/a.xml"},
         true,
         [](TfrmFiles& f) { f.btnPostprocessing->click(); },
         mrRetry,
         {}},
        {"Abbruch", {"/a.xml"}, true, [](TfrmFiles& f) { f.btnAbbruch->click(); }, mrClose, {}},
        {"title bar", {"/a.xml"}, true, [](TfrmFiles& f) { f.close(); }, mrCancel, {}},
    };
    for (const auto& c : cases) {
        TfrmFiles f;
        TStringList chosen;
        f.obFiles = &chosen;
        f.show();
        Add(f, c.rows);
        f.cbPostprocessing->setChecked(c.ticked);
        c.press(f);
        EXPECT_EQ(f.result(), c.result) << c.name;
        EXPECT_FALSE(f.isVisible()) << c.name;
        EXPECT_EQ(chosen.Lines(), c.handedOver) << c.name;
    }
}

// Tahoma may be missing: the check box is as wide as its text needs in the font it really gets, and the
// window cannot be made so small that a button leaves it or covers another.
TEST_F(FilesDialog, EveryControlStaysWhole) {
    TfrmFiles f;
    EXPECT_GE(f.cbPostprocessing->width(), f.cbPostprocessing->sizeHint().width());
    EXPECT_LT(f.cbPostprocessing->geometry().right(), f.btnAdd->x());
    f.show();
    f.resize(50, 50);
    const QRect inside = f.rect();
    const std::vector<QWidget*> controls{f.cbPostprocessing,  f.btnAdd,    f.btnDelete, f.btnImport,
                                         f.btnPostprocessing, f.btnAbbruch};
    for (QWidget* c : controls) {
        EXPECT_TRUE(inside.contains(c->geometry())) << c->x() << "," << c->y();
        for (QWidget* other : controls)
            EXPECT_TRUE(c == other || !c->geometry().intersects(other->geometry()));
    }
    EXPECT_GT(f.lvFiles->height(), 0);
}
