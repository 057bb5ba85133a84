// The datasets' row cache: the column layout an open dataset computes, the record buffer that its
// window and fields work on, and the cache of fetched rows with its store of long texts.
//
// Rows live back to back in blocks of fixed size; texts too long to be kept at full width inside
// a row (and every OCTETS text) live in a string arena, each row's texts side by side, so that
// fetching a row never costs a heap object per value.
#pragma once

#include "SysUtils.h"
#include "fib.h"

#include <ibase.h>

#include <QByteArray>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

// The cache's failures. The writing ones belong to the editing paths.
inline constexpr const char* SIncompatibleSizes = "Incompatible Sizes";
inline constexpr const char* SCantReadBuffer = "Can't read Buffer.Incorrect RecordNo";
inline constexpr const char* SCantWriteBuffer = "Can't write to Buffer.Incorrect RecordNo";
inline constexpr const char* SCantWriteFieldToBuffer =
    "Can't write to Field to Buffer.Incorrect RecordNo";
inline constexpr const char* SCantReadFieldData = "Can't read  FieldData .Incorrect RecordNo";

enum TAddedFieldType : quint8 { atfStandard, atfGuidField, atfWideStringField };

enum TCachedUpdateStatus : quint8 {
    cusUnmodified = 0,
    cusModified = 1,
    cusInserted = 2,
    cusDeleted = 3,
    cusUninserted = 4,
    cusDeletedApplied = 5
};

// The bookmark flag byte of a record buffer.
enum TBookmarkFlag : quint8 { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 3 };

// One column of an open dataset: its type, where its value lives in a record buffer and whether
// its text goes to the string store.
struct TFIBFieldDescr {
    quint16 fdDataType = 0; // SQL type without the nullable bit
    qint16 fdDataScale = 0;
    bool fdNullable = false;
    quint16 fdDataSize = 0; // slot size in bytes
    qint32 fdDataOfs = 0;   // slot offset in a record buffer
    bool fdIsDBKey = false;
    bool fdIsSeparateString = false;
    qint32 fdStrIndex = -1; // column of the string store, -1 for inline columns
    TAddedFieldType fdAddedFields = atfStandard;
    qint16 fdSubType = 0; // character set id for texts
    QByteArray fdRelationTable;
    QByteArray fdRelationField;
    QByteArray fdTableAlias;
};
using TFIBFieldDescrList = std::vector<TFIBFieldDescr>;

// ---------------------------------------------------------------------------------------------
// Record buffer header: cache index (0), bookmark flag (4), update status (5), then one null flag
// per column.

constexpr int RecordHeaderSize = 6;

