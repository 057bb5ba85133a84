#include "FIBDataSetCache.h"

#include "Conversions.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace {

[[noreturn]] void RaiseMemManagerError(const char* Msg) {
    throw EMemManagerError(-1, QString::fromUtf8(Msg), nullptr);
}

[[noreturn]] void RaiseStoreError(const char* Fmt, qint32 A, qint32 B) {
    throw EMemManagerError(-1, Format(QString::fromUtf8(Fmt), A, B), nullptr);
}

quint16 ReadLength(const char* P) {
    quint16 value;
    std::memcpy(&value, P, sizeof value);
    return value;
}

void WriteLength(char* P, qint32 Length) {
    const quint16 value = quint16(Length);
    std::memcpy(P, &value, sizeof value);
}

template <typename T> T Load(const char* P) {
    T value;
    std::memcpy(&value, P, sizeof value);
    return value;
}

template <typename T> void Store(char* P, T Value) {
    std::memcpy(P, &Value, sizeof Value);
}

// Day 1 is 1 January of year 1; the server counts from 17 November 1858.
constexpr qint64 DateDelta = 678576;
constexpr qint64 MSecsPerDay = 86400000;

} // namespace

// ---------------------------------------------------------------------------------------------
// TStringCollection

TStringCollection::TStringCollection(qint32 HighBounds) : FHighBounds(std::max(HighBounds, 0)) {}

void TStringCollection::AddRow() {
    if (FCount == FCapacity) {
        const qint32 capacity = FCapacity == 0 ? 128 : FCapacity + FCapacity / 2;
        auto rows = std::make_unique_for_overwrite<quint32[]>(size_t(capacity));
        std::copy(FRows.get(), FRows.get() + FCount, rows.get());
        FRows = std::move(rows);
        FCapacity = capacity;
    }
    FRows[FCount++] = NoRowData;
}

void TStringCollection::CheckPosition(qint32 Column, qint32 Row) const {
    if (Column < 0 || Column >= FHighBounds || Row < 0 || Row >= FCount)
        RaiseStoreError("String position (%d, %d) out of range", Column, Row);
}

TStringCollection::TColumnSpan TStringCollection::Locate(const char* RowData, qint32 Column) const {
    TColumnSpan span;
    if (!RowData) {
        span.Before = 2 * Column;
        span.After = 2 * (FHighBounds - Column - 1);
        return span;
    }
    const char* p = RowData;
    for (qint32 c = 0; c < Column; ++c)
        p += 2 + ReadLength(p);
    span.Before = qint32(p - RowData);
    span.Length = ReadLength(p);
    span.After = RowExtent(RowData) - span.Before - 2 - span.Length;
    return span;
}

qint32 TStringCollection::RowExtent(const char* RowData) const {
    const char* p = RowData;
    for (qint32 c = 0; c < FHighBounds; ++c)
        p += 2 + ReadLength(p);
    return qint32(p - RowData);
}

bool TStringCollection::GetString(qint32 Column, qint32 Row, const char*& Data,
                                  qint32& Length) const {
    if (Column < 0 || Column >= FHighBounds || Row < 0 || Row >= FCount) return false;
    const char* row = RowData(Row);
    if (!row) {
        Data = "";
        Length = 0;
        return true;
    }
    const char* p = row;
    for (qint32 c = 0; c < Column; ++c)
        p += 2 + ReadLength(p);
    Length = ReadLength(p);
    Data = p + 2;
    return true;
}

char* TStringCollection::RowData(qint32 Row) const {
    const quint32 position = FRows[Row];
    if (position == NoRowData) return nullptr;
    return FChunks[position >> 16].get() + (position & 0xFFFF);
}

quint32 TStringCollection::PositionOf(const char* RowData) const {
    return quint32(FChunks.size() - 1) << 16 | quint32(RowData - FChunk);
}

char* TStringCollection::Reserve(qint32 Size) {
    if (FTail && FTail - FChunk < ChunkSize && FTailEnd - FTail >= Size) return FTail;
    // The last chunk number stays free so that no position is taken for the empty row.
    if (FChunks.size() >= 0xFFFF)
        RaiseStoreError("String store full (%d chunks of %d bytes)", 0xFFFF, ChunkSize);
    // A row larger than a chunk is rare; leave it room to grow by its following columns.
    const qint64 size = Size <= ChunkSize ? ChunkSize : qint64(Size) + Size / 2;
    FChunks.push_back(std::make_unique_for_overwrite<char[]>(size_t(size)));
    FChunkBytes += size;
    FChunk = FTail = FChunks.back().get();
    FTailEnd = FTail + size;
    FTailRow = -1;
    return FTail;
}

