// For the page tests: the window as a page sees it, and what a control shows.
#pragma once

#include "ui/page.h"
#include "ui/pictures.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <map>
#include <string>

namespace talmo::test {

// The indicator pictures (none once `withPictures` is cleared), and counts of
// what the pages asked of the window.
class FakeShell : public Shell {
public:
    void showProgrammerPage() override { ++programmerShown; }
    void returnToConsolePage() override { ++returned; }
    const QPixmap& picture(int id) const override {
        const int key = withPictures ? id : -1;
        auto it = pictures_.find(key);
        if (it == pictures_.end())
            it = pictures_.emplace(key, key < 0 ? QPixmap() : loadPicture(id)).first;
        return it->second;
    }
    bool autoUpdateTicked() const override { return false; }
    std::string& firmwarePath() override { return path_; }
    void openWebSite() override { ++webOpened; }

    bool withPictures = true;
    int programmerShown = 0, returned = 0, webOpened = 0;

private:
    mutable std::map<int, QPixmap> pictures_;
    std::string path_ = "./talmo.hex";
};

// What a control shows: its slider position, its picture number or its text.
inline QString Shown(const Page& page, int id) {
    QWidget* w = page.control(id);
    if (auto* s = qobject_cast<QSlider*>(w))
        return QString::number(s->value());
    if (w && w->property("picture").isValid())
        return QString::number(w->property("picture").toInt());
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    if (auto* b = qobject_cast<QPushButton*>(w))
        return b->text();
    return QStringLiteral("<missing %1>").arg(id);
}

} // namespace talmo::test
