#include "tests/common/scripted_ui.h"

namespace talmo {

void ScriptedUi::setStatusText(int field, const std::string& text) {
    if (field == 0 || field == 1)
        fields_[field] = text;
    events_.push_back({.kind = UiEvent::Status, .field = field, .text = text});
}

Answer ScriptedUi::messageBox(const std::string& text, const std::string& caption, Icon icon,
                              Buttons buttons) {
    if (onBox)
        onBox();
    events_.push_back(
        {.kind = UiEvent::Box, .text = text, .caption = caption, .icon = icon, .buttons = buttons});
    if (!answers_.empty()) {
        Answer a = answers_.front();
        answers_.pop_front();
        return a;
    }
    return (buttons == Buttons::Ok || buttons == Buttons::OkCancel) ? Answer::Ok : Answer::Yes;
}

std::optional<std::string> ScriptedUi::fileDialog(UiEvent::Kind kind,
                                                  const FileDialogRequest& request,
                                                  std::deque<std::optional<std::string>>& paths) {
    events_.push_back({.kind = kind, .text = request.title});
    lastDialog_ = request;
    hasDialog_ = true;
    if (paths.empty())
        return std::nullopt;
    auto p = std::move(paths.front());
    paths.pop_front();
    return p;
}

std::optional<std::string> ScriptedUi::openFileDialog(const FileDialogRequest& request) {
    return fileDialog(UiEvent::OpenDialog, request, openPaths_);
}

std::optional<std::string> ScriptedUi::saveFileDialog(const FileDialogRequest& request) {
    return fileDialog(UiEvent::SaveDialog, request, savePaths_);
}

void ScriptedUi::waitMs(int ms) {
    events_.push_back({.kind = UiEvent::Wait, .ms = ms});
    clock_->sleepMs(ms);
}

std::vector<UiEvent> ScriptedUi::boxes() const {
    std::vector<UiEvent> out;
    for (const auto& e : events_)
        if (e.kind == UiEvent::Box)
            out.push_back(e);
    return out;
}

std::vector<std::string> ScriptedUi::boxTexts(bool withCaption) const {
    std::vector<std::string> out;
    for (const auto& e : boxes())
        out.push_back(withCaption ? e.caption + ": " + e.text : e.text);
    return out;
}

std::vector<std::string> ScriptedUi::statusTexts(int field) const {
    std::vector<std::string> out;
    for (const auto& e : events_)
        if (e.kind == UiEvent::Status && e.field == field)
            out.push_back(e.text);
    return out;
}

std::string ScriptedUi::status(int field) const {
    return (field == 0 || field == 1) ? fields_[field] : std::string();
}

std::string ScriptedUi::progressFault() const {
    if (progress_.empty())
        return "no report";
    const ProgressReport& last = progress_.back();
    if (progress_.front().done != 0 || last.done != last.total)
        return "from " + std::to_string(progress_.front().done) + " to " +
               std::to_string(last.done) + " of " + std::to_string(last.total);
    for (std::size_t i = 1; i < progress_.size(); ++i) {
        const ProgressReport& a = progress_[i - 1];
        const ProgressReport& b = progress_[i];
        if (b.total != a.total || b.done < a.done || b.done - a.done > 8)
            return b.phase + ": " + std::to_string(a.done) + " then " + std::to_string(b.done);
    }
    return "";
}

} // namespace talmo
