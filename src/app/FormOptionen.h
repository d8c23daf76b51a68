#pragma once
// The settings dialog "Optionen": the database connection and the data schema kept in Kelpora.ini,
// with a connection test.
#include <QDialog>
#include <string>
#include <vector>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    QGroupBox* rgSchema = nullptr;
    std::vector<QRadioButton*> rgSchemaItems; // "ATKIS", "AFIS", "ALKIS"
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* tbDriver = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* tbServer = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* tbPort = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* tbDatenbank = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* tbUser = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* tbPasswort = nullptr;
    QPushButton* btnTest = nullptr;
    QLabel* lblVerbindung = nullptr;
    QPushButton* btnSpeichern = nullptr;
    QPushButton* btnBeenden = nullptr;

    // The selected item of the schema radio group (-1 when none) and its text.
    int SchemaItemIndex() const;
    void SetSchemaItemIndex(int index);
    std::string SchemaItemText() const;

    // Fills the dialog from the configuration file and shows it modally.
    int Execute();

    void FormShow();
    void btnSpeichernClick();
    void btnTestClick();
    void btnBeendenClick();

    // The configuration file next to the executable.
    static std::string IniFileName();
};

extern TForm2* Form2;
