// Draws the program's icon and its four banner pictures into PNG files:
//   make_artwork OUTPUT_FOLDER
// and the icon in the sizes of the desktop's icon theme, and as SVG, into OUTPUT_FOLDER/icons.
// The PNGs in this folder were made with it; run it again after changing a picture.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr QSize kBanner(800, 72);

QColor Navy() { return QColor(0x14, 0x2c, 0x4a); }
QColor Teal() { return QColor(0x1b, 0x8a, 0x8f); }
QColor Amber() { return QColor(0xf2, 0xa9, 0x3b); }

// A serial line's bits as a square wave across a rectangle.
void DrawWave(QPainter& p, QRectF r, const char* bits, QColor color, qreal width) {
  QPainterPath path;
  const int n = static_cast<int>(std::strlen(bits));
  const qreal step = r.width() / n;
  auto y = [&](char b) { return b == '1' ? r.top() : r.bottom(); };
  path.moveTo(r.left(), y(bits[0]));
  for (int i = 0; i < n; ++i) {
    const qreal x = r.left() + i * step;
    path.lineTo(x, y(bits[i]));
    path.lineTo(x + step, y(bits[i]));
  }
  p.setPen(QPen(color, width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
}

// The icon as SVG, drawn with the same proportions as Icon below, for the scalable size.
QString IconSvg() {
  const double s = 256;
  auto n = [](double v) { return QString::number(v, 'f', 2); };
  QString svg = QStringLiteral(
                    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 256 256\">\n"
                    "  <defs><linearGradient id=\"bg\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">"
                    "<stop offset=\"0\" stop-color=\"%1\"/><stop offset=\"1\" stop-color=\"%2\"/>"
                    "</linearGradient></defs>\n")
                    .arg(Teal().name(), Navy().name());
  svg += QStringLiteral("  <rect x=\"%1\" y=\"%1\" width=\"%2\" height=\"%2\" rx=\"%3\" fill=\"url(#bg)\"/>\n")
             .arg(n(s * 0.04), n(s * 0.92), n(s * 0.18));
  for (int i = 0; i < 3; ++i) {
    svg += QStringLiteral(
               "  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\" fill=\"#ffffff\" "
               "fill-opacity=\"0.92\"/>\n")
               .arg(n(s * (0.18 + i * 0.23)), n(s * 0.20), n(s * 0.18), n(s * 0.26), n(s * 0.03));
  }
  const char* bits = "0110100101";
  const QRectF r(s * 0.16, s * 0.58, s * 0.68, s * 0.20);
  const double step = r.width() / std::strlen(bits);
  auto y = [&](char b) { return b == '1' ? r.top() : r.bottom(); };
  QString d = QStringLiteral("M%1,%2").arg(n(r.left()), n(y(bits[0])));
  for (int i = 0; bits[i] != '\0'; ++i) {
    const double x = r.left() + i * step;
    d += QStringLiteral(" L%1,%2 L%3,%2").arg(n(x), n(y(bits[i])), n(x + step));
  }
  svg += QStringLiteral(
             "  <path d=\"%1\" fill=\"none\" stroke=\"%2\" stroke-width=\"%3\" stroke-linecap=\"square\" "
             "stroke-linejoin=\"miter\"/>\n</svg>\n")
             .arg(d, Amber().name(), n(s * 0.05));
  return svg;
}

QPixmap Icon(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  QLinearGradient g(0, 0, 0, s);
  g.setColorAt(0, Teal());
  g.setColorAt(1, Navy());
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawRoundedRect(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92), s * 0.18, s * 0.18);
  // three register cells
  p.setBrush(QColor(255, 255, 255, 235));
  for (int i = 0; i < 3; ++i) {
    p.drawRoundedRect(QRectF(s * (0.18 + i * 0.23), s * 0.20, s * 0.18, s * 0.26), s * 0.03, s * 0.03);
  }
  // the line the values came over
  DrawWave(p, QRectF(s * 0.16, s * 0.58, s * 0.68, s * 0.20), "0110100101", Amber(), s * 0.05);
  return pm;
}

QPixmap Banner(const QString& title, const QString& line, const QString& action, QColor accent) {
  QPixmap pm(kBanner);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, kBanner.width(), 0);
  g.setColorAt(0, Navy());
  g.setColorAt(1, QColor(0x24, 0x5a, 0x7e));
  p.fillRect(pm.rect(), g);
  DrawWave(p, QRectF(470, 14, 300, 44), "01101001011000110101", QColor(255, 255, 255, 40), 3);
  p.drawPixmap(14, 8, Icon(56));
  QFont big(QStringLiteral("DejaVu Sans"));
  big.setPixelSize(22);
  big.setBold(true);
  p.setFont(big);
  p.setPen(Qt::white);
  p.drawText(QRect(84, 8, 560, 32), Qt::AlignLeft | Qt::AlignVCenter, title);
  QFont small(QStringLiteral("DejaVu Sans"));
  small.setPixelSize(14);
  p.setFont(small);
  p.setPen(QColor(0xdd, 0xe8, 0xf0));
  p.drawText(QRect(84, 38, 560, 24), Qt::AlignLeft | Qt::AlignVCenter, line);
  // the call to action, on the right
  QFont act(QStringLiteral("DejaVu Sans"));
  act.setPixelSize(14);
  act.setBold(true);
  p.setFont(act);
  const QRect button(kBanner.width() - 196, 20, 180, 32);
  p.setPen(Qt::NoPen);
  p.setBrush(accent);
  p.drawRoundedRect(button, 16, 16);
  p.setPen(Navy());
  p.drawText(button, Qt::AlignCenter, action);
  return pm;
}

