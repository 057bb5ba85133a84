// "Vérifier" and "Changer" on the main window against the tests' private server: what is listed,
// and what a run leaves in the database, read back from a second connection.
#include "BoxRecorder.h"
#include "Controls.h"
#include "DBGrid.h"
#include "Journal.h"
#include "Programme.h"
#include "ServerRows.h"
#include "TestSupport.h"
#include "Unit1.h"
#include "pFIBDataSet.h"
#include "pFIBDatabase.h"
#include "pFIBQuery.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDate>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
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

    void Executer(const QString& sql) { ExecuteIn(FDb, sql); }

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
        QDir(DossierJournaux()).removeRecursively();
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
    // « Changer » with the journal allowed to grow, once the first mandate is committed, only to
    // the size `borne` makes of its bytes then: the write past it is cut short, then refused.
    // Answers the journal's path.
    QString ChangerJournalBorne(int mode, const std::function<qint64(const QByteArray&)>& borne) {
        rlimit limite{};
        EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &limite), 0);
        const rlimit sans = limite;
        const auto signalAvant = std::signal(SIGXFSZ, SIG_IGN);
        QString chemin;
        frm->OnProgression = [&](int fait, int) {
            if (fait != 1) return;
            chemin = Journaux().last();
            limite.rlim_cur = rlim_t(borne(Octets(chemin)));
            ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limite), 0);
        };
        Changer(mode);
        ::setrlimit(RLIMIT_FSIZE, &sans);
        std::signal(SIGXFSZ, signalAvant);
        frm->OnProgression = nullptr;
        return chemin;
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
    // The last end-of-run box, line by line, its journal line checked and left out.
    QStringList Boite() {
        if (boxes.messages.empty()) return {};
        QStringList lignes = boxes.messages.back().text.split(u'\n');
        const QString chemin = lignes.last().section(S("Journal : "), 1);
        EXPECT_TRUE(Journaux().contains(chemin)) << lignes.last().toStdString();
        lignes.removeLast();
        return lignes;
    }
    // The journal the last box names, else the newest.
    QString DernierJournal() {
        if (!boxes.messages.empty()) {
            const QString ligne = boxes.messages.back().text.section(u'\n', -1);
            if (ligne.startsWith(S("Journal : "))) return ligne.section(S("Journal : "), 1);
        }
        return Journaux().value(Journaux().size() - 1);
    }
    // The journals written since the test began, oldest first.
    static QStringList Journaux() {
        QStringList chemins;
        const QDir dossier(DossierJournaux());
        for (const QString& nom :
             dossier.entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Time | QDir::Reversed))
            chemins << dossier.filePath(nom);
        return chemins;
    }
    // Fifty mandates more than the fixture's, more rows than the grid asks for at first, and
    // all 53 listed.
    void ListerCinquanteDePlus() {
        for (int i = 10; i < 60; ++i)
            Ajouter(QStringLiteral("70000010%1").arg(i), -1, BanqueAncienne,
                    "FR7699999678901234567890123", QStringLiteral("R%1").arg(i));
        ASSERT_EQ(Verifier(QString(), QString(), false).size(), 53);
    }
    // « Exporter la liste… », the user choosing `chemin` (empty: cancelled).
    void Exporter(const QString& chemin) {
        SetSaveFileHandler([&](const QString&, const QString&) { return chemin; });
        frm->actExporter->trigger();
        SetSaveFileHandler(nullptr);
    }
    static QByteArray Octets(const QString& chemin) {
        QFile f(chemin);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << chemin.toStdString();
        return f.readAll();
    }
    // The last journal's data lines, each without its time stamp (checked) and without its CR LF.
    QStringList LignesJournal() { return LignesJournal(DernierJournal()); }
    static QStringList LignesJournal(const QString& chemin) {
        const QByteArray octets = Octets(chemin);
        EXPECT_TRUE(octets.startsWith(QByteArrayLiteral("\xEF\xBB\xBF") + EnTete));
        QStringList lignes =
            QString::fromUtf8(octets.sliced(3 + EnTete.size())).split(QStringLiteral("\r\n"));
        EXPECT_EQ(lignes.last(), QString());
        lignes.removeLast();
        static const QRegularExpression horodatage(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d;"));
        for (QString& l : lignes) {
            EXPECT_TRUE(horodatage.match(l).hasMatch()) << l.toStdString();
            l = l.section(u';', 1);
        }
        return lignes;
    }
    static inline const QByteArray EnTete =
        "horodatage;mode;resultat;motif;CMAN_ID;CMAN_IDCLI;client;ancienne_reference;"
        "nouvelle_reference;ancien_iban;nouvel_iban;ancien_bic;nouveau_bic;ancienne_banque;"
        "nouvelle_banque;modification_sepa\r\n";

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
    EXPECT_EQ(Boite(), QStringList({S("1 mandat sur 3 n'a pas pu être changé : il reste dans la "
                                      "liste."),
                                    S("inactifs (non recréés) : 1")}));

    // The old rows are inactive now and listed again: a second run copies none of them.
    ASSERT_EQ(Verifier(QString(), QString(), false), QStringList({M1, M2, M3}));
    const QStringList apresPremier = base.Mandats();
    Changer(1);
    EXPECT_EQ(base.Generateur(), generateur + 2);
    EXPECT_EQ(base.Mandats(), apresPremier);
    EXPECT_EQ(Boite(), QStringList({S("3 mandats sur 3 n'ont pas pu être changés : ils restent "
                                      "dans la liste."),
                                    S("inactifs (non recréés) : 3")}));
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

TEST_F(Changement, RecreerNeverCopiesAMandateEndedSinceTheListing) {
    ASSERT_EQ(Verifier(QString(), QString(), true), QStringList({M1, M2}));
    // While the list is on screen: the client ends M1, and another workstation recreates M2.
    base.Executer(S("UPDATE CLIENTS_MANDAT SET CMAN_ACTIF = 0 WHERE CMAN_ID = ") + M1);
    auto ici = std::move(frm);
    frm = std::make_unique<TfrmPrincipale>();
    Choisir();
    ASSERT_EQ(Verifier(QString(), QString(), true), QStringList({M2}));
    Changer(1);
    frm = std::move(ici);
    const QStringList apresAutre = base.Mandats();
    const qint64 generateur = base.Generateur();

    Changer(1);
    // Neither comes back to life as an active copy, and the box says so.
    EXPECT_EQ(base.Generateur(), generateur);
    EXPECT_EQ(base.Mandats(), apresAutre);
    EXPECT_EQ(base.Lignes(S("SELECT COUNT(*) FROM CLIENTS_MANDAT WHERE CMAN_IDCLI = ") + Client +
                          S(" AND CMAN_ACTIF = -1 AND CMAN_IDBANQ = ") + BanqueNouvelle),
              QStringList{S("1")});
    EXPECT_EQ(Boite(), QStringList({S("2 mandats sur 2 n'ont pas pu être changés : ils restent "
                                      "dans la liste."),
                                    S("inactifs (non recréés) : 2")}));
    for (const QString& l : LignesJournal())
        EXPECT_FALSE(l.startsWith(S("Recréer;CHANGE;"))) << l.toStdString();
}

// Between « Vérifier » and « Changer » another user corrects, deletes or moves mandates of the
// list; the run in `mode` must write over none of them. Answers the rows of the untouched ones.
class ChangementDepuisLaListe : public Changement {
protected:
    const QString M6 = S("7000001006"); // its account corrected
    const QString M7 = S("7000001007"); // deleted
    const QString M8 = S("7000001008"); // moved by another window running the same change
    const QString M9 = S("7000001009"); // no BIC, untouched

    void Lancer(int mode) {
        Ajouter(M6, -1, BanqueAncienne, "FR7699999444441234567890177", "RUM-0006");
        Ajouter(M7, -1, BanqueAncienne, "FR7699999555551234567890166", "RUM-0007");
        Ajouter(M8, -1, BanqueAncienne, "FR7699999333331234567890144", "RUM-0008");
        Ajouter(M9, -1, BanqueAncienne, "FR7699999666661234567890155", "RUM-0009");
        base.Executer(S("UPDATE CLIENTS_MANDAT SET CMAN_BIC = NULL WHERE CMAN_ID = ") + M9);
        avant = base.Mandats();
        ASSERT_EQ(Verifier(QString(), QString(), true), QStringList({M1, M2, M6, M7, M8, M9}));

        // M1's BIC and M6's account corrected, M7 deleted, all committed by a colleague.
        base.Executer(S("UPDATE CLIENTS_MANDAT SET CMAN_BIC = 'CORRFRPPXXX' WHERE CMAN_ID = ") +
                      M1);
        base.Executer(S("UPDATE CLIENTS_MANDAT SET CMAN_IBAN = 'FR7699999444449999999999911' "
                        "WHERE CMAN_ID = ") +
                      M6);
        base.Executer(S("DELETE FROM CLIENTS_MANDAT WHERE CMAN_ID = ") + M7);
        // A second workstation lists M8 alone (its branch) and runs the same change.
        auto ici = std::move(frm);
        frm = std::make_unique<TfrmPrincipale>();
        Choisir();
        ASSERT_EQ(Verifier(S("33333"), S("33333"), true), QStringList{M8});
        Changer(mode);
        frm = std::move(ici);
        apresAutres = base.Mandats();
        Changer(mode);
    }
    QStringList apresAutres;
};

TEST_F(ChangementDepuisLaListe, ModifierWritesOverNoRowChangedSinceTheListing) {
    ASSERT_NO_FATAL_FAILURE(Lancer(0));
    // What the others left stays exactly so; the untouched M2 (no bank identifier) and M9 (no
    // BIC) are changed, the null-safe comparison holding for both.
    QStringList attendu = apresAutres;
    for (QString& ligne : attendu) {
        if (ligne.startsWith(M2)) ligne = Deplace(Avant(M2), S("FR7612345111111000000001109"));
        if (ligne.startsWith(M9))
            ligne = Deplace(Avant(M9), ReferenceIban(S("12345"), S("66666"), S("12345678901")));
    }
    EXPECT_EQ(base.Mandats(), attendu);
    EXPECT_EQ(Ligne(attendu, M7), QString());
    // Some of them are no longer at the old bank: the box does not say they stay in the list.
    EXPECT_EQ(Boite(), QStringList({S("4 mandats sur 6 n'ont pas pu être changés."),
                                    S("modifiés ou supprimés depuis la liste : 4")}));
    QStringList issues;
    for (const QString& l : LignesJournal())
        if (!l.contains(S(";EN_COURS;"))) issues << l.section(u';', 1, 3);
    issues.sort();
    EXPECT_EQ(issues,
              QStringList({S("CHANGE;;7000001002"), S("CHANGE;;7000001009"),
                           S("ECARTE;modifie;7000001001"), S("ECARTE;modifie;7000001006"),
                           S("ECARTE;modifie;7000001007"), S("ECARTE;modifie;7000001008")}));
}

TEST_F(ChangementDepuisLaListe, RecreerCopiesNoRowChangedSinceTheListing) {
    ASSERT_NO_FATAL_FAILURE(Lancer(1));
    const qint64 generateur = base.Generateur();
    // Only M2 and M9 were recreated: ended, each with one copy; the rest as the others left it.
    const QString nouveaux =
        QString::number(generateur - 1) + u',' + QString::number(generateur) + u')';
    QStringList attendu = apresAutres;
    for (QString& ligne : attendu)
        if (ligne.startsWith(M2) || ligne.startsWith(M9)) ligne.replace(S("|-1|"), S("|0|"));
    EXPECT_EQ(base.Mandats(S(" AND CMAN_ID NOT IN (") + nouveaux), attendu);
    const QStringList copies = base.Mandats(S(" AND CMAN_ID IN (") + nouveaux);
    ASSERT_EQ(copies.size(), 2);
    QStringList references;
    for (const QString& c : copies)
        references << c.section(u'|', 8, 8);
    references.sort();
    EXPECT_EQ(references, QStringList({S("RUM-0009N"), Reference35}));
    // M8, ended by the other workstation's run, keeps the reason of an ended mandate.
    EXPECT_EQ(Boite(), QStringList({S("4 mandats sur 6 n'ont pas pu être changés."),
                                    S("modifiés ou supprimés depuis la liste : 3"),
                                    S("inactifs (non recréés) : 1")}));
    QStringList issues;
    for (const QString& l : LignesJournal())
        if (!l.contains(S(";EN_COURS;"))) issues << l.section(u';', 1, 3);
    issues.sort();
    EXPECT_EQ(issues,
              QStringList({S("CHANGE;;7000001002"), S("CHANGE;;7000001009"),
                           S("ECARTE;inactif;7000001008"), S("ECARTE;modifie;7000001001"),
                           S("ECARTE;modifie;7000001006"), S("ECARTE;modifie;7000001007")}));
}

TEST_F(Changement, TheListShowsWhatTheRunWillWriteAndFollowsTheNewBankAndBranch) {
    // A mandate whose account is cut short, one whose IBAN names another bank: the run would
    // pass them over.
    Ajouter(S("7000001010"), -1, BanqueAncienne, "FR7699999678901", "RUM-0010");
    Ajouter(S("7000001011"), -1, BanqueAncienne, "FR7630056009271234567890182", "RUM-0011");
    ASSERT_EQ(Verifier(QString(), QString(), false).size(), 5);
    frm->show();
    QCoreApplication::processEvents();
    TDBGrid* grille = frm->dgrDetail;
    ASSERT_GE(grille->DataLink().RecordCount(), 5);
    // Each shown row's IBAN, with the two new columns beside it.
    const auto montre = [&] {
        std::map<QString, QString> lignes;
        for (int r = 0; r < grille->DataLink().RecordCount(); ++r)
            lignes[grille->CellText(r, 1)] = grille->CellText(r, 3) + u'|' + grille->CellText(r, 4);
        return lignes;
    };
    const auto attendu = [](const char* guichet1, const char* guichet2, const char* guichet3,
                            const QString& code, const QString& bic, const QString& inactif) {
        const auto iban = [&](const char* guichet, const char* compte) {
            return ReferenceIban(code, S(guichet), S(compte)) + u'|' + bic;
        };
        return std::map<QString, QString>{
            {S("FR7699999678901234567890123"), iban(guichet1, "12345678901")},
            {S("FR7699999111111000000001128"), iban(guichet2, "10000000011")},
            // A letter in the account: its new IBAN is the one the run's own test writes.
            {S("FR629999922222000000010A069"),
             inactif.isEmpty() ? QString(guichet3) + u'|' + bic : inactif + u'|'},
            {S("FR7699999678901"), S("données de compte incomplètes|")},
            {S("FR7630056009271234567890182"), S("IBAN d'une autre banque|")}};
    };
    EXPECT_EQ(montre(), attendu("67890", "11111", "FR041234522222000000010A050", S("12345"),
                                S("OUESFRPPXXX"), QString()));

    // A branch typed, « Recréer » chosen, another new bank: the columns follow at once.
    frm->edtNouveauGuichet->setText(S("55555"));
    frm->rgoMandat->SetItemIndex(1);
    frm->Nouveau_Code = S("30004");
    frm->Nouveau_BIC = S("BNPAFRPPXXX");
    EXPECT_EQ(montre(), attendu("55555", "55555", "", S("30004"), S("BNPAFRPPXXX"),
                                S("inactif (non recréé)")));

    // The export carries them too.
    QTemporaryDir dossier;
    Exporter(dossier.filePath(S("liste.csv")));
    std::map<QString, QString> exporte;
    const std::vector<QStringList> lignes = LireCsv(Octets(dossier.filePath(S("liste.csv"))));
    ASSERT_EQ(lignes.size(), 6u);
    EXPECT_EQ(lignes[0].mid(10), QStringList({S("NOUVEL_IBAN"), S("NOUVEAU_BIC")}));
    for (std::size_t i = 1; i < lignes.size(); ++i)
        exporte[lignes[i][5]] = lignes[i][10] + u'|' + lignes[i][11];
    EXPECT_EQ(exporte, montre());
}

// « Changer » runs only on the list on screen, between two different banks, towards a bank
// with a code; anything else is refused before its confirmation, and nothing is written.
TEST_F(Changement, ChangerRefusesWhatVerifierWouldHaveRefusedOrNoLongerListed) {
    const QString pasAJour =
        S("La liste affichée ne correspond plus à l'ancienne banque, à son code agence ou au "
          "choix « Que les mandats actifs ». Cliquez sur « Vérifier » pour la refaire avant de "
          "changer les mandats.");
    const struct {
        const char* nom;
        std::function<void(TfrmPrincipale&)> apresLaListe;
        QString boite;
    } cas[] = {
        {"another old bank", [](TfrmPrincipale& f) { f.Ancien_ID = 1; }, pasAJour},
        {"another old branch", [](TfrmPrincipale& f) { f.edtAncienGuichet->setText(S("67890")); },
         pasAJour},
        {"only active mandates ticked", [](TfrmPrincipale& f) { f.cbxActif->setChecked(true); },
         pasAJour},
        {"the old bank as the new one",
         [](TfrmPrincipale& f) {
             f.Nouveau_ID = f.Ancien_ID;
             f.Nouveau_Code = f.Ancien_Code;
         },
         S("Vous devez sélectionner deux banques différentes")},
        {"no new bank", [](TfrmPrincipale& f) { f.Nouveau_ID = 0; },
         S("Vous devez sélectionner deux banques différentes")},
        {"a new bank without a bank code", [](TfrmPrincipale& f) { f.Nouveau_Code.clear(); },
         S("La nouvelle banque Banque de l'Ouest n'a pas de code banque : les nouveaux IBAN ne "
           "peuvent pas être calculés.")},
    };
    for (const auto& c : cas) {
        SCOPED_TRACE(c.nom);
        Choisir();
        ASSERT_EQ(Verifier(QString(), QString(), false), QStringList({M1, M2, M3}));
        boxes.messages.clear();
        c.apresLaListe(*frm);
        Changer(0);
        EXPECT_EQ(Textes(boxes.messages), QStringList{c.boite});
        EXPECT_TRUE(boxes.errors.empty());
        EXPECT_EQ(base.Mandats(), avant);
        EXPECT_TRUE(Journaux().isEmpty());
        // The list stays on screen as it was.
        EXPECT_EQ(Listes(), QStringList({M1, M2, M3}));
    }
    // The new side may change after the listing: the list's « Nouvel IBAN » follows it, and
    // the run asks its confirmation.
    Choisir();
    Verifier(QString(), QString(), false);
    boxes.messages.clear();
    boxes.answer = IDNO;
    frm->edtNouveauGuichet->setText(S("55555"));
    Changer(0);
    EXPECT_EQ(Textes(boxes.messages), QStringList{Confirmer});
    EXPECT_EQ(base.Mandats(), avant);
}

TEST_F(Changement, ANewBranchBoxOfBlanksKeepsEachMandatesOwnBranch) {
    Verifier(QString(), S("     "), true);
    Changer(0);
    EXPECT_TRUE(boxes.errors.empty());
    EXPECT_EQ(base.Mandat(M1), Deplace(Avant(M1), S("FR7612345678901234567890104")));
    EXPECT_EQ(base.Mandat(M2), Deplace(Avant(M2), S("FR7612345111111000000001109")));
}

TEST_F(Changement, ALockedMandateIsPassedOverAndReported) {
    Verifier(QString(), QString(), true);
    base.Verrouiller(M2);
    Changer(0);
    EXPECT_EQ(base.Mandat(M1), Deplace(Avant(M1), QStringLiteral("FR7612345678901234567890104")));
    EXPECT_EQ(base.Mandat(M2), Avant(M2));
    EXPECT_EQ(boxes.messages.size(), 3u);
    EXPECT_EQ(Boite(),
              QStringList({S("1 mandat sur 2 n'a pas pu être changé : il reste dans la liste."),
                           S("verrouillés par un autre utilisateur : 1")}));
    EXPECT_EQ(boxes.messages.back().kind, TMessageKind::Information);
    // The journal says why, with what was about to be written.
    const QStringList lignes = LignesJournal();
    ASSERT_EQ(lignes.size(), 4);
    EXPECT_TRUE(std::any_of(lignes.begin(), lignes.end(), [&](const QString& l) {
        return l == S("Modifier;ECARTE;verrou;7000001002;7000000101;RAVTEST Jeanne;") +
                        Reference35 + u';' + Reference35 +
                        S(";FR7699999111111000000001128;FR7612345111111000000001109;ANCIFRPPXXX;"
                          "OUESFRPPXXX;;5294967297;");
    }));
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
    EXPECT_EQ(Boite(),
              QStringList({S("1 mandat sur 3 n'a pas pu être changé : il reste dans la liste."),
                           S("données de compte incomplètes : 1")}));
    EXPECT_TRUE(LignesJournal().contains(
        S("Modifier;ECARTE;donnees_compte;7000001006;7000000101;RAVTEST Jeanne;C;C;"
          "FR7699999678901234;;ANCIFRPPXXX;OUESFRPPXXX;1000000001;5294967297;"),
        Qt::CaseSensitive));
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
    EXPECT_EQ(Boite(), QStringList({S("2 mandats sur 2 n'ont pas pu être changés : ils restent "
                                      "dans la liste."),
                                    S("données de compte incomplètes : 2")}));
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

TEST_F(Changement, ANewBranchCodeWithALetterStopsTheRunAndIsNeverWritten) {
    // The key rule reads a letter as a digit, as an account number may hold one; a branch code
    // never does. A letter typed for a zero, capital or not, must not reach any IBAN.
    for (const char* guichet : {"5555O", "ABCDE", "abcde"}) {
        SCOPED_TRACE(guichet);
        boxes.errors.clear();
        ASSERT_EQ(Verifier(QString(), QString::fromLatin1(guichet), true), QStringList({M1, M2}));
        Changer(0);
        EXPECT_EQ(base.Mandats(), avant);
        ASSERT_EQ(boxes.errors.size(), 1u);
        EXPECT_TRUE(boxes.errors[0].text.endsWith(S("n'est pas une valeur entière correcte.")))
            << boxes.errors[0].text.toStdString();
        EXPECT_FALSE(frm->transLocale->Active());
    }
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

// ---------------------------------------------------------------------------------------------
// The change journal

namespace {

// A mandate's journal line from its rows before and after the run (columns as Base::Mandats
// reads them), time stamp left out.
QString LigneAttendue(const QString& mode, const QString& resultat, const QString& motif,
                      const QString& avant, const QString& apres, const QString& nouvelleReference,
                      const QString& sepa) {
    const QStringList a = avant.split(u'|');
    const QStringList n = apres.split(u'|');
    const auto banque = [](const QString& b) { return b == u'-' ? QString() : b; };
    return QStringList({mode, resultat, motif, a[0], a[1], S("RAVTEST Jeanne"), a[8],
                        nouvelleReference, a[5], n[5], a[6], n[6], banque(a[4]), banque(n[4]),
                        sepa.isEmpty() ? sepa : u'"' + sepa + u'"'})
        .join(u';');
}

mode_t Mode(const QString& chemin) {
    struct stat st {};
    EXPECT_EQ(::stat(QFile::encodeName(chemin).constData(), &st), 0) << chemin.toStdString();
    return st.st_mode & 07777;
}

} // namespace

TEST_F(Changement, JournalOfAModifierRunHoldsEachMandateBeforeAndAfter) {
    // Linked by identifier but its IBAN already under another bank's code (here the new one's):
    // passed over before any write, the new code never put in front of that bank's account.
    const QString m8 = QStringLiteral("7000001008");
    Ajouter(m8, -1, BanqueAncienne, "FR7612345678901234567890199", "RUM-0008");
    avant = base.Mandats();
    const QStringList ordre = (Verifier(QString(), QString(), false), Listes(false));
    ASSERT_EQ(ordre.size(), 4);
    // What a kill would leave after each mandate: every mandate before it whole, and its own
    // EN_COURS, its outcome still with the program.
    std::vector<QStringList> pendant;
    frm->OnProgression = [&](int, int) { pendant.push_back(LignesJournal(Journaux().last())); };
    Changer(0);
    EXPECT_EQ(Boite(), QStringList({S("1 mandat sur 4 n'a pas pu être changé : il reste dans la "
                                      "liste."),
                                    S("IBAN d'une autre banque : 1")}));
    EXPECT_EQ(base.Mandat(m8), Avant(m8));
    const QStringList journaux = Journaux();
    ASSERT_EQ(journaux.size(), 1);
    EXPECT_TRUE(QFileInfo(journaux[0])
                    .fileName()
                    .contains(QRegularExpression(
                        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d_\\d{6}_Modifier\\.csv$"))))
        << journaux[0].toStdString();
    EXPECT_EQ(Mode(journaux[0]), mode_t(0600));
    EXPECT_EQ(Mode(DossierJournaux()), mode_t(0700));
    EXPECT_EQ(Mode(QFileInfo(DossierJournaux()).path()), mode_t(0700));

    QStringList attendu;
    std::vector<qsizetype> ecrites;
    for (const QString& id : ordre) {
        const QString a = Avant(id);
        const QString ref = a.section(u'|', 8, 8);
        if (id == m8) {
            attendu << LigneAttendue(S("Modifier"), S("ECARTE"), S("autre_banque"), a,
                                     Deplace(a, S("FR7612345678901234567890104")), ref, QString());
        } else {
            const QString n = base.Mandat(id);
            attendu << LigneAttendue(S("Modifier"), S("EN_COURS"), QString(), a, n, ref, QString())
                    << LigneAttendue(S("Modifier"), S("CHANGE"), QString(), a, n, ref,
                                     S("AmdmntInd=true;OrgnlDbtrAgt=SMNDA"));
        }
        // A mandate's outcome goes out with the next line: one passed over before any write
        // is there whole at once.
        ecrites.push_back(id == m8 ? attendu.size() : attendu.size() - 1);
    }
    EXPECT_EQ(LignesJournal(), attendu);
    ASSERT_EQ(pendant.size(), ecrites.size());
    for (std::size_t i = 0; i < ecrites.size(); ++i)
        EXPECT_EQ(pendant[i], attendu.mid(0, ecrites[i])) << i;
    // The inactive M3 was moved too ("Modifier" passes nothing over for that).
    EXPECT_EQ(base.Mandat(M3).section(u'|', 4, 4), BanqueNouvelle);
}

TEST_F(Changement, JournalOfARecreerRunNamesTheCopyAndTheInactiveMandate) {
    ASSERT_EQ(Verifier(QString(), QString(), false), QStringList({M1, M2, M3}));
    const QStringList ordre = Listes(false);
    std::vector<QStringList> pendant;
    frm->OnProgression = [&](int, int) { pendant.push_back(LignesJournal(Journaux().last())); };
    Changer(1);
    EXPECT_EQ(Boite(),
              QStringList({S("1 mandat sur 3 n'a pas pu être changé : il reste dans la liste."),
                           S("inactifs (non recréés) : 1")}));
    ASSERT_TRUE(QFileInfo(DernierJournal()).fileName().endsWith(S("_Recreer.csv")));
    QStringList attendu;
    // After each mandate, the lines a kill would leave: a mandate passed over before any write
    // is there whole at once.
    std::vector<qsizetype> ecrites;
    for (const QString& id : ordre) {
        const QString a = Avant(id);
        const QString ref = a.section(u'|', 8, 8);
        if (id == M3) {
            // Passed over before any write: what would have been written, and no amendment.
            QStringList n = a.split(u'|');
            n[4] = BanqueNouvelle;
            n[5] = S("FR041234522222000000010A050");
            n[6] = S("OUESFRPPXXX");
            attendu << LigneAttendue(S("Recréer"), S("ECARTE"), S("inactif"), a, n.join(u'|'),
                                     S("RUM-0003N"), QString());
            ecrites.push_back(attendu.size());
            continue;
        }
        // The copy, found by the new reference: its IBAN, BIC and bank are the line's.
        const QString nouvelleRef = RecreerReference(ref);
        const QString copie =
            base.Mandats(S(" AND CMAN_MANDAT = '") + nouvelleRef + S("' AND CMAN_ID <> ") + id)
                .value(0);
        ASSERT_FALSE(copie.isEmpty()) << id.toStdString();
        EXPECT_EQ(base.Mandat(id).section(u'|', 2, 2), S("0"));
        const QString sepa = S("AmdmntInd=true;OrgnlDbtrAgt=SMNDA;OrgnlMndtId=") + ref;
        attendu << LigneAttendue(S("Recréer"), S("EN_COURS"), QString(), a, copie, nouvelleRef,
                                 QString())
                << LigneAttendue(S("Recréer"), S("CHANGE"), QString(), a, copie, nouvelleRef, sepa);
        ecrites.push_back(attendu.size() - 1);
    }
    EXPECT_EQ(LignesJournal(), attendu);
    ASSERT_EQ(pendant.size(), ecrites.size());
    for (std::size_t i = 0; i < ecrites.size(); ++i)
        EXPECT_EQ(pendant[i], attendu.mid(0, ecrites[i])) << i;
}

// The next collection's amendment names what changed for the debtor's bank.
TEST(Journal, ModificationSepaNamesTheDebtorsBankOrAccount) {
    const QString ancien = S("FR7699999678901234567890123");
    const struct {
        TModeChangement mode;
        const char* nouvel;
        const char* attendu;
    } cas[] = {
        {TModeChangement::Modifier, "FR7612345678901234567890104",
         "AmdmntInd=true;OrgnlDbtrAgt=SMNDA"},
        // Two rows of the bank table with one bank code: only the account's keys change.
        {TModeChangement::Modifier, "FR7699999555551234567890150",
         "AmdmntInd=true;OrgnlDbtrAcct=FR7699999678901234567890123"},
        {TModeChangement::Recreer, "FR7612345678901234567890104",
         "AmdmntInd=true;OrgnlDbtrAgt=SMNDA;OrgnlMndtId=RUM-1"},
    };
    for (const auto& c : cas)
        EXPECT_EQ(ModificationSepa(c.mode, ancien, S(c.nouvel), S("RUM-1")), S(c.attendu))
            << c.nouvel;
}

TEST(LigneCsv, EveryCharacterGoesOutAsUtf8) {
    // Against Qt's own encoder; a lone surrogate has no UTF-8 form and becomes U+FFFD.
    const QString texte = S("aé€") + QString::fromUcs4(U"\U0001D11E") + S("z");
    TLigneCsv ligne;
    ligne.Commencer();
    ligne.Valeur(texte);
    ligne.Texte(QString(QChar(0xD800)) + S("x") + QChar(0xDC00));
    EXPECT_EQ(ligne.Terminer(), texte.toUtf8() + ";\xEF\xBF\xBDx\xEF\xBF\xBD\r\n");
    // A shorter line after a longer one keeps nothing of it.
    ligne.Commencer();
    ligne.Texte(S("é"));
    EXPECT_EQ(ligne.Terminer(), QByteArray("\xC3\xA9\r\n"));
}

TEST(LigneCsv, RandomFieldsMatchTheQuotingRuleAndReadBack) {
    // Fields drawn from the characters the rules tell apart, against the rule written out
    // plainly, then read back: the line writer takes shortcuts over runs of plain ASCII.
    const QList<QString> briques = {S("a"),  S("Z9"),      S(";"),
                                    S("\""), S("\r"),      S("\n"),
                                    S("é"),  S("€"),       QString::fromUcs4(U"\U0001D11E"),
                                    S("="),  S("+"),       S("-"),
                                    S("@"),  S("'"),       S("\t"),
                                    S(" "),  S("abcdefgh")};
    std::mt19937 hasard(20261210);
    TLigneCsv ligne;
    for (int essai = 0; essai < 3000; ++essai) {
        QStringList champs;
        QByteArray attendu;
        ligne.Commencer();
        const int n = 1 + int(hasard() % 6);
        for (int c = 0; c < n; ++c) {
            QString v;
            for (int k = int(hasard() % 14); k > 0; --k)
                v += briques[qsizetype(hasard() % briques.size())];
            const bool texte = hasard() % 2;
            // A value is written as it is: one starting with "'" would not read back.
            if (!texte && v.startsWith(u'\'')) v.prepend(u'a');
            texte ? ligne.Texte(v) : ligne.Valeur(v);
            champs << v;
            QString corps = v;
            if (texte && !v.isEmpty() && S("=+-@\t\r'").contains(v.front())) corps.prepend(u'\'');
            const bool guillemets = v.contains(QRegularExpression(S("[;\"\r\n]")));
            corps.replace(S("\""), guillemets ? S("\"\"") : S("\""));
            if (c > 0) attendu += ';';
            attendu += guillemets ? "\"" + corps.toUtf8() + "\"" : corps.toUtf8();
        }
        const QByteArray octets = ligne.Terminer();
        ASSERT_EQ(octets, attendu + "\r\n") << champs.join(u'|').toStdString();
        ASSERT_EQ(LireCsv(octets), std::vector<QStringList>{champs});
    }
}

TEST(Journal, EveryLineNamesItsOwnMandateWhenOneFieldAloneChanges) {
    // A mandate's fields are formatted once for its two lines: a line whose fields differ from
    // the previous line's in one field only must not repeat the previous one's.
    TLigneJournal l{Resultat::EnCours, QString(), S("1"),     S("2"),     S("Zoé; X"),
                    S("R1"),           S("R2"),   S("FR76A"), S("FR76B"), S("BIC1"),
                    S("BIC2"),         S("3"),    S("4"),     QString()};
    QString chemin;
    std::vector<TLigneJournal> ecrites;
    {
        TJournal journal(TModeChangement::Modifier, QDateTime::currentDateTime());
        chemin = journal.Chemin();
        QString* const champs[] = {&l.id,
                                   &l.idClient,
                                   &l.client,
                                   &l.ancienneReference,
                                   &l.nouvelleReference,
                                   &l.ancienIban,
                                   &l.nouvelIban,
                                   &l.ancienBic,
                                   &l.nouveauBic,
                                   &l.ancienneBanque,
                                   &l.nouvelleBanque};
        for (QString* champ : champs) {
            *champ += u'x';
            for (const QString& resultat : {Resultat::EnCours, Resultat::Change}) {
                l.resultat = resultat;
                l.modificationSepa = resultat == Resultat::Change ? S("AmdmntInd=true") : QString();
                journal.Ecrire(l);
                ecrites.push_back(l);
            }
        }
        journal.Terminer();
    }
    QFile fichier(chemin);
    ASSERT_TRUE(fichier.open(QIODevice::ReadOnly));
    const std::vector<QStringList> lignes = LireCsv(fichier.readAll());
    ASSERT_EQ(lignes.size(), ecrites.size() + 1);
    for (std::size_t i = 0; i < ecrites.size(); ++i) {
        TModeChangement mode;
        TLigneJournal lue;
        ASSERT_TRUE(LireLigneJournal(lignes[i + 1], mode, lue)) << i;
        const auto champs = [](const TLigneJournal& x) {
            return QStringList({x.resultat, x.id, x.idClient, x.client, x.ancienneReference,
                                x.nouvelleReference, x.ancienIban, x.nouvelIban, x.ancienBic,
                                x.nouveauBic, x.ancienneBanque, x.nouvelleBanque,
                                x.modificationSepa});
        };
        EXPECT_EQ(champs(lue), champs(ecrites[i])) << i;
    }
}

TEST_F(Changement, JournalAndExportQuoteAndGuardWhatPeopleTyped) {
    // A name holding ";", quotes and a line break, starting with "="; a reference starting
    // with "+", a bank name with "@" in front.
    base.Executer(S("UPDATE CLIENTS SET CLI_NOM = '=Du;pont \"X\"' || ASCII_CHAR(13) || "
                    "ASCII_CHAR(10) || 'Y', CLI_PRENOM = 'Zoé' WHERE CLI_ID = ") +
                  Client);
    base.Executer(S("UPDATE CLIENTS_MANDAT SET CMAN_MANDAT = '+33;R', CMAN_NOMBANQUE = '@SUM(A1)' "
                    "WHERE CMAN_ID = ") +
                  M1);
    ASSERT_EQ(Verifier(QStringLiteral("67890"), QStringLiteral("55555"), true), QStringList{M1});
    const QString nom = S("\"'=Du;pont \"\"X\"\"\r\nY Zoé\"");

    // The export first, while the list holds M1.
    QTemporaryDir dossier;
    const QString exporte = dossier.filePath(S("liste.csv"));
    Exporter(exporte);
    EXPECT_EQ(QString::fromUtf8(Octets(exporte)),
              S("\xEF\xBB\xBF"
                "CMAN_ID;CMAN_IDCLI;NP;CMAN_ACTIF;CMAN_IDBANQ;CMAN_IBAN;CMAN_BIC;CMAN_NOMBANQUE;"
                "CMAN_MANDAT;BANQ_SOCIETE;NOUVEL_IBAN;NOUVEAU_BIC\r\n"
                "7000001001;7000000101;") +
                  nom +
                  S(";-1;1000000001;FR7699999678901234567890123;ANCIFRPPXXX;'@SUM(A1);\"'+33;R\";"
                    "Banque Ancienne;FR7612345555551234567890150;OUESFRPPXXX\r\n"));

    Changer(0);
    const QString ligne = S(";7000001001;7000000101;") + nom +
                          S(";\"'+33;R\";\"'+33;R\";FR7699999678901234567890123;"
                            "FR7612345555551234567890150;ANCIFRPPXXX;OUESFRPPXXX;1000000001;"
                            "5294967297;");
    const QString octets = QString::fromUtf8(Octets(DernierJournal()));
    EXPECT_TRUE(octets.contains(S("Modifier;EN_COURS;") + ligne + S("\r\n")))
        << octets.toStdString();
    EXPECT_TRUE(octets.contains(S("Modifier;CHANGE;") + ligne +
                                S("\"AmdmntInd=true;OrgnlDbtrAgt=SMNDA\"\r\n")))
        << octets.toStdString();

    // Read back, every field is what was typed.
    const std::vector<QStringList> lu = LireCsv(Octets(DernierJournal()));
    ASSERT_EQ(lu.size(), 3u);
    EXPECT_EQ(lu[0], EnTeteJournal());
    EXPECT_EQ(lu[2][6], S("=Du;pont \"X\"\r\nY Zoé"));
    EXPECT_EQ(lu[2][7], S("+33;R"));
    EXPECT_EQ(lu[2][15], S("AmdmntInd=true;OrgnlDbtrAgt=SMNDA"));
}

TEST_F(Changement, JournalAndExportKeepNumberLikeReferencesAsTyped) {
    // References a spreadsheet would read as numbers, and a bank name it would read as a date.
    const QString r1 = S("000123456");
    const QString r2 = S("12345678901234567890123");
    base.Executer(S("UPDATE CLIENTS_MANDAT SET CMAN_MANDAT = '") + r1 +
                  S("', CMAN_NOMBANQUE = '12/03' WHERE CMAN_ID = ") + M1);
    base.Executer(S("UPDATE CLIENTS_MANDAT SET CMAN_MANDAT = '") + r2 + S("' WHERE CMAN_ID = ") +
                  M2);
    ASSERT_EQ(Verifier(QString(), QString(), true), QStringList({M1, M2}));
    QTemporaryDir dossier;
    const QString exporte = dossier.filePath(S("liste.csv"));
    Exporter(exporte);
    const QString texte = QString::fromUtf8(Octets(exporte));
    EXPECT_TRUE(texte.contains(S(";'12/03;'000123456;Banque Ancienne;"))) << texte.toStdString();
    EXPECT_TRUE(texte.contains(S(";'12345678901234567890123;"))) << texte.toStdString();
    // The list's numbers stay numbers.
    EXPECT_TRUE(texte.contains(S("\r\n7000001001;7000000101;"))) << texte.toStdString();

    Changer(1);
    const QString journal = QString::fromUtf8(Octets(DernierJournal()));
    EXPECT_TRUE(journal.contains(S(";'000123456;000123456N;"))) << journal.toStdString();
    EXPECT_TRUE(journal.contains(S(";'12345678901234567890123;12345678901234567890123N;")))
        << journal.toStdString();
    // Read back, each is what the database holds.
    const std::vector<QStringList> lu = LireCsv(Octets(DernierJournal()));
    QStringList references;
    for (size_t i = 1; i < lu.size(); ++i)
        references << lu[i][7];
    EXPECT_EQ(references, QStringList({r1, r1, r2, r2}));
    const std::vector<QStringList> liste = LireCsv(Octets(exporte));
    ASSERT_EQ(liste.size(), 3u);
    EXPECT_EQ(liste[1][7], S("12/03"));
    EXPECT_EQ(liste[1][8], r1);
}

TEST_F(Changement, ExportWritesEveryRowOfTheListAndLeavesTheGridWhereItWas) {
    ASSERT_NO_FATAL_FAILURE(ListerCinquanteDePlus());
    frm->idsBanque->First();
    frm->idsBanque->MoveBy(2);
    const QString courant = frm->idsBanqueCMAN_ID->AsString();
    QTemporaryDir dossier;
    QString propose;
    SetSaveFileHandler([&](const QString&, const QString& proposition) {
        propose = proposition;
        return dossier.filePath(S("export.csv"));
    });
    frm->actExporter->trigger();
    SetSaveFileHandler(nullptr);
    EXPECT_TRUE(boxes.errors.empty());
    EXPECT_EQ(QFileInfo(propose).fileName(),
              S("mandats_") + QDate::currentDate().toString(Qt::ISODate) + S(".csv"));
    EXPECT_EQ(frm->idsBanqueCMAN_ID->AsString(), courant);
    EXPECT_EQ(frm->idsBanque->RecNo(), 3);
    EXPECT_EQ(Mode(dossier.filePath(S("export.csv"))), mode_t(0600));

    // The list's own select on a second connection: the same rows, in any order, each with
    // what « Modifier » would write over it.
    const std::map<QString, QString> nouveaux = {
        {S("FR7699999678901234567890123"), S("FR7612345678901234567890104")},
        {S("FR7699999111111000000001128"), S("FR7612345111111000000001109")},
        {S("FR629999922222000000010A069"), S("FR041234522222000000010A050")}};
    QStringList attendu;
    for (const QString& row : base.Lignes(frm->idsBanque->SelectSQL().Text())) {
        QStringList c = row.split(u'|');
        for (QString& v : c)
            if (v == u'-') v.clear();
        c << nouveaux.at(c[5]) << S("OUESFRPPXXX");
        attendu << c.join(u';');
    }
    QStringList lignes =
        QString::fromUtf8(Octets(dossier.filePath(S("export.csv")))).split(S("\r\n"));
    ASSERT_EQ(lignes.takeLast(), QString());
    ASSERT_EQ(lignes.takeFirst(), S("\xEF\xBB\xBF"
                                    "CMAN_ID;CMAN_IDCLI;NP;CMAN_ACTIF;CMAN_IDBANQ;CMAN_IBAN;"
                                    "CMAN_BIC;CMAN_NOMBANQUE;CMAN_MANDAT;BANQ_SOCIETE;"
                                    "NOUVEL_IBAN;NOUVEAU_BIC"));
    lignes.sort();
    attendu.sort();
    EXPECT_EQ(lignes, attendu);

    // Cancelled: nothing written. Into a folder that does not exist: the error box, and the
    // list as it was.
    Exporter(QString());
    Exporter(dossier.filePath(S("absent/export.csv")));
    ASSERT_EQ(boxes.errors.size(), 1u);
    EXPECT_TRUE(boxes.errors[0].text.startsWith(S("Le fichier ")))
        << boxes.errors[0].text.toStdString();
    EXPECT_EQ(frm->idsBanque->RecNo(), 3);
    EXPECT_EQ(QDir(dossier.path()).entryList(QDir::Files), QStringList{S("export.csv")});
}

TEST_F(Changement, AnExportThatFailsHalfwayLeavesTheFileItWasToReplace) {
    ASSERT_NO_FATAL_FAILURE(ListerCinquanteDePlus());
    // The same list, but with a late row the server cannot read: met only as the export reads
    // on.
    frm->idsBanque->Close();
    frm->idsBanque->SelectSQL().Add(S("AND (1 / (CMAN_ID - 7000001050) <> 0)"));
    frm->idsBanque->Open();
    ASSERT_TRUE(boxes.errors.empty());
    QTemporaryDir dossier;
    const QString chemin = dossier.filePath(S("export.csv"));
    {
        QFile avant(chemin);
        ASSERT_TRUE(avant.open(QIODevice::WriteOnly));
        avant.write("l'export d'hier\r\n");
    }
    Exporter(chemin);
    ASSERT_EQ(boxes.errors.size(), 1u);
    EXPECT_EQ(Octets(chemin), QByteArray("l'export d'hier\r\n"));
    EXPECT_EQ(QDir(dossier.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{S("export.csv")});

    // Once the list reads whole, the same file is replaced, private as every export.
    ASSERT_EQ(Verifier(QString(), QString(), false).size(), 53);
    Exporter(chemin);
    EXPECT_EQ(boxes.errors.size(), 1u);
    EXPECT_EQ(Octets(chemin).count("\r\n"), 1 + 53);
    EXPECT_EQ(Mode(chemin), mode_t(0600));
    EXPECT_EQ(QDir(dossier.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{S("export.csv")});
}

namespace {

// Stands in for the desktop's file manager.
class Ouvertures : public QObject {
    Q_OBJECT
public:
    Ouvertures() { QDesktopServices::setUrlHandler(S("file"), this, "ouvrir"); }
    ~Ouvertures() override { QDesktopServices::unsetUrlHandler(S("file")); }
    QList<QUrl> urls;
public slots:
    void ouvrir(const QUrl& url) { urls << url; }
};

} // namespace

TEST_F(Changement, TheGridMenuOpensTheJournalsFolder) {
    Ouvertures ouvertures;
    // A right click in the grid brings the menu; before any listing there is nothing to export.
    frm->show();
    const QPoint ici(60, 40);
    QContextMenuEvent clic(QContextMenuEvent::Mouse, ici,
                           frm->dgrDetail->viewport()->mapToGlobal(ici));
    QApplication::sendEvent(frm->dgrDetail->viewport(), &clic);
    EXPECT_TRUE(frm->mnuGrille->isVisible());
    EXPECT_FALSE(frm->actExporter->isEnabled());
    frm->mnuGrille->hide();
    Verifier(QString(), QString(), true);
    QApplication::sendEvent(frm->dgrDetail->viewport(), &clic);
    EXPECT_TRUE(frm->actExporter->isEnabled());
    frm->mnuGrille->hide();
    EXPECT_EQ(frm->mnuGrille->actions(),
              (QList<QAction*>{frm->actExporter, frm->actAnnulerPassage, frm->actOuvrirJournaux}));
    EXPECT_EQ(frm->actExporter->text(), S("Exporter la liste…"));
    EXPECT_EQ(frm->actAnnulerPassage->text(), S("Annuler un passage…"));
    EXPECT_EQ(frm->actOuvrirJournaux->text(), S("Ouvrir le dossier des journaux"));
    frm->actOuvrirJournaux->trigger();
    EXPECT_EQ(ouvertures.urls, QList<QUrl>{QUrl::fromLocalFile(DossierJournaux())});
    // Made for the occasion, private.
    EXPECT_EQ(Mode(DossierJournaux()), mode_t(0700));
    EXPECT_TRUE(boxes.errors.empty());
}

TEST_F(Changement, AWriteTheServerRefusesIsPassedOverWithTheServersWords) {
    base.Executer(S("CREATE OR ALTER EXCEPTION RAVTEST_REFUS 'Mandat gele par le controle'"));
    base.Executer(S("CREATE OR ALTER TRIGGER RAVTEST_REFUS FOR CLIENTS_MANDAT BEFORE UPDATE AS "
                    "BEGIN IF (OLD.CMAN_ID = ") +
                  M2 + S(") THEN EXCEPTION RAVTEST_REFUS; END"));
    struct Nettoyage {
        Base& base;
        ~Nettoyage() {
            base.Executer(S("DROP TRIGGER RAVTEST_REFUS"));
            base.Executer(S("DROP EXCEPTION RAVTEST_REFUS"));
        }
    } nettoyage{base};
    ASSERT_EQ(Verifier(QString(), QString(), true), QStringList({M1, M2}));
    Changer(0);
    EXPECT_EQ(base.Mandat(M2), Avant(M2));
    EXPECT_EQ(Boite(),
              QStringList({S("1 mandat sur 2 n'a pas pu être changé : il reste dans la liste."),
                           S("refusés par le serveur : 1")}));
    const QStringList lignes = LignesJournal();
    const auto ecarte = std::find_if(lignes.begin(), lignes.end(), [](const QString& l) {
        return l.startsWith(S("Modifier;ECARTE;"));
    });
    ASSERT_NE(ecarte, lignes.end());
    const QString motif = ecarte->section(u';', 2, 2);
    EXPECT_TRUE(motif.startsWith(S("serveur: "))) << motif.toStdString();
    EXPECT_TRUE(motif.contains(S("Mandat gele par le controle"))) << motif.toStdString();
    EXPECT_EQ(ecarte->section(u';', 3, 3), M2);
}

TEST_F(Changement, AJournalTheSystemStopsTakingStopsTheRunAndKeepsEveryCommitNamed) {
    avant = base.Mandats();
    const QStringList ordre = (Verifier(QString(), QString(), false), Listes(false));
    ASSERT_EQ(ordre.size(), 3);
    // Once the first mandate is committed, the journal may grow by ten bytes only.
    const QString chemin =
        ChangerJournalBorne(0, [](const QByteArray& octets) { return octets.size() + 10; });

    // Stopped before the next commit, with the system's refusal in the error box.
    ASSERT_EQ(boxes.errors.size(), 1u);
    EXPECT_TRUE(boxes.errors[0].text.contains(S("n'a pas pu être écrit")))
        << boxes.errors[0].text.toStdString();
    EXPECT_EQ(base.Mandat(ordre[0]).section(u'|', 4, 4), BanqueNouvelle);
    EXPECT_EQ(base.Mandat(ordre[1]), Avant(ordre[1]));
    EXPECT_EQ(base.Mandat(ordre[2]), Avant(ordre[2]));

    // The next listing looks up what the file no longer says: the committed mandate's last
    // line is its CHANGE, and the two others are named nowhere.
    Verifier(QString(), QString(), false);
    const std::vector<QStringList> lignes = LireCsv(Octets(chemin));
    TModeChangement mode{};
    TLigneJournal derniere;
    ASSERT_TRUE(LireLigneJournal(lignes.back(), mode, derniere));
    EXPECT_EQ(derniere.id, ordre[0]);
    EXPECT_EQ(derniere.resultat, Resultat::Change);
    for (const QStringList& l : lignes) {
        EXPECT_FALSE(l.contains(ordre[1])) << l.join(u';').toStdString();
        EXPECT_FALSE(l.contains(ordre[2])) << l.join(u';').toStdString();
    }
}

TEST_F(Changement, AWriteCutShortInsideAQuotedNameLeavesTheCompletionReadable) {
    // A name that must go between quotes, long enough for the cut to land inside it.
    base.Executer(S("UPDATE CLIENTS SET CLI_NOM = 'RAVTEST; de la Tour d''Auvergne' WHERE "
                    "CLI_ID = ") +
                  Client);
    const QStringList ordre = (Verifier(QString(), QString(), false), Listes(false));
    ASSERT_EQ(ordre.size(), 3);
    // Once the first mandate is committed, its CHANGE line (sent with the next EN_COURS) is
    // cut short a few bytes past the opening quote of the client's name.
    const QString chemin = ChangerJournalBorne(0, [](const QByteArray& octets) {
        const qsizetype debut = octets.lastIndexOf("\r\n", octets.size() - 3) + 2;
        const qsizetype guillemet = octets.indexOf('"', debut) - debut;
        // The CHANGE line is two bytes shorter than the EN_COURS line up to the name.
        return octets.size() + guillemet - 2 + 6;
    });
    ASSERT_EQ(boxes.errors.size(), 1u);
    ASSERT_EQ(base.Mandat(ordre[0]).section(u'|', 4, 4), BanqueNouvelle);
    ASSERT_TRUE(Octets(chemin).endsWith("\"RAVTE")) << Octets(chemin).right(80).toStdString();

    // The next listing completes the journal: read back, the committed mandate's last line is
    // its CHANGE, and no line of the journal stays EN_COURS.
    Verifier(QString(), QString(), false);
    std::map<QString, QString> dernier;
    for (const QStringList& l : LireCsv(Octets(chemin))) {
        TModeChangement mode{};
        TLigneJournal ligne;
        if (LireLigneJournal(l, mode, ligne)) dernier[ligne.id] = ligne.resultat;
    }
    EXPECT_EQ(dernier[ordre[0]].toStdString(), "CHANGE") << Octets(chemin).toStdString();
    for (const auto& [id, resultat] : dernier)
        EXPECT_NE(resultat.toStdString(), "EN_COURS") << id.toStdString();
    // And a later start finds nothing left to do.
    const QByteArray complete = Octets(chemin);
    frm = std::make_unique<TfrmPrincipale>();
    EXPECT_EQ(Octets(chemin), complete);
}

TEST_F(Changement, AJournalEditedByHandDoesNotStopTheCompletionOfTheOthers) {
    // Two journals left pending by kills, the older one "corrected" by hand in a spreadsheet:
    // a reference past the column's 35 characters, then one with a character Latin-1 lacks.
    const QString dossier = CreerDossierJournaux();
    const auto journal = [&](const QString& nom, const QString& reference) {
        QFile f(dossier + u'/' + nom);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        TLigneCsv csv;
        csv.Commencer();
        for (const QString& champ : EnTeteJournal())
            csv.Valeur(champ);
        f.write(TLigneCsv::Bom() + csv.Terminer());
        csv.Commencer();
        for (const QString& champ :
             {S("2026-01-01T00:00:00+01:00"), S("Recréer"), S("EN_COURS"), QString(), M1, Client,
              S("RAVTEST Jeanne"), S("RUM-0001"), reference, S("FR7699999678901234567890123"),
              S("FR7612345678901234567890104"), S("ANCIFRPPXXX"), S("OUESFRPPXXX"), BanqueAncienne,
              BanqueNouvelle, QString()})
            csv.Texte(champ);
        f.write(csv.Terminer());
        return f.fileName();
    };
    const QString longue = journal(S("2026-01-01_000000_Recreer.csv"), QString(40, u'R'));
    const QString euro = journal(S("2026-01-01_000001_Recreer.csv"), S("RUM-0001€"));
    const QString juste = journal(S("2026-01-02_000000_Recreer.csv"), S("RUM-0001N"));

    frm = std::make_unique<TfrmPrincipale>();
    EXPECT_TRUE(boxes.errors.empty()) << boxes.errors.front().text.toStdString();
    // M1 was never touched: every journal says so now.
    for (const QString& chemin : {longue, euro, juste}) {
        const std::vector<QStringList> lignes = LireCsv(Octets(chemin));
        TModeChangement mode{};
        TLigneJournal derniere;
        ASSERT_TRUE(LireLigneJournal(lignes.back(), mode, derniere)) << chemin.toStdString();
        EXPECT_EQ(derniere.resultat.toStdString(), "ECARTE") << chemin.toStdString();
        EXPECT_EQ(derniere.motif, Motif::Interrompu) << chemin.toStdString();
    }
    EXPECT_EQ(base.Mandat(M1), Avant(M1));
}

TEST_F(Changement, TheNextStartCompletesWhatAKillLeftPending) {
    // A real run: M1 recreated, M2 locked and passed over.
    ASSERT_EQ(Verifier(QString(), QString(), true), QStringList({M1, M2}));
    base.Verrouiller(M2);
    Changer(1);
    base.Liberer();
    const QString chemin = DernierJournal();
    const QStringList vraies = LignesJournal();
    ASSERT_EQ(vraies.size(), 4);

    // As a kill would have left it: M1 committed but its CHANGE line never written, M2 about
    // to be written, and a last line cut short.
    const QByteArray complet = Octets(chemin);
    QByteArray tue = complet.left(complet.indexOf("\r\n") + 2);
    for (const QByteArray& l : complet.split('\n')) {
        if (l.contains(";EN_COURS;;7000001001;")) tue += l + '\n';
        if (l.contains(";ECARTE;verrou;7000001002;"))
            tue += QByteArray(l).replace(";ECARTE;verrou;", ";EN_COURS;;") + '\n';
    }
    tue += "2026-01-01T00:00:00+01:00;Recr";
    {
        QFile f(chemin);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(tue);
    }
    // A run still writing its journal (another program) is left alone.
    std::optional<TJournal> autre(std::in_place, TModeChangement::Modifier,
                                  QDateTime::currentDateTime());
    TLigneJournal enCours;
    enCours.resultat = Resultat::EnCours;
    enCours.id = M1;
    autre->Ecrire(enCours);
    // ... and one of its mandates was committed: « Modifier » tells by IBAN, BIC and bank.
    const QString m5 = QStringLiteral("7000001005");
    base.Executer(S("UPDATE CLIENTS_MANDAT SET CMAN_IBAN = 'FR7612345111111000000001109', "
                    "CMAN_BIC = 'OUESFRPPXXX', CMAN_IDBANQ = ") +
                  BanqueNouvelle + S(" WHERE CMAN_ID = ") + m5);
    enCours = {Resultat::EnCours,
               QString(),
               m5,
               Client,
               S("RAVTEST Jeanne"),
               S("Y"),
               S("Y"),
               S("FR7688888111111000000001128"),
               S("FR7612345111111000000001109"),
               S("ANCIFRPPXXX"),
               S("OUESFRPPXXX"),
               QString(),
               BanqueNouvelle,
               QString()};
    autre->Ecrire(enCours);
    const QByteArray autreAvant = Octets(autre->Chemin());

    frm = std::make_unique<TfrmPrincipale>();
    EXPECT_TRUE(boxes.errors.empty());
    const QByteArray apres = Octets(chemin);
    ASSERT_TRUE(apres.startsWith(tue + "\r\n"));
    QStringList ajoutees = LignesJournal(chemin).mid(3);
    // M1's columns as its EN_COURS line had them, the outcome from the database.
    const QString m1 = vraies.filter(S(";EN_COURS;;7000001001;")).value(0);
    const QString m2 = vraies.filter(S(";ECARTE;verrou;7000001002;")).value(0);
    ASSERT_FALSE(m1.isEmpty());
    ASSERT_FALSE(m2.isEmpty());
    EXPECT_EQ(ajoutees.size(), 2);
    EXPECT_TRUE(ajoutees.contains(
        QString(m1).replace(S(";EN_COURS;;"), S(";CHANGE;constaté au démarrage;")) +
        S("\"AmdmntInd=true;OrgnlDbtrAgt=SMNDA;OrgnlMndtId=RUM-0001\"")))
        << ajoutees.join(u'\n').toStdString();
    EXPECT_TRUE(
        ajoutees.contains(QString(m2).replace(S(";ECARTE;verrou;"), S(";ECARTE;interrompu;"))))
        << ajoutees.join(u'\n').toStdString();
    EXPECT_EQ(Octets(autre->Chemin()), autreAvant);

    // Once that run is over, the next start completes its journal too, and nothing twice.
    const QString autreChemin = autre->Chemin();
    autre.reset();
    frm = std::make_unique<TfrmPrincipale>();
    EXPECT_EQ(Octets(chemin), apres);
    const QStringList autreLignes = LignesJournal(autreChemin);
    ASSERT_EQ(autreLignes.size(), 4);
    EXPECT_TRUE(autreLignes[2].startsWith(S("Modifier;ECARTE;interrompu;7000001001;")))
        << autreLignes[2].toStdString();
    EXPECT_EQ(autreLignes[3],
              S("Modifier;CHANGE;constaté au démarrage;7000001005;7000000101;RAVTEST Jeanne;Y;Y;"
                "FR7688888111111000000001128;FR7612345111111000000001109;ANCIFRPPXXX;OUESFRPPXXX;;"
                "5294967297;\"AmdmntInd=true;OrgnlDbtrAgt=SMNDA\""));
    EXPECT_TRUE(boxes.errors.empty());
}

#include "test_changement.moc"

// ---------------------------------------------------------------------------------------------
// Giving a run back from its journal

namespace {

class Annulation : public Changement {
protected:
    // « Annuler un passage… » from the tool bar, the user choosing `chemin` in the dialog.
    void Annuler(const QString& chemin) {
        QString dossier;
        SetOpenFileHandler([&](const QString&, const QString& d) {
            dossier = d;
            return chemin;
        });
        frm->btnAnnuler->click();
        SetOpenFileHandler(nullptr);
        EXPECT_EQ(dossier, DossierJournaux());
    }
    // The outcome lines of a journal: "result;reason;CMAN_ID", sorted.
    static QStringList Issues(const QString& chemin) {
        QStringList issues;
        for (const QString& l : LignesJournal(chemin))
            if (!l.contains(S(";EN_COURS;"))) issues << l.section(u';', 1, 3);
        issues.sort();
        return issues;
    }
};

TEST_F(Annulation, AModifierRunGivenBackLeavesEveryRowAsItWasButWhatAColleagueChangedSince) {
    Verifier(QString(), QString(), false);
    Changer(0);
    const QString passage = DernierJournal();
    // After the run, a colleague corrects M3's account.
    base.Executer(S("UPDATE CLIENTS_MANDAT SET CMAN_IBAN = 'FR7612345000001111111111122' WHERE "
                    "CMAN_ID = ") +
                  M3);
    const QString corrige = base.Mandat(M3);
    boxes.messages.clear();
    Annuler(passage);
    ASSERT_EQ(boxes.messages.size(), 2u);
    EXPECT_TRUE(boxes.messages[0].text.startsWith(S("3 mandats de ce passage (Modifier, ") +
                                                  QDate::currentDate().toString(S("dd/MM/yyyy"))))
        << boxes.messages[0].text.toStdString();
    EXPECT_TRUE(boxes.messages[0].text.endsWith(
        S(") seront rendus à leur banque d'origine. Voulez-vous continuer ?")));
    EXPECT_EQ(Boite(), QStringList({S("2 mandats sur 3 ont été rendus à leur banque d'origine."),
                                    S("1 n'a pas pu l'être :"),
                                    S("modifiés ou supprimés depuis le passage : 1")}));
    // Column by column as before the run, M2's bank null again; M3 as the colleague left it.
    QStringList attendu = avant;
    attendu[2] = corrige;
    EXPECT_EQ(base.Mandats(), attendu);
    const QString annulation = DernierJournal();
    EXPECT_TRUE(annulation.endsWith(S("_Annulation.csv"))) << annulation.toStdString();
    EXPECT_EQ(Issues(annulation), QStringList({S("CHANGE;;7000001001"), S("CHANGE;;7000001002"),
                                               S("ECARTE;modifie;7000001003")}));
    // Its lines say what each mandate went from and back to.
    for (const QString& l : LignesJournal(annulation))
        if (l.section(u';', 3, 3) == M1) {
            EXPECT_EQ(l.section(u';', 0, 0), S("Annulation Modifier"));
            EXPECT_EQ(l.section(u';', 8, 12),
                      S("FR7612345678901234567890104;FR7699999678901234567890123;OUESFRPPXXX;"
                        "ANCIFRPPXXX;") +
                          BanqueNouvelle);
        }

    // A second undo of the same run changes nothing; an undo's own journal is refused.
    boxes.messages.clear();
    Annuler(passage);
    EXPECT_EQ(base.Mandats(), attendu);
    EXPECT_EQ(Boite(), QStringList({S("0 mandats sur 3 ont été rendus à leur banque d'origine."),
                                    S("3 n'ont pas pu l'être :"),
                                    S("modifiés ou supprimés depuis le passage : 3")}));
    const QStringList journaux = Journaux();
    boxes.messages.clear();
    Annuler(annulation);
    ASSERT_EQ(boxes.messages.size(), 1u);
    EXPECT_TRUE(boxes.messages[0].text.contains(S("c'est le journal d'une annulation")));
    EXPECT_EQ(Journaux(), journaux);
}

TEST_F(Annulation, ARecreerRunGivenBackEndsTheCopiesAndMakesTheOriginalsActiveAgain) {
    ASSERT_EQ(Verifier(QString(), QString(), true), QStringList({M1, M2}));
    Changer(1);
    const QString passage = DernierJournal();
    const QStringList apresRun = base.Mandats();
    const qint64 generateur = base.Generateur();
    Annuler(passage);
    EXPECT_EQ(Boite(), QStringList({S("2 mandats sur 2 ont été rendus à leur banque d'origine.")}));
    // Nothing deleted, no identifier taken: the originals as they were, the copies ended.
    ASSERT_EQ(base.Mandats().size(), apresRun.size());
    EXPECT_EQ(base.Generateur(), generateur);
    QStringList attendu = avant;
    for (const QString& ligne : apresRun)
        if (Avant(ligne.section(u'|', 0, 0)).isEmpty())
            attendu << QString(ligne).replace(S("|-1|"), S("|0|"));
    attendu.sort();
    const auto mandats = [this] {
        QStringList lignes = base.Mandats();
        lignes.sort();
        return lignes;
    };
    EXPECT_EQ(mandats(), attendu);
    EXPECT_EQ(Issues(DernierJournal()),
              QStringList({S("CHANGE;;7000001001"), S("CHANGE;;7000001002")}));
    // The list on screen was read again: both are at the old bank once more.
    EXPECT_EQ(Listes(), QStringList({M1, M2}));

    boxes.messages.clear();
    Annuler(passage);
    EXPECT_EQ(mandats(), attendu);
    EXPECT_EQ(Boite().value(1), S("2 n'ont pas pu l'être :"));
}

TEST_F(Annulation, AFileThatIsNoRunsJournalIsRefusedAndNothingIsWritten) {
    Verifier(QString(), QString(), false);
    Changer(0);
    const QString passage = DernierJournal();
    const QByteArray octets = Octets(passage);
    const QStringList apresRun = base.Mandats();
    QTemporaryDir dossier;
    const auto fichier = [&](const char* nom, const QByteArray& contenu) {
        const QString chemin = dossier.filePath(QLatin1String(nom));
        QFile f(chemin);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(contenu);
        return chemin;
    };
    QByteArray injecte = octets;
    injecte.replace(M1.toLatin1() + ';', "1 OR 1=1;");
    QByteArray ecartes = octets;
    ecartes.replace(";CHANGE;", ";ECARTE;");
    const std::vector<std::pair<QString, const char*>> cas = {
        {dossier.filePath(S("absent.csv")), "il n'a pas pu être lu"},
        {fichier("export.csv", "CMAN_ID;NP\r\n1;X\r\n"), "ce n'est pas un journal"},
        {fichier("vide.csv", octets.left(octets.indexOf("\r\n") + 2)), "aucun mandat"},
        {fichier("injecte.csv", injecte), "ne nomme pas un mandat par ses numéros"},
        {fichier("ecartes.csv", ecartes), "n'a changé aucun mandat"},
    };
    const QStringList journaux = Journaux();
    for (const auto& [chemin, raison] : cas) {
        boxes.messages.clear();
        Annuler(chemin);
        ASSERT_EQ(boxes.messages.size(), 1u) << raison;
        EXPECT_TRUE(boxes.messages[0].text.contains(QString::fromUtf8(raison)))
            << boxes.messages[0].text.toStdString();
        EXPECT_EQ(base.Mandats(), apresRun) << raison;
        EXPECT_EQ(Journaux(), journaux) << raison;
    }
    // Cut short inside its last outcome, a journal is read as far as its lines are whole. Kept
    // elsewhere, its mandate left EN_COURS cannot be looked up: refused. In the journals'
    // folder, that mandate is looked up first, found changed, and given back with the others.
    const QByteArray coupe = octets.left(octets.size() - 10);
    boxes.messages.clear();
    Annuler(fichier("coupe.csv", coupe));
    ASSERT_EQ(boxes.messages.size(), 1u);
    EXPECT_TRUE(boxes.messages[0].text.contains(S("encore « EN_COURS »")));
    QFile::remove(passage);
    {
        QFile f(passage);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(coupe);
    }
    boxes.messages.clear();
    Annuler(passage);
    EXPECT_EQ(Boite().value(0), S("3 mandats sur 3 ont été rendus à leur banque d'origine."));
    EXPECT_TRUE(Octets(passage).contains(Motif::ConstateAuDemarrage.toUtf8()));
    EXPECT_EQ(base.Mandats(), avant);
    // Saved again by a spreadsheet with LF line ends, the whole journal reads as well: its three
    // mandates, given back already, are passed over.
    QByteArray lf = octets;
    lf.replace("\r\n", "\n");
    boxes.messages.clear();
    Annuler(fichier("lf.csv", lf));
    EXPECT_EQ(Boite().value(0), S("0 mandats sur 3 ont été rendus à leur banque d'origine."));
}

} // namespace
