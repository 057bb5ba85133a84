// "Vérifier" and "Changer" on the main window against the tests' private server: what is listed,
// and what a run leaves in the database, read back from a second connection.
#include "BoxRecorder.h"
#include "Controls.h"
#include "DBGrid.h"
#include "Programme.h"
#include "ServerRows.h"
#include "TestSupport.h"
#include "Unit1.h"
#include "pFIBDataSet.h"
#include "pFIBDatabase.h"
#include "pFIBQuery.h"

#include <QCheckBox>
#include <QDate>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace {

// The old bank, and a new one whose identifier cut to 32 bits is the old one's.
const QString BanqueAncienne = QStringLiteral("1000000001");
const QString BanqueNouvelle = QStringLiteral("5294967297");
const QString Client = QStringLiteral("7000000101");
const QString M1 = QStringLiteral("7000001001"); // by identifier, branch 67890
const QString M2 = QStringLiteral("7000001002"); // by bank code only, branch 11111
const QString M3 = QStringLiteral("7000001003"); // inactive, branch 22222, a letter in its account
const QString Reference35 = QStringLiteral("RUM-ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");

const char* const Colonnes =
    "SELECT CMAN_ID, CMAN_IDCLI, CMAN_ACTIF, CAST(CMAN_SIGNATURE AS VARCHAR(10)), CMAN_IDBANQ, "
    "CMAN_IBAN, CMAN_BIC, CMAN_NOMBANQUE, CMAN_MANDAT, CMAN_PAYEUR, CMAN_ADRESSE1, "
    "CMAN_ADRESSE2, CMAN_CPVILLE, CMAN_CREATION_IDCTR FROM CLIENTS_MANDAT ";

// A second connection of the program's kind, for setting data up and reading results back.
class Base {
public:
    Base() {
        FDb.SetSynchronizeTime(false);
        ConfigureProgramConnection(FDb);
        FDb.Open(true);
    }
    ~Base() { Liberer(); }
    void Liberer() {
        if (FVerrou.Active()) FVerrou.Rollback();
    }

    void Executer(const QString& sql) {
        TpFIBTransaction tr;
        tr.SetDefaultDatabase(&FDb);
        tr.StartTransaction();
        Lancer(tr, sql);
        tr.Commit();
    }

    // Each row's columns joined by "|", a null as "-".
    QStringList Lignes(const QString& sql) { return RowsOf(FDb, sql); }

    QStringList Mandats(const QString& condition = QString()) {
        return Lignes(QLatin1String(Colonnes) + QStringLiteral("WHERE CMAN_IDCLI = ") + Client +
                      condition + QStringLiteral(" ORDER BY CMAN_ID"));
    }
    QString Mandat(const QString& id) {
        return Lignes(QLatin1String(Colonnes) + QStringLiteral("WHERE CMAN_ID = ") + id).value(0);
    }
    qint64 Generateur() {
        return Lignes(QStringLiteral("SELECT GEN_ID(IDGENERIQUE, 0) FROM RDB$DATABASE"))
            .value(0)
            .toLongLong();
    }

    // Holds a write lock on a mandate until the test ends.
    void Verrouiller(const QString& id) {
        FVerrou.SetDefaultDatabase(&FDb);
        FVerrou.StartTransaction();
        Lancer(FVerrou,
               QStringLiteral("UPDATE CLIENTS_MANDAT SET CMAN_BIC = CMAN_BIC WHERE CMAN_ID = ") +
                   id);
    }

private:
    void Lancer(TpFIBTransaction& tr, const QString& sql) {
        TpFIBQuery q;
        q.SetDatabase(&FDb);
        q.SetTransaction(&tr);
        q.SQL().SetText(sql);
        q.ExecQuery();
        q.Close();
    }

    TpFIBDatabase FDb;
    TpFIBTransaction FVerrou;
};

