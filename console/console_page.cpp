#include "console/console_page.h"

#include "core/ui.h"
#include "ui/pictures.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QVBoxLayout>

#include <utility>

namespace talmo {

namespace {

// ------------------------------------------------------------------ layout
//
// The page's group boxes and every control in them. A row places one
// control in its group's grid; id 0 is a static label without an identifier.

enum class Kind {
    Label,
    Text,
    Button,
    CheckBox,
    Picture,
    PictureButton,
    NumberEdit,
    ReadOnlyEdit,
    Slider
};

enum Group {
    GTalmo,
    GFlash,
    GPwmIn,
    GPwmOut,
    GLcd,
    GKeypad,
    GMotors,
    GStops,
    GroupCount
};

struct GroupRow {
    const char* caption;
    int row, column, rowSpan, columnSpan; // place on the page
};

constexpr GroupRow kGroups[GroupCount] = {
    {"TALMO", 0, 0, 1, 1},      {"Flash", 0, 1, 1, 1},  {"Entrée PWM", 1, 0, 1, 1},
    {"Sortie PWM", 2, 0, 1, 1}, {"LCD", 0, 2, 1, 1},    {"Clavier", 1, 2, 1, 1},
    {"Moteurs", 2, 1, 1, 2},    {"Arrêts", 1, 1, 1, 1},
};

enum Flags : unsigned {
    None = 0,
    Disabled = 1,
    Hidden = 2,
    RightAligned = 4
};

struct ControlRow {
    int id;
    Kind kind;
    Group group;
    int row, column, rowSpan, columnSpan;
    const char* text; // caption or initial text
    int picture;      // initial picture, 0 for none
    unsigned flags;
};

// A captioned text: the caption's label at (row, column) over labelSpan
// columns, then the text right after it over textSpan columns.
struct FieldRow {
    int id;
    Group group;
    int row, column, labelSpan, textSpan;
    const char* caption;
    const char* text; // initial text
};

constexpr FieldRow kFields[] = {
    {kCtlVersionText, GTalmo, 0, 0, 1, 2, "Version: ", "TALMO Vx.yz"},
    {kCtlTableText, GTalmo, 1, 0, 1, 2, "Table:", "-"},
    {kCtlFrequencyText, GTalmo, 2, 0, 1, 2, "Fréq:", "- kHz"},
    {kCtlFlashMakerText, GFlash, 0, 0, 1, 2, "Fabricant:", "Non détecté"},
    {kCtlFlashTypeText, GFlash, 1, 0, 1, 2, "Type:", "Non détecté"},
    {kCtlFlashSizeText, GFlash, 2, 0, 1, 2, "Taille:", "Non détecté"},
    {kCtlFlashProtectText, GFlash, 3, 0, 1, 2, "Protection:", "Non détecté"},
    {kCtlPwmMaxText, GPwmOut, 1, 1, 2, 1, "PWM Max:", "- %"},
    {kCtlIo1Text, GPwmOut, 2, 1, 2, 1, "IO1:", "-"},
    {kCtlStartProtectText, GPwmOut, 3, 0, 3, 1, "Protection démarrage: ", "OFF"},
    {kCtlAutoOnOffText, GMotors, 1, 1, 1, 2, "Auto on/off:", "-"},
    {kCtlAxesText, GMotors, 2, 1, 1, 2, "Axes:", "-,-,-,-,-"},
    {kCtlAccelText, GMotors, 1, 4, 1, 1, "Accèl:", "-"},
    {kCtlContactsText, GStops, 0, 1, 1, 1, "Contacts:", "-"},
};

// Every other control, and the labels that stand alone.
constexpr ControlRow kControls[] = {
    // "TALMO"
    {kCtlUpdateButton, Kind::Button, GTalmo, 3, 0, 1, 1, "Mise à jour", 0, None},
    {0, Kind::Label, GTalmo, 3, 1, 1, 1, "Auto", 0, RightAligned},
    {kCtlAutoBox, Kind::CheckBox, GTalmo, 3, 2, 1, 1, "", 0, None},
    {kCtlProgrammerButton, Kind::Button, GTalmo, 4, 0, 1, 1, "Màj VELKOR", 0, None},
    // "Flash"
    {0, Kind::Label, GFlash, 4, 0, 1, 1, "Fichiers:", 0, None},
    {kCtlFlashFilesText, Kind::Text, GFlash, 4, 1, 1, 1, "0", 0, RightAligned},
    {kCtlFlashDetailsButton, Kind::Button, GFlash, 4, 2, 1, 1, "Détails", 0, Disabled},
    // "Entrée PWM"
    {kCtlInputModePicture, Kind::Picture, GPwmIn, 0, 0, 2, 1, "", kPictureSwitchAuto, None},
    {kCtlInputLevelEdit, Kind::NumberEdit, GPwmIn, 0, 1, 1, 1, "", 0, None},
    {0, Kind::Label, GPwmIn, 0, 2, 1, 1, "%", 0, None},
    {kCtlInputLevelSlider, Kind::Slider, GPwmIn, 0, 3, 1, 1, "", 0, None},
    {kCtlInputLevel2Edit, Kind::ReadOnlyEdit, GPwmIn, 1, 1, 1, 1, "", 0, None},
    {0, Kind::Label, GPwmIn, 1, 2, 1, 1, "%", 0, None},
    {kCtlInputLevel2Slider, Kind::Slider, GPwmIn, 1, 3, 1, 1, "", 0, Disabled},
    // "Sortie PWM"
    {kCtlOutputSwitchPicture, Kind::Picture, GPwmOut, 0, 0, 3, 1, "", kPictureSwitchOn, None},
    {kCtlOutputLevelEdit, Kind::ReadOnlyEdit, GPwmOut, 0, 1, 1, 1, "", 0, None},
    {0, Kind::Label, GPwmOut, 0, 2, 1, 1, "%", 0, None},
    {kCtlOutputLevelSlider, Kind::Slider, GPwmOut, 0, 3, 1, 1, "", 0, Disabled},
    // "LCD"
    {0, Kind::Picture, GLcd, 0, 0, 1, 1, "", kPictureLcd, None},
    {kCtlLcdTestButton, Kind::Button, GLcd, 1, 0, 1, 1, "Test", 0, None},
    // "Clavier"
    {kCtlKeyUp, Kind::Picture, GKeypad, 0, 1, 1, 1, "", kPictureDiamondUp, None},
    {kCtlKeyLeft, Kind::Picture, GKeypad, 1, 0, 1, 1, "", kPictureDiamondUp, None},
    {kCtlKeyRight, Kind::Picture, GKeypad, 1, 2, 1, 1, "", kPictureDiamondUp, None},
    {kCtlKeyDown, Kind::Picture, GKeypad, 2, 1, 1, 1, "", kPictureDiamondUp, None},
    {kCtlKeyEsc, Kind::Picture, GKeypad, 0, 3, 1, 1, "", kPictureSquareUp, None},
    {0, Kind::Label, GKeypad, 0, 4, 1, 1, "ESC", 0, None},
    {kCtlKeyOk, Kind::Picture, GKeypad, 2, 3, 1, 1, "", kPictureSquareUp, None},
    {0, Kind::Label, GKeypad, 2, 4, 1, 1, "OK", 0, None},
    {kCtlKeypadMissingText, Kind::Text, GKeypad, 0, 5, 3, 1, " Clavier\n   non\ndétecté", 0,
     Hidden},
    // "Moteurs"
    {kCtlMotorButton, Kind::PictureButton, GMotors, 0, 0, 3, 1, "", 0, None},
    {0, Kind::Label, GMotors, 0, 1, 1, 2, "Signal on/off inversé:", 0, None},
    {kCtlSignalInvertedBox, Kind::CheckBox, GMotors, 0, 3, 1, 1, "", 0, Disabled},
    {kCtlMovesButton, Kind::Button, GMotors, 2, 4, 1, 2, "Déplacements", 0, Disabled | Hidden},
    // "Arrêts"
    {kCtlStopPicture, Kind::Picture, GStops, 0, 0, 3, 1, "", kPictureStopLit, None},
    {0, Kind::Label, GStops, 1, 1, 1, 1, "FDCs", 0, None},
    {kCtlLimitSwitchPicture, Kind::Picture, GStops, 1, 2, 1, 1, "", kPictureContactOpen, None},
    {0, Kind::Label, GStops, 2, 1, 1, 1, "Palpeurs", 0, None},
    {kCtlProbePicture, Kind::Picture, GStops, 2, 2, 1, 1, "", kPictureContactOpen, None},
};

// The motor button's size: 23 by 45 dialog units.
constexpr int kMotorButtonWidth = 36 + 10;
constexpr int kMotorButtonHeight = 56 + 16;

// ------------------------------------------------------------------ construction

// The two rows of a captioned text: its caption, then the text itself.
ControlRow CaptionOf(const FieldRow& f) {
    return {0, Kind::Label, f.group, f.row, f.column, 1, f.labelSpan, f.caption, 0, None};
}
ControlRow TextOf(const FieldRow& f) {
    const int column = f.column + f.labelSpan;
    return {f.id, Kind::Text, f.group, f.row, column, 1, f.textSpan, f.text, 0, None};
}

QLineEdit* NewLevelEdit(bool readOnly, QWidget* box) {
    auto* e = new QLineEdit(box);
    e->setFixedWidth(40);
    e->setAlignment(Qt::AlignRight);
    if (readOnly) {
        e->setReadOnly(true);
        e->setFocusPolicy(Qt::NoFocus);
    } else {
        // Digits only from the keyboard; the page's own "%3d" texts carry
        // leading blanks.
        e->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral(" *[0-9]*")), e));
    }
    return e;
}

