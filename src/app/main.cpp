// Program entry: the application titled "Kelpora", the main window, the settings dialog and the
// file-selection dialog, then the message loop until the main window closes. No command line.
#include <QApplication>

#include "app/Application.h"
#include "app/FormKelpora.h"
#include "app/FormOptionen.h"
#include "run/FormFiles.h"

int main(int argc, char** argv) {
    KeepFreedHeap();
    QApplication app(argc, argv);
    SetUpApplication(app);
    TfrmKelpora window;
    Form2 = new TForm2(&window);
    frmFiles = new TfrmFiles(&window);
    window.show();
    return QApplication::exec();
}