QString Insertion(const QString& id, int actif, const QString& banque, const QString& iban,
                  const QString& reference) {
    return QStringLiteral("INSERT INTO CLIENTS_MANDAT VALUES (") + id + u',' + Client + u',' +
           QString::number(actif) + QStringLiteral(", DATE '2015-03-02', ") + banque + u',' +
           QuotedSQL(iban) + QStringLiteral(", 'ANCIFRPPXXX', 'Ancienne (saisie)', ") +
           QuotedSQL(reference) +
           QStringLiteral(", 'Jeanne RAVTEST', '1 rue de l''Eglise', NULL, '29000 QUIMPER', 42)");
}

class Changement : public ::testing::Test {
protected:
    void SetUp() override {
        Nettoyer();
        base.Executer(QStringLiteral("INSERT INTO BANQUE (BANQ_ID, BANQ_SOCIETE, BANQ_BIC, "
                                     "BANQ_BANQUE) VALUES (") +
                      BanqueAncienne +
                      QStringLiteral(", 'Banque Ancienne', 'ANCIFRPPXXX', '99999')"));
        base.Executer(QStringLiteral("INSERT INTO BANQUE (BANQ_ID, BANQ_SOCIETE, BANQ_BIC, "
                                     "BANQ_BANQUE) VALUES (") +
                      BanqueNouvelle +
                      QStringLiteral(", 'Banque de l''Ouest', 'OUESFRPPXXX', '12345')"));
        base.Executer(QStringLiteral("INSERT INTO CLIENTS VALUES (") + Client +
                      QStringLiteral(", 'RAVTEST', 'Jeanne')"));
        Ajouter(M1, -1, BanqueAncienne, "FR7699999678901234567890123", "RUM-0001");
        Ajouter(M2, -1, QStringLiteral("NULL"), "FR7699999111111000000001128", Reference35);
        Ajouter(M3, 0, BanqueAncienne, "FR629999922222000000010A069", "RUM-0003");
        // Never listed: a foreign IBAN at the old bank, a French one at another bank.
        Ajouter(QStringLiteral("7000001004"), -1, BanqueAncienne, "DE89370400440532013000", "X");
        Ajouter(QStringLiteral("7000001005"), -1, QStringLiteral("NULL"),
                "FR7688888111111000000001128", "Y");
        avant = base.Mandats();
        frm = std::make_unique<TfrmPrincipale>();
        ASSERT_TRUE(boxes.errors.empty());
        Choisir();
    }
    void TearDown() override {
        frm.reset();
        base.Liberer();
        Nettoyer();
    }

    void Ajouter(const QString& id, int actif, const QString& banque, const char* iban,
                 const QString& reference) {
        base.Executer(Insertion(id, actif, banque, QString::fromLatin1(iban), reference));
    }
    void Nettoyer() {
        base.Executer(QStringLiteral("DELETE FROM CLIENTS_MANDAT WHERE CMAN_IDCLI = ") + Client);
        base.Executer(QStringLiteral("DELETE FROM CLIENTS WHERE CLI_ID = ") + Client);
        base.Executer(QStringLiteral("DELETE FROM BANQUE WHERE BANQ_ID IN (") + BanqueAncienne +
                      u',' + BanqueNouvelle + u')');
    }

    // The window's bank fields from the bank table, as the chooser fills them.
    void Choisir() {
        auto banque = [this](const QString& id) {
            return base
                .Lignes(QStringLiteral("SELECT BANQ_ID, BANQ_BANQUE, BANQ_BIC, BANQ_SOCIETE FROM "
                                       "BANQUE WHERE BANQ_ID = ") +
                        id)
                .value(0)
                .split(u'|');
        };
        const QStringList a = banque(BanqueAncienne);
        const QStringList n = banque(BanqueNouvelle);
        frm->Ancien_ID = a[0].toLongLong();
        frm->Ancien_Code = a[1];
        frm->Ancien_BIC = a[2];
        frm->Ancien_Nom = a[3];
        frm->Nouveau_ID = n[0].toLongLong();
        frm->Nouveau_Code = n[1];
        frm->Nouveau_BIC = n[2];
        frm->Nouveau_Nom = n[3];
    }