void TStringCollection::SetString(qint32 Column, qint32 Row, const char* Data, qint32 Length) {
    CheckPosition(Column, Row);
    if (Length < 0 || Length > MaxStringLength)
        RaiseStoreError("String length %d out of range in column %d", Length, Column);
    char* row = RowData(Row);
    if (!row && Length == 0) return;
    const TColumnSpan span = Locate(row, Column);
    const qint32 size = span.Before + 2 + Length + span.After;

    if (row && Row == FTailRow && FTailEnd - row >= size) {
        std::memmove(row + span.Before + 2 + Length, row + span.Before + 2 + span.Length,
                     size_t(span.After));
        WriteLength(row + span.Before, Length);
        if (Length > 0) std::memcpy(row + span.Before + 2, Data, size_t(Length));
        FTail = row + size;
        return;
    }

    char* dest = Reserve(size);
    if (row) {
        std::memcpy(dest, row, size_t(span.Before));
        std::memcpy(dest + span.Before + 2 + Length, row + span.Before + 2 + span.Length,
                    size_t(span.After));
    } else {
        std::memset(dest, 0, size_t(size));
    }
    WriteLength(dest + span.Before, Length);
    if (Length > 0) std::memcpy(dest + span.Before + 2, Data, size_t(Length));
    FRows[Row] = PositionOf(dest);
    FTail = dest + size;
    FTailRow = Row;
}

void TStringCollection::SetLength(qint32 Column, qint32 Row, qint32 Length) {
    CheckPosition(Column, Row);
    char* row = RowData(Row);
    if (!row || Length < 0) return;
    const TColumnSpan span = Locate(row, Column);
    if (Length >= span.Length) return;
    const qint32 cut = span.Length - Length;
    char* text = row + span.Before + 2;
    std::memmove(text + Length, text + span.Length, size_t(span.After));
    WriteLength(row + span.Before, Length);
    if (Row == FTailRow) FTail -= cut;
}

qint64 TStringCollection::AllocatedBytes() const {
    return FChunkBytes + qint64(FCapacity) * qint64(sizeof(quint32)) +
           qint64(FChunks.capacity()) * qint64(sizeof(FChunks[0]));
}

// ---------------------------------------------------------------------------------------------
// TRecordsCache

TRecordsCache::TRecordsCache(qint32 RecsInBlock, qint32 InOutRecordSize, qint32 RecordSize,
                             qint32 StrFieldCount)
    : FRecordSize(RecordSize), FInOutRecordSize(InOutRecordSize),
      FStrFieldCount(std::max(StrFieldCount, 0)) {
    if (RecordSize <= 0 || InOutRecordSize <= 0) RaiseMemManagerError(SIncompatibleSizes);
    qint64 blockSize = qint64(RecsInBlock) * RecordSize;
    // Small rows still get blocks of at least 1 KiB, a whole number of record buffers past it.
    if (blockSize < 1024) blockSize = 1024 + InOutRecordSize - (1024 % InOutRecordSize);
    if (blockSize < RecordSize || blockSize > std::numeric_limits<qint32>::max())
        RaiseMemManagerError(SIncompatibleSizes);
    FBlockSize = qint32(blockSize);
    FRecInBlock = FBlockSize / FRecordSize;
    if (FStrFieldCount > 0) {
        FStringData = std::make_unique<TStringCollection>(FStrFieldCount);
        FStringFieldOffsets.assign(size_t(FStrFieldCount), 0);
        FStringFieldSize.assign(size_t(FStrFieldCount), 0);
    }
    FOldBuffer = std::make_unique_for_overwrite<char[]>(size_t(FInOutRecordSize));
    std::memset(FOldBuffer.get(), 1, size_t(FInOutRecordSize));
}

qint32 TRecordsCache::CreateNewBlock() {
    if (FSlabBlocksLeft == 0) {
        constexpr qint64 MaxSlabBytes = 256 * 1024;
        const qint64 cap = std::max<qint64>(1, MaxSlabBytes / FBlockSize);
        const qint64 blocks = std::clamp<qint64>(qint64(FBlocks.size()), 1, cap);
        char* slab = static_cast<char*>(std::calloc(size_t(blocks), size_t(FBlockSize)));
        if (!slab) throw std::bad_alloc();
        FSlabs.emplace_back(slab);
        FSlabNext = slab;
        FSlabBlocksLeft = blocks;
        FSlabBytes += blocks * FBlockSize;
    }
    FBlocks.push_back(FSlabNext);
    FSlabNext += FBlockSize;
    --FSlabBlocksLeft;
    return BlockCount();
}

