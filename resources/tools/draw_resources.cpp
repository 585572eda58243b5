// Draws the program icon (resource 130) and the hand cursor (resource 131)
// into PNG files. Run by hand when the drawings change; the PNGs are committed.
// Usage: draw_resources OUTPUT_FOLDER [ICON_FOLDER]
// ICON_FOLDER, when given, gets the icon in the menu's sizes, iconN.png.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

// A pointing hand, index finger up; '#' black, '.' white, ' ' clear.
// The fingertip's first black pixel (5, 0) is the hot spot.
const char* const kHand[] = {
    "     ##",
    "    #..#",
    "    #..#",
    "    #..#",
    "    #..#",
    "    #..###",
    "    #..#..###",
    "    #..#..#..###",
    " ## #..#..#..#..#",
    "#..##..#..#..#..#",
    "#...#...........#",
    " #..............#",
    "  #.............#",
    "  #.............#",
    "   #...........#",
    "   #...........#",
    "    #.........#",
    "    #.........#",
    "    ###########",
};

QImage DrawHand()
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 0; y < static_cast<int>(sizeof kHand / sizeof kHand[0]); ++y)
        for (int x = 0; kHand[y][x] != '\0'; ++x) {
            if (kHand[y][x] == '#')
                image.setPixel(x, y, qRgb(0, 0, 0));
            else if (kHand[y][x] == '.')
                image.setPixel(x, y, qRgb(255, 255, 255));
        }
    return image;
}

// A memory card with gold contacts and a magnifier over its corner.
QImage DrawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    QPainterPath card;
    card.moveTo(10, 4);
    card.lineTo(40, 4);
    card.lineTo(48, 12);
    card.lineTo(48, 56);
    card.quadTo(48, 60, 44, 60);
    card.lineTo(10, 60);
    card.quadTo(6, 60, 6, 56);
    card.lineTo(6, 8);
    card.quadTo(6, 4, 10, 4);
    QLinearGradient body(0, 4, 0, 60);
    body.setColorAt(0, QColor(70, 110, 200));
    body.setColorAt(1, QColor(30, 55, 130));
    p.setPen(QPen(QColor(20, 30, 70), 2));
    p.setBrush(body);
    p.drawPath(card);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(235, 190, 60));
    for (int i = 0; i < 5; ++i)
        p.drawRect(QRectF(12 + i * 6, 8, 4, 10));
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawRect(QRectF(11, 26, 28, 12));

    // The magnifier: glass ring, lens and handle.
    p.setPen(QPen(QColor(60, 40, 20), 6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(50, 50), QPointF(60, 60));
    p.setPen(QPen(QColor(40, 40, 40), 4));
    p.setBrush(QColor(180, 230, 255, 170));
    p.drawEllipse(QPointF(40, 40), 12, 12);
    p.setPen(QPen(QColor(255, 255, 255, 220), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(32, 32, 16, 16), 100 * 16, 70 * 16);
    p.end();
    return image;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: draw_resources OUTPUT_FOLDER [ICON_FOLDER]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    bool ok = DrawHand().save(folder + QStringLiteral("/hand.png")) &&
              DrawIcon(64).save(folder + QStringLiteral("/icon64.png")) &&
              DrawIcon(32).save(folder + QStringLiteral("/icon32.png")) &&
              DrawIcon(16).save(folder + QStringLiteral("/icon16.png"));
    if (argc == 3) {
        const QString icons = QString::fromLocal8Bit(argv[2]);
        for (int size : {16, 32, 48, 64, 128, 256})
            ok = ok && DrawIcon(size).save(icons + QStringLiteral("/icon%1.png").arg(size));
    }
    if (!ok) {
        std::fprintf(stderr, "draw_resources: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
