#include "pFIBProps.h"

#include "fib.h"

#include <ibase.h>

// ---------------------------------------------------------------------------------------------
// TDBParams

void TDBParams::Changing() {
    // Inside an update bracket the owner was asked once, when the bracket opened.
    if (UpdateCount() == 0 && FOwner) FOwner->DBParamsChanging(*this);
    TStringList::Changing();
}

void TDBParams::Changed() {
    if (UpdateCount() == 0 && FOwner) FOwner->DBParamsChanged(*this);
    TStringList::Changed();
}

// ---------------------------------------------------------------------------------------------
// Parameters by DPB code

int IndexOfDBConst(const TStrings& params, const QString& name) {
    if (name.isEmpty()) return -1;
    const QString key = AsciiUpperCase(name);
    for (int i = 0; i < params.Count(); ++i) {
        // Only the first occurrence counts: "sys_user_name=user_name" is not a user_name line.
        const qsizetype pos = AsciiUpperCase(params.Strings(i)).indexOf(key);
        if (pos == 0 || pos == 8) return i;
    }
    return -1;
}

QString GetDBParamByDPB(const TStrings& params, int code) {
    const QString name = DPBConstantName(code);
    if (name.isEmpty()) return QString();
    const int index = IndexOfDBConst(params, name);
    if (index < 0) return QString();
    const QString line = params.Strings(index);
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    return eq < 0 ? QString() : line.mid(eq + 1);
}

void SetDBParamByDPB(TStrings& params, int code, const QString& value) {
    const QString name = DPBConstantName(code);
    if (name.isEmpty()) return;
    const int index = IndexOfDBConst(params, name);
    if (value.isEmpty()) {
        if (index >= 0) params.Delete(index);
        return;
    }
    const QString line = name + QLatin1Char('=') + value;
    if (index >= 0)
        params.SetStrings(index, line);
    else
        params.Add(line);
}

// ---------------------------------------------------------------------------------------------
// TConnectParams

TConnectParams::TConnectParams(IConnectParamsOwner* AOwner) : FOwner(AOwner) {}

QString TConnectParams::Param(int code) const {
    return GetDBParamByDPB(FOwner->DBParams(), code);
}

void TConnectParams::SetParam(int code, const QString& value) {
    SetDBParamByDPB(FOwner->DBParams(), code, value);
}

QString TConnectParams::UserName() const {
    return Param(isc_dpb_user_name);
}
void TConnectParams::SetUserName(const QString& value) {
    SetParam(isc_dpb_user_name, value);
}
QString TConnectParams::RoleName() const {
    return Param(isc_dpb_sql_role_name);
}
void TConnectParams::SetRoleName(const QString& value) {
    SetParam(isc_dpb_sql_role_name, value);
}
QString TConnectParams::Password() const {
    return Param(isc_dpb_password);
}
void TConnectParams::SetPassword(const QString& value) {
    SetParam(isc_dpb_password, value);
}
QString TConnectParams::CharSet() const {
    return Param(isc_dpb_lc_ctype);
}
void TConnectParams::SetCharSet(const QString& value) {
    SetParam(isc_dpb_lc_ctype, AsciiUpperCase(value));
}

QString TIB2007Params::InstanceName() const {
    return FOwner.Param(dpbInstanceName);
}
void TIB2007Params::SetInstanceName(const QString& value) {
    FOwner.SetParam(dpbInstanceName, value);
}

// ---------------------------------------------------------------------------------------------
// Dataset options

const TStoredDataSetOption* FindStoredDataSetOption(const QString& Name) {
    static const TStoredDataSetOption options[] = {
        {"oTrimCharFields", poTrimCharFields, false},
        {"oRefreshAfterPost", poRefreshAfterPost, false},
        {"oRefreshDeletedRecord", poRefreshDeletedRecord, false},
        {"oStartTransaction", poStartTransaction, false},
        {"oAutoFormatFields", poAutoFormatFields, false},
        {"oProtectedEdit", poProtectedEdit, false},
        {"oUseSelectForLock", poUseSelectForLock, false},
        {"oKeepSorting", poKeepSorting, false},
        {"oPersistentSorting", poPersistentSorting, false},
        {"oVisibleRecno", poVisibleRecno, false},
        {"oNoForceIsNull", poNoForceIsNull, false},
        {"oFetchAll", poFetchAll, false},
        {"oFreeHandlesAfterClose", poFreeHandlesAfterClose, false},
        {"oCacheCalcFields", poCacheCalcFields, false},
        {"oRefreshAfterDelete", poRefreshAfterDelete, false},
        {"oDontAutoClose", poDontCloseAfterEndTransaction, false},
        {"poSetRequiredFields", pfSetRequiredFields, true},
        {"poSetReadOnlyFields", pfSetReadOnlyFields, true},
        {"poImportDefaultValues", pfImportDefaultValues, true},
        {"poUseBooleanField", psUseBooleanField, true},
        {"poUseGuidField", psUseGuidField, true},
        {"poSQLINT64ToBCD", psSQLINT64ToBCD, true},
        {"poApplyRepositary", psApplyRepositary, true},
        {"poGetOrderInfo", psGetOrderInfo, true},
        {"poAskRecordCount", psAskRecordCount, true},
        {"poCanEditComputedFields", psCanEditComputedFields, true},
        {"poEmptyStrToNull", psSetEmptyStrToNull, true},
        {"poSupportUnicodeBlobs", psSupportUnicodeBlobs, true},
        {"poUseLargeIntField", psUseLargeIntField, true},
    };
    for (const TStoredDataSetOption& o : options)
        if (Name == QLatin1String(o.Name)) return &o;
    return nullptr;
}
