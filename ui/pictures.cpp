#include "ui/pictures.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>

// The resource file is compiled into a static library: register it once,
// outside any namespace, before the first picture is read.
static void initTalmoResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(talmo_resources);
        return true;
    }();
    (void)done;
}

namespace talmo {

namespace {

struct PictureFile {
    int id;
    const char* path;
};

constexpr PictureFile kPictureFiles[] = {
    {kIconProgram, ":/talmo/pictures/talmo-tools.svg"},
    {kPictureSwitchAuto, ":/talmo/pictures/switch_auto.svg"},
    {kPictureSwitchManu, ":/talmo/pictures/switch_manu.svg"},
    {kPictureStopLit, ":/talmo/pictures/stop_lit.svg"},
    {kPictureStopDim, ":/talmo/pictures/stop_dim.svg"},
    {kPictureDiamondUp, ":/talmo/pictures/diamond_up.svg"},
    {kPictureDiamondDown, ":/talmo/pictures/diamond_down.svg"},
    {kPictureSquareUp, ":/talmo/pictures/square_up.svg"},
    {kPictureSquareDown, ":/talmo/pictures/square_down.svg"},
    {kPictureLcd, ":/talmo/pictures/lcd.svg"},
    {kPictureContactClosed, ":/talmo/pictures/contact_closed.svg"},
    {kPictureContactOpen, ":/talmo/pictures/contact_open.svg"},
    {kPictureSwitchOn, ":/talmo/pictures/switch_on.svg"},
    {kPictureSwitchOff, ":/talmo/pictures/switch_off.svg"},
    {kPictureBack, ":/talmo/pictures/back.svg"},
};

const char* pathOf(int id) {
    for (const auto& f : kPictureFiles)
        if (f.id == id)
            return f.path;
    return nullptr;
}

// The pictures' greys stand for the desktop's 3-D colours: the face of a
// control (192,192,192) and its shadow (128,128,128) take the palette's.
QByteArray withDesktopColours(QByteArray svg) {
    const QPalette palette = QGuiApplication::palette();
    svg.replace("#c0c0c0", palette.color(QPalette::Button).name().toLatin1());
    svg.replace("#808080", palette.color(QPalette::Dark).name().toLatin1());
    return svg;
}

QPixmap render(const char* path, QSize size, qreal ratio) {
    initTalmoResources();
    QFile file{QString::fromLatin1(path)};
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QSvgRenderer renderer{withDesktopColours(file.readAll())};
    if (!renderer.isValid())
        return {};
    if (!size.isValid())
        size = renderer.defaultSize();
    if (size.isEmpty())
        return {};
    if (ratio <= 0)
        ratio = 1.0;
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return pixmap;
}

} // namespace

QPixmap loadPicture(int id, qreal devicePixelRatio) {
    const char* path = pathOf(id);
    if (!path)
        return {};
    return render(path, QSize(), devicePixelRatio);
}

QIcon programIcon() {
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(render(pathOf(kIconProgram), QSize(side, side), 1.0));
    return icon;
}

} // namespace talmo
