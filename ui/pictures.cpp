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

// The picture's path among the compiled-in resources, or empty.
QString pathOf(int id) {
    const char* name = PictureFileName(id);
    return name ? QStringLiteral(":/talmo/pictures/") + QString::fromLatin1(name) : QString();
}

// The pictures' greys stand for the desktop's 3-D colours: the face of a
// control (192,192,192) and its shadow (128,128,128) take the palette's.
QByteArray withDesktopColours(QByteArray svg) {
    const QPalette palette = QGuiApplication::palette();
    svg.replace("#c0c0c0", palette.color(QPalette::Button).name().toLatin1());
    svg.replace("#808080", palette.color(QPalette::Dark).name().toLatin1());
    return svg;
}

QPixmap render(const QString& path, QSize size, qreal ratio) {
    initTalmoResources();
    QFile file{path};
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
    const QString path = pathOf(id);
    if (path.isEmpty())
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
