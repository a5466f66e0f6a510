#include "ui/page.h"

#include "ui/pictures.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace talmo {

QString controlName(int id) { return QStringLiteral("control%1").arg(id); }

QLabel* newControlLabel(QWidget* parent, const char* text, int id) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    if (id != 0)
        label->setObjectName(controlName(id));
    return label;
}

QPushButton* newControlButton(QWidget* parent, const char* text, int id) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(controlName(id));
    button->setAutoDefault(false);
    return button;
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

    QPushButton* web = newControlButton(footer, kWebSiteCaption, kWebSiteButton);
    connect(web, &QPushButton::clicked, this, [this] {
        if (context_.shell)
            context_.shell->openWebSite();
    });
    row->addWidget(web);
    footer_ = footer;

    auto* room = new QWidget(this);
    room->setObjectName(QStringLiteral("pageFooterRoom"));
    room->setAttribute(Qt::WA_TransparentForMouseEvents);
    room->setFixedHeight(footer->sizeHint().height() +
                         style()->pixelMetric(QStyle::PM_LayoutBottomMargin));
    footer->raise();
    placeFooter();
    return room;
}

void Page::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeFooter();
}

void Page::placeFooter() {
    if (!footer_)
        return;
    // The style's page margins: where a page laid out with the default
    // margins has it.
    const int left = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    const int right = style()->pixelMetric(QStyle::PM_LayoutRightMargin);
    const int bottom = style()->pixelMetric(QStyle::PM_LayoutBottomMargin);
    const int h = footer_->sizeHint().height();
    footer_->setGeometry(left, height() - bottom - h, width() - left - right, h);
}

} // namespace talmo
