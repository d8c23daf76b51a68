#include "platform/dialogs/Dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace {

struct ButtonMap {
    TMsgDlgBtn flag;
    QMessageBox::StandardButton qt;
    TModalResult result;
};

constexpr ButtonMap kButtons[] = {
    {mbYes, QMessageBox::Yes, mrYes},
    {mbNo, QMessageBox::No, mrNo},
    {mbOK, QMessageBox::Ok, mrOk},
    {mbCancel, QMessageBox::Cancel, mrCancel},
    {mbAbort, QMessageBox::Abort, mrAbort},
    {mbRetry, QMessageBox::Retry, mrRetry},
    {mbIgnore, QMessageBox::Ignore, mrIgnore},
    {mbClose, QMessageBox::Close, mrClose},
};

class TQtDialogs final : public TDialogs {
public:
    int MessageDlg(const std::string& text, TMsgDlgType type, unsigned buttons, int defaultButton,
                   const std::string& caption) override {
        QMessageBox box(QApplication::activeWindow());
        switch (type) {
        case TMsgDlgType::mtWarning:
            box.setIcon(QMessageBox::Warning);
            break;
        case TMsgDlgType::mtError:
            box.setIcon(QMessageBox::Critical);
            break;
        case TMsgDlgType::mtInformation:
            box.setIcon(QMessageBox::Information);
            break;
        case TMsgDlgType::mtConfirmation:
            box.setIcon(QMessageBox::Question);
            break;
        case TMsgDlgType::mtCustom:
            break;
        }
        box.setWindowTitle(caption.empty() ? QApplication::applicationName()
                                           : QString::fromStdString(caption));
        box.setText(QString::fromStdString(text));
        QMessageBox::StandardButtons qtButtons;
        for (const auto& b : kButtons)
            if (buttons & b.flag)
                qtButtons |= b.qt;
        if (!qtButtons)
            qtButtons = QMessageBox::Ok;
        box.setStandardButtons(qtButtons);
        for (const auto& b : kButtons)
            if (b.result == defaultButton && (buttons & b.flag))
                box.setDefaultButton(b.qt);
        const int pressed = box.exec();
        for (const auto& b : kButtons)
            if (pressed == b.qt)
                return b.result;
        return mrCancel;
    }

    void ShowErrorMessage(const std::string& text) override {
        QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationName(),
                              QString::fromStdString(text));
    }

    std::vector<std::string> OpenFileNames(QWidget* parent, const std::string& title,
                                           const std::string& filter, bool multiSelect) override {
        std::vector<std::string> out;
        const QString qTitle = QString::fromStdString(title);
        const QString qFilter = QString::fromStdString(filter);
        if (multiSelect) {
            for (const QString& f : QFileDialog::getOpenFileNames(parent, qTitle, QString(), qFilter))
                out.push_back(f.toStdString());
        } else {
            const QString f = QFileDialog::getOpenFileName(parent, qTitle, QString(), qFilter);
            if (!f.isEmpty())
                out.push_back(f.toStdString());
        }
        return out;
    }

    int ShowModal(QDialog& dialog) override { return dialog.exec(); }

    bool ShellOpen(const std::string& path) override {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
    }
};

TQtDialogs& QtDialogs() {
    static TQtDialogs instance;
    return instance;
}

TDialogs* installed = nullptr;

} // namespace

TDialogs& Dialogs() {
    return installed ? *installed : QtDialogs();
}

void SetDialogs(TDialogs* dialogs) {
    installed = dialogs;
}
