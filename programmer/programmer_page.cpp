#include "programmer/programmer_page.h"

#include "core/ui.h"

#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>


namespace talmo {

ProgrammerPage::ProgrammerPage(AppContext& context, QWidget* parent)
    : Page(context, parent), state_(std::make_unique<ProgrammerState>()) {
    ResetPicImage(state_->image);

    auto* page = new QVBoxLayout(this);
    page->addWidget(
        newControlLabel(this, "1. Mettre la VELKOR en mode programmation: J8 sur PRGM"));
    page->addSpacing(10);
    page->addLayout(newSteps());
    page->addSpacing(10);
    page->addWidget(newControlLabel(this, "5. Mettre la VELKOR en mode normal: J8 sur NORMAL"));
    page->addSpacing(10);
    page->addLayout(newBackRow());
    page->addStretch(1);
    page->addWidget(createFooter());
}

QPushButton* ProgrammerPage::newCommandButton(const char* text, int id) {
    QPushButton* button = newControlButton(this, text, id);
    connect(button, &QPushButton::clicked, this, [this, id] { command(id); });
    return button;
}

// Steps 2 to 4: identify, save, program, each with what it found.
QGridLayout* ProgrammerPage::newSteps() {
    auto* steps = new QGridLayout;
    steps->setHorizontalSpacing(10);
    steps->setVerticalSpacing(6);
    steps->setColumnStretch(3, 1);
    auto boldLabel = [this](int id) {
        QLabel* label = newControlLabel(this, kProgrammerNoText, id);
        QFont bold = label->font();
        bold.setBold(true);
        label->setFont(bold);
        return label;
    };

    steps->addWidget(
        newControlLabel(this, "2. Identification automatique du PIC et version VELKOR"), 0, 0, 1,
        2);
    steps->addWidget(newCommandButton("Identifier", kProgrammerIdentifyButton), 0, 2);
    steps->addWidget(newControlLabel(this, "(optionnel)"), 0, 3);
    steps->addWidget(newControlLabel(this, "PIC:"), 1, 0, Qt::AlignRight);
    steps->addWidget(boldLabel(kProgrammerPicName), 1, 1, 1, 3);
    steps->addWidget(newControlLabel(this, "Version:"), 2, 0, Qt::AlignRight);
    steps->addWidget(boldLabel(kProgrammerPicVersion), 2, 1, 1, 3);
    steps->setRowMinimumHeight(3, 12);

    steps->addWidget(newControlLabel(this, "3. Sauvegarde du programme du PIC"), 4, 0, 1, 2);
    steps->addWidget(newCommandButton("Sauvegarder", kProgrammerSaveButton), 4, 2);
    steps->addWidget(newControlLabel(this, "(optionnel)"), 4, 3);
    steps->setRowMinimumHeight(5, 12);

    steps->addWidget(newControlLabel(this, "4. Programmer une autre version dans le PIC"), 6, 0, 1,
                     2);
    steps->addWidget(newCommandButton("Programmer", kProgrammerProgramButton), 6, 2);
    steps->addWidget(newControlLabel(this, "Version:"), 7, 0, Qt::AlignRight);
    steps->addWidget(boldLabel(kProgrammerFileVersion), 7, 1, 1, 3);
    return steps;
}

// The back button shows picture 169; its text is only its accessible name.
QHBoxLayout* ProgrammerPage::newBackRow() {
    auto* backRow = new QHBoxLayout;
    QPushButton* back = newCommandButton("", kProgrammerBackButton);
    back->setAccessibleName(QStringLiteral("Retour TALMO"));
    back->setToolTip(QStringLiteral("Retour TALMO"));
    backRow->addWidget(back);
    backRow->addStretch(1);
    return backRow;
}

ProgrammerPage::~ProgrammerPage() = default;

ProgrammerContext ProgrammerPage::flowContext() {
    return ProgrammerContext{*context_.link, *context_.ui, *state_,
                             [this](int id, const std::string& text) { setControlText(id, text); }};
}

void ProgrammerPage::setControlText(int id, const std::string& text) {
    if (auto* label = control<QLabel>(id))
        label->setText(QString::fromStdString(text));
}

void ProgrammerPage::pageShown() {
    auto* back = control<QPushButton>(kProgrammerBackButton);
    const QPixmap* picture =
        context_.shell ? &context_.shell->picture(kProgrammerBackPicture) : nullptr;
    if (picture && !picture->isNull()) {
        back->setIcon(QIcon(*picture));
        back->setIconSize(picture->deviceIndependentSize().toSize());
        back->setText(QString());
    } else {
        // Without its picture the button would be blank: name it instead.
        back->setIcon(QIcon());
        back->setText(QStringLiteral("Retour TALMO"));
    }
    if (!context_.link || !context_.ui)
        return;
    ProgrammerContext c = flowContext();
    ProgrammerShown(c);
}

void ProgrammerPage::command(int id) {
    if (id == kProgrammerWebButton) {
        if (context_.shell)
            context_.shell->openWebSite();
        return;
    }
    if (!context_.link || !context_.ui)
        return;
    ProgrammerContext c = flowContext();
    if (ProgrammerCommand(c, id) && context_.shell)
        context_.shell->returnToConsolePage();
}

} // namespace talmo
