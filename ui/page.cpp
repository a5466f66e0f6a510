#include "ui/page.h"

#include "ui/pictures.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace talmo {

QString controlName(int id) { return QStringLiteral("control%1").arg(id); }

QLabel* newControlLabel(QWidget* parent, const char* text, int id) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    if (id != 0)
        label->setObjectName(controlName(id));
    return label;
}

void Page::setProgramVersion(const std::string& version) {
    if (auto* label = control<QLabel>(kVersionControl))
        label->setText(QString::fromStdString(version));
}

QWidget* Page::createFooter() {
    auto* footer = new QWidget(this);
    footer->setObjectName(QStringLiteral("pageFooter"));
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(0, 0, 0, 0);

    auto* icon = new QLabel(footer);
    icon->setObjectName(controlName(kFooterIconControl));
    icon->setPixmap(loadPicture(kIconProgram, devicePixelRatioF()));
    row->addWidget(icon);

    auto* caption = new QLabel(QStringLiteral("TALMO_Tools, Version"), footer);
    row->addWidget(caption);
    auto* version = new QLabel(QStringLiteral("1.0"), footer);
    version->setObjectName(controlName(kVersionControl));
    row->addWidget(version);
    row->addStretch(1);

    auto* web = new QPushButton(QString::fromUtf8(kWebSiteCaption), footer);
    web->setObjectName(controlName(kWebSiteButton));
    web->setAutoDefault(false);
    connect(web, &QPushButton::clicked, this, [this] {
        if (context_.shell)
            context_.shell->openWebSite();
    });
    row->addWidget(web);
    return footer;
}

} // namespace talmo