    // The listed mandates, sorted, or in list order.
    QStringList Listes(bool trier = true) {
        QStringList ids;
        if (!frm->idsBanque->Active()) return ids;
        for (frm->idsBanque->First(); !frm->idsBanque->Eof(); frm->idsBanque->Next())
            ids << frm->idsBanqueCMAN_ID->AsString();
        if (trier) ids.sort();
        return ids;
    }
    QStringList Verifier(const QString& ancien, const QString& nouveau, bool actifs) {
        frm->edtAncienGuichet->setText(ancien);
        frm->edtNouveauGuichet->setText(nouveau);
        frm->cbxActif->setChecked(actifs);
        frm->btnVerifier->click();
        return Listes();
    }
    void Changer(int mode) {
        frm->rgoMandat->SetItemIndex(mode);
        frm->btnChanger->click();
    }
    // A mandate's row with its IBAN, BIC and bank replaced.
    QString Deplace(const QString& ligne, const QString& iban) {
        QStringList c = ligne.split(u'|');
        c[4] = BanqueNouvelle;
        c[5] = iban;
        c[6] = QStringLiteral("OUESFRPPXXX");
        return c.join(u'|');
    }
    QString Avant(const QString& id) { return Ligne(avant, id); }
    static QString Ligne(const QStringList& rows, const QString& id) {
        for (const QString& row : rows)
            if (row.startsWith(id)) return row;
        return {};
    }
    QStringList Textes(const std::vector<RecordedBox>& list) {
        QStringList texts;
        for (const RecordedBox& box : list)
            texts << box.text;
        return texts;
    }

    BoxRecorder boxes;
    Base base;
    QStringList avant;
    std::unique_ptr<TfrmPrincipale> frm;
};

const QString Confirmer = S("Etes-vous sûr(e) de vouloir continuer cette opération ?");
const QString CodeVide = S("Au moins un des codes agence est vide. voulez-vous continuer ?");

} // namespace

TEST_F(Changement, ControleSaisieAsksWhatItMust) {
    // No new bank, then the same bank twice: refused, and an open list stays as it was.
    const qint64 nouveau = frm->Nouveau_ID;
    frm->Nouveau_ID = 0;
    EXPECT_TRUE(Verifier(QStringLiteral("67890"), QStringLiteral("55555"), true).isEmpty());
    frm->Nouveau_ID = nouveau;
    EXPECT_EQ(Verifier(QStringLiteral("67890"), QStringLiteral("55555"), true), QStringList{M1});
    frm->Nouveau_ID = frm->Ancien_ID;
    EXPECT_EQ(Verifier(QString(), QString(), false), QStringList{M1});
    EXPECT_EQ(Textes(boxes.messages),
              QStringList(2, S("Vous devez sélectionner deux banques différentes")));
    EXPECT_EQ(boxes.messages[0].kind, TMessageKind::Information);
    frm->Nouveau_ID = nouveau;
    boxes.messages.clear();

    // One branch box empty, or blank only: the question; "&Non" lists nothing new.
    boxes.answer = IDNO;
    EXPECT_EQ(Verifier(QStringLiteral("   "), QStringLiteral("55555"), false), QStringList{M1});
    EXPECT_EQ(Verifier(QStringLiteral("67890"), QString(), false), QStringList{M1});
    EXPECT_EQ(Textes(boxes.messages), QStringList(2, CodeVide));
    EXPECT_EQ(boxes.messages[0].kind, TMessageKind::Confirmation);
    boxes.answer = IDYES;
    EXPECT_EQ(Verifier(QStringLiteral("   "), QStringLiteral("55555"), false),
              QStringList({M1, M2, M3}));
    EXPECT_EQ(boxes.messages.size(), 3u);
    EXPECT_TRUE(boxes.errors.empty());
}

