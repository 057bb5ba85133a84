// The connection's parameter lines and the typed view on some of them.
#pragma once

#include "Classes.h"

#include <QString>

class TDBParams;

// What a connection does about its parameter lines: it may refuse a change before it happens
// (by raising) and learns of every change afterwards.
class IDBParamsOwner {
public:
    virtual ~IDBParamsOwner() = default;
    virtual void DBParamsChanging(TDBParams& params) = 0;
    virtual void DBParamsChanged(TDBParams& params) = 0;
};

// The lines "name=value" from which the connection builds its DPB. Not sorted; duplicates allowed.
class TDBParams : public TStringList {
public:
    explicit TDBParams(IDBParamsOwner* AOwner = nullptr) : FOwner(AOwner) {}
    IDBParamsOwner* Owner() const { return FOwner; }

protected:
    void Changing() override;
    void Changed() override;

private:
    IDBParamsOwner* FOwner;
};

// The index of the first line in which `name` occurs first at the line's start or right after
// an eight-character prefix such as "isc_dpb_", letters a to z compared as capitals; -1 if none.
int IndexOfDBConst(const TStrings& params, const QString& name);
// The value of the line of DPB code `code` (1 to 83); empty when there is none.
QString GetDBParamByDPB(const TStrings& params, int code);
// Writes the line of DPB code `code` as "name=value", adding it when missing; an empty value
// deletes the line.
void SetDBParamByDPB(TStrings& params, int code, const QString& value);

// Gives TConnectParams the parameter lines of its connection.
class IConnectParamsOwner {
public:
    virtual ~IConnectParamsOwner() = default;
    virtual TDBParams& DBParams() = 0;
};

class TConnectParams;

// Parameters that only InterBase 2007 servers understand.
class TIB2007Params {
public:
    explicit TIB2007Params(TConnectParams& AOwner) : FOwner(AOwner) {}
    QString InstanceName() const;
    void SetInstanceName(const QString& value);

private:
    TConnectParams& FOwner;
};

// A view on the connection's DBParams: every property reads and writes its line there.
class TConnectParams : public TObject {
public:
    explicit TConnectParams(IConnectParamsOwner* AOwner);

    IConnectParamsOwner* Owner() const { return FOwner; }

    QString UserName() const;
    void SetUserName(const QString& value);
    QString RoleName() const;
    void SetRoleName(const QString& value);
    QString Password() const;
    void SetPassword(const QString& value);
    QString CharSet() const;
    // The server knows character sets by their names in capitals.
    void SetCharSet(const QString& value);
    bool IsFirebird() const { return FIsFirebird; }
    void SetIsFirebird(bool value) { FIsFirebird = value; }
    TIB2007Params& IB2007() { return FIB2007; }
    const TIB2007Params& IB2007() const { return FIB2007; }

private:
    friend class TIB2007Params;
    QString Param(int code) const;
    void SetParam(int code, const QString& value);

    IConnectParamsOwner* FOwner;
    bool FIsFirebird = true;
    TIB2007Params FIB2007{*this};
};

// ---------------------------------------------------------------------------------------------
// Dataset options. Each option is also a stored property of the window definitions, under the
// name that StoredDataSetOptions gives it.

enum TpFIBDsOption : unsigned {
    poTrimCharFields = 1u << 0,
    poRefreshAfterPost = 1u << 1,
    poRefreshDeletedRecord = 1u << 2,
    poStartTransaction = 1u << 3,
    poAutoFormatFields = 1u << 4,
    poProtectedEdit = 1u << 5,
    poUseSelectForLock = 1u << 6,
    poKeepSorting = 1u << 7,
    poPersistentSorting = 1u << 8,
    poVisibleRecno = 1u << 9,
    poNoForceIsNull = 1u << 10,
    poFetchAll = 1u << 11,
    poFreeHandlesAfterClose = 1u << 12,
    poCacheCalcFields = 1u << 13,
    poRefreshAfterDelete = 1u << 14,
    poDontCloseAfterEndTransaction = 1u << 15,
};
using TpFIBDsOptions = unsigned;

enum TpPrepareOption : unsigned {
    pfSetRequiredFields = 1u << 0,
    pfSetReadOnlyFields = 1u << 1,
    pfImportDefaultValues = 1u << 2,
    psUseBooleanField = 1u << 3,
    psUseGuidField = 1u << 4,
    psSQLINT64ToBCD = 1u << 5,
    psApplyRepositary = 1u << 6,
    psGetOrderInfo = 1u << 7,
    psAskRecordCount = 1u << 8,
    psCanEditComputedFields = 1u << 9,
    psSetEmptyStrToNull = 1u << 10,
    psSupportUnicodeBlobs = 1u << 11,
    psUseLargeIntField = 1u << 12,
};
using TpPrepareOptions = unsigned;

constexpr TpFIBDsOptions DefaultDataSetOptions =
    poTrimCharFields | poRefreshAfterPost | poStartTransaction | poAutoFormatFields;
constexpr TpPrepareOptions DefaultPrepareOptions =
    pfImportDefaultValues | psUseBooleanField | psGetOrderInfo | psSetEmptyStrToNull;

// One stored option: its name in a window definition, its bit, and the set it belongs to.
struct TStoredDataSetOption {
    const char* Name;
    unsigned Flag;
    bool IsPrepareOption;
};
// Every stored option name; nullptr when the name is none of them.
const TStoredDataSetOption* FindStoredDataSetOption(const QString& Name);

enum TCacheModelKind { cmkStandard, cmkLimitedBufferSize };