void TRecordsCache::SetStrOffset(qint32 FieldNo, qint32 Offset, qint32 Size) {
    if (FieldNo < 1 || FieldNo > FStrFieldCount) return;
    FStringFieldOffsets[size_t(FieldNo - 1)] = Offset;
    FStringFieldSize[size_t(FieldNo - 1)] = Size;
}

char* TRecordsCache::PrepareMemory(qint32 RecNo) {
    if (RecNo < 1) RaiseMemManagerError(SCantWriteBuffer);
    const qint32 block = (RecNo - 1) / FRecInBlock;
    if (block > BlockCount()) RaiseMemManagerError(SCantWriteBuffer);
    if (block == BlockCount()) CreateNewBlock();
    FRecordCount = std::max(FRecordCount, RecNo);
    return FBlocks[size_t(block)] + qint64((RecNo - 1) % FRecInBlock) * FRecordSize;
}

void TRecordsCache::ReadRecordBuffer(qint32 RecNo, char* Dest) {
    if (RecNo < 1 || (RecNo - 1) / FRecInBlock >= BlockCount())
        RaiseMemManagerError(SCantReadBuffer);
    const char* row = FBlocks[size_t((RecNo - 1) / FRecInBlock)] +
                      qint64((RecNo - 1) % FRecInBlock) * FRecordSize;
    if (FStrFieldCount == 0) {
        std::memcpy(Dest, row, size_t(FRecordSize));
        return;
    }
    // The cached row holds everything up to the first separate slot as the buffer does; only
    // the blob area behind the separate slots sits elsewhere.
    const qint32 head = FStringFieldOffsets[0];
    std::memcpy(Dest, row, size_t(head));
    for (qint32 i = 0; i < FStrFieldCount; ++i) {
        const char* text;
        qint32 length;
        if (!FStringData->GetString(i, RecNo - 1, text, length)) continue;
        const qint32 slot = FStringFieldSize[size_t(i)];
        if (length > slot) {
            FStringData->SetLength(i, RecNo - 1, slot);
            length = slot;
        }
        char* dest = Dest + FStringFieldOffsets[size_t(i)];
        Store<qint32>(dest, length);
        std::memcpy(dest + 4, text, size_t(length));
        if (length < slot) dest[4 + length] = 0;
    }
    const qint32 last = FStrFieldCount - 1;
    char* tail = Dest + FStringFieldOffsets[size_t(last)] + 4 + FStringFieldSize[size_t(last)];
    std::memcpy(tail, row + head, size_t(FRecordSize - head));
}

void TRecordsCache::CheckStringColumn(qint32 Column) const {
    if (Column < 0 || Column >= FStrFieldCount)
        RaiseStoreError("String column %d out of range (%d columns)", Column, FStrFieldCount);
}

void TRecordsCache::AddStringRows(qint32 Row) {
    while (FStringData->Count() <= Row)
        FStringData->AddRow();
}

void TRecordsCache::SetStringValue(qint32 Column, qint32 Row, const QByteArray& Value) {
    CheckStringColumn(Column);
    AddStringRows(Row);
    FStringData->SetString(Column, Row, Value.constData(), qint32(Value.size()));
}

void TRecordsCache::SetStringFromPChar(qint32 Column, qint32 Row, bool Trim, qint32 Length,
                                       char* Bytes) {
    CheckStringColumn(Column);
    AddStringRows(Row);
    const qint32 slot = FStringFieldSize[size_t(Column)];
    if (Length < 0) Length = slot;
    if (Trim) {
        while (Length > 0 && Bytes[Length - 1] == ' ')
            --Length;
        if (Length < slot) Bytes[Length] = 0;
    }
    FStringData->SetString(Column, Row, Bytes, Length);
}

qint64 TRecordsCache::AllocatedBytes() const {
    qint64 bytes = FSlabBytes + qint64(FBlocks.capacity()) * qint64(sizeof(FBlocks[0])) +
                   qint64(FSlabs.capacity()) * qint64(sizeof(FSlabs[0])) + FInOutRecordSize;
    bytes += qint64(FStringFieldOffsets.capacity() + FStringFieldSize.capacity()) *
             qint64(sizeof(qint32));
    if (FStringData) bytes += qint64(sizeof(TStringCollection)) + FStringData->AllocatedBytes();
    return bytes;
}

