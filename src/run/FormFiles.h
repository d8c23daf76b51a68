#pragma once
// The file-selection dialog of an import run: the NAS files to load and how the run goes on.
// Results: mrOk (import), mrYes (import, then post-processing), mrRetry (post-processing only),
// mrClose ("Abbruch") and mrCancel (window closed).
#include <QDialog>

class QCheckBox;
class QFrame;
class QPushButton;
class QTableWidget;
class TStringList;

class TfrmFiles : public QDialog {
    Q_OBJECT
public:
    explicit TfrmFiles(QWidget* parent = nullptr);

    QTableWidget* lvFiles = nullptr;
    QCheckBox* cbPostprocessing = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnDelete = nullptr;
    QFrame* Panel1 = nullptr;
    QPushButton* btnImport = nullptr;
    QPushButton* btnPostprocessing = nullptr;
    QPushButton* btnAbbruch = nullptr;

    // The chosen full path names; handed in empty by the import command, which owns it.
    TStringList* obFiles = nullptr;

    static const char* const kFilter;

    void FormCreate();
    void btnAddClick();
    void btnDeleteClick();
    void btnImportClick();
    void btnPostprocessingClick();
    void btnAbbruchClick();

    // The row texts, first to last.
    std::vector<std::string> Rows() const;

public slots:
    // Closing by the title bar or Escape gives Cancel.
    void reject() override;
};

// The instance made at start-up (the import command makes its own for every run).
extern TfrmFiles* frmFiles;