QSlider* NewLevelSlider(QWidget* box) {
    auto* s = new QSlider(Qt::Horizontal, box);
    s->setRange(0, 100);
    s->setTickInterval(25);
    s->setTickPosition(QSlider::TicksBelow);
    s->setPageStep(20);
    s->setMinimumWidth(64);
    return s;
}

// The widget of one row's kind, with its text or picture, in its group box.
QWidget* NewControl(const ControlRow& c, QWidget* box, qreal ratio) {
    const QString text = QString::fromUtf8(c.text);
    switch (c.kind) {
    case Kind::Label:
    case Kind::Text: {
        auto* l = new QLabel(text, box);
        if (c.flags & RightAligned)
            l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return l;
    }
    case Kind::Picture: {
        auto* l = new QLabel(box);
        l->setAlignment(Qt::AlignCenter);
        l->setPixmap(loadPicture(c.picture, ratio));
        l->setProperty("picture", c.picture);
        return l;
    }
    case Kind::PictureButton: {
        auto* b = new QPushButton(box);
        b->setFixedSize(kMotorButtonWidth, kMotorButtonHeight);
        b->setIconSize(QSize(36, 56));
        b->setAutoDefault(false);
        b->setProperty("picture", 0);
        return b;
    }
    case Kind::Button: {
        auto* b = new QPushButton(text, box);
        b->setAutoDefault(false);
        return b;
    }
    case Kind::CheckBox:
        return new QCheckBox(text, box);
    case Kind::NumberEdit:
    case Kind::ReadOnlyEdit:
        return NewLevelEdit(c.kind == Kind::ReadOnlyEdit, box);
    case Kind::Slider:
        return NewLevelSlider(box);
    }
    return nullptr;
}

