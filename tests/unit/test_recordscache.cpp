// The row cache over descriptor areas built by hand as a select would describe and fill them:
// exact layouts, exact record buffer bytes, blocks, the string store and heap use per row.
#include "FIBDataSetCache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> gAllocations{0};
}

// Counts every heap allocation of the test program, so a fetch loop can show what it costs.
void* operator new(std::size_t size) {
    ++gAllocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

struct TColumnDef {
    short type;
    short len;
    short scale = 0;
    bool nullable = false;
    short subtype = 0;
    const char* name = "";
};

// An output descriptor area with its value buffers and indicators, as a prepared select has it.
class TRowArea {
public:
    explicit TRowArea(const std::vector<TColumnDef>& defs)
        : FMemory(XSQLDA_LENGTH(defs.size()), 0), FData(defs.size()), FInd(defs.size(), 0) {
        XSQLDA* da = Area();
        da->version = SQLDA_VERSION1;
        da->sqln = da->sqld = short(defs.size());
        for (size_t i = 0; i < defs.size(); ++i) {
            const TColumnDef& d = defs[i];
            XSQLVAR& v = da->sqlvar[i];
            v.sqltype = short(d.type | (d.nullable ? 1 : 0));
            v.sqllen = d.len;
            v.sqlscale = d.scale;
            v.sqlsubtype = d.subtype;
            v.sqlname_length = short(std::strlen(d.name));
            std::memcpy(v.sqlname, d.name, std::strlen(d.name));
            v.relname_length = 7;
            std::memcpy(v.relname, "CLIENTS", 7);
            FData[i].assign(size_t(d.len + (d.type == SQL_VARYING ? 2 : 0)), '\0');
            v.sqldata = FData[i].data();
            v.sqlind = &FInd[i];
        }
    }
    XSQLDA* Area() { return reinterpret_cast<XSQLDA*>(FMemory.data()); }
    XSQLVAR& Var(int i) { return Area()->sqlvar[i]; }
    char* Data(int i) { return FData[size_t(i)].data(); }
    void SetNull(int i, bool null) { FInd[size_t(i)] = null ? -1 : 0; }
    void Text(int i, const QByteArray& bytes) {
        std::memset(Data(i), ' ', FData[size_t(i)].size());
        std::memcpy(Data(i), bytes.constData(), size_t(bytes.size()));
    }
    void Varying(int i, const QByteArray& bytes) {
        const qint16 len = qint16(bytes.size());
        std::memcpy(Data(i), &len, 2);
        std::memcpy(Data(i) + 2, bytes.constData(), size_t(bytes.size()));
    }
    template <typename T> void Put(int i, T value) { std::memcpy(Data(i), &value, sizeof value); }

private:
    std::vector<char> FMemory;
    std::vector<std::vector<char>> FData;
    std::vector<ISC_SHORT> FInd;
};

template <typename T> QByteArray Raw(T value) {
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

void Place(QByteArray& buffer, int offset, const QByteArray& bytes) {
    buffer.replace(offset, bytes.size(), bytes);
}

template <typename F> QString MemErrorOf(F&& f) {
    try {
        f();
    } catch (const EMemManagerError& e) {
        return e.Message();
    }
    return QStringLiteral("<no error>");
}

// VARCHAR(50), CHAR(30), CHAR(10), VARCHAR(11), NUMERIC(18,2), NUMERIC(18,6), TIMESTAMP,
// SMALLINT, VARCHAR(5), the row key, CHAR(4) OCTETS, TIME, DATE.
const std::vector<TColumnDef> Select = {{SQL_VARYING, 50, 0, true, 0, "NOM"},
                                        {SQL_TEXT, 30},
                                        {SQL_TEXT, 10},
                                        {SQL_VARYING, 11},
                                        {SQL_INT64, 8, -2, true},
                                        {SQL_INT64, 8, -6},
                                        {SQL_TIMESTAMP, 8},
                                        {SQL_SHORT, 2, 0, true},
                                        {SQL_VARYING, 5, 0, true},
                                        {SQL_TEXT, 8, 0, false, 1, "DB_KEY"},
                                        {SQL_TEXT, 4, 0, false, 1},
                                        {SQL_TYPE_TIME, 4},
                                        {SQL_TYPE_DATE, 4}};

void FillFirstRow(TRowArea& row) {
    row.Varying(0, "ABC  ");
    row.Text(1, "ABC");
    row.Text(2, "ABC");
    row.SetNull(2, true); // not nullable: the indicator does not count
    row.Varying(3, "ABCDEFGHIJK");
    row.Var(4).sqlind = nullptr; // nullable without an indicator
    row.Put<qint64>(4, 12345);
    row.Put<qint64>(5, 1234567);
    row.Put(6, ISC_TIMESTAMP{51544, 432000000});
    row.Put<qint16>(7, -7);
    row.Varying(8, "");
    row.Put<quint64>(9, 0x2020202000000001ull);
    row.Text(10, "AB");
    row.Put<ISC_TIME>(11, 432000009u);
    row.Put<ISC_DATE>(12, 51544);
}

void FillSecondRow(TRowArea& row) {
    row.SetNull(0, true);
    row.Text(1, "");
    row.Varying(3, "AB");
    row.SetNull(7, true);
    row.SetNull(8, true);
    row.Text(10, "WXYZ");
}

} // namespace

TEST(RecordsCache, SelectLayoutAndRecordBufferBytes) {
    TRowArea row(Select);
    TRecordLayoutOptions options;
    options.BlobFieldCount = 1;
    options.CalcFieldsSize = 6;
    const TRecordLayout layout = ComputeRecordLayout(*row.Area(), options);

    const std::vector<int> ofs = {87, 141, 19, 29, 40, 48, 56, 64, 66, 71, 175, 79, 83};
    const std::vector<int> size = {50, 30, 10, 11, 8, 8, 8, 2, 5, 8, 4, 4, 4};
    const std::vector<int> strIndex = {0, 1, -1, -1, -1, -1, -1, -1, -1, -1, 2, -1, -1};
    ASSERT_EQ(layout.Fields.size(), 13u);
    for (size_t i = 0; i < 13; ++i) {
        const TFIBFieldDescr& d = layout.Fields[i];
        EXPECT_EQ(d.fdDataOfs, ofs[i]) << i;
        EXPECT_EQ(d.fdDataSize, size[i]) << i;
        EXPECT_EQ(d.fdStrIndex, strIndex[i]) << i;
        EXPECT_EQ(d.fdIsSeparateString, strIndex[i] >= 0) << i;
        EXPECT_EQ(d.fdDataType, Select[i].type) << i;
        EXPECT_EQ(d.fdNullable, Select[i].nullable) << i;
        EXPECT_EQ(d.fdIsDBKey, i == 9) << i;
    }
    EXPECT_EQ(layout.Fields[5].fdDataScale, -6);
    EXPECT_EQ(layout.Fields[10].fdSubType, 1);
    EXPECT_EQ(layout.Fields[0].fdRelationField, "NOM");
    EXPECT_EQ(layout.Fields[0].fdRelationTable, "CLIENTS");
    EXPECT_EQ(layout.StringFieldCount, 3);
    EXPECT_EQ(layout.RecordSize, 183);
    EXPECT_EQ(layout.BlobCacheBufferOffset, 183);
    EXPECT_EQ(layout.CalcFieldsOffset, 187);
    EXPECT_EQ(layout.RecordBufferSize, 193);
    EXPECT_EQ(layout.CachedRowSize, 86);

    auto cache = CreateRecordsCache(layout, 32, options);
    EXPECT_EQ(cache->BlockSize(), 32 * 86);
    EXPECT_EQ(cache->InOutRecordSize(), 193);
    FillFirstRow(row);
    FetchRowToCache(*row.Area(), layout, *cache, 0, false);
    // What the blob streams would leave in the cached row travels behind the separate slots.
    std::memcpy(cache->PrepareMemory(1) + 82, "\x11\x22\x33\x44", 4);
    EXPECT_EQ(QByteArray(row.Data(1), 5), QByteArray("ABC\0 ", 5)); // trimmed in place

    QByteArray buffer(193, '\xEE');
    ReadCachedRow(*cache, layout, 0, buffer.data());
    QByteArray expected(193, '\xEE');
    Place(expected, 0, Raw<qint32>(0));
    Place(expected, 5, QByteArray(14, '\0'));
    Place(expected, 19, "ABC       ");
    Place(expected, 29, "ABCDEFGHIJK");
    Place(expected, 40, Raw<qint64>(12345));
    Place(expected, 48, Raw<double>(1.234567));
    Place(expected, 56, Raw<double>(63082411200000.0));
    Place(expected, 64, Raw<qint16>(-7));
    Place(expected, 66, QByteArray(5, '\0'));
    Place(expected, 71, Raw<quint64>(0x2020202000000001ull));
    Place(expected, 79, Raw<qint32>(43200000));
    Place(expected, 83, Raw<qint32>(730120));
    Place(expected, 87, Raw<qint32>(5) + QByteArray("ABC  \0", 6));
    Place(expected, 141, Raw<qint32>(3) + QByteArray("ABC\0", 4));
    Place(expected, 175, Raw<qint32>(2) + QByteArray("AB\0", 3));
    Place(expected, 183, "\x11\x22\x33\x44");
    Place(expected, 187, QByteArray(6, '\0'));
    EXPECT_EQ(buffer.toHex(' '), expected.toHex(' '));
    EXPECT_FALSE(RecordFieldIsNull(buffer.constData(), 2));
    EXPECT_FALSE(RecordFieldIsNull(buffer.constData(), 4));
    EXPECT_FALSE(RecordFieldIsNull(buffer.constData(), 8));

    // Null against empty, a short inline VARCHAR, a full OCTETS slot without its zero byte.
    FillSecondRow(row);
    FetchRowToCache(*row.Area(), layout, *cache, 1, false);
    ReadCachedRow(*cache, layout, 1, buffer.data());
    Place(expected, 0, Raw<qint32>(1));
    Place(expected, 6, QByteArray("\1\0\0\0\0\0\0\1\1\0\0\0\0", 13));
    Place(expected, 29, QByteArray("AB\0DEFGHIJK", 11));
    Place(expected, 64, QByteArray(2, '\0'));
    Place(expected, 87, Raw<qint32>(0) + QByteArray(1, '\0'));
    Place(expected, 141, Raw<qint32>(0) + QByteArray(1, '\0'));
    Place(expected, 175, Raw<qint32>(4) + "WXYZ");
    Place(expected, 183, QByteArray(4, '\0'));
    EXPECT_EQ(buffer.toHex(' '), expected.toHex(' '));
    EXPECT_TRUE(RecordFieldIsNull(buffer.constData(), 0));
    EXPECT_TRUE(RecordFieldIsNull(buffer.constData(), 8));
    EXPECT_EQ(RecordUpdateStatus(buffer.constData()), cusUnmodified);

    // Kept as a scaled integer when the fields read INT64 as BCD.
    FetchRowToCache(*row.Area(), layout, *cache, 2, true);
    ReadCachedRow(*cache, layout, 2, buffer.data());
    EXPECT_EQ(buffer.mid(48, 8), Raw<qint64>(1234567));

    // A negative index touches nothing.
    const QByteArray before = buffer;
    ReadCachedRow(*cache, layout, -1, buffer.data());
    EXPECT_EQ(buffer, before);
}

TEST(RecordsCache, GuidAndBlobFieldsChangeTheLayout) {
    TRowArea row(Select);
    TRecordLayoutOptions options;
    options.Added = {atfStandard, atfGuidField};
    options.BlobFieldCount = 2;
    options.CalcFieldsSize = 10;
    options.CacheCalcFields = true;
    const TRecordLayout layout = ComputeRecordLayout(*row.Area(), options);
    EXPECT_FALSE(layout.Fields[1].fdIsSeparateString);
    EXPECT_EQ(layout.Fields[1].fdDataOfs, 19);
    EXPECT_EQ(layout.Fields[10].fdStrIndex, 1);
    EXPECT_EQ(layout.StringFieldCount, 2);
    EXPECT_EQ(layout.RecordSize, 183 - 34 + 30);
    EXPECT_EQ(layout.CalcFieldsOffset, 179 + 8);
    EXPECT_EQ(layout.RecordBufferSize, 197);
    EXPECT_EQ(layout.CachedRowSize, 82 + 30 + 8);
    auto cache = CreateRecordsCache(layout, 32, options);
    EXPECT_EQ(cache->RecordSize(), 130);
}

TEST(RecordsCache, BlocksAndRowNumbers) {
    EXPECT_EQ(TRecordsCache(32, 100, 100, 0).BlockSize(), 3200);
    const TRecordsCache small(32, 100, 20, 0); // 640 bytes: below the 1 KiB floor
    EXPECT_EQ(small.BlockSize(), 1100);
    EXPECT_EQ(small.RecInBlock(), 55);
    EXPECT_EQ(TRecordsCache(32, 1024, 20, 0).BlockSize(), 2048);
    EXPECT_EQ(TRecordsCache(32, 7, 20, 0).RecInBlock(), 1029 / 20);
    EXPECT_EQ(MemErrorOf([] { TRecordsCache(0, 10, 2000, 0); }), "Incompatible Sizes");
    EXPECT_EQ(MemErrorOf([] { TRecordsCache(32, 0, 20, 0); }), "Incompatible Sizes");

    TRecordsCache cache(32, 200, 40, 0);
    EXPECT_EQ(std::string(cache.OldBuffer(), 200), std::string(200, '\1'));
    EXPECT_EQ(cache.CreateNewBlock(), 1);
    char* first = cache.PrepareMemory(1);
    for (int k = 2; k <= 32; ++k)
        EXPECT_EQ(cache.PrepareMemory(k), first + (k - 1) * 40);
    EXPECT_EQ(cache.BlockCount(), 1);
    std::memcpy(cache.PrepareMemory(33), "row 33", 6);
    EXPECT_EQ(cache.BlockCount(), 2);
    EXPECT_EQ(cache.RecordCount(), 33);
    EXPECT_EQ(cache.PrepareMemory(5), first + 4 * 40);
    EXPECT_EQ(cache.RecordCount(), 33);

    char dest[40];
    cache.ReadRecordBuffer(33, dest);
    EXPECT_EQ(QByteArray(dest, 6), "row 33");
    cache.ReadRecordBuffer(64, dest); // its block exists
    EXPECT_EQ(MemErrorOf([&] { cache.ReadRecordBuffer(65, dest); }),
              "Can't read Buffer.Incorrect RecordNo");
    EXPECT_EQ(MemErrorOf([&] { cache.ReadRecordBuffer(0, dest); }),
              "Can't read Buffer.Incorrect RecordNo");
    EXPECT_EQ(MemErrorOf([&] { cache.PrepareMemory(100); }),
              "Can't write to Buffer.Incorrect RecordNo");
}

TEST(RecordsCache, SeparateSlotsAreCutAndUntouchedWithoutString) {
    // Cached row: status, 4 flags, 5 blob bytes; buffer slots of 6 and 8 bytes after them.
    TRecordsCache cache(4, 64, 10, 2);
    cache.CreateNewBlock();
    cache.SetStrOffset(1, 5, 6);
    cache.SetStrOffset(2, 15, 8);
    cache.SetStrOffset(3, 40, 8); // no such column: ignored
    std::memcpy(cache.PrepareMemory(1), "SNNNNblob!", 10);
    std::memcpy(cache.PrepareMemory(2), "snnnnBLOB?", 10);
    cache.SetStringValue(0, 0, "ABCDEFGHIJ");

    QByteArray dest(40, '\xEE');
    cache.ReadRecordBuffer(1, dest.data());
    QByteArray expected(40, '\xEE');
    Place(expected, 0, "SNNNN");
    Place(expected, 5, Raw<qint32>(6) + "ABCDEF");
    Place(expected, 15, Raw<qint32>(0) + QByteArray(1, '\0'));
    Place(expected, 27, "blob!");
    EXPECT_EQ(dest.toHex(' '), expected.toHex(' '));
    const char* data;
    qint32 length;
    ASSERT_TRUE(cache.StringData()->GetString(0, 0, data, length));
    EXPECT_EQ(QByteArray(data, length), "ABCDEF");

    // Row 2 has no strings yet: its slots keep what the buffer held.
    dest.fill('\xEE');
    cache.ReadRecordBuffer(2, dest.data());
    EXPECT_EQ(dest.mid(5, 22), QByteArray(22, '\xEE'));
    EXPECT_EQ(dest.mid(27, 5), "BLOB?");

    EXPECT_THROW(cache.SetStringValue(2, 0, ""), EMemManagerError);
    EXPECT_EQ(TRecordsCache(4, 64, 10, 0).StringData(), nullptr);
}

TEST(StringCollection, GrowthEmptyRowsAndRelocation) {
    TStringCollection store(3);
    std::vector<qint32> capacities;
    for (int i = 0; i < 300; ++i) {
        store.AddRow();
        if (capacities.empty() || capacities.back() != store.Capacity())
            capacities.push_back(store.Capacity());
    }
    EXPECT_EQ(capacities, (std::vector<qint32>{128, 192, 288, 432}));
    EXPECT_EQ(store.Count(), 300);

    const char* data = nullptr;
    qint32 length = -1;
    ASSERT_TRUE(store.GetString(2, 299, data, length));
    EXPECT_EQ(length, 0);
    EXPECT_FALSE(store.GetString(3, 0, data, length));
    EXPECT_FALSE(store.GetString(0, 300, data, length));
    EXPECT_FALSE(store.GetString(-1, 0, data, length));

    auto text = [&](qint32 column, qint32 row) {
        EXPECT_TRUE(store.GetString(column, row, data, length));
        return QByteArray(data, length);
    };
    // A fetch writes each row's columns in order, each row at the arena's end.
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) {
            const QByteArray value = QByteArray::number(r) + "-" + QByteArray(c + 3, 'x');
            store.SetString(c, r, value.constData(), qint32(value.size()));
        }
    const qint64 allocated = store.AllocatedBytes();
    const char *row0 = nullptr, *row1 = nullptr;
    store.GetString(0, 0, row0, length);
    store.GetString(0, 1, row1, length);
    store.SetString(1, 1, "tail, longer now", 16); // row 1 ends the arena: in place
    store.SetString(1, 0, "moved to the end", 16); // row 0 does not: relocated
    store.GetString(0, 1, data, length);
    EXPECT_EQ(data, row1);
    store.GetString(0, 0, data, length);
    EXPECT_NE(data, row0);
    EXPECT_EQ(text(0, 0), "0-xxx");
    EXPECT_EQ(text(1, 0), "moved to the end");
    EXPECT_EQ(text(2, 0), "0-xxxxx");
    EXPECT_EQ(text(0, 1), "1-xxx");
    EXPECT_EQ(text(1, 1), "tail, longer now");
    EXPECT_EQ(text(2, 1), "1-xxxxx");
    store.SetLength(0, 0, 1);
    store.SetLength(2, 0, 99);
    EXPECT_EQ(text(0, 0), "0");
    EXPECT_EQ(text(1, 0), "moved to the end");
    EXPECT_EQ(text(2, 0), "0-xxxxx");
    store.SetString(2, 1, "", 0);
    EXPECT_EQ(text(2, 1), "");
    EXPECT_EQ(text(1, 1), "tail, longer now");
    EXPECT_EQ(store.AllocatedBytes(), allocated);

    // A row larger than a chunk gets one of its own.
    const QByteArray big(40000, 'b');
    store.SetString(0, 5, big.constData(), 40000);
    store.SetString(1, 5, big.constData(), 40000);
    store.SetString(0, 6, "after", 5); // past the first 64 KiB of that chunk
    EXPECT_EQ(text(0, 5), big);
    EXPECT_EQ(text(1, 5), big);
    EXPECT_EQ(text(0, 6), "after");
    EXPECT_EQ(text(1, 0), "moved to the end");
    EXPECT_THROW(store.SetString(0, 0, "", 70000), EMemManagerError);
    EXPECT_THROW(store.SetString(0, 300, "", 0), EMemManagerError);
}

TEST(RecordsCache, FetchingAndReadingRowsCostNoHeapObjectPerRow) {
    TRowArea row(Select);
    const TRecordLayoutOptions options;
    const TRecordLayout layout = ComputeRecordLayout(*row.Area(), options);
    auto cache = CreateRecordsCache(layout, 32, options);
    FillFirstRow(row);
    QByteArray buffer(layout.RecordBufferSize, '\0');

    const long before = gAllocations;
    for (int i = 0; i < 2000; ++i)
        FetchRowToCache(*row.Area(), layout, *cache, i, false);
    const long fetching = gAllocations - before;
    // One block per 32 rows, the row table's growth and a few arena chunks.
    EXPECT_LE(fetching, 2000 / 32 + 30);
    for (int i = 0; i < 2000; ++i)
        ReadCachedRow(*cache, layout, i, buffer.data());
    EXPECT_EQ(gAllocations - before, fetching);
    EXPECT_EQ(buffer.mid(87, 9), Raw<qint32>(5) + QByteArray("ABC  ", 5));
    EXPECT_EQ(cache->StringData()->Count(), 2000);
}
