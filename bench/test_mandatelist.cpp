// The fetch benchmark compares like with like only if its two readers read the same thing: the
// hand-written loop and idsBanque must give the same rows, value for value, and the loop's byte
// count must be what the server holds. Checked on the tests' private server and its demo data.
#include "MandateList.h"

#include "ServerTestMain.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

const char* const Database = "127.0.0.1:TALVIK_GESTION";

class MandateListTest : public ::testing::Test {
protected:
    TRawSession raw{GetClientLibrary(QStringLiteral("fbClient.dll"))};
    void SetUp() override { raw.Attach(Database); }

    qint64 Number(const QString& sql) { return raw.SelectTexts(sql).value(0).toLongLong(); }

    // The bank holding the most mandates of the demo data, and its code.
    std::pair<qint64, QString> BusiestBank() {
        const QString row =
            raw.SelectTexts(QStringLiteral("SELECT FIRST 1 CAST(BANQ_ID AS VARCHAR(20)) "
                                           "|| '|' || BANQ_BANQUE FROM BANQUE JOIN "
                                           "CLIENTS_MANDAT ON CMAN_IDBANQ = BANQ_ID WHERE "
                                           "CHAR_LENGTH(BANQ_BANQUE) = 5 GROUP BY BANQ_ID, "
                                           "BANQ_BANQUE ORDER BY COUNT(*) DESC"))
                .value(0);
        return {row.section(u'|', 0, 0).toLongLong(), row.section(u'|', 1)};
    }
};

QString RawText(const TRawMandates& rows, const TRawMandate& r, TMandateColumn c) {
    if (r.IsNull(c)) return QString();
    switch (c) {
    case mcId:
        return QString::number(r.Id);
    case mcIdCli:
        return QString::number(r.IdCli);
    case mcActif:
        return QString::number(r.Actif);
    case mcIdBanq:
        return QString::number(r.IdBanq);
    default:
        break;
    }
    for (int t = 0; t < MandateTextCount; ++t)
        if (MandateTextColumns[size_t(t)] == c) return QString::fromLatin1(rows.Text(r, t));
    return QStringLiteral("?");
}

TEST_F(MandateListTest, BothReadersGiveTheSameRowsAndTheServersBytes) {
    const auto [bankId, code] = BusiestBank();
    ASSERT_GT(bankId, 0);
    const QString sql = MandateSelectText(bankId, code);

    TRawMandates rows;
    isc_tr_handle tr = raw.Start(ReadingTpb());
    {
        TRawMandateQuery query(raw, tr);
        query.Open(sql);
        while (query.FetchInto(rows)) {
        }
        query.Close();
    }
    raw.Commit(tr);

    const qint64 expected =
        Number(QStringLiteral("SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM (%1) AS T").arg(sql));
    ASSERT_GT(expected, 100);
    ASSERT_EQ(qint64(rows.Count()), expected);
    // Texts at their length and numbers at their size, added up by the server itself.
    const qint64 bytes = Number(
        QStringLiteral("SELECT CAST(SUM(8 + 8 + 2 + IIF(CMAN_IDBANQ IS NULL, 0, 8) + "
                       "COALESCE(OCTET_LENGTH(NP), 0) + COALESCE(OCTET_LENGTH(CMAN_IBAN), 0) + "
                       "COALESCE(OCTET_LENGTH(CMAN_BIC), 0) + "
                       "COALESCE(OCTET_LENGTH(CMAN_NOMBANQUE), 0) + "
                       "COALESCE(OCTET_LENGTH(CMAN_MANDAT), 0) + "
                       "COALESCE(OCTET_LENGTH(BANQ_SOCIETE), 0)) AS VARCHAR(20)) FROM (%1) AS T")
            .arg(sql));
    EXPECT_EQ(rows.DataBytes(), bytes);

    TLayerMandateList layer(QString::fromLatin1(Database));
    layer.Reset(sql);
    layer.idsBanque->Prepare();
    layer.idsBanque->Open();
    EXPECT_EQ(layer.idsBanque->RecordCount(), 20); // the grid's rows, no more
    std::size_t i = 0;
    int mismatches = 0;
    for (; !layer.idsBanque->Eof(); layer.idsBanque->Next(), ++i) {
        ASSERT_LT(i, rows.Count());
        for (int c = 0; c < MandateColumnCount; ++c) {
            const QString shown = layer.idsBanque->Fields(c)->AsString();
            const QString direct = RawText(rows, rows.Row(i), TMandateColumn(c));
            if (shown != direct && ++mismatches <= 5)
                ADD_FAILURE() << "row " << i << " column " << c << ": layer '"
                              << shown.toStdString() << "', raw '" << direct.toStdString() << "'";
        }
    }
    EXPECT_EQ(i, rows.Count());
    EXPECT_EQ(mismatches, 0);
    // The comparison covered texts beyond ASCII, which the demo names hold.
    bool accent = false;
    for (std::size_t k = 0; k < rows.Count() && !accent; ++k)
        for (QChar ch : RawText(rows, rows.Row(k), mcNp))
            accent = accent || ch.unicode() > 0x7F;
    EXPECT_TRUE(accent);
}

TEST_F(MandateListTest, QuotedCodeAndTextsAcrossArenaChunks) {
    // A code holding a quote makes a valid statement that lists the bank's own mandates only.
    const auto [bankId, code] = BusiestBank();
    const qint64 byId = Number(QStringLiteral("SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM "
                                              "CLIENTS_MANDAT WHERE CMAN_IDBANQ = %1 AND "
                                              "CMAN_IBAN STARTING WITH 'FR'")
                                   .arg(bankId));
    const qint64 listed =
        Number(QStringLiteral("SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM (%1) AS T")
                   .arg(MandateSelectText(bankId, QStringLiteral("3'004"))));
    EXPECT_EQ(listed, byId);

    // Rows never straddle two chunks of the arena: each text reads back whole.
    TRawMandates rows;
    const int perRow = 6 * 200;
    const int count = TRawMandates::ChunkSize / perRow + 10;
    for (int n = 0; n < count; ++n) {
        TRawMandate r;
        r.Id = n;
        char* at = rows.ReserveTexts(perRow, r.Texts);
        for (int t = 0; t < MandateTextCount; ++t) {
            r.Lengths[size_t(t)] = 200;
            std::memset(at + t * 200, 'a' + (n + t) % 26, 200);
        }
        rows.Add(r, perRow + 8);
    }
    ASSERT_EQ(rows.Count(), std::size_t(count));
    for (int n : {0, count - 11, count - 10, count - 1})
        for (int t = 0; t < MandateTextCount; ++t)
            EXPECT_EQ(rows.Text(rows.Row(std::size_t(n)), t),
                      QByteArray(200, char('a' + (n + t) % 26)))
                << n << " " << t;
    EXPECT_EQ(rows.DataBytes(), qint64(count) * (perRow + 8));
    EXPECT_GE(rows.AllocatedBytes(), 2 * qint64(TRawMandates::ChunkSize));
}

} // namespace

int main(int argc, char** argv) {
    return RunServerTests(argc, argv);
}