void ApplyFlags(QWidget* w, unsigned flags) {
    if (flags & Disabled)
        w->setEnabled(false);
    if (flags & Hidden) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
        w->setVisible(false);
    }
}

} // namespace

// ------------------------------------------------------------------ page

// The page's widgets as the console's flow draws them.
class ConsolePage::View final : public ConsoleView {
public:
    explicit View(ConsolePage& page) : page_(page) {}
    void setText(int control, const std::string& text) override {
        // The flow sends the edit's text itself: not a user's change.
        const QSignalBlocker block(page_.levelEdit_);
        page_.setText(control, text);
    }
    void setPicture(int control, int picture) override { page_.setPicture(control, picture); }
    void setPosition(int control, int position) override {
        auto* s = static_cast<QSlider*>(page_.controls_.at(control));
        const QSignalBlocker block(s); // not a user's move
        s->setValue(position);
    }
    void setVisible(int control, bool visible) override {
        page_.controls_.at(control)->setVisible(visible);
    }
    void setChecked(int control, bool checked) override {
        static_cast<QCheckBox*>(page_.controls_.at(control))->setChecked(checked);
    }
    bool hasFocus(int control) override {
        QWidget* w = page_.controls_.at(control);
        const auto* slider = qobject_cast<QSlider*>(w);
        return w->hasFocus() || (slider && slider->isSliderDown());
    }

private:
    ConsolePage& page_;
};

ConsolePage::ConsolePage(AppContext& context, QWidget* parent)
    : Page(context, parent), view_(std::make_unique<View>(*this)) {
    setObjectName(QStringLiteral("consolePage"));
    buildControls();
    pollTimer_.setSingleShot(true);
    pollTimer_.setTimerType(Qt::PreciseTimer);
    connect(&pollTimer_, &QTimer::timeout, this, &ConsolePage::pollStatus);
}

ConsolePage::~ConsolePage() = default;

void ConsolePage::buildControls() {
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(4, 4, 4, 0);
    auto* groupsGrid = new QGridLayout;
    groupsGrid->setSpacing(4);
    page->addLayout(groupsGrid, 1);

    QGroupBox* boxes[GroupCount];
    QGridLayout* grids[GroupCount];
    for (int g = 0; g < GroupCount; ++g) {
        boxes[g] = new QGroupBox(QString::fromUtf8(kGroups[g].caption), this);
        grids[g] = new QGridLayout(boxes[g]);
        grids[g]->setContentsMargins(6, 4, 6, 4);
        grids[g]->setHorizontalSpacing(4);
        grids[g]->setVerticalSpacing(2);
        groupsGrid->addWidget(boxes[g], kGroups[g].row, kGroups[g].column, kGroups[g].rowSpan,
                              kGroups[g].columnSpan);
    }

    const qreal ratio = devicePixelRatioF();
    const auto add = [&](const ControlRow& c) {
        QWidget* w = NewControl(c, boxes[c.group], ratio);
        if (c.id != 0) {
            w->setObjectName(controlName(c.id));
            controls_[c.id] = w;
        }
        ApplyFlags(w, c.flags);
        grids[c.group]->addWidget(w, c.row, c.column, c.rowSpan, c.columnSpan);
    };
    for (const FieldRow& f : kFields) {
        add(CaptionOf(f));
        add(TextOf(f));
    }
    for (const ControlRow& c : kControls)
        add(c);
    for (QGridLayout* g : grids)
        g->setRowStretch(g->rowCount(), 1);

    page->addWidget(createFooter());

    connectControls();
}