// The About page's picture, 253 by 60: the icon and the product's name.
QPixmap AboutPicture() {
  QPixmap pm(253, 60);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, pm.width(), 0);
  g.setColorAt(0, Navy());
  g.setColorAt(1, QColor(0x24, 0x5a, 0x7e));
  p.fillRect(pm.rect(), g);
  p.drawPixmap(8, 6, Icon(48));
  QFont big(QStringLiteral("DejaVu Sans"));
  big.setPixelSize(17);
  big.setBold(true);
  p.setFont(big);
  p.setPen(Qt::white);
  p.drawText(QRect(64, 6, 185, 26), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Vantrel"));
  QFont small(QStringLiteral("DejaVu Sans"));
  small.setPixelSize(12);
  p.setFont(small);
  p.setPen(QColor(0xdd, 0xe8, 0xf0));
  p.drawText(QRect(64, 30, 185, 22), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Modbus Scanner"));
  return pm;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_artwork OUTPUT_FOLDER\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  bool ok = Icon(256).save(out + "/vantrel-modbus-scanner.png");
  // The sizes the desktop's icon theme looks for, and the scalable one.
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    const QString folder = QStringLiteral("%1/icons/%2x%2").arg(out).arg(size);
    ok &= QDir().mkpath(folder) && Icon(size).save(folder + "/vantrel-modbus-scanner.png");
  }
  QFile svg(out + "/icons/vantrel-modbus-scanner.svg");
  ok &= svg.open(QIODevice::WriteOnly) && svg.write(IconSvg().toUtf8()) > 0;
  ok &= Banner("Vantrel Modbus Scanner", "Every register of your slave, in every format, at once.",
               "vantrel.example", Amber())
            .save(out + "/banner0.png");
  ok &= Banner("Modbus made plain", "Guides, tools and updates for technicians on the line.",
               "Visit our site", QColor(0x9c, 0xd9, 0x6b))
            .save(out + "/banner1.png");
  ok &= Banner("Ask the people who know", "Questions and answers from other users of our tools.",
               "Open the forums", QColor(0x7f, 0xc8, 0xe8))
            .save(out + "/banner2.png");
  ok &= Banner("BACnet too?", "Free BACnet resources: references, tools and examples.",
               "BACnet resources", QColor(0xf0, 0x8f, 0x8f))
            .save(out + "/banner3.png");
  ok &= AboutPicture().save(out + "/about.png");
  return ok ? 0 : 1;
}
