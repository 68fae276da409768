#include "curveplot.h"

#include "core/analysisresult.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

// A tick step of 1, 2 or 5 times a power of ten giving about `count` ticks.
double niceStep(double range, int count)
{
    if (!(range > 0.0))
        return 1.0;
    const double raw = range / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * power >= raw)
            return m * power;
    }
    return 10.0 * power;
}

QString tickText(double v, double step)
{
    const int decimals = step >= 1.0 ? 0 : int(std::ceil(-std::log10(step)));
    return QString::number(v, 'f', decimals);
}

} // namespace

bool writeCurvePng(const ClotCurve& curve, double clotTime, const QString& title, const QString& fileName,
                   QString* error)
{
    const int n = curve.size();
    if (n == 0) {
        *error = QStringLiteral("no curve points");
        return false;
    }
    double xMin = curve.x(0), xMax = curve.x(0), yMin = curve.y(0), yMax = curve.y(0);
    for (int i = 1; i < n; ++i) {
        xMin = std::min(xMin, curve.x(i));
        xMax = std::max(xMax, curve.x(i));
        yMin = std::min(yMin, curve.y(i));
        yMax = std::max(yMax, curve.y(i));
    }
    xMin = std::min(xMin, 0.0);
    if (xMax <= xMin)
        xMax = xMin + 1.0;
    if (yMax <= yMin) {
        yMax += 1.0;
        yMin -= 1.0;
    }
    const double yPad = (yMax - yMin) * 0.05;
    yMin -= yPad;
    yMax += yPad;

    const int width = 900, height = 480;
    const QRectF plot(70, 40, width - 100, height - 100);
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    auto px = [&](double x) { return plot.left() + (x - xMin) / (xMax - xMin) * plot.width(); };
    auto py = [&](double y) { return plot.bottom() - (y - yMin) / (yMax - yMin) * plot.height(); };

    // Grid and tick labels.
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);
    const double xStep = niceStep(xMax - xMin, 10);
    for (double x = std::ceil(xMin / xStep) * xStep; x <= xMax + xStep * 1e-9; x += xStep) {
        p.setPen(QColor(225, 225, 225));
        p.drawLine(QPointF(px(x), plot.top()), QPointF(px(x), plot.bottom()));
        p.setPen(Qt::black);
        p.drawText(QRectF(px(x) - 30, plot.bottom() + 4, 60, 16), Qt::AlignCenter, tickText(x, xStep));
    }
    const double yStep = niceStep(yMax - yMin, 6);
    for (double y = std::ceil(yMin / yStep) * yStep; y <= yMax + yStep * 1e-9; y += yStep) {
        p.setPen(QColor(225, 225, 225));
        p.drawLine(QPointF(plot.left(), py(y)), QPointF(plot.right(), py(y)));
        p.setPen(Qt::black);
        p.drawText(QRectF(0, py(y) - 8, plot.left() - 6, 16), Qt::AlignRight | Qt::AlignVCenter, tickText(y, yStep));
    }
    p.setPen(Qt::black);
    p.drawRect(plot);
    p.drawText(QRectF(plot.left(), height - 28, plot.width(), 20), Qt::AlignCenter, QStringLiteral("time (s)"));
    p.save();
    p.translate(14, plot.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-100, -8, 200, 16), Qt::AlignCenter,
               curve.type() == ClotCurve::OpticalDensity ? QStringLiteral("optical density")
                                                         : QStringLiteral("signal"));
    p.restore();

    // The curve.
    QPainterPath path(QPointF(px(curve.x(0)), py(curve.y(0))));
    for (int i = 1; i < n; ++i)
        path.lineTo(px(curve.x(i)), py(curve.y(i)));
    p.setPen(QPen(QColor(20, 80, 180), 1.5));
    p.drawPath(path);

    // The clot time.
    QString caption = title;
    if (clotTime > 0.0 && clotTime <= xMax && clotTime != AnalysisResult::notClottedValue) {
        p.setPen(QPen(Qt::red, 1.5, Qt::DashLine));
        p.drawLine(QPointF(px(clotTime), plot.top()), QPointF(px(clotTime), plot.bottom()));
        p.drawText(QRectF(px(clotTime) + 4, plot.top() + 4, 160, 16), Qt::AlignLeft,
                   QStringLiteral("clot %1 s").arg(clotTime, 0, 'f', 2));
    } else {
        caption += QStringLiteral("  (no clot time)");
    }
    p.setPen(Qt::black);
    font.setPixelSize(15);
    p.setFont(font);
    p.drawText(QRectF(plot.left(), 8, plot.width(), 24), Qt::AlignLeft | Qt::AlignVCenter, caption);
    p.end();

    if (!image.save(fileName, "PNG")) {
        *error = QStringLiteral("cannot write %1").arg(fileName);
        return false;
    }
    return true;
}
