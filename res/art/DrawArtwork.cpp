// Draws the program's icons, the tool-bar strip and the splash picture into
// the directory given, as the files res/regprobe.qrc lists. Run it (with
// QT_QPA_PLATFORM=offscreen) after changing a drawing; its output is kept
// in the source tree. With --hicolor DIR NAME it draws the application's
// mark at the desktop's icon sizes as DIR/<n>x<n>/apps/NAME.png instead,
// which the build does for installation.
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <array>
#include <cstdio>

namespace {
// The sixteen colours of the 4-bit bitmaps.
const std::array<QRgb, 16> kPalette = {
    qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
    qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
    qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
    qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};

const QColor kBlack(0, 0, 0), kNavy(0, 0, 128), kTeal(0, 128, 128), kSilver(192, 192, 192),
    kGray(128, 128, 128), kLime(0, 255, 0), kYellow(255, 255, 0), kBlue(0, 0, 255),
    kAqua(0, 255, 255), kWhite(255, 255, 255), kGreen(0, 128, 0);

int Nearest(QRgb c) {
    int best = 0;
    int bestDistance = 1 << 30;
    for (int i = 0; i < 16; ++i) {
        int dr = qRed(c) - qRed(kPalette[i]);
        int dg = qGreen(c) - qGreen(kPalette[i]);
        int db = qBlue(c) - qBlue(kPalette[i]);
        int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

void Put16(QByteArray& out, int v) {
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(QByteArray& out, int v) {
    Put16(out, v & 0xFFFF);
    Put16(out, (v >> 16) & 0xFFFF);
}

// An uncompressed 4-bit bottom-up bitmap file.
bool WriteBmp4(const QImage& image, const QString& path) {
    int stride = ((image.width() + 1) / 2 + 3) & ~3;
    int imageSize = stride * image.height();
    int offset = 14 + 40 + 16 * 4;
    QByteArray out;
    out.append("BM");
    Put32(out, offset + imageSize);
    Put32(out, 0);
    Put32(out, offset);
    Put32(out, 40);
    Put32(out, image.width());
    Put32(out, image.height());
    Put16(out, 1);
    Put16(out, 4);
    Put32(out, 0);
    Put32(out, imageSize);
    Put32(out, 3780);
    Put32(out, 3780);
    Put32(out, 16);
    Put32(out, 16);
    for (QRgb c : kPalette) {
        out.append(static_cast<char>(qBlue(c)));
        out.append(static_cast<char>(qGreen(c)));
        out.append(static_cast<char>(qRed(c)));
        out.append('\0');
    }
    for (int y = image.height() - 1; y >= 0; --y) {
        QByteArray row(stride, '\0');
        for (int x = 0; x < image.width(); ++x) {
            int index = Nearest(image.pixel(x, y));
            row[x / 2] = static_cast<char>(row[x / 2] | (x % 2 ? index : index << 4));
        }
        out.append(row);
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(out) == out.size();
}

QFont Font(int pixelSize, bool bold) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

// The device drawn on the splash: a rack module with a display and lamps.
void DrawDevice(QPainter& p, int x, int y) {
    p.setPen(kBlack);
    p.setBrush(kSilver);
    p.drawRect(x, y, 150, 190);
    p.setBrush(kGray);
    p.drawRect(x + 6, y + 6, 138, 18);
    p.setPen(kWhite);
    p.setFont(Font(11, true));
    p.drawText(QRect(x + 6, y + 6, 138, 18), Qt::AlignCenter, QStringLiteral("SLAVE 1"));
    p.setPen(kBlack);
    p.setBrush(kTeal);
    p.drawRect(x + 12, y + 34, 126, 74);
    p.setPen(kAqua);
    QFont mono = Font(11, false);
    mono.setFamily(QStringLiteral("DejaVu Sans Mono"));
    p.setFont(mono);
    const char* rows[] = {"40001   1234", "40002    567", "40003    -42", "40004   3.14"};
    for (int i = 0; i < 4; ++i) {
        p.drawText(x + 20, y + 50 + 16 * i, QString::fromLatin1(rows[i]));
    }
    for (int i = 0; i < 4; ++i) {
        p.setPen(kBlack);
        p.setBrush(i == 1 ? kYellow : kLime);
        p.drawEllipse(QPoint(x + 26 + 32 * i, y + 126), 6, 6);
    }
    p.setBrush(kGray);
    for (int i = 0; i < 6; ++i) {
        p.drawRect(x + 14 + 21 * i, y + 150, 14, 28);
    }
}

QImage Splash() {
    QImage image(520, 317, QImage::Format_RGB32);
    image.fill(kNavy);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    // Frame and the lower band.
    p.setPen(kTeal);
    p.setBrush(Qt::NoBrush);
    p.drawRect(4, 4, 511, 308);
    p.fillRect(5, 262, 510, 50, kTeal);
    DrawDevice(p, 30, 44);
    // The line to the device and its signal.
    p.setPen(QPen(kYellow, 2));
    p.drawLine(180, 218, 238, 218);
    QPolygon wave;
    for (int i = 0; i < 8; ++i) {
        int x0 = 240 + 30 * i;
        wave << QPoint(x0, 218) << QPoint(x0, 200) << QPoint(x0 + 15, 200) << QPoint(x0 + 15, 218);
    }
    p.setPen(QPen(kLime, 2));
    p.drawPolyline(wave);
    p.setPen(kWhite);
    p.setFont(Font(54, true));
    p.drawText(QRect(200, 46, 300, 70), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("Regprobe"));
    p.setPen(kAqua);
    p.setFont(Font(16, false));
    p.drawText(QRect(200, 118, 300, 24), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("Modbus master for testing devices"));
    p.setPen(kSilver);
    p.setFont(Font(14, false));
    p.drawText(QRect(200, 146, 300, 22), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("Version 1.0"));
    p.setPen(kWhite);
    p.setFont(Font(14, true));
    p.drawText(QRect(5, 262, 510, 50), Qt::AlignCenter,
               QStringLiteral("Modbus/TCP    \u2022    RTU    \u2022    ASCII"));
    return image;
}

QImage ToolBarStrip() {
    QImage image(32, 15, QImage::Format_RGB32);
    image.fill(kSilver);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    // New: a page with its corner turned down.
    QPolygon page;
    page << QPoint(3, 1) << QPoint(9, 1) << QPoint(12, 4) << QPoint(12, 13) << QPoint(3, 13);
    p.setPen(kBlack);
    p.setBrush(kWhite);
    p.drawPolygon(page);
    p.setBrush(kSilver);
    p.drawPolygon(QPolygon({QPoint(9, 1), QPoint(9, 4), QPoint(12, 4)}));
    p.setPen(kGray);
    for (int y = 6; y <= 11; y += 2) {
        p.drawLine(5, y, 10, y);
    }
    // About: a question mark in a blue ball.
    p.setPen(kNavy);
    p.setBrush(kBlue);
    p.drawEllipse(QRect(17, 0, 13, 13));
    p.setPen(kWhite);
    p.setFont(Font(11, true));
    p.drawText(QRect(17, 0, 14, 14), Qt::AlignCenter, QStringLiteral("?"));
    return image;
}

// The application's mark: a blue tile with a probe's trace across it.
QImage AppIcon(int size, bool simple) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    qreal s = size;
    QLinearGradient g(0, 0, 0, s);
    g.setColorAt(0, QColor(40, 90, 200));
    g.setColorAt(1, QColor(10, 30, 120));
    p.setBrush(g);
    p.setPen(QPen(QColor(5, 15, 70), qMax(1.0, s / 32)));
    if (simple) {
        p.drawEllipse(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92));
    } else {
        p.drawRoundedRect(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92), s * 0.18, s * 0.18);
    }
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(qRound(s * (simple ? 0.62 : 0.56)));
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, simple ? 0 : -s * 0.08, s, s), Qt::AlignCenter, QStringLiteral("R"));
    if (!simple && size >= 32) {
        QPainterPath trace;
        trace.moveTo(s * 0.14, s * 0.80);
        trace.lineTo(s * 0.30, s * 0.80);
        trace.lineTo(s * 0.30, s * 0.68);
        trace.lineTo(s * 0.46, s * 0.68);
        trace.lineTo(s * 0.46, s * 0.80);
        trace.lineTo(s * 0.62, s * 0.80);
        trace.lineTo(s * 0.62, s * 0.68);
        trace.lineTo(s * 0.86, s * 0.68);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(80, 255, 120), s / 18, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        p.drawPath(trace);
    }
    return image;
}