TEST_F(Changement, BranchCodeAndActiveMandatesNarrowTheList) {
    const QString nouveau = QStringLiteral("55555");
    EXPECT_EQ(Verifier(QStringLiteral("67890"), nouveau, true), QStringList{M1});
    EXPECT_EQ(frm->idsBanque->SelectSQL().Text(),
              S("SELECT CMAN_ID, CMAN_IDCLI, CLI_NOM || ' ' || CLI_PRENOM AS NP, CMAN_ACTIF, "
                "CMAN_IDBANQ, CMAN_IBAN, CMAN_BIC, CMAN_NOMBANQUE, CMAN_MANDAT, BANQ_SOCIETE FROM "
                "CLIENTS_MANDAT INNER JOIN CLIENTS ON (CLI_ID = CMAN_IDCLI) LEFT JOIN BANQUE ON "
                "(BANQ_ID = CMAN_IDBANQ) WHERE (CMAN_IBAN STARTING WITH 'FR') AND ((CMAN_IDBANQ = "
                "1000000001) OR (SUBSTRING(CMAN_IBAN FROM 5 FOR 5) = '99999')) \r\n"
                "AND (SUBSTRING(CMAN_IBAN FROM 10 FOR 5) = '67890')\r\n"
                "AND (CMAN_ACTIF = -1) \r\n"));
    // Foreign mandates never; inactive ones only with the box cleared.
    EXPECT_EQ(Verifier(QStringLiteral("22222"), nouveau, true), QStringList{});
    EXPECT_EQ(Verifier(QStringLiteral("22222"), nouveau, false), QStringList{M3});
    // Fewer than five characters once trimmed add no branch condition, and ask nothing.
    for (const char* court : {"1", "12", "123", "1234", " 1234"}) {
        EXPECT_EQ(Verifier(QString::fromLatin1(court), nouveau, false), QStringList({M1, M2, M3}))
            << court;
        EXPECT_EQ(frm->idsBanque->SelectSQL().Count(), 1) << court;
    }
    EXPECT_TRUE(boxes.messages.empty());
    EXPECT_TRUE(frm->dgrDetail->DataLink().Active());
}

TEST_F(Changement, QuotesInCodesMakeValidStatements) {
    frm->Ancien_Code = QStringLiteral("99'99");
    EXPECT_EQ(Verifier(QStringLiteral("67890"), QStringLiteral("55555"), true), QStringList{M1});
    EXPECT_EQ(Verifier(QStringLiteral("6'890"), QStringLiteral("55555"), true), QStringList{});
    // A bank without code: only mandates linked by identifier.
    frm->Ancien_Code.clear();
    EXPECT_EQ(Verifier(QStringLiteral("11111"), QStringLiteral("55555"), false), QStringList{});
    EXPECT_TRUE(boxes.errors.empty());
    EXPECT_TRUE(frm->idsBanque->Active());
}

TEST_F(Changement, AFailingListingLeavesTheListClosed) {
    ASSERT_EQ(Verifier(QStringLiteral("67890"), QStringLiteral("55555"), true), QStringList{M1});
    frm->dbSource->SetConnected(false);
    Verifier(QStringLiteral("67890"), QStringLiteral("55555"), true);
    ASSERT_EQ(boxes.errors.size(), 1u);
    EXPECT_FALSE(boxes.errors[0].text.isEmpty());
    EXPECT_FALSE(frm->idsBanque->Active());
    EXPECT_FALSE(frm->dgrDetail->DataLink().Active());
}

TEST_F(Changement, AChangeCommittedAfterTheWindowOpenedIsListed) {
    ASSERT_EQ(Verifier(QStringLiteral("67890"), QStringLiteral("55555"), true), QStringList{M1});
    Ajouter(QStringLiteral("7000001008"), -1, BanqueAncienne, "FR7699999678901234567890123", "Z");
    EXPECT_EQ(Verifier(QStringLiteral("67890"), QStringLiteral("55555"), true),
              QStringList({M1, QStringLiteral("7000001008")}));
    EXPECT_TRUE(frm->transSource->Active());
}

