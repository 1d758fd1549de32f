// The toolbar and menu pictures, drawn with QPainter at run time: plain
// shapes in a few colours, so no picture file has to be found at run time.
// Where the desktop theme has a fitting freedesktop icon it is preferred.

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "menus/commands.h"

namespace dorvane {

namespace {

/// Toolbar pictures are 16 by 16 pixels, as the Windows toolbar's were.
constexpr int kIconSize = 16;

const QColor kInk(40, 60, 110);
const QColor kPaper(250, 250, 245);
const QColor kFolder(230, 190, 80);
const QColor kGreen(40, 150, 70);
const QColor kRed(200, 50, 40);

QPixmap Canvas() {
    QPixmap pm(kIconSize, kIconSize);
    pm.fill(Qt::transparent);
    return pm;
}

void Page(QPainter& p, int x, int y) {
    p.setPen(kInk);
    p.setBrush(kPaper);
    p.drawRect(x, y, 8, 10);
}

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& c) {
    p.setPen(QPen(c, 2));
    p.drawLine(from, to);
    const QPointF d = to - from;
    const QPointF n(-d.y() / 4, d.x() / 4);
    QPainterPath head;
    head.moveTo(to + d / 4);
    head.lineTo(to + n);
    head.lineTo(to - n);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPath(head);
}

void Folder(QPainter& p) {
    p.setPen(kInk);
    p.setBrush(kFolder);
    p.drawRect(1, 4, 13, 9);
    p.drawRect(1, 2, 5, 2);
}

QIcon Draw(int id) {
    QPixmap pm = Canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    switch (id) {
    case cmd::kConnect:  // a handheld with a cable
        p.setPen(kInk);
        p.setBrush(QColor(90, 110, 150));
        p.drawRoundedRect(5, 1, 7, 13, 2, 2);
        p.setBrush(QColor(170, 220, 170));
        p.drawRect(6, 3, 5, 4);
        p.setPen(QPen(kGreen, 2));
        p.drawLine(1, 14, 5, 10);
        break;
    case cmd::kCopy:
        Page(p, 1, 1);
        Page(p, 6, 5);
        break;
    case cmd::kMove:
        Page(p, 1, 3);
        Arrow(p, {9, 8}, {13, 8}, kGreen);
        break;
    case cmd::kDelete:
        p.setPen(QPen(kRed, 3));
        p.drawLine(3, 3, 13, 13);
        p.drawLine(13, 3, 3, 13);
        break;
    case cmd::kUp:
        Folder(p);
        Arrow(p, {8, 13}, {8, 6}, kGreen);
        break;
    case cmd::kNewFolder:
        Folder(p);
        p.setPen(QPen(kGreen, 2));
        p.drawLine(11, 0, 11, 6);
        p.drawLine(8, 3, 14, 3);
        break;
    case cmd::kDiskSpace:
        p.setPen(kInk);
        p.setBrush(kPaper);
        p.drawEllipse(2, 2, 12, 12);
        p.setBrush(QColor(70, 120, 200));
        p.drawPie(2, 2, 12, 12, 90 * 16, 120 * 16);
        break;
    case cmd::kStyleList:
        p.setPen(kInk);
        for (int y = 2; y < 14; y += 4) {
            p.drawRect(1, y, 2, 2);
            p.drawRect(8, y, 2, 2);
        }
        break;
    case cmd::kStyleReport:
        p.setPen(kInk);
        for (int y = 2; y < 14; y += 4) {
            p.drawRect(1, y, 2, 2);
            p.drawLine(5, y + 1, 14, y + 1);
        }
        break;
    case cmd::kAbout:
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(70, 120, 200));
        p.drawEllipse(1, 1, 14, 14);
        p.setPen(QPen(Qt::white, 2));
        p.drawLine(8, 7, 8, 12);
        p.drawPoint(8, 4);
        break;
    default:
        return {};
    }
    return QIcon(pm);
}

}  // namespace

QIcon CommandIcon(int commandId) {
    // The freedesktop names a theme may carry for the same commands.
    const char* themeName = nullptr;
    switch (commandId) {
    case cmd::kCopy: themeName = "edit-copy"; break;
    case cmd::kDelete: themeName = "edit-delete"; break;
    case cmd::kUp: themeName = "go-up"; break;
    case cmd::kNewFolder: themeName = "folder-new"; break;
    case cmd::kAbout: themeName = "help-about"; break;
    default: break;
    }
    const QIcon drawn = Draw(commandId);
    if (themeName && QIcon::hasThemeIcon(QString::fromLatin1(themeName)))
        return QIcon::fromTheme(QString::fromLatin1(themeName), drawn);
    return drawn;
}

QIcon LinkIcon(int index) {
    QPixmap pm = Canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(kInk);
    if (index == 0) {  // a 9-pin serial plug
        p.setBrush(QColor(180, 180, 190));
        QPolygon d;
        d << QPoint(1, 4) << QPoint(15, 4) << QPoint(13, 12) << QPoint(3, 12);
        p.drawPolygon(d);
        p.setBrush(kInk);
        for (int x = 4; x <= 12; x += 2) p.drawEllipse(QPoint(x, 7), 1, 1);
    } else {  // the USB trident
        p.setPen(QPen(kInk, 2));
        p.drawLine(8, 14, 8, 2);
        p.drawLine(8, 10, 4, 7);
        p.drawLine(8, 8, 12, 5);
        p.setBrush(kInk);
        p.drawEllipse(QPoint(8, 14), 2, 2);
    }
    return QIcon(pm);
}

QIcon ProgramIcon() {
    constexpr int kSide = 64;
    QPixmap pm(kSide, kSide);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kInk, 3));
    p.setBrush(QColor(90, 110, 150));
    p.drawRoundedRect(14, 4, 36, 56, 8, 8);
    p.setBrush(QColor(170, 220, 170));
    p.drawRect(20, 12, 24, 22);
    p.setPen(QPen(kRed, 3));
    p.drawPolyline(QPolygon({QPoint(23, 30), QPoint(29, 18), QPoint(35, 26), QPoint(41, 15)}));
    return QIcon(pm);
}

}  // namespace dorvane
