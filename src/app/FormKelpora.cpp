#include "app/FormKelpora.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QResizeEvent>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolBar>
#include <QToolButton>

#include "model/DateTime.h"
#include "platform/dialogs/Dialogs.h"
#include "platform/xml/XmlDom.h"

TfrmKelpora* frmKelpora = nullptr;

// Panel 1 of the status bar: drawn by the program, it hosts the progress bar. Whenever it is laid out
// or painted it lets the window move the progress bar onto its rectangle.
class TStatusPanel : public QWidget {
public:
    TStatusPanel(TfrmKelpora* form, QWidget* parent) : QWidget(parent), form(form) {}

protected:
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        Draw();
    }
    void moveEvent(QMoveEvent* e) override {
        QWidget::moveEvent(e);
        Draw();
    }
    void paintEvent(QPaintEvent*) override { Draw(); }

private:
    void Draw() { form->StatusBar1DrawPanel(1, geometry()); }
    TfrmKelpora* form;
};

namespace {
struct TSridItem {
    int srid;
    const char* description;
};

// The target reference system list; item 7 (25832) is preselected.
constexpr TSridItem kSridItems[] = {
    {4326, "WGS 84"},
    {2180, "ETRS89 / Poland CS92"},
    {31466, "DHDN / Gauss-Kruger zone 2"},
    {31467, "DHDN / Gauss-Kruger zone 3"},
    {31468, "DHDN / Gauss-Kruger zone 4"},
    {31469, "DHDN / Gauss-Kruger zone 5"},
    {25831, "ETRS89 / UTM zone 31N"},
    {25832, "ETRS89 / UTM zone 32N"},
    {25833, "ETRS89 / UTM zone 33N"},
    {25834, "ETRS89 / UTM zone 34N"},
    {25835, "ETRS89 / UTM zone 35N"},
    {25836, "ETRS89 / UTM zone 36N"},
    {25837, "ETRS89 / UTM zone 37N"},
    {35832, "ETRS89 / UTM zone 32N MV"},
    {35833, "ETRS89 / UTM zone 33N MV"},
    {325833, "ETRS89 / UTM zone 33N BB"},
    {2398, "Pulkovo 1942(83) / Gauss-Kruger zone 4"},
};
constexpr int kPreselectedSrid = 7;
constexpr int kHelpContext = 1001;
const char* const kManual = "Brenko-Kelpora.pdf";

// An icon of our own resources in the sizes drawn for it, ":/icons/NAME-SIZE.png".
QIcon ResourceIcon(const QString& name) {
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addFile(QStringLiteral(":/icons/%1-%2.png").arg(name).arg(size), QSize(size, size));
    return icon;
}

QToolButton* MakeToolButton(QToolBar* bar, const QString& hint, const QIcon& icon) {
    auto* b = new QToolButton(bar);
    b->setToolTip(hint);
    b->setIcon(icon);
    b->setAutoRaise(true);
    bar->addWidget(b);
    return b;
}

QToolButton* MakeToolButton(QToolBar* bar, const QString& hint, QStyle::StandardPixmap icon) {
    return MakeToolButton(bar, hint, bar->style()->standardIcon(icon));
}
} // namespace