inline qint32 RecordCacheIndex(const char* Buffer) {
    qint32 value;
    std::memcpy(&value, Buffer, sizeof value);
    return value;
}
inline void SetRecordCacheIndex(char* Buffer, qint32 Value) {
    std::memcpy(Buffer, &Value, sizeof Value);
}
inline TBookmarkFlag RecordBookmarkFlag(const char* Buffer) {
    return TBookmarkFlag(Buffer[4]);
}
inline void SetRecordBookmarkFlag(char* Buffer, TBookmarkFlag Value) {
    Buffer[4] = char(Value);
}
inline TCachedUpdateStatus RecordUpdateStatus(const char* Buffer) {
    return TCachedUpdateStatus(quint8(Buffer[5]) & 0x07);
}
// Keeps bit 7, the mark of stored calculated values.
inline void SetRecordUpdateStatus(char* Buffer, TCachedUpdateStatus Value) {
    Buffer[5] = char((quint8(Buffer[5]) & ~0x07) | Value);
}
inline bool RecordFieldIsNull(const char* Buffer, int FieldIndex0) {
    return Buffer[RecordHeaderSize + FieldIndex0] != 0;
}
inline void SetRecordFieldIsNull(char* Buffer, int FieldIndex0, bool Value) {
    Buffer[RecordHeaderSize + FieldIndex0] = Value ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// The separate texts: HighBounds columns, one row per cached row.
//
// A row's texts are kept contiguous in large arena chunks, each as a 16-bit length followed by
// its bytes; the row table holds a 32-bit position per row (chunk number and offset, rows start
// in a chunk's first 64 KiB), or nothing for a row of empty texts.
// A write to the row that ends the arena is done in place (a fetch writes its columns in
// order); any other write moves that row to the arena's end and leaves its old bytes behind,
// which only editing does.
class TStringCollection {
public:
    explicit TStringCollection(qint32 HighBounds);

    qint32 HighBounds() const { return FHighBounds; }
    qint32 Count() const { return FCount; }
    qint32 Capacity() const { return FCapacity; }

    // One row of empty strings; a full table grows to 128 rows first, then by half.
    void AddRow();
    // A view of the string at (Column, Row), both from 0; false when the position is outside
    // the table. Never allocates. The view lasts until the next write to the store.
    bool GetString(qint32 Column, qint32 Row, const char*& Data, qint32& Length) const;
    // Data must not point into this store.
    void SetString(qint32 Column, qint32 Row, const char* Data, qint32 Length);
    // Shortens the string in place; a longer Length changes nothing.
    void SetLength(qint32 Column, qint32 Row, qint32 Length);
    // Every byte this store holds from the heap.
    qint64 AllocatedBytes() const;

    // The arena's usual chunk; a row that does not fit in it gets a bigger one.
    static constexpr qint32 ChunkSize = 64 * 1024;
    static constexpr qint32 MaxStringLength = 0xFFFF;

private:
    struct TColumnSpan {
        qint32 Before = 0; // bytes of the columns in front of it
        qint32 Length = 0; // its text length
        qint32 After = 0;  // bytes of the columns behind it
    };
    TColumnSpan Locate(const char* RowData, qint32 Column) const;
    qint32 RowExtent(const char* RowData) const;
    char* Reserve(qint32 Size);
    char* RowData(qint32 Row) const;
    quint32 PositionOf(const char* RowData) const;
    void CheckPosition(qint32 Column, qint32 Row) const;

    qint32 FHighBounds;
    qint32 FCount = 0;
    qint32 FCapacity = 0;
    static constexpr quint32 NoRowData = 0xFFFFFFFF;
    std::unique_ptr<quint32[]> FRows;
    std::vector<std::unique_ptr<char[]>> FChunks;
    qint64 FChunkBytes = 0;
    char* FChunk = nullptr;   // the current chunk
    char* FTail = nullptr;    // its first free byte
    char* FTailEnd = nullptr; // its end
    qint32 FTailRow = -1;     // the row whose texts end at FTail
};

// ---------------------------------------------------------------------------------------------
// The cache of fetched rows. Row numbers count from 1 unless said otherwise.

class TRecordsCache {
public:
    // Rows per block, record buffer size, cached row size, number of separate text columns.
    TRecordsCache(qint32 RecsInBlock, qint32 InOutRecordSize, qint32 RecordSize,
                  qint32 StrFieldCount);
    TRecordsCache(const TRecordsCache&) = delete;
    TRecordsCache& operator=(const TRecordsCache&) = delete;

    // Appends one zero-filled block; the result is the block count.
    qint32 CreateNewBlock();
    // Where separate column FieldNo (from 1) lives in record buffers: the slot's offset minus 5
    // and its size. Out of range numbers are ignored.
    void SetStrOffset(qint32 FieldNo, qint32 Offset, qint32 Size);
    // The storage of row RecNo, appending a block when it is the first row of a new one.
    char* PrepareMemory(qint32 RecNo);
    // Copies row RecNo and its separate texts to Dest, a record buffer + 5.
    void ReadRecordBuffer(qint32 RecNo, char* Dest);
    // Column and Row from 0.
    void SetStringValue(qint32 Column, qint32 Row, const QByteArray& Value);
    // Length -1 means the slot size. Trimming drops trailing blanks and, when the text ends up
    // shorter than the slot, writes a zero byte after it into Bytes.
    void SetStringFromPChar(qint32 Column, qint32 Row, bool Trim, qint32 Length, char* Bytes);

    qint32 BlockSize() const { return FBlockSize; }
    qint32 RecInBlock() const { return FRecInBlock; }
    qint32 BlockCount() const { return qint32(FBlocks.size()); }
    qint32 RecordCount() const { return FRecordCount; }
    qint32 RecordSize() const { return FRecordSize; }
    qint32 InOutRecordSize() const { return FInOutRecordSize; }
    TStringCollection* StringData() const { return FStringData.get(); }
    const char* OldBuffer() const { return FOldBuffer.get(); }
    // Blocks, string store and old-value buffer.
    qint64 AllocatedBytes() const;

private:
    void CheckStringColumn(qint32 Column) const;
    void AddStringRows(qint32 Row);

    qint32 FBlockSize = 0;
    qint32 FRecInBlock = 0;
    qint32 FRecordSize;
    qint32 FInOutRecordSize;
    qint32 FRecordCount = 0;
    qint32 FStrFieldCount;
    struct TFreeDeleter {
        void operator()(char* p) const { std::free(p); }
    };
    // Blocks are carved out of slabs that double up to about 256 KiB: a long result costs a heap
    // allocation per slab, not per block, and a short one takes little more than it uses.
    std::vector<char*> FBlocks;
    std::vector<std::unique_ptr<char, TFreeDeleter>> FSlabs;
    char* FSlabNext = nullptr;
    qint64 FSlabBlocksLeft = 0;
    qint64 FSlabBytes = 0;
    std::unique_ptr<TStringCollection> FStringData;
    std::vector<qint32> FStringFieldOffsets;
    std::vector<qint32> FStringFieldSize;
    std::unique_ptr<char[]> FOldBuffer; // editing only
};

// ---------------------------------------------------------------------------------------------
// What an open dataset does with the cache.

// The column layout computed after the select was executed.
struct TRecordLayout {
    TFIBFieldDescrList Fields; // vFieldDescrList
    qint32 RecordSize = 0;     // FRecordSize: end of the separate slots
    qint32 CachedRowSize = 0;
    qint32 StringFieldCount = 0; // FStringFieldCount
    qint32 BlobCacheBufferOffset = 0;
    qint32 CalcFieldsOffset = 0;
    qint32 RecordBufferSize = 0;
};

struct TRecordLayoutOptions {
    bool SQLINT64ToBCD = false;         // psSQLINT64ToBCD
    std::vector<TAddedFieldType> Added; // per column from 0; missing entries = atfStandard
    qint32 BlobFieldCount = 0;
    qint32 CalcFieldsSize = 0;
    bool CacheCalcFields = false; // poCacheCalcFields
};

// The layout of the select's described columns. The table alias stays empty: only the
// statement knows it.
TRecordLayout ComputeRecordLayout(const XSQLDA& Columns, const TRecordLayoutOptions& Options);
// The cache for that layout, with its first block and its separate columns' slots.
std::unique_ptr<TRecordsCache> CreateRecordsCache(const TRecordLayout& Layout, qint32 BufferChunks,
                                                  const TRecordLayoutOptions& Options);
// Stores the statement's current row as cache row Index (from 0). A VARYING value shorter than
// its slot gets a terminating zero written into the statement's own buffer.
void FetchRowToCache(XSQLDA& Row, const TRecordLayout& Layout, TRecordsCache& Cache, qint32 Index,
                     bool SQLINT64ToBCD);
// Copies cache row Index (from 0) into a record buffer.
void ReadCachedRow(TRecordsCache& Cache, const TRecordLayout& Layout, qint32 Index, char* Buffer);