void ConsolePage::connectControls() {
    levelEdit_ = static_cast<QLineEdit*>(controls_.at(kCtlInputLevelEdit));
    levelSlider_ = static_cast<QSlider*>(controls_.at(kCtlInputLevelSlider));
    autoBox_ = static_cast<QCheckBox*>(controls_.at(kCtlAutoBox));

    // Every user action on the slider, and the end of each drag.
    const auto sliderMoved = [this] {
        run([&](ConsoleContext& c) { ConsoleSliderMoved(c, levelSlider_->sliderPosition()); });
    };
    connect(levelSlider_, &QSlider::actionTriggered, this, sliderMoved);
    connect(levelSlider_, &QSlider::sliderReleased, this, sliderMoved);
    connect(levelEdit_, &QLineEdit::textChanged, this, [this](const QString& text) {
        run([&](ConsoleContext& c) { ConsoleEditChanged(c, text.toStdString()); });
    });
    levelEdit_->installEventFilter(this);
    const std::pair<int, void (*)(ConsoleContext&)> buttons[] = {
        {kCtlMotorButton, ConsoleMotorsClicked},
        {kCtlLcdTestButton, ConsoleLcdTestClicked},
        {kCtlUpdateButton, ConsoleUpdateClicked},
    };
    for (const auto& [id, step] : buttons)
        connect(static_cast<QPushButton*>(controls_.at(id)), &QPushButton::clicked, this,
                [this, step = step] { run(step); });
    connect(static_cast<QPushButton*>(controls_.at(kCtlProgrammerButton)), &QPushButton::clicked,
            this, [this] {
                if (context_.shell)
                    context_.shell->showProgrammerPage();
            });
}

bool ConsolePage::autoUpdateTicked() const { return autoBox_->isChecked(); }

void ConsolePage::setText(int control, const std::string& text) {
    auto it = controls_.find(control);
    if (it == controls_.end())
        return;
    if (auto* l = qobject_cast<QLabel*>(it->second))
        l->setText(QString::fromStdString(text));
    else if (auto* e = qobject_cast<QLineEdit*>(it->second))
        e->setText(QString::fromStdString(text));
}

void ConsolePage::setPicture(int control, int pictureId) {
    auto it = controls_.find(control);
    if (it == controls_.end())
        return;
    QWidget* w = it->second;
    const QPixmap pixmap = context_.shell ? context_.shell->picture(pictureId) : QPixmap();
    // The same picture again would only cost a repaint.
    const bool same = w->property("picture").toInt() == pictureId &&
                      w->property("pictureKey").toLongLong() == pixmap.cacheKey();
    if (same)
        return;
    w->setProperty("picture", pictureId);
    w->setProperty("pictureKey", pixmap.cacheKey());
    if (auto* l = qobject_cast<QLabel*>(w))
        l->setPixmap(pixmap);
    else if (auto* b = qobject_cast<QPushButton*>(w))
        b->setIcon(QIcon(pixmap));
}

// ------------------------------------------------------------------ flow

template <class Step>
void ConsolePage::run(Step step) {
    if (!context_.link || !context_.ui)
        return;
    ConsoleContext c{*context_.link, *context_.ui, state_, *view_};
    step(c);
}

void ConsolePage::pageShown() {
    pollTimer_.stop();
    run(ConsoleShown);
    armPoll();
}

void ConsolePage::pageHidden() {
    ConsoleHidden(state_);
    pollTimer_.stop();
}

void ConsolePage::pollStatus() {
    // A tick from inside another page's operation (this page not yet told
    // it is hidden) waits a period for the next one.
    if (context_.shell && context_.shell->insideOperation()) {
        pollTimer_.start(kConsolePollPeriodMs);
        return;
    }
    run(ConsoleTick);
    armPoll();
}

void ConsolePage::armPoll() {
    int ms = -1;
    run([&](ConsoleContext& c) { ms = ConsoleNextPollMs(c); });
    if (ms < 0)
        pollTimer_.stop();
    else
        pollTimer_.start(ms);
}

bool ConsolePage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == levelEdit_ && event->type() == QEvent::FocusOut)
        run(ConsoleEditLeft);
    return Page::eventFilter(watched, event);
}

} // namespace talmo
