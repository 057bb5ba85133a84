// TEMPORARY stand-in until the rtl conversions unit lands (replaced at merge).
#include "Conversions.h"
#include <cmath>
QString FloatToStrGeneral(double v) { return QString::number(v, 'g', 15).replace('.', ','); }
bool TryTextToDouble(const QString& text, double& value) { bool ok; value = QString(text).replace(',', '.').toDouble(&ok); return ok; }
QString ScaledToText(qint64 value, int scale) { if (scale == 0) return QString::number(value); return QString::number(ScaledToDouble(value, scale), 'f', -scale).replace('.', ','); }
qint64 ScaledTruncate(qint64 value, int scale) { while (scale < 0) { value /= 10; ++scale; } while (scale > 0) { value *= 10; --scale; } return value; }
double ScaledToDouble(qint64 value, int scale) { return scale < 0 ? double(value) / std::pow(10.0, -scale) : double(value) * std::pow(10.0, scale); }
QString FormatFloat(const QString& f, double v) { (void)f; return QString::number(v, 'f', 2); }
QString FormatDateTime(const QString& f, const QDateTime& v) { (void)f; return v.toString(QStringLiteral("dd/MM/yyyy hh:mm:ss")); }