TEST_F(Changement, NothingHappensWithoutAListOrOnNon) {
    Changer(0);
    EXPECT_TRUE(boxes.messages.empty());
    Verifier(QStringLiteral("67890"), QStringLiteral("55555"), true);
    boxes.answer = IDNO;
    Changer(0);
    EXPECT_EQ(Textes(boxes.messages), QStringList{Confirmer});
    EXPECT_EQ(base.Mandats(), avant);
    EXPECT_EQ(Listes(), QStringList{M1});
}

TEST_F(Changement, ModifierChangesExactlyIbanBicAndBank) {
    Verifier(QString(), QString(), false);
    std::vector<std::pair<int, int>> progression;
    frm->OnProgression = [&](int fait, int liste) {
        progression.emplace_back(fait, liste);
        ASSERT_NE(frm->dlgProgression, nullptr);
        EXPECT_EQ(frm->dlgProgression->maximum(), 3);
        // Brought up to date a few times a second, and always at the last mandate.
        EXPECT_LE(frm->dlgProgression->value(), fait);
        if (fait == 3) {
            EXPECT_EQ(frm->dlgProgression->labelText(), S("Mandats traités : 3 / 3"));
        }
    };
    Changer(0);
    // Keys and check digits below 10 keep their leading zero; every branch is kept; the bank
    // identifier past 2^31 - 1 is written whole.
    QStringList attendu = avant;
    attendu[0] = Deplace(avant[0], QStringLiteral("FR7612345678901234567890104"));
    attendu[1] = Deplace(avant[1], QStringLiteral("FR7612345111111000000001109"));
    attendu[2] = Deplace(avant[2], QStringLiteral("FR041234522222000000010A050"));
    EXPECT_EQ(base.Mandats(), attendu);
    EXPECT_EQ(progression, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
    EXPECT_EQ(frm->dlgProgression, nullptr);
    // Silent end, and the list read again shows that nothing is left at the old bank.
    EXPECT_EQ(Textes(boxes.messages), QStringList({CodeVide, Confirmer}));
    EXPECT_TRUE(boxes.errors.empty());
    EXPECT_TRUE(frm->idsBanque->Active());
    EXPECT_EQ(Listes(), QStringList{});
    EXPECT_FALSE(frm->transLocale->Active());
}

TEST_F(Changement, ATypedBranchCodeReplacesEveryMandatesOwn) {
    Verifier(QStringLiteral("     "), QStringLiteral("55555"), false);
    Changer(0);
    EXPECT_EQ(base.Mandat(M1).section(u'|', 5, 5), QStringLiteral("FR7612345555551234567890150"));
    EXPECT_EQ(base.Mandat(M2).section(u'|', 5, 5), QStringLiteral("FR7612345555551000000001130"));
    EXPECT_EQ(base.Mandat(M3).section(u'|', 5, 5), QStringLiteral("FR241234555555000000010A090"));
}

TEST_F(Changement, RecreerDeactivatesAndInsertsOneCopy) {
    Verifier(QString(), QString(), true);
    const qint64 generateur = base.Generateur();
    Changer(1);
    const QString ancien1 = Avant(M1).replace(QStringLiteral("|-1|"), QStringLiteral("|0|"));
    const QString ancien2 = Avant(M2).replace(QStringLiteral("|-1|"), QStringLiteral("|0|"));
    ASSERT_EQ(base.Generateur(), generateur + 2);
    const QString aujourdhui = QDate::currentDate().toString(Qt::ISODate);
    auto copie = [&](qint64 id, const char* iban, const QString& reference) {
        return QString::number(id) + u'|' + Client + QStringLiteral("|-1|") + aujourdhui + u'|' +
               BanqueNouvelle + u'|' + QString::fromLatin1(iban) +
               S("|OUESFRPPXXX|Banque de l'Ouest|") + reference +
               S("|Jeanne RAVTEST|1 rue de l'Eglise|-|29000 QUIMPER|42");
    };
    // The list is walked in the server's order: the new identifiers follow it.
    const QStringList nouveaux =
        base.Mandats(QStringLiteral(" AND CMAN_ID > ") + QString::number(generateur) +
                     QStringLiteral(" AND CMAN_ID <= ") + QString::number(generateur + 2));
    ASSERT_EQ(nouveaux.size(), 2);
    const bool m1DAbord = nouveaux[0].contains(QStringLiteral("RUM-0001N"));
    QStringList attendu = {
        copie(generateur + (m1DAbord ? 1 : 2), "FR7612345678901234567890104",
              QStringLiteral("RUM-0001N")),
        copie(generateur + (m1DAbord ? 2 : 1), "FR7612345111111000000001109", Reference35)};
    if (!m1DAbord) attendu.swapItemsAt(0, 1);
    attendu << ancien1 << ancien2 << Avant(M3) << Avant(QStringLiteral("7000001004"))
            << Avant(QStringLiteral("7000001005"));
    EXPECT_EQ(base.Mandats(), attendu);
    // Only what was not moved is listed: the old rows are inactive now.
    EXPECT_EQ(Listes(), QStringList{});
    EXPECT_TRUE(boxes.errors.empty());
}

TEST_F(Changement, RecreerPassesOverEndedMandatesAndNeverCopiesTwice) {
    // Inactive mandates are listed once "Que les mandats actifs" is cleared; M3 is one.
    ASSERT_EQ(Verifier(QString(), QString(), false), QStringList({M1, M2, M3}));
    const qint64 generateur = base.Generateur();
    Changer(1);
    EXPECT_EQ(base.Generateur(), generateur + 2);
    EXPECT_EQ(base.Mandat(M3), Avant(M3));
    EXPECT_EQ(boxes.messages.back().text,
              S("1 mandat sur 3 n'a pas pu être changé : il reste dans la liste."));

    // The old rows are inactive now and listed again: a second run copies none of them.
    ASSERT_EQ(Verifier(QString(), QString(), false), QStringList({M1, M2, M3}));
    const QStringList apresPremier = base.Mandats();
    Changer(1);
    EXPECT_EQ(base.Generateur(), generateur + 2);
    EXPECT_EQ(base.Mandats(), apresPremier);
    EXPECT_EQ(boxes.messages.back().text,
              S("3 mandats sur 3 n'ont pas pu être changés : ils restent dans la liste."));
    EXPECT_EQ(
        base.Lignes(QStringLiteral("SELECT COUNT(*) FROM CLIENTS_MANDAT WHERE CMAN_IDCLI = ") +
                    Client + QStringLiteral(" AND CMAN_ACTIF = -1 AND CMAN_IDBANQ = ") +
                    BanqueNouvelle),
        QStringList{QStringLiteral("2")});

    // "Modifier" still moves an inactive mandate: it creates nothing.
    Verifier(QString(), QString(), false);
    Changer(0);
    EXPECT_EQ(base.Mandat(M3).section(u'|', 4, 4), BanqueNouvelle);
    EXPECT_EQ(base.Mandat(M3).section(u'|', 2, 2), QStringLiteral("0"));
}

TEST_F(Changement, ALockedMandateIsPassedOverAndReported) {
    Verifier(QString(), QString(), true);
    base.Verrouiller(M2);
    Changer(0);
    EXPECT_EQ(base.Mandat(M1), Deplace(Avant(M1), QStringLiteral("FR7612345678901234567890104")));
    EXPECT_EQ(base.Mandat(M2), Avant(M2));
    EXPECT_EQ(Textes(boxes.messages),
              QStringList({CodeVide, Confirmer,
                           S("1 mandat sur 2 n'a pas pu être changé : il reste dans la liste.")}));
    EXPECT_EQ(boxes.messages.back().kind, TMessageKind::Information);
    EXPECT_EQ(Listes(), QStringList{M2});
    EXPECT_FALSE(frm->transLocale->Active());
}

TEST_F(Changement, AnInvalidKeyIsNeverWritten) {
    // An IBAN too short for an account number.
    Ajouter(QStringLiteral("7000001006"), -1, BanqueAncienne, "FR7699999678901234", "C");
    const QStringList avecCourt = base.Mandats();
    Verifier(QString(), QString(), true);
    Changer(0);
    EXPECT_EQ(base.Mandat(QStringLiteral("7000001006")),
              Ligne(avecCourt, QStringLiteral("7000001006")));
    EXPECT_EQ(boxes.messages.back().text,
              S("1 mandat sur 3 n'a pas pu être changé : il reste dans la liste."));
    EXPECT_EQ(Listes(), QStringList{QStringLiteral("7000001006")});

    // A new bank code of four characters: nothing written at all.
    base.Executer(QStringLiteral("DELETE FROM CLIENTS_MANDAT WHERE CMAN_ID = 7000001006"));
    frm->Nouveau_Code = QStringLiteral("1234");
    frm->Ancien_ID = frm->Nouveau_ID;
    frm->Ancien_Code = QStringLiteral("12345");
    frm->Nouveau_ID = BanqueAncienne.toLongLong();
    const QStringList apres = base.Mandats();
    Verifier(QString(), QString(), true);
    ASSERT_EQ(Listes().size(), 2);
    Changer(0);
    EXPECT_EQ(base.Mandats(), apres);
    EXPECT_EQ(boxes.messages.back().text,
              S("2 mandats sur 2 n'ont pas pu être changés : ils restent dans la liste."));
}

TEST_F(Changement, ALowerCaseLetterStopsTheRunWithTheErrorBox) {
    const QString fautif = QStringLiteral("7000001007");
    Ajouter(fautif, -1, BanqueAncienne, "FR7699999333331234567890a12", "L");
    Verifier(QString(), QString(), true);
    const QStringList ordre = Listes(false);
    const int position = int(ordre.indexOf(fautif));
    ASSERT_GT(position, 0) << "the faulty mandate must not come first";
    Changer(0);
    ASSERT_EQ(boxes.errors.size(), 1u);
    EXPECT_TRUE(boxes.errors[0].text.endsWith(S("n'est pas une valeur entière correcte.")))
        << boxes.errors[0].text.toStdString();
    for (int i = 0; i < ordre.size(); ++i) {
        const bool change = base.Mandat(ordre[i]).section(u'|', 4, 4) == BanqueNouvelle;
        EXPECT_EQ(change, i < position) << ordre[i].toStdString();
    }
    // The run ended there: no transaction left open, no re-read, the window usable.
    EXPECT_FALSE(frm->transLocale->Active());
    EXPECT_EQ(frm->dlgProgression, nullptr);
    QStringList liste = ordre;
    liste.sort();
    EXPECT_EQ(Listes(), liste);
}

TEST_F(Changement, ArreterStopsAfterTheMandateInHand) {
    Verifier(QString(), QString(), true);
    const QStringList ordre = Listes(false);
    ASSERT_EQ(ordre.size(), 2);
    std::vector<int> vus;
    frm->OnProgression = [&](int fait, int) {
        vus.push_back(fait);
        auto* bouton = frm->dlgProgression->findChild<QPushButton*>();
        ASSERT_NE(bouton, nullptr);
        EXPECT_EQ(bouton->text(), S("Arrêter"));
        bouton->click();
    };
    Changer(1);
    EXPECT_EQ(vus, std::vector<int>{1});
    EXPECT_EQ(base.Mandat(ordre[0]).section(u'|', 2, 2), QStringLiteral("0"));
    EXPECT_EQ(base.Mandat(ordre[1]), Avant(ordre[1]));
    EXPECT_EQ(base.Mandats().size(), avant.size() + 1);
    // The run ends as usual: silently, the list read again with what is left.
    EXPECT_EQ(Textes(boxes.messages), QStringList({CodeVide, Confirmer}));
    EXPECT_EQ(Listes(), QStringList{ordre[1]});
}
