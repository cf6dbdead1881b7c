// Dialogs for tests: answers come from scripts, and every message, question and request is recorded.
#pragma once

#include "Dialogs.h"

#include <QUrl>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct TShownDialog {
    TMsgKind Kind;
    std::string Caption;
    std::string Text;
    bool Question; // Yes/No rather than OK
};

class TScriptedDialogs : public TDialogs {
public:
    void ShowMessage(QWidget*, TMsgKind kind, const std::string& caption, const std::string& text) override {
        Shown.push_back({kind, caption, text, false});
        if (OnShown) OnShown(Shown.back());
    }
    bool AskYesNo(QWidget*, TMsgKind kind, const std::string& caption, const std::string& text) override {
        Shown.push_back({kind, caption, text, true});
        if (OnShown) OnShown(Shown.back());
        if (Answers.empty()) return DefaultAnswer;
        bool answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    bool ExecuteOpen(QWidget*, TFileDialog& dialog) override { return Take(OpenNames, dialog, OpenFilters); }
    bool ExecuteSave(QWidget*, TFileDialog& dialog) override { return Take(SaveNames, dialog, SaveFilters); }
    bool OpenUrl(const QUrl& url) override {
        Urls.push_back(url);
        return OpenUrlResult;
    }

    // Texts of the messages and questions shown so far.
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const TShownDialog& d : Shown)
            texts.push_back(d.Text);
        return texts;
    }

    std::deque<bool> Answers; // Yes/No answers in order; DefaultAnswer when used up
    bool DefaultAnswer = false;
    bool OpenUrlResult = true; // false: a desktop that takes no address
    std::deque<std::optional<std::string>> OpenNames; // a name, or nullopt for Cancel
    std::deque<std::optional<std::string>> SaveNames;
    std::vector<std::string> OpenFilters; // the filter each dialog was shown with
    std::vector<std::string> SaveFilters;
    std::vector<TShownDialog> Shown;
    std::vector<QUrl> Urls;
    std::function<void(const TShownDialog&)> OnShown;

private:
    static bool Take(std::deque<std::optional<std::string>>& names, TFileDialog& dialog,
                     std::vector<std::string>& filters) {
        filters.push_back(dialog.Filter);
        if (names.empty()) return false;
        std::optional<std::string> name = names.front();
        names.pop_front();
        if (!name) return false;
        dialog.FileName = *name;
        return true;
    }
};
