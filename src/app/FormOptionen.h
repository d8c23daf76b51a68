#pragma once
// The settings dialog "Optionen" with the database connection of Kelpora.ini.
#include <QDialog>

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
};

extern TForm2* Form2;
