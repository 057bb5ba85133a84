// The dataset the windows place: the layer's dataset with default display formats that it
// gives its numeric and date fields after each open.
#pragma once

#include "FIBDataSet.h"

#include <QString>

// The formats a dataset gives fields that have none, when poAutoFormatFields is set.
class TFormatFields {
public:
    QString DateTimeDisplayFormat = QStringLiteral("dd.mm.yyyy hh:mm AMPM");
    QString NumericDisplayFormat = QStringLiteral("#,##0.");
    QString NumericEditFormat = QStringLiteral("0.");
    QString DisplayFormatDate = QStringLiteral("dd.mm.yyyy");
    QString DisplayFormatTime = QStringLiteral("hh:mm AMPM");
};

// A format derived from a base for n decimals: "#,##0." gives "#,##0.00" for 2; a base whose
// only point comes before its last character repeats that character; anything else stays.
QString DeriveNumericFormat(const QString& Base, qint32 Decimals);

class TpFIBDataSet : public TFIBDataSet {
public:
    explicit TpFIBDataSet(TComponent* AOwner = nullptr);
    TpFIBDataSet(TComponent* AOwner, const TStatementFactory& MakeStatement)
        : TFIBDataSet(AOwner, MakeStatement) {}
    ~TpFIBDataSet() override;

    TFormatFields& DefaultFormats() { return FDefaultFormats; }
    const TFormatFields& DefaultFormats() const { return FDefaultFormats; }
    const QString& Description() const { return FDescription; }
    void SetDescription(const QString& Value) { FDescription = Value; }
    qint32 AllRecordCount() const override { return FAllRecordCount; }

    // The field-property step after open.
    void ApplyFieldProperties();

protected:
    void FieldPropertyStep() override { ApplyFieldProperties(); }
    void ResetEditingState() override;
    void SetAllRecordCount(qint32 Value) override { FAllRecordCount = Value; }

private:
    TFormatFields FDefaultFormats;
    QString FDescription;
    qint32 FAllRecordCount = 0;
    bool FHasUncommitedChanges = false;
    bool FHasRolledBackChanges = false;
};
