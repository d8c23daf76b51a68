#include "app/FormOptionen.h"

#include "app/FormKelpora.h"
#include "platform/dialogs/Dialogs.h"

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* parent) : QDialog(parent) { setWindowTitle(QStringLiteral("Optionen")); }

void TfrmKelpora::ToolButton2Click() {
    if (!Form2)
        Form2 = new TForm2(this);
    Dialogs().ShowModal(*Form2);
}
