#include "run/FormFiles.h"

#include <QCheckBox>
#include <QFrame>
#include <QHeaderView>
#include <QPushButton>
#include <QResizeEvent>
#include <QTableWidget>
#include <algorithm>
#include <set>

#include "model/StringList.h"
#include "platform/dialogs/Dialogs.h"

TfrmFiles* frmFiles = nullptr;

const char* const TfrmFiles::kFilter = "XML-Dateien (*.xml);;Alle Dateien (*)";

namespace {
constexpr int kClientWidth = 417;
constexpr int kClientHeight = 416;
constexpr int kColumnWidth = 1000;
constexpr int kMinListHeight = 60;

// Keeps a child at fixed distances from the edges it follows while the window is resized.
class TAnchors : public QObject {
public:
    TAnchors(QWidget* form) : QObject(form), form(form) { form->installEventFilter(this); }
    enum Edge { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
    void Add(QWidget* w, int edges) {
        const QRect g = w->geometry();
        items.push_back({w, edges, g, kClientWidth - g.right() - 1, kClientHeight - g.bottom() - 1});
    }

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o == form && e->type() == QEvent::Resize) {
            const QSize s = static_cast<QResizeEvent*>(e)->size();
            for (const auto& it : items) {
                QRect g = it.design;
                if (it.edges & akRight) {
                    const int right = s.width() - it.rightGap;
                    if (it.edges & akLeft)
                        g.setWidth(right - g.left());
                    else
                        g.moveLeft(right - g.width());
                }
                if (it.edges & akBottom) {
                    const int bottom = s.height() - it.bottomGap;
                    if (it.edges & akTop)
                        g.setHeight(bottom - g.top());
                    else
                        g.moveTop(bottom - g.height());
                }
                it.widget->setGeometry(g);
            }
        }
        return false;
    }

private:
    struct TItem {
        QWidget* widget;
        int edges;
        QRect design;
        int rightGap, bottomGap;
    };
    QWidget* form;
    std::vector<TItem> items;
};
} // namespace

