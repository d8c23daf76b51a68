#pragma once
// The seam for every modal interaction (message boxes, the general error display, the open-file
// dialog, modal dialogs, the desktop's "open"). The program installs the Qt implementation; tests
// install a scripted fake, so nothing modal ever blocks a test.
#include <string>
#include <vector>

class QDialog;
class QWidget;

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// Buttons of a message box, combined as flags.
enum TMsgDlgBtn : unsigned {
    mbYes = 1u << 0,
    mbNo = 1u << 1,
    mbOK = 1u << 2,
    mbCancel = 1u << 3,
    mbAbort = 1u << 4,
    mbRetry = 1u << 5,
    mbIgnore = 1u << 6,
    mbClose = 1u << 7,
};

// Results of a modal dialog or message box.
enum TModalResult : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrClose = 8,
};

class TDialogs {
public:
    virtual ~TDialogs() = default;
    // A modal message box; gives the modal result of the button pressed. `defaultButton` is the
    // result of the button that Enter presses; `caption` empty means the application title.
    virtual int MessageDlg(const std::string& text, TMsgDlgType type, unsigned buttons, int defaultButton,
                           const std::string& caption = std::string()) = 0;
    // The toolkit's general error display for an error no operation caught.
    virtual void ShowErrorMessage(const std::string& text) = 0;
    // The open-file dialog; the chosen full path names in the dialog's order, empty when cancelled.
    virtual std::vector<std::string> OpenFileNames(QWidget* parent, const std::string& title,
                                                   const std::string& filter, bool multiSelect) = 0;
    // Shows a dialog modally and gives its result.
    virtual int ShowModal(QDialog& dialog) = 0;
    // The desktop's "open" of a file; true when a viewer was started.
    virtual bool ShellOpen(const std::string& path) = 0;
};

// The installed implementation (the Qt one unless something else was installed).
TDialogs& Dialogs();
// Installs `dialogs` (not owned; nullptr restores the Qt implementation).
void SetDialogs(TDialogs* dialogs);