// A document: a page holding a table of registers.
QImage DocumentIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    qreal s = size;
    QPolygonF page;
    page << QPointF(s * 0.16, s * 0.04) << QPointF(s * 0.64, s * 0.04)
         << QPointF(s * 0.86, s * 0.26) << QPointF(s * 0.86, s * 0.96)
         << QPointF(s * 0.16, s * 0.96);
    p.setPen(QPen(QColor(60, 60, 60), qMax(1.0, s / 32)));
    p.setBrush(Qt::white);
    p.drawPolygon(page);
    p.setBrush(QColor(200, 200, 200));
    p.drawPolygon(QPolygonF(
        {QPointF(s * 0.64, s * 0.04), QPointF(s * 0.64, s * 0.26), QPointF(s * 0.86, s * 0.26)}));
    int rows = size >= 32 ? 4 : 3;
    for (int i = 0; i < rows; ++i) {
        qreal y = s * (0.36 + 0.14 * i);
        p.fillRect(QRectF(s * 0.24, y, s * 0.18, s * 0.08), QColor(0, 128, 128));
        p.fillRect(QRectF(s * 0.48, y, s * 0.30, s * 0.08), QColor(20, 60, 170));
    }
    return image;
}

bool Save(const QImage& image, const QString& path) {
    bool ok =
        path.endsWith(QLatin1String(".bmp")) ? WriteBmp4(image, path) : image.save(path, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}
}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc == 4 && QLatin1String(argv[1]) == QLatin1String("--hicolor")) {
        bool ok = true;
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            QString sub =
                QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
            ok = QDir().mkpath(sub) &&
                 Save(AppIcon(size, false), sub + QLatin1Char('/') +
                                                QString::fromLocal8Bit(argv[3]) +
                                                QStringLiteral(".png")) &&
                 ok;
        }
        return ok ? 0 : 1;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s output-directory | --hicolor DIR NAME\n", argv[0]);
        return 2;
    }
    QString dir = QString::fromLocal8Bit(argv[1]) + QLatin1Char('/');
    bool ok = Save(Splash(), dir + QStringLiteral("splash.bmp"));
    ok = Save(ToolBarStrip(), dir + QStringLiteral("toolbar.bmp")) && ok;
    for (int size : {16, 32, 48}) {
        ok = Save(AppIcon(size, false), dir + QStringLiteral("regprobe%1.png").arg(size)) && ok;
        ok = Save(DocumentIcon(size), dir + QStringLiteral("document%1.png").arg(size)) && ok;
    }
    for (int size : {16, 22, 32}) {
        ok = Save(AppIcon(size, true), dir + QStringLiteral("tray%1.png").arg(size)) && ok;
    }
    return ok ? 0 : 1;
}
