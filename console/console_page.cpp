#include "console/console_page.h"

#include "console/console_commands.h"
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

ConsolePage::ConsolePage(AppContext& context, QWidget* parent) : Page(context, parent) {
    setObjectName(QStringLiteral("consolePage"));
    buildControls();
    pollTimer_.setInterval(kPollPeriodMs);
    pollTimer_.setTimerType(Qt::CoarseTimer);
    connect(&pollTimer_, &QTimer::timeout, this, &ConsolePage::pollStatus);
}

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
    connect(levelSlider_, &QSlider::actionTriggered, this, &ConsolePage::onSliderMoved);
    connect(levelSlider_, &QSlider::sliderReleased, this, &ConsolePage::onSliderMoved);
    connect(levelEdit_, &QLineEdit::textChanged, this, &ConsolePage::onLevelEditChanged);
    levelEdit_->installEventFilter(this);
    const std::pair<int, void (ConsolePage::*)()> buttons[] = {
        {kCtlMotorButton, &ConsolePage::onMotorClicked},
        {kCtlLcdTestButton, &ConsolePage::onLcdTestClicked},
        {kCtlUpdateButton, &ConsolePage::onUpdateClicked},
        {kCtlProgrammerButton, &ConsolePage::onProgrammerClicked},
    };
    for (const auto& [id, slot] : buttons)
        connect(static_cast<QPushButton*>(controls_.at(id)), &QPushButton::clicked, this, slot);
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

// ------------------------------------------------------------------ start

void ConsolePage::pageShown() {
    pollTimer_.stop();
    if (!context_.link || !context_.ui)
        return;
    busy_ = true;
    // The version is shown as soon as it is read: a too-old-firmware box
    // comes up over the page with it.
    const StartResult r =
        RunStartSequence(*context_.link, buffer_, cache_, *context_.ui,
                         [this](const std::string& v) { setText(kCtlVersionText, v); });
    busy_ = false;

    if (r.tooOld)
        return; // the device is on its way to the boot loader: no poll
    for (const auto& [control, text] : StartTexts(r))
        setText(control, text);
    if (r.table)
        static_cast<QCheckBox*>(controls_.at(kCtlSignalInvertedBox))
            ->setChecked(r.table->signalInverted);
    pollTimer_.start();
}

void ConsolePage::pageHidden() { pollTimer_.stop(); }

// ------------------------------------------------------------------ poll

bool ConsolePage::talk(const std::function<void(DeviceLink&)>& conversation) {
    if (!context_.link || busy_)
        return false;
    busy_ = true;
    conversation(*context_.link);
    busy_ = false;
    return true;
}

void ConsolePage::pollStatus() {
    // A tick from inside another page's operation (this page not yet told
    // it is hidden) waits for the next one.
    if (context_.shell && context_.shell->insideOperation())
        return;
    PollOutcome outcome = PollOutcome::NoAnswer;
    talk([&](DeviceLink& link) { outcome = PollStatus(link, buffer_, cache_); });
    if (outcome == PollOutcome::Changed)
        showStatus(cache_.bytes);
}

void ConsolePage::showStatus(const ConsoleReport& answer) {
    ++displayedAnswers_;
    // Decoded first: writing the PWM edit talks to the device, which
    // overwrites the report buffer.
    const std::vector<DisplayItem> items = DecodeStatus(answer);
    for (const DisplayItem& d : items) {
        QWidget* w = controls_.at(d.control);
        if (d.skipWhenFocused) {
            const auto* slider = qobject_cast<QSlider*>(w);
            if (w->hasFocus() || (slider && slider->isSliderDown()))
                continue;
        }
        switch (d.kind) {
        case DisplayItem::Text:
            if (d.control == kCtlInputLevelEdit)
                writeLevelEdit(d.text);
            else
                setText(d.control, d.text);
            break;
        case DisplayItem::Picture:
            setPicture(d.control, d.value);
            break;
        case DisplayItem::Position: {
            auto* s = static_cast<QSlider*>(w);
            const QSignalBlocker block(s); // not a user's move
            s->setValue(d.value);
            break;
        }
        case DisplayItem::Visible:
            w->setVisible(d.value != 0);
            break;
        }
    }
}

// ------------------------------------------------------------------ commands

void ConsolePage::writeLevelEdit(const std::string& text) {
    {
        const QSignalBlocker block(levelEdit_);
        levelEdit_->setText(QString::fromStdString(text));
    }
    // Every change of the edit's text goes to the device, the page's own
    // writes included: the shown value settles the device's.
    onLevelEditChanged();
}

void ConsolePage::onSliderMoved() {
    talk([&](DeviceLink& link) {
        SendPwm(link, buffer_, PercentToByte(levelSlider_->sliderPosition()));
    });
}

void ConsolePage::onLevelEditChanged() {
    if (!context_.link)
        return;
    const bool wasBusy = busy_;
    busy_ = true;
    const int p = ParseEditNumber(levelEdit_->text().toStdString());
    SendPwm(*context_.link, buffer_, PercentToByte(p));
    busy_ = wasBusy;
}

void ConsolePage::onLevelEditFocusLost() {
    std::optional<std::uint8_t> level;
    talk([&](DeviceLink& link) { level = RefreshPwmLevel(link, buffer_); });
    if (level)
        writeLevelEdit(PercentText(*level));
}

bool ConsolePage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == levelEdit_ && event->type() == QEvent::FocusOut)
        onLevelEditFocusLost();
    return Page::eventFilter(watched, event);
}

void ConsolePage::onMotorClicked() {
    talk([&](DeviceLink& link) { ToggleMotors(link, buffer_); });
}

void ConsolePage::onLcdTestClicked() {
    if (context_.ui)
        talk([&](DeviceLink& link) { RunLcdTest(link, buffer_, *context_.ui); });
}

void ConsolePage::onUpdateClicked() {
    if (!context_.link)
        return;
    JumpToBootLoader(*context_.link, buffer_);
}

void ConsolePage::onProgrammerClicked() {
    if (context_.shell)
        context_.shell->showProgrammerPage();
}

} // namespace talmo