// ---------------------------------------------------------------------------------------------
// Column layout

namespace {

bool IsText(quint16 Type) {
    return Type == SQL_VARYING || Type == SQL_TEXT;
}

quint16 SlotSize(quint16 Type, qint16 Length) {
    switch (Type) {
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
    case SQL_TIMESTAMP:
    case SQL_INT64:
        return 8;
    case SQL_FLOAT:
    case SQL_LONG:
    case SQL_TYPE_TIME:
    case SQL_TYPE_DATE:
        return 4;
    case SQL_SHORT:
        return 2;
    default:
        return quint16(std::max<qint16>(Length, 0));
    }
}

QByteArray NameOf(const char* Name, qint16 Length) {
    return QByteArray(Name, std::clamp<qint16>(Length, 0, 32));
}

// Long texts would make every row as wide as their declaration; OCTETS texts keep their bytes
// exactly as delivered. Keys and GUIDs are short and read at full width.
bool IsSeparate(const TFIBFieldDescr& Descr) {
    if (!IsText(Descr.fdDataType) || Descr.fdIsDBKey || Descr.fdAddedFields == atfGuidField)
        return false;
    return Descr.fdDataSize > 20 || (Descr.fdSubType & 0xFF) == 1;
}

} // namespace

TRecordLayout ComputeRecordLayout(const XSQLDA& Columns, const TRecordLayoutOptions& Options) {
    TRecordLayout layout;
    const qint32 n = std::max<qint32>(Columns.sqld, 0);
    layout.RecordSize = n + RecordHeaderSize;
    layout.CachedRowSize = n + 1;
    layout.Fields.reserve(size_t(n));
    for (qint32 i = 0; i < n; ++i) {
        const XSQLVAR& var = Columns.sqlvar[i];
        TFIBFieldDescr d;
        d.fdDataType = quint16(var.sqltype & ~1);
        d.fdDataScale = var.sqlscale;
        d.fdNullable = (var.sqltype & 1) != 0;
        d.fdDataSize = SlotSize(d.fdDataType, var.sqllen);
        d.fdSubType = var.sqlsubtype;
        d.fdRelationField = NameOf(var.sqlname, var.sqlname_length);
        d.fdRelationTable = NameOf(var.relname, var.relname_length);
        d.fdIsDBKey = d.fdRelationField == "DB_KEY" || d.fdRelationField == "RDB$DB_KEY";
        if (size_t(i) < Options.Added.size()) d.fdAddedFields = Options.Added[size_t(i)];
        d.fdIsSeparateString = IsSeparate(d);
        if (d.fdIsSeparateString) {
            d.fdStrIndex = layout.StringFieldCount++;
        } else {
            d.fdDataOfs = layout.RecordSize;
            layout.RecordSize += d.fdDataSize;
            layout.CachedRowSize += d.fdDataSize;
        }
        layout.Fields.push_back(std::move(d));
    }
    // The separate slots follow the inline ones, each with room for its 32-bit length.
    for (TFIBFieldDescr& d : layout.Fields) {
        if (!d.fdIsSeparateString) continue;
        d.fdDataOfs = layout.RecordSize;
        layout.RecordSize += d.fdDataSize + 4;
    }
    layout.BlobCacheBufferOffset = layout.RecordSize;
    layout.CalcFieldsOffset = layout.RecordSize + 4 * Options.BlobFieldCount;
    layout.RecordBufferSize = layout.CalcFieldsOffset + Options.CalcFieldsSize;
    layout.CachedRowSize += 4 * Options.BlobFieldCount;
    return layout;
}

std::unique_ptr<TRecordsCache> CreateRecordsCache(const TRecordLayout& Layout, qint32 BufferChunks,
                                                  const TRecordLayoutOptions& Options) {
    const qint32 rowSize =
        Layout.CachedRowSize + (Options.CacheCalcFields ? Options.CalcFieldsSize : 0);
    auto cache = std::make_unique<TRecordsCache>(BufferChunks, Layout.RecordBufferSize, rowSize,
                                                 Layout.StringFieldCount);
    cache->CreateNewBlock();
    for (const TFIBFieldDescr& d : Layout.Fields)
        if (d.fdIsSeparateString)
            cache->SetStrOffset(d.fdStrIndex + 1, d.fdDataOfs - 5, d.fdDataSize);
    return cache;
}

// ---------------------------------------------------------------------------------------------
// Fetching and reading rows

