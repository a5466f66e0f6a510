#include "shell/waiting_page.h"

#include "link/access_advice.h"

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
constexpr char kWaitingText[] = "En attente de connexion d'TALMO...";
constexpr char kRefusedText[] = "Le TALMO est branché, mais le système en refuse l'accès.";
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
    message_ = new QLabel(QString::fromUtf8(kWaitingText), this);
    message_->setObjectName(QStringLiteral("waitingMessage"));
    message_->setAlignment(Qt::AlignCenter);
    column->addWidget(message_);
    column->addSpacing(12);

    // The refusal's advice: what to install and run, to be copied.
    advice_ = new QLabel(this);
    advice_->setObjectName(QStringLiteral("refusalAdvice"));
    advice_->setWordWrap(true);
    advice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    advice_->hide();
    auto* adviceRow = new QHBoxLayout;
    adviceRow->addSpacing(24);
    adviceRow->addWidget(advice_, 1);
    adviceRow->addSpacing(24);
    column->addLayout(adviceRow);

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

void WaitingPage::showRefusedNode(const std::string& node) {
    const bool refused = !node.empty();
    message_->setText(QString::fromUtf8(refused ? kRefusedText : kWaitingText));
    QFont font = message_->font();
    font.setBold(refused);
    message_->setFont(font);
    advice_->setText(refused ? QString::fromStdString(AccessDeniedAdvice(node)) : QString());
    advice_->setVisible(refused);
    bar_->setVisible(!refused);
}

bool WaitingPage::showsRefusal() const { return !advice_->isHidden(); }

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
