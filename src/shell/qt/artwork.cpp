// Icon and logo painted with QPainter, so that the program carries no
// picture files: a rounded tile with a "V", and a banner with the names.
#include "shell/qt/artwork.h"

#include "foundation/product.h"

#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace vantrel {

namespace {

const QColor Deep(20, 52, 96);
const QColor Light(58, 128, 196);
const QColor Accent(250, 186, 60);

} // namespace

QPixmap iconPicture(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, size);
    fill.setColorAt(0, Light);
    fill.setColorAt(1, Deep);
    const qreal margin = size / 16.0;
    const QRectF tile(margin, margin, size - 2 * margin, size - 2 * margin);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(tile, size / 6.0, size / 6.0);

    // A "V" of two strokes meeting at the bottom, with a spark above.
    QPen stroke(Qt::white, size / 9.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(stroke);
    QPainterPath v;
    v.moveTo(size * 0.27, size * 0.30);
    v.lineTo(size * 0.50, size * 0.76);
    v.lineTo(size * 0.73, size * 0.30);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(v);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Accent);
    painter.drawEllipse(QPointF(size * 0.5, size * 0.26), size * 0.07, size * 0.07);
    return pixmap;
}

QIcon mainIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(iconPicture(size));
    return icon;
}

QPixmap logoPicture(int width, int height)
{
    QPixmap pixmap(width, height);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient fill(0, 0, width, 0);
    fill.setColorAt(0, Deep);
    fill.setColorAt(1, Light);
    painter.fillRect(pixmap.rect(), fill);

    const int iconSize = height - 12;
    painter.drawPixmap(6, 6, iconPicture(iconSize));

    const int textLeft = iconSize + 16;
    QFont title = painter.font();
    title.setBold(true);
    const int textWidth = width - textLeft - 8;
    // The largest size up to two fifths of the height at which the name fits.
    for (int size = height * 2 / 5; size > 6; --size) {
        title.setPixelSize(size);
        if (QFontMetrics(title).horizontalAdvance(QString::fromLatin1(ProductName)) <= textWidth)
            break;
    }
    painter.setFont(title);
    painter.setPen(Qt::white);
    painter.drawText(QRect(textLeft, 4, width - textLeft - 6, height * 3 / 5), Qt::AlignLeft | Qt::AlignVCenter,
                     QString::fromLatin1(ProductName));
    QFont small = title;
    small.setBold(false);
    small.setPixelSize(std::max(6, height / 5));
    painter.setFont(small);
    painter.setPen(Accent);
    painter.drawText(QRect(textLeft, height * 3 / 5, width - textLeft - 6, height * 2 / 5 - 4),
                     Qt::AlignLeft | Qt::AlignVCenter, QString::fromLatin1(MakerName));
    return pixmap;
}

} // namespace vantrel
