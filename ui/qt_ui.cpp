#include "ui/qt_ui.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTranslator>
#include <QTreeView>
#include <QWindow>

#include <algorithm>

namespace talmo {

namespace {

QString q(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString filterString(const std::vector<FileFilter>& filters) {
    QStringList parts;
    for (const auto& f : filters)
        parts << QStringLiteral("%1 (%2)").arg(q(f.label), q(f.patterns));
    return parts.join(QStringLiteral(";;"));
}

// The file list's sizes, types and dates in French, whatever the system's
// locale; the toolkit takes them from the system's.
class FrenchFileList final : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role != Qt::DisplayRole || !files || index.column() < 1 || index.column() > 3)
            return QIdentityProxyModel::data(index, role);
        const QFileInfo info = files->fileInfo(mapToSource(index));
        const QLocale french;
        switch (index.column()) {
        case 1:
            return info.isDir() ? QString() : french.formattedDataSize(info.size());
        case 2:
            if (info.isDir())
                return QStringLiteral("Dossier");
            return info.suffix().isEmpty() ? QStringLiteral("Fichier")
                                           : QStringLiteral("Fichier ") + info.suffix();
        default:
            return french.toString(info.lastModified(), QLocale::ShortFormat);
        }
    }
};

constexpr int kFileDialogWidth = 760;
constexpr int kFileDialogHeight = 440;

std::optional<std::string> runFileDialog(QWidget* parent, const FileDialogRequest& request,
                                         bool save) {
    QFileDialog dialog(parent, q(request.title), q(request.initialPath),
                       filterString(request.filters));
    // The toolkit's own dialog: the same on every desktop and under test.
    // A filter's label already names its patterns ("Hex Files (*.hex)"):
    // show the label alone, not the patterns a second time.
    QFileDialog::Options options =
        QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails;
    if (save && !request.confirmOverwrite)
        options |= QFileDialog::DontConfirmOverwrite;
    dialog.setOptions(options);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!request.defaultExtension.empty())
        dialog.setDefaultSuffix(q(request.defaultExtension));
    dialog.setProxyModel(new FrenchFileList(&dialog));
    // Wide enough for every column of the detailed list, each as wide as
    // its contents.
    dialog.setViewMode(QFileDialog::Detail);
    dialog.resize(kFileDialogWidth, kFileDialogHeight);
    if (auto* list = dialog.findChild<QTreeView*>(QStringLiteral("treeView")))
        list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

void frenchButtonTexts(QMessageBox& box) {
    static const struct {
        QMessageBox::StandardButton button;
        const char* text;
    } kTexts[] = {
        {QMessageBox::Ok, "OK"},
        {QMessageBox::Cancel, "Annuler"},
        {QMessageBox::Yes, "Oui"},
        {QMessageBox::No, "Non"},
    };
    for (const auto& t : kTexts)
        if (QAbstractButton* b = box.button(t.button))
            b->setText(QString::fromUtf8(t.text));
}

// Drops the user's input to one window and everything in it.
class InputGate final : public QObject {
public:
    const QWidget* window = nullptr; // the window gated, or none

    bool eventFilter(QObject* receiver, QEvent* event) override {
        if (!window || !isInput(event->type()) || !belongsToWindow(receiver))
            return false;
        event->ignore(); // a close request refused, not carried out
        return true;
    }

private:
    static bool isInput(QEvent::Type type) {
        switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::ContextMenu:
        case QEvent::Close:
            return true;
        default:
            return false;
        }
    }
    bool belongsToWindow(QObject* receiver) const {
        if (auto* handle = qobject_cast<QWindow*>(receiver))
            return handle == window->windowHandle();
        // A widget, or an object of one (a shortcut): the widget's window.
        for (QObject* o = receiver; o; o = o->parent())
            if (o->isWidgetType())
                return static_cast<QWidget*>(o)->window() == window;
        return false;
    }
};

} // namespace

QtUi::QtUi(Clock& clock) : clock_(clock), inputGate_(new InputGate) {}

QtUi::~QtUi() { delete inputGate_; }

bool installFrenchTranslation(QCoreApplication& app) {
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLocale(QLocale::French), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

void QtUi::setStatusText(int field, const std::string& text) {
    if (sink_)
        sink_(field, text);
}

Answer QtUi::messageBox(const std::string& text, const std::string& caption, Icon icon,
                        Buttons buttons) {
    QMessageBox box(nullptr);
    box.setWindowTitle(q(caption));
    box.setText(q(text));
    switch (icon) {
    case Icon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case Icon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Icon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case Icon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case Buttons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    frenchButtonTexts(box);
    switch (box.exec()) {
    case QMessageBox::Ok:
        return Answer::Ok;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

std::optional<std::string> QtUi::openFileDialog(const FileDialogRequest& request) {
    return runFileDialog(dialogParent_, request, false);
}

std::optional<std::string> QtUi::saveFileDialog(const FileDialogRequest& request) {
    return runFileDialog(dialogParent_, request, true);
}

void QtUi::waitMs(int ms) {
    // Whole waits on the clock: the time spent answering is part of them.
    const std::int64_t end = clock_.nowUs() + static_cast<std::int64_t>(ms) * 1000;
    for (;;) {
        keepAnswering();
        const std::int64_t left = end - clock_.nowUs();
        if (left <= 0)
            return;
        clock_.sleepUs(std::min<std::int64_t>(left, kAnswerPeriodMs * 1000));
    }
}

void QtUi::progress(const char* phase, std::uint32_t done, std::uint32_t total) {
    if (progressSink_)
        progressSink_(phase, done, total);
    keepAnswering();
}

void QtUi::keepAnswering() {
    const std::int64_t now = clock_.nowUs();
    if (!answering_ || nesting_ > 0 || now - lastAnswerUs_ < kAnswerPeriodMs * 1000 ||
        !QCoreApplication::instance())
        return;
    static_cast<InputGate*>(inputGate_)->window = dialogParent_ ? dialogParent_->window() : nullptr;
    ++nesting_;
    QCoreApplication::instance()->installEventFilter(inputGate_);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::instance()->removeEventFilter(inputGate_);
    --nesting_;
    lastAnswerUs_ = clock_.nowUs();
}

} // namespace talmo
