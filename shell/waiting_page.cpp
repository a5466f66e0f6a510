#include "shell/waiting_page.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace talmo {

namespace {
constexpr int kBarMinimum = 0;
constexpr int kBarMaximum = 100;
constexpr int kBarStep = 5;
} // namespace

BarMotion nextBarMotion(BarMotion motion) {
    if (motion.position - kBarStep < 4)
        motion.step = kBarStep;
    if (motion.position + kBarStep > kBarMaximum)
        motion.step = -kBarStep;
    motion.position += motion.step;
    // The bar itself never leaves its range.
    if (motion.position < kBarMinimum)
        motion.position = kBarMinimum;
    if (motion.position > kBarMaximum)
        motion.position = kBarMaximum;
    return motion;
}

WaitingPage::WaitingPage(AppContext& context, QWidget* parent) : Page(context, parent) {
    setObjectName(QStringLiteral("waitingPage"));
    auto* column = new QVBoxLayout(this);

    column->addStretch(2);
    auto* message = new QLabel(QString::fromUtf8("En attente de connexion d'TALMO..."), this);
    message->setAlignment(Qt::AlignCenter);
    column->addWidget(message);
    column->addSpacing(12);

    bar_ = new QProgressBar(this);
    bar_->setObjectName(controlName(kProgressBar));
    bar_->setRange(kBarMinimum, kBarMaximum);
    bar_->setValue(kBarMinimum);
    bar_->setTextVisible(false);
    auto* barRow = new QHBoxLayout;
    barRow->addStretch(1);
    barRow->addWidget(bar_, 4);
    barRow->addStretch(1);
    column->addLayout(barRow);
    column->addStretch(3);

    column->addWidget(createFooter());
    if (auto* web = control<QPushButton>(kWebSiteButton))
        web->setDefault(true);

    timer_ = new QTimer(this);
    timer_->setInterval(kAnimationPeriodMs);
    connect(timer_, &QTimer::timeout, this, &WaitingPage::tick);
}

void WaitingPage::pageShown() { timer_->start(); }

void WaitingPage::pageHidden() { timer_->stop(); }

void WaitingPage::closeEvent(QCloseEvent* event) {
    timer_->stop();
    event->accept();
}

void WaitingPage::tick() {
    const BarMotion next = nextBarMotion({bar_->value(), step_});
    step_ = next.step;
    bar_->setValue(next.position);
}

bool WaitingPage::animating() const { return timer_->isActive(); }

int WaitingPage::barPosition() const { return bar_->value(); }

} // namespace talmo
