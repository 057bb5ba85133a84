#include "pFIBDataSet.h"

QString DeriveNumericFormat(const QString& Base, qint32 Decimals) {
    if (Base.isEmpty()) return Base;
    const QChar point = QLatin1Char('.');
    if (Base.endsWith(point)) return Base + QString(Decimals, QLatin1Char('0'));
    const qsizetype first = Base.indexOf(point);
    if (first >= 0 && first == Base.size() - 2)
        return Base.left(first + 1) + QString(Decimals, Base.back());
    return Base;
}

TpFIBDataSet::TpFIBDataSet(TComponent* AOwner) : TFIBDataSet(AOwner) {}

TpFIBDataSet::~TpFIBDataSet() = default;

void TpFIBDataSet::ResetEditingState() {
    FHasUncommitedChanges = false;
    FHasRolledBackChanges = false;
}

void TpFIBDataSet::ApplyFieldProperties() {
    if (!(Options() & poAutoFormatFields)) return;
    for (qint32 i = 0; i < FieldCount(); ++i) {
        TField* field = Fields(i);
        switch (field->DataType()) {
        case ftSmallint:
        case ftInteger:
        case ftFloat: {
            // Only data fields have a column whose scale says how many decimals to show.
            auto* numeric = dynamic_cast<TNumericField*>(field);
            const qint32 column = field->FieldNo() - 1;
            if (!numeric || field->FieldKind() != fkData || column < 0 ||
                column >= QSelect()->FieldCount())
                break;
            const int scale = QSelect()->Fields(column)->Data()->sqlscale;
            if (scale >= 0) break;
            if (numeric->DisplayFormat().isEmpty())
                numeric->SetDisplayFormat(
                    DeriveNumericFormat(FDefaultFormats.NumericDisplayFormat, -scale));
            if (numeric->EditFormat().isEmpty())
                numeric->SetEditFormat(
                    DeriveNumericFormat(FDefaultFormats.NumericEditFormat, -scale));
            break;
        }
        case ftBCD: {
            auto* bcd = dynamic_cast<TBCDField*>(field);
            if (!bcd || bcd->Size() < 1 || bcd->Currency()) break;
            if (bcd->DisplayFormat().isEmpty())
                bcd->SetDisplayFormat(
                    DeriveNumericFormat(FDefaultFormats.NumericDisplayFormat, bcd->Size()));
            if (bcd->EditFormat().isEmpty())
                bcd->SetEditFormat(
                    DeriveNumericFormat(FDefaultFormats.NumericEditFormat, bcd->Size()));
            break;
        }
        case ftDate:
        case ftTime:
        case ftDateTime: {
            auto* dt = dynamic_cast<TDateTimeField*>(field);
            if (!dt || !dt->DisplayFormat().isEmpty()) break;
            dt->SetDisplayFormat(field->DataType() == ftDate ? FDefaultFormats.DisplayFormatDate
                                 : field->DataType() == ftTime
                                     ? FDefaultFormats.DisplayFormatTime
                                     : FDefaultFormats.DateTimeDisplayFormat);
            break;
        }
        default:
            break;
        }
    }
}