namespace {

void StoreVarying(TRecordsCache& Cache, const TFIBFieldDescr& Descr, char* Slot, char* Value,
                  qint32 Index) {
    const qint32 slot = Descr.fdDataSize;
    const qint32 length = std::clamp<qint32>(Load<qint16>(Value), 0, slot);
    char* text = Value + 2;
    if (length == 0) {
        if (Descr.fdIsSeparateString)
            Cache.SetStringValue(Descr.fdStrIndex, Index, QByteArray());
        else
            std::memset(Slot, 0, size_t(slot));
        return;
    }
    // The statement's buffer has two bytes beyond the longest text, so the zero always fits;
    // an inline slot then reads up to it.
    if (length < slot) text[length] = 0;
    if (Descr.fdIsSeparateString)
        Cache.SetStringFromPChar(Descr.fdStrIndex, Index, false, length, text);
    else
        std::memcpy(Slot, text, size_t(slot));
}

void StoreValue(TRecordsCache& Cache, const TFIBFieldDescr& Descr, char* Slot, char* Value,
                qint32 Index, bool SQLINT64ToBCD) {
    switch (Descr.fdDataType) {
    case SQL_VARYING:
        StoreVarying(Cache, Descr, Slot, Value, Index);
        return;
    case SQL_TEXT:
        if (Descr.fdIsSeparateString)
            Cache.SetStringFromPChar(Descr.fdStrIndex, Index, true, Descr.fdDataSize, Value);
        else
            std::memcpy(Slot, Value, Descr.fdDataSize);
        return;
    case SQL_TIMESTAMP: {
        const auto ts = Load<ISC_TIMESTAMP>(Value);
        const qint64 ms =
            (qint64(ts.timestamp_date) + DateDelta) * MSecsPerDay + qint64(ts.timestamp_time / 10u);
        Store<double>(Slot, double(ms));
        return;
    }
    case SQL_TYPE_TIME:
        Store<qint32>(Slot, qint32(Load<ISC_TIME>(Value) / 10u));
        return;
    case SQL_TYPE_DATE:
        Store<qint32>(Slot, qint32(Load<ISC_DATE>(Value) + DateDelta));
        return;
    case SQL_INT64:
        // Too many decimals for the currency type the fields would otherwise read it into.
        if (Descr.fdDataScale < -4 && !SQLINT64ToBCD)
            Store<double>(Slot, ScaledToDouble(Load<qint64>(Value), Descr.fdDataScale));
        else
            std::memcpy(Slot, Value, 8);
        return;
    default:
        std::memcpy(Slot, Value, Descr.fdDataSize);
    }
}

} // namespace

void FetchRowToCache(XSQLDA& Row, const TRecordLayout& Layout, TRecordsCache& Cache, qint32 Index,
                     bool SQLINT64ToBCD) {
    const qint32 n = qint32(Layout.Fields.size());
    if (Row.sqld < n)
        throw EMemManagerError(
            -1, Format("Row of %d columns for a layout of %d columns", Row.sqld, n), nullptr);
    char* record = Cache.PrepareMemory(Index + 1);
    record[0] = char(cusUnmodified);
    for (qint32 i = 0; i < n; ++i) {
        XSQLVAR& var = Row.sqlvar[i];
        const TFIBFieldDescr& d = Layout.Fields[size_t(i)];
        const bool isNull = (var.sqltype & 1) && var.sqlind && *var.sqlind == -1;
        record[1 + i] = isNull ? 1 : 0;
        if (isNull) {
            if (d.fdIsSeparateString) {
                Cache.SetStringValue(d.fdStrIndex, Index, QByteArray());
                continue;
            }
            if (d.fdDataType != SQL_BLOB && d.fdDataType != SQL_ARRAY) continue;
        }
        if (!var.sqldata) continue;
        char* slot = d.fdIsSeparateString ? nullptr : record + d.fdDataOfs - 5;
        StoreValue(Cache, d, slot, var.sqldata, Index, SQLINT64ToBCD);
    }
}

void ReadCachedRow(TRecordsCache& Cache, const TRecordLayout& Layout, qint32 Index, char* Buffer) {
    if (Index < 0) return;
    SetRecordCacheIndex(Buffer, Index);
    if (Layout.RecordBufferSize > Layout.CalcFieldsOffset)
        std::memset(Buffer + Layout.CalcFieldsOffset, 0,
                    size_t(Layout.RecordBufferSize - Layout.CalcFieldsOffset));
    Cache.ReadRecordBuffer(Index + 1, Buffer + 5);
}
