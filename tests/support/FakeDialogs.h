#pragma once
// A scripted stand-in for the modal interactions: records every message box and answers from a queue
// (or with the box's default button); open-file dialogs answer from a queue of file lists; modal
// dialogs run a scripted action and give its result.
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/dialogs/Dialogs.h"

class TFakeDialogs : public TDialogs {
public:
    struct Message {
        std::string text;
        TMsgDlgType type;
        unsigned buttons;
        int defaultButton;
        std::string caption;
    };

    // Installs itself on construction and restores the Qt implementation on destruction.
    TFakeDialogs() { SetDialogs(this); }
    ~TFakeDialogs() override { SetDialogs(nullptr); }

    int MessageDlg(const std::string& text, TMsgDlgType type, unsigned buttons, int defaultButton,
                   const std::string& caption) override {
        messages.push_back({text, type, buttons, defaultButton, caption});
        if (answers.empty())
            return defaultButton != mrNone ? defaultButton : mrOk;
        const int a = answers.front();
        answers.pop_front();
        return a;
    }
    void ShowErrorMessage(const std::string& text) override { errors.push_back(text); }
    std::vector<std::string> OpenFileNames(QWidget*, const std::string& title, const std::string& filter,
                                           bool multiSelect) override {
        openCalls.push_back({title, filter, multiSelect});
        if (fileAnswers.empty())
            return {};
        auto f = fileAnswers.front();
        fileAnswers.pop_front();
        return f;
    }
    int ShowModal(QDialog& dialog) override {
        shownDialogs.push_back(&dialog);
        if (modalActions.empty())
            return mrCancel;
        auto action = modalActions.front();
        modalActions.pop_front();
        return action(dialog);
    }
    bool ShellOpen(const std::string& path) override {
        opened.push_back(path);
        return true;
    }

    std::vector<Message> messages;
    std::deque<int> answers;
    std::vector<std::string> errors;
    struct OpenCall {
        std::string title, filter;
        bool multiSelect;
    };
    std::vector<OpenCall> openCalls;
    std::deque<std::vector<std::string>> fileAnswers;
    std::vector<QDialog*> shownDialogs;
    std::deque<std::function<int(QDialog&)>> modalActions;
    std::vector<std::string> opened;
};
