// TEMPORARY stand-in until the rtl conversions unit lands (replaced at merge).
#pragma once
#include <QDateTime>
#include <QString>
QString FloatToStrGeneral(double v);
bool TryTextToDouble(const QString& text, double& value);
QString ScaledToText(qint64 value, int scale);
qint64 ScaledTruncate(qint64 value, int scale);
double ScaledToDouble(qint64 value, int scale);
QString FormatFloat(const QString& Format, double Value);
QString FormatDateTime(const QString& Format, const QDateTime& Value);
double DateTimeToDayCount(const QDateTime& value);