TfrmFiles::TfrmFiles(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Dateien für den Import auswählen"));
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    resize(kClientWidth, kClientHeight);

    lvFiles = new QTableWidget(0, 0, this);
    lvFiles->setGeometry(8, 8, 401, 325);
    lvFiles->horizontalHeader()->hide();
    lvFiles->verticalHeader()->hide();
    lvFiles->setShowGrid(true);
    lvFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvFiles->setWordWrap(false);

    cbPostprocessing = new QCheckBox(QStringLiteral("Nachbearbeitung automatisch starten"), this);
    // As wide as its text needs in the font the system really has (Tahoma may be missing).
    const QSize box = cbPostprocessing->sizeHint();
    cbPostprocessing->setGeometry(8, 339, std::max(217, box.width()), std::max(17, box.height()));
    cbPostprocessing->setChecked(true);
    btnAdd = new QPushButton(QStringLiteral("Hinzufügen"), this);
    btnAdd->setGeometry(253, 339, 75, 25);
    btnDelete = new QPushButton(QStringLiteral("Entfernen"), this);
    btnDelete->setGeometry(334, 339, 75, 25);
    Panel1 = new QFrame(this);
    Panel1->setFrameStyle(QFrame::Box | QFrame::Plain);
    Panel1->setGeometry(8, 373, 401, 2);
    btnImport = new QPushButton(QStringLiteral("Import starten"), this);
    btnImport->setGeometry(8, 383, 150, 25);
    btnPostprocessing = new QPushButton(QStringLiteral("Nachbearbeitung"), this);
    btnPostprocessing->setGeometry(165, 383, 150, 25);
    btnAbbruch = new QPushButton(QStringLiteral("Abbruch"), this);
    btnAbbruch->setGeometry(321, 383, 93, 25);
    for (auto* b : {btnAdd, btnDelete, btnImport, btnPostprocessing, btnAbbruch})
        b->setAutoDefault(false);

    auto* anchors = new TAnchors(this);
    anchors->Add(lvFiles, TAnchors::akLeft | TAnchors::akTop | TAnchors::akRight | TAnchors::akBottom);
    anchors->Add(cbPostprocessing, TAnchors::akLeft | TAnchors::akBottom);
    anchors->Add(btnAdd, TAnchors::akRight | TAnchors::akBottom);
    anchors->Add(btnDelete, TAnchors::akRight | TAnchors::akBottom);
    anchors->Add(Panel1, TAnchors::akLeft | TAnchors::akRight | TAnchors::akBottom);
    anchors->Add(btnImport, TAnchors::akRight | TAnchors::akBottom);
    anchors->Add(btnPostprocessing, TAnchors::akRight | TAnchors::akBottom);
    anchors->Add(btnAbbruch, TAnchors::akRight | TAnchors::akBottom);

    // Small enough for any screen, large enough that every button stays inside and none covers another:
    // the bottom rows follow the right edge, so the window is never narrower than they are.
    const int rowWidth =
        std::max(kClientWidth, cbPostprocessing->geometry().right() + 1 + 8 + (kClientWidth - btnAdd->x()));
    setMinimumSize(rowWidth,
                   lvFiles->y() + kMinListHeight + (kClientHeight - lvFiles->geometry().bottom() - 1));
    resize(std::max(width(), rowWidth), height());

    QWidget* order[] = {lvFiles,   cbPostprocessing,  btnAdd,    btnDelete,
                        btnImport, btnPostprocessing, btnAbbruch};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(btnAdd, &QPushButton::clicked, this, [this] { btnAddClick(); });
    connect(btnDelete, &QPushButton::clicked, this, [this] { btnDeleteClick(); });
    connect(btnImport, &QPushButton::clicked, this, [this] { btnImportClick(); });
    connect(btnPostprocessing, &QPushButton::clicked, this, [this] { btnPostprocessingClick(); });
    connect(btnAbbruch, &QPushButton::clicked, this, [this] {
        btnAbbruchClick();
        done(mrClose);
    });
    FormCreate();
}

void TfrmFiles::FormCreate() {
    setResult(mrNone);
    lvFiles->setColumnCount(1);
    lvFiles->setHorizontalHeaderItem(0, new QTableWidgetItem(QStringLiteral("Dateiname")));
    lvFiles->horizontalHeaderItem(0)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lvFiles->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Fixed);
    lvFiles->horizontalHeader()->setMinimumSectionSize(kColumnWidth);
    lvFiles->horizontalHeader()->setMaximumSectionSize(kColumnWidth);
    lvFiles->setColumnWidth(0, kColumnWidth);
}

void TfrmFiles::btnAddClick() {
    const auto names = Dialogs().OpenFileNames(this, std::string(), kFilter, true);
    for (const auto& name : names) {
        const int row = lvFiles->rowCount();
        lvFiles->insertRow(row);
        auto* item = new QTableWidgetItem(QString::fromStdString(name));
        item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        lvFiles->setItem(row, 0, item);
    }
}

void TfrmFiles::btnDeleteClick() {
    std::set<int, std::greater<>> rows;
    for (const QModelIndex& i : lvFiles->selectionModel()->selectedRows())
        rows.insert(i.row());
    for (int row : rows)
        lvFiles->removeRow(row);
}

std::vector<std::string> TfrmFiles::Rows() const {
    std::vector<std::string> out;
    for (int row = 0; row < lvFiles->rowCount(); ++row)
        out.push_back(lvFiles->item(row, 0)->text().toStdString());
    return out;
}

void TfrmFiles::btnImportClick() {
    if (obFiles)
        for (const auto& name : Rows())
            obFiles->Add(name);
    done(cbPostprocessing->isChecked() ? mrYes : mrOk);
}

void TfrmFiles::btnPostprocessingClick() {
    done(mrRetry);
}

void TfrmFiles::btnAbbruchClick() {}

void TfrmFiles::reject() {
    done(mrCancel);
}