TfrmKelpora::TfrmKelpora(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Brenko-Kelpora"));
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    setMinimumSize(590, 300);
    resize(591, 304);
    setProperty("helpContext", kHelpContext);

    ToolBar3 = new QToolBar(this);
    ToolBar3->setMovable(false);
    ToolBar3->setFloatable(false);
    ToolBar3->setContextMenuPolicy(Qt::PreventContextMenu);
    ToolBar3->setIconSize(QSize(16, 16));
    CoolBar1 = ToolBar3; // the one fixed band that holds the tool bar
    addToolBar(Qt::TopToolBarArea, ToolBar3);

    ToolButton2 = MakeToolButton(ToolBar3, QStringLiteral("Datenbankverbindung"),
                                 ResourceIcon(QStringLiteral("database-connection")));
    ToolButton3 = MakeToolButton(ToolBar3, QStringLiteral("Datei(en) zum Umsetzen auswählen"),
                                 QStyle::SP_DialogOpenButton);
    ToolButton4 = MakeToolButton(ToolBar3, QStringLiteral("Import abbrechen"), QStyle::SP_BrowserStop);
    ToolButton5 = MakeToolButton(ToolBar3, QStringLiteral("Übersicht zur Umsetzung"),
                                 QStyle::SP_FileDialogDetailedView);
    ToolButton1 = MakeToolButton(ToolBar3, QStringLiteral("Optionen"), QStyle::SP_FileDialogListView);
    ToolButton1->setText(QStringLiteral("Optionen"));
    // The caption is kept for accessibility; the tool bar shows icons only, as its other buttons do.
    ToolButton1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolButton1->setPopupMode(QToolButton::MenuButtonPopup);

    PopupMenu1 = new QMenu(this);
    auto* group = new QActionGroup(PopupMenu1);
    group->setExclusive(true);
    nachObjektarten1 = PopupMenu1->addAction(QStringLiteral("nach Objektarten"));
    nachObjektarten1->setCheckable(true);
    nachObjektarten1->setChecked(true);
    group->addAction(nachObjektarten1);
    nachFolien1 = PopupMenu1->addAction(QStringLiteral("nach Objektartengruppen"));
    nachFolien1->setCheckable(true);
    group->addAction(nachFolien1);
    N1 = PopupMenu1->addSeparator();
    Referenzen1 = PopupMenu1->addAction(QStringLiteral("Referenzen"));
    Referenzen1->setCheckable(true);
    Referenzen1->setChecked(true);
    ToolButton1->setMenu(PopupMenu1);
    ToolButton1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ToolButton1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopupMenu1->exec(ToolButton1->mapToGlobal(p)); });
    connect(ToolButton1, &QToolButton::clicked, ToolButton1, &QToolButton::showMenu);

    Label1 = new QLabel(QStringLiteral("Zielreferenzsystem:"), ToolBar3);
    Label1->setAlignment(Qt::AlignCenter);
    ToolBar3->addWidget(Label1);
    cboSRID = new QComboBox(ToolBar3);
    cboSRID->setEditable(false);
    cboSRID->setFixedWidth(259);
    cboSRID->setPlaceholderText(QStringLiteral("Zielsystem"));
    ToolBar3->addWidget(cboSRID);
    ToolButton6 = MakeToolButton(ToolBar3, QString(), ResourceIcon(QStringLiteral("help")));

    memoLog = new QPlainTextEdit(this);
    memoLog->setReadOnly(true);
    memoLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    memoLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoLog->setProperty("helpContext", kHelpContext);
    setCentralWidget(memoLog);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setSizeGripEnabled(false);
    setStatusBar(StatusBar1);
    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel0->setFixedWidth(200);
    StatusPanel1 = new TStatusPanel(this, StatusBar1);
    StatusPanel1->setFixedWidth(150);
    StatusPanel2 = new QLabel(StatusBar1);
    StatusPanel2->setFixedWidth(100);
    StatusBar1->addWidget(StatusPanel0);
    StatusBar1->addWidget(StatusPanel1);
    StatusBar1->addWidget(StatusPanel2);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setRange(0, 0); // marquee
    ProgressBar1->setTextVisible(false);
    ProgressBar1->hide();

    connect(nachObjektarten1, &QAction::triggered, this, [this] { nachObjektarten1Click(); });
    connect(nachFolien1, &QAction::triggered, this, [this] { nachFolien1Click(); });
    connect(Referenzen1, &QAction::triggered, this, [this] { Referenzen1Click(); });
    connect(ToolButton2, &QToolButton::clicked, this, [this] { ToolButton2Click(); });
    connect(ToolButton3, &QToolButton::clicked, this, [this] { ToolButton3Click(); });
    connect(ToolButton4, &QToolButton::clicked, this, [this] { ToolButton4Click(); });
    connect(ToolButton5, &QToolButton::clicked, this, [this] { ToolButton5Click(); });
    connect(ToolButton6, &QToolButton::clicked, this, [this] { ToolButton6Click(); });
    // Help key: the manual, when it is there (no compiled help file exists on this platform).
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, [this] { ToolButton6Click(); });

    // The log window starts with one empty line.
    memoLog->setPlainText(QString());

    // The run log is active and empty from the start; every run starts it afresh.
    xmlDocLog = std::make_shared<TXmlDocument>();
    XSLPageProducer1 = std::make_shared<TXslTransformer>();

    FormCreate();
    frmKelpora = this;
}

TfrmKelpora::~TfrmKelpora() {
    FormDestroy();
    if (frmKelpora == this)
        frmKelpora = nullptr;
}

void TfrmKelpora::FormCreate() {
    ProgressBar1->setParent(StatusBar1);
    ProgressBar1->hide();
    obInserts.Clear();
    obStatistics.Clear();
    obFiles.clear();
    oNachFolien = false;
    oReferenzen = true;
    cboSRID->clear();
    srids.clear();
    for (const auto& item : kSridItems) {
        srids.push_back(std::make_unique<TSRID>(item.srid, item.description));
        cboSRID->addItem(QString::number(item.srid) + QLatin1Char(' ') + QString::fromUtf8(item.description));
    }
    cboSRID->setCurrentIndex(kPreselectedSrid);
}

void TfrmKelpora::FormDestroy() {
    obInserts.Clear();
    obFiles.clear();
}

void TfrmKelpora::StatusBar1DrawPanel(int panel, const QRect& rect) {
    if (panel != 1)
        return;
    ProgressBar1->setGeometry(rect.left(), rect.top(), rect.width(), rect.height());
}

void TfrmKelpora::nachObjektarten1Click() {
    nachObjektarten1->setChecked(true);
    oNachFolien = false;
}

void TfrmKelpora::nachFolien1Click() {
    nachFolien1->setChecked(true);
    oNachFolien = true;
}

void TfrmKelpora::Referenzen1Click() {
    // A checkable action has already flipped its tick when it is triggered from the menu; set the
    // tick from our own state so that a direct call flips it exactly once as well.
    const bool ticked = !oReferenzen;
    Referenzen1->setChecked(ticked);
    oReferenzen = ticked;
}

void TfrmKelpora::ToolButton6Click() {
    // The bare file name: the manual is looked for in the process's current folder. A missing file or
    // viewer is not reported.
    const QFileInfo manual(QDir::current(), QString::fromLatin1(kManual));
    if (manual.exists())
        Dialogs().ShellOpen(manual.absoluteFilePath().toStdString());
}

void TfrmKelpora::AddLogLine(const std::string& line) {
    FlushPendingFeatures(); // lines of features still on their way come first
    // The log window starts with one empty line; every added line goes after the last one.
    QTextCursor cursor(memoLog->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QLatin1Char('\n') + QString::fromStdString(line));
    memoLog->moveCursor(QTextCursor::End);
}

std::vector<std::string> TfrmKelpora::LogLines() const {
    std::vector<std::string> out;
    for (QTextBlock b = memoLog->document()->begin(); b.isValid(); b = b.next())
        out.push_back(b.text().toStdString());
    return out;
}

void TfrmKelpora::SetStatusText(int panel, const std::string& text) {
    FlushPendingFeatures();
    if (panel == 0)
        StatusPanel0->setText(QString::fromStdString(text));
    else if (panel == 2)
        StatusPanel2->setText(QString::fromStdString(text));
}

std::string TfrmKelpora::StatusText(int panel) const {
    if (panel == 0)
        return StatusPanel0->text().toStdString();
    if (panel == 2)
        return StatusPanel2->text().toStdString();
    return {};
}

std::int32_t TfrmKelpora::SelectedTargetSRID() const {
    const int i = cboSRID->currentIndex();
    if (i < 0 || i >= static_cast<int>(srids.size()))
        return 0;
    return srids[static_cast<std::size_t>(i)]->SRID;
}

void TfrmKelpora::ShowProgressBar(bool visible) {
    ProgressBar1->setVisible(visible);
}

void TfrmKelpora::LockTableLayoutChoice(bool locked) {
    nachObjektarten1->setEnabled(!locked);
    nachFolien1->setEnabled(!locked);
}

void TfrmKelpora::ProcessMessages() {
    QCoreApplication::processEvents();
    messagesProcessed = std::chrono::steady_clock::now();
}

void TfrmKelpora::ProcessMessagesNowAndThen() {
    // A window redraws at most every 16 ms or so; a click waits no longer than that.
    constexpr auto kInterval = std::chrono::milliseconds(10);
    if (std::chrono::steady_clock::now() - messagesProcessed >= kInterval)
        ProcessMessages();
}

std::string TfrmKelpora::TimeOfDay() {
    return TimeToLocaleText(Now());
}
