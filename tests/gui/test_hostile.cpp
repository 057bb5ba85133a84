// Hostile text through the windows: search texts, branch codes and bank names made of quotes,
// wildcards, comment markers, statement separators, very long runs, control characters and
// characters the connection's 8-bit set cannot hold. Every statement stays valid, every list is
// what its rule says, a text that cannot be sent is refused with a clear error, and the database
// holds exactly what the user asked for: every user table is compared, row by row, from a second
// connection.
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
#include "ufrmBanqueChoix.h"

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMap>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>

// Failures show the texts themselves.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

using Texte = std::optional<QString>; // a column that may be null

// A second connection of the program's kind: it sets hostile data up through parameters, so the
// data never depend on the quoting under test, and reads the database back.
class Base {
public:
    Base() {
        FDb.SetSynchronizeTime(false);
        ConfigureProgramConnection(FDb);
        FDb.Open(true);
    }

    // The values go to :V0, :V1, … in order; an absent one is null.
    void Executer(const QString& sql, const std::vector<Texte>& valeurs = {}) {
        TOwnStatement s(FDb, sql);
        TpFIBQuery& q = s.q;
        q.Prepare();
        for (size_t i = 0; i < valeurs.size(); ++i) {
            TFIBXSQLVAR* v = q.ParamByName(S("V") + QString::number(i));
            if (valeurs[i])
                v->SetAsString(*valeurs[i]);
            else
                v->SetIsNull(true);
        }
        q.ExecQuery();
        q.Close();
        s.tr.Commit();
    }

    std::vector<std::vector<Texte>> Lignes(const QString& sql) {
        TOwnStatement s(FDb, sql);
        TpFIBQuery& q = s.q;
        q.ExecQuery();
        std::vector<std::vector<Texte>> rows;
        for (; !q.Eof(); q.Next()) {
            std::vector<Texte> row;
            for (int i = 0; i < q.FieldCount(); ++i)
                row.push_back(q.Fields(i)->IsNull() ? Texte() : Texte(q.Fields(i)->AsString()));
            rows.push_back(row);
        }
        q.Close();
        s.tr.Commit();
        return rows;
    }

    // Every user table, each row's columns joined ("~" for null), rows sorted; and the
    // generator. Two equal snapshots: nothing was written anywhere.
    QMap<QString, QStringList> Instantane() {
        QMap<QString, QStringList> tables;
        for (const auto& t : Lignes(S("SELECT TRIM(RDB$RELATION_NAME) FROM RDB$RELATIONS WHERE "
                                      "COALESCE(RDB$SYSTEM_FLAG, 0) = 0 AND RDB$VIEW_BLR IS NULL")))
            tables[*t[0]] = Table(*t[0]);
        tables[S("IDGENERIQUE")] =
            QStringList{*Lignes(S("SELECT GEN_ID(IDGENERIQUE, 0) FROM RDB$DATABASE"))[0][0]};
        return tables;
    }
    QStringList Table(const QString& nom) {
        QStringList rows;
        for (const auto& r : Lignes(S("SELECT * FROM ") + nom)) {
            QStringList cols;
            for (const Texte& c : r)
                cols << c.value_or(S("~"));
            rows << cols.join(u'|');
        }
        rows.sort();
        return rows;
    }

private:
    TpFIBDatabase FDb;
};

// The layer's refusal of a character its 8-bit connection cannot carry, at the position (1-based,
// in characters) where it stands in the text sent.
QString Refus(const QString& envoye) {
    int position = 0;
    for (char32_t c : envoye.toUcs4()) {
        ++position;
        if (c > 0xFF)
            return S("Character U+%1 at position %2 cannot be sent in the connection's character "
                     "set.")
                .arg(QString::number(c, 16).toUpper().rightJustified(4, u'0'))
                .arg(position);
    }
    return {};
}

bool HorsLatin1(const QString& s) {
    return !Refus(s).isEmpty();
}

// The server's LIKE without ESCAPE: "%" any run, "_" any one character, everything else itself.
bool Like(const Texte& valeur, const QString& motif) {
    if (!valeur) return false;
    QString re;
    for (QChar c : motif)
        re += c == u'%' ? S(".*") : c == u'_' ? S(".") : QRegularExpression::escape(QString(c));
    return QRegularExpression(S("\\A(?:") + re + S(")\\z"),
                              QRegularExpression::DotMatchesEverythingOption)
        .match(*valeur)
        .hasMatch();
}

QString Rogne(const QString& s) { // blanks and control characters off both ends
    qsizetype a = 0, b = s.size();
    while (a < b && s[a].unicode() <= u' ')
        ++a;
    while (b > a && s[b - 1].unicode() <= u' ')
        --b;
    return s.mid(a, b - a);
}

struct Banque {
    Texte id, nom, bic, code, debut, fin;
};

// The banks the chooser's rule lists for a search text: the text, wrapped in "%", LIKE any of
// name, BIC and codes, or its first three characters inside a code range.
QStringList Attendus(const std::vector<Banque>& banques, const QString& recherche) {
    const QString s = Rogne(recherche);
    const QString motif = u'%' + s + u'%';
    const QString p0 = s.left(3);
    QStringList noms;
    for (const Banque& b : banques) {
        const bool plage = b.debut && b.fin && *b.debut <= p0 && p0 <= *b.fin;
        if (s.isEmpty() || Like(b.nom, motif) || Like(b.bic, motif) || Like(b.code, motif) ||
            Like(b.debut, motif) || Like(b.fin, motif) || plage)
            noms << *b.nom;
    }
    noms.sort();
    return noms;
}

QStringList Listes(TpFIBDataSet* ids) {
    QStringList noms;
    if (!ids->Active()) return noms;
    for (ids->First(); !ids->Eof(); ids->Next())
        noms << ids->FieldByName(S("BANQ_SOCIETE"))->AsString();
    noms.sort();
    return noms;
}

// How a text reaches an edit box: typed key by key, or pasted whole.
enum class Saisie { Tapee, Collee };

// One key per character, each carrying its text, as a keyboard or an input method sends it:
// the test library's own typing knows only ASCII.
void Taper(QWidget* w, const QString& texte) {
    for (char32_t c : texte.toUcs4()) {
        const QString t = QString::fromUcs4(&c, 1);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, t);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, t);
        QApplication::sendEvent(w, &press);
        QApplication::sendEvent(w, &release);
    }
}

void Entrer(QLineEdit* edit, const QString& texte, Saisie saisie) {
    edit->clear();
    if (saisie == Saisie::Tapee)
        Taper(edit, texte);
    else
        edit->insert(texte);
}

const qint64 PremierId = 8300000001LL; // the tests' own rows, far from the demo data's
const QString Client = S("8300000900");

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        Nettoyer();
        // Banks for the searches to find: every hostile piece stands in some name or code.
        AjouterBanque(1, S("L'ÉPARGNE À 100% SÛRE"), S("EPARFR2X"), S("83001"));
        AjouterBanque(2, S("CAISSE_DU_LARGE; /* X */ -- FIN \\ ''DOUBLE''"), S("CAISFRPP"), Texte(),
                      S("8300A"), S("8300Z"));
        AjouterBanque(3, S("ÿ µ banque en minuscules"), S("MINUFRPP"), S("83003"));
        for (const auto& r : base.Lignes(S("SELECT BANQ_ID, BANQ_SOCIETE, BANQ_BIC, BANQ_BANQUE, "
                                           "BANQ_BE_DEBUT, BANQ_BE_FIN FROM BANQUE")))
            banques.push_back({r[0], r[1], r[2], r[3], r[4], r[5]});
        frm = std::make_unique<TfrmPrincipale>();
        ASSERT_TRUE(boxes.errors.empty()) << boxes.errors.front().text.toStdString();
    }
    void TearDown() override {
        frm.reset();
        Nettoyer();
    }
    void Nettoyer() {
        base.Executer(S("DELETE FROM CLIENTS_MANDAT WHERE CMAN_IDCLI = ") + Client);
        base.Executer(S("DELETE FROM CLIENTS WHERE CLI_ID = ") + Client);
        base.Executer(S("DELETE FROM BANQUE WHERE BANQ_ID BETWEEN 8300000000 AND 8300000899"));
    }
    void AjouterBanque(int n, const Texte& nom, const Texte& bic, const Texte& code,
                       const Texte& debut = {}, const Texte& fin = {}) {
        base.Executer(S("INSERT INTO BANQUE (BANQ_ID, BANQ_SOCIETE, BANQ_BIC, BANQ_BANQUE, "
                        "BANQ_BE_DEBUT, BANQ_BE_FIN) VALUES (:V0, :V1, :V2, :V3, :V4, :V5)"),
                      {QString::number(PremierId + n - 1), nom, bic, code, debut, fin});
    }
    void Mandat(int n, const QString& banque, const QString& iban, const QString& reference) {
        base.Executer(S("INSERT INTO CLIENTS_MANDAT (CMAN_ID, CMAN_IDCLI, CMAN_ACTIF, "
                        "CMAN_SIGNATURE, CMAN_IDBANQ, CMAN_IBAN, CMAN_BIC, CMAN_NOMBANQUE, "
                        "CMAN_MANDAT, CMAN_PAYEUR, CMAN_ADRESSE1, CMAN_ADRESSE2, CMAN_CPVILLE, "
                        "CMAN_CREATION_IDCTR) VALUES (:V0, :V1, -1, DATE '2016-05-04', :V2, :V3, "
                        "'ANCIFRPPXXX', 'Ancienne', :V4, 'Payeur', 'Adresse', NULL, 'Ville', 7)"),
                      {QString::number(PremierId + 800 + n), Client, banque, iban, reference});
    }
    void AjouterClient() {
        base.Executer(S("INSERT INTO CLIENTS (CLI_ID, CLI_NOM, CLI_PRENOM) VALUES (:V0, "
                        "'HOSTILE', 'Test')"),
                      {Client});
    }

    // Clicks a bank label and, in the chooser it opens, searches the text and confirms the
    // first row.
    void Choisir(TClickLabel* label, const QString& recherche) {
        QTimer::singleShot(0, [&] {
            auto* dlg = qobject_cast<TfrmBanqueChoix*>(QApplication::activeModalWidget());
            if (!dlg) return;
            Entrer(dlg->edtRecherche, recherche, Saisie::Tapee);
            QTest::keyClick(dlg->edtRecherche, Qt::Key_Return);
            QTest::mouseClick(dlg->btnOK, Qt::LeftButton);
            if (dlg->isVisible()) dlg->done(-5);
        });
        QTest::mouseClick(label, Qt::LeftButton);
    }
    QStringList ListeMandats() {
        QStringList ids;
        if (!frm->idsBanque->Active()) return ids;
        for (frm->idsBanque->First(); !frm->idsBanque->Eof(); frm->idsBanque->Next())
            ids << frm->idsBanqueCMAN_ID->AsString();
        ids.sort();
        return ids;
    }
    QString Erreurs() const {
        QStringList texts;
        for (const RecordedBox& b : boxes.errors)
            texts << b.text;
        return texts.join(S(" / "));
    }

    BoxRecorder boxes;
    Base base;
    std::vector<Banque> banques;
    std::unique_ptr<TfrmPrincipale> frm;
};

} // namespace

TEST_F(Hostile, SearchTextsListWhatLikeSaysOrAreRefusedAndWriteNothing) {
    struct Cas {
        const char* nom;
        QString texte;
        Saisie saisie;
    };
    const QChar nul(0);
    const std::vector<Cas> cas = {
        {"apostrophe", S("'"), Saisie::Tapee},
        {"two apostrophes", S("''"), Saisie::Tapee},
        {"percent: every bank", S("%"), Saisie::Tapee},
        {"underscore: every bank", S("_"), Saisie::Tapee},
        {"a wildcard between letters", S("SSE_DU"), Saisie::Tapee},
        {"injected delete", S("a'; DELETE FROM BANQUE; --"), Saisie::Tapee},
        {"block comment", S("/* x */"), Saisie::Tapee},
        {"line comment", S("-- x"), Saisie::Tapee},
        {"semicolon", S(";"), Saisie::Tapee},
        {"backslash", S("\\"), Saisie::Tapee},
        {"10,000 characters", QString(10000, u'Q'), Saisie::Collee},
        {"10,000 apostrophes", QString(10000, u'\''), Saisie::Collee},
        {"Latin-1 letters whose capitals are not", S("ÿ µ"), Saisie::Tapee},
        {"euro sign", S("100 €"), Saisie::Tapee},
        {"omega", S("Ω"), Saisie::Tapee},
        {"CJK", S("BANQUE 中"), Saisie::Tapee},
        {"emoji", S("BANQUE 😀"), Saisie::Collee},
        {"NUL inside", S("L'") + nul + S("ÉPARGNE"), Saisie::Collee},
        {"NUL and controls only", QString(nul) + S("\x01\x1f"), Saisie::Collee},
        {"bell and tab inside", S("L'\a\tÉ"), Saisie::Collee},
    };
    TfrmBanqueChoix dlg(nullptr, frm->dbSource);
    ASSERT_TRUE(dlg.DataInitialisation(-1, true, false));
    dlg.show();
    const auto avant = base.Instantane();
    int n = 0;
    for (const Cas& c : cas) {
        SCOPED_TRACE(c.nom);
        boxes.errors.clear();
        Entrer(dlg.edtRecherche, c.texte, c.saisie);
        // The picture and Enter, in turn.
        if (++n % 2)
            QTest::keyClick(dlg.edtRecherche, Qt::Key_Return);
        else
            QTest::mouseClick(dlg.btnGo, Qt::LeftButton);
        const QString saisi = dlg.edtRecherche->text();
        EXPECT_EQ(saisi.size(), c.texte.size());
        EXPECT_TRUE(dlg.isVisible());
        if (HorsLatin1(saisi)) {
            ASSERT_EQ(boxes.errors.size(), 1u);
            EXPECT_EQ(boxes.errors[0].text, Refus(dlg.idsListe->SelectSQL().Text()));
            EXPECT_FALSE(dlg.idsListe->Active());
        } else {
            EXPECT_EQ(Erreurs(), QString());
            EXPECT_EQ(Listes(dlg.idsListe), Attendus(banques, saisi));
        }
        EXPECT_EQ(base.Instantane(), avant);
    }
    // Letters are still capitals, wildcards still find, and the dialog still lists after all.
    Entrer(dlg.edtRecherche, S("l'épargne à 100%"), Saisie::Tapee);
    QTest::keyClick(dlg.edtRecherche, Qt::Key_Return);
    EXPECT_EQ(Listes(dlg.idsListe), QStringList{S("L'ÉPARGNE À 100% SÛRE")});
    Entrer(dlg.edtRecherche, S("ÿ µ"), Saisie::Tapee);
    EXPECT_EQ(dlg.edtRecherche->text(), S("ÿ µ"));
    dlg.done(TfrmBanqueChoix::mrCancel);
}

TEST_F(Hostile, BranchCodesStayValuesInTheListingAndTheRun) {
    AjouterClient();
    const QString ancienne = QString::number(PremierId), nouvelle = QString::number(PremierId + 2);
    const QStringList guichets = {S("67890"), S("'''''"), S("%'--;"), S("1'--;")};
    QStringList ids;
    for (int i = 0; i < guichets.size(); ++i) {
        Mandat(i, ancienne, S("FR7683001") + guichets[i] + S("1234567890123"), S("R"));
        ids << QString::number(PremierId + 800 + i);
    }
    Choisir(frm->lblAncien_Info, S("83001"));
    Choisir(frm->lblNouveau_Info, S("83003"));
    ASSERT_EQ(frm->Ancien_ID, PremierId);
    ASSERT_EQ(frm->Nouveau_Code, S("83003"));
    frm->cbxActif->setChecked(true);
    const auto avant = base.Instantane();

    // The old branch code: at most five characters get in, and the listed mandates are those
    // whose IBAN carries exactly that text at positions 10 to 14 when it is five characters
    // once trimmed.
    struct Cas {
        const char* nom;
        QString texte;
        Saisie saisie;
    };
    const QChar nul(0);
    const std::vector<Cas> anciens = {
        {"five apostrophes", S("'''''"), Saisie::Tapee},
        {"percent, quote, comment, semicolon", S("%'--;"), Saisie::Tapee},
        {"digit, quote, comment, semicolon", S("1'--;"), Saisie::Tapee},
        {"wildcards are plain characters here", S("%%%%%"), Saisie::Tapee},
        {"underscores", S("_____"), Saisie::Tapee},
        {"injected delete, cut at five", S("a'; DELETE FROM CLIENTS_MANDAT; --"), Saisie::Tapee},
        {"pasted injection, cut at five", S("'); DELETE FROM CLIENTS_MANDAT; --"), Saisie::Collee},
        {"block comment", S("/*x*/"), Saisie::Tapee},
        {"backslashes", S("\\\\\\\\\\"), Saisie::Tapee},
        {"NUL at the end is trimmed off", S("6789") + nul, Saisie::Collee},
        {"NUL inside", S("67") + nul + S("90"), Saisie::Collee},
        {"CJK alone is no branch code", S("中"), Saisie::Tapee},
        {"euro in five characters", S("€1234"), Saisie::Tapee},
        {"emoji in five characters", S("1😀23"), Saisie::Collee},
    };
    for (const Cas& c : anciens) {
        SCOPED_TRACE(c.nom);
        boxes.errors.clear();
        Entrer(frm->edtAncienGuichet, c.texte, c.saisie);
        frm->edtNouveauGuichet->setText(S("55555"));
        const QString saisi = frm->edtAncienGuichet->text();
        EXPECT_EQ(saisi, c.texte.left(5));
        frm->btnVerifier->click();
        if (HorsLatin1(saisi) && Rogne(saisi).size() == 5) {
            ASSERT_EQ(boxes.errors.size(), 1u);
            EXPECT_EQ(boxes.errors[0].text, Refus(frm->idsBanque->SelectSQL().Text()));
            EXPECT_FALSE(frm->idsBanque->Active());
        } else {
            EXPECT_EQ(Erreurs(), QString());
            QStringList attendus;
            for (int i = 0; i < guichets.size(); ++i)
                if (Rogne(saisi).size() != 5 || guichets[i] == saisi) attendus << ids[i];
            EXPECT_EQ(ListeMandats(), attendus);
        }
        EXPECT_EQ(base.Instantane(), avant);
    }

    // The new branch code goes into the new RIB: five characters the key cannot read stop the
    // run at its first mandate with the conversion error, any other length passes every mandate
    // over; nothing is written either way.
    frm->edtAncienGuichet->clear();
    const std::vector<Cas> nouveaux = {
        {"quote and comment", S("'; --"), Saisie::Tapee},
        {"quote among digits", S("12'45"), Saisie::Tapee},
        {"wildcards", S("%_%_%"), Saisie::Tapee},
        {"euro among digits", S("€1234"), Saisie::Tapee},
        {"CJK alone", S("中"), Saisie::Tapee},
        {"NUL among digits", S("12") + nul + S("45"), Saisie::Collee},
        {"four digits", S("1234"), Saisie::Tapee},
    };
    for (const Cas& c : nouveaux) {
        SCOPED_TRACE(c.nom);
        boxes.errors.clear();
        boxes.messages.clear();
        Entrer(frm->edtNouveauGuichet, c.texte, c.saisie);
        frm->btnVerifier->click();
        ASSERT_EQ(ListeMandats(), ids);
        frm->rgoMandat->SetItemIndex(0);
        frm->btnChanger->click();
        if (c.texte.size() == 5) {
            ASSERT_EQ(boxes.errors.size(), 1u);
            EXPECT_TRUE(boxes.errors[0].text.endsWith(S("n'est pas une valeur entière correcte.")))
                << boxes.errors[0].text.toStdString();
        } else {
            EXPECT_EQ(Erreurs(), QString());
            // A branch code that is no five characters makes no RIB: each mandate is passed
            // over for its account data.
            EXPECT_TRUE(boxes.messages.back().text.startsWith(
                S("4 mandats sur 4 n'ont pas pu être changés : ils restent dans la liste.\n"
                  "données de compte incomplètes : 4\nJournal : ")))
                << boxes.messages.back().text.toStdString();
        }
        EXPECT_FALSE(frm->transLocale->Active());
        EXPECT_EQ(base.Instantane(), avant);
    }

    // And a plain new branch code moves all four, whatever their old branch holds.
    boxes.errors.clear();
    Entrer(frm->edtNouveauGuichet, S("55555"), Saisie::Tapee);
    frm->btnVerifier->click();
    frm->btnChanger->click();
    EXPECT_EQ(Erreurs(), QString());
    const auto rows = base.Lignes(
        S("SELECT CMAN_IDBANQ, CMAN_IBAN FROM CLIENTS_MANDAT WHERE CMAN_IDCLI = ") + Client);
    ASSERT_EQ(rows.size(), 4u);
    for (const auto& r : rows) {
        EXPECT_EQ(*r[0], nouvelle);
        EXPECT_EQ(r[1]->mid(4, 21), S("830035555512345678901"));
    }
}

TEST_F(Hostile, BankNamesAndBicsAreStoredAsTheyStand) {
    AjouterClient();
    struct Cas {
        const char* nom;
        QString banque;
        QString bic;
    };
    QString longue;
    while (longue.size() < 100)
        longue += S("L'ÉCU d'Or; ");
    longue.truncate(100);
    const std::vector<Cas> cas = {
        {"injected delete", S("O'Brien'); DELETE FROM CLIENTS_MANDAT; --"), S("OB');--")},
        {"the column's whole length", longue, S("'''''''''''")},
        {"parameter markers in quotes", S("Banque ? :P0 :CMAN_MANDAT ?"), S(":P0?")},
        {"comments, wildcards, backslash", S("/* x */ -- ; 100% _ \\ \" fin"), S("%_;/*")},
        {"rich text", S("<b>Gras</b> &amp; <i>co</i>"), S("<b>X</b>")},
        {"control characters", S("Tab\there\x01"), S("BELL\a")},
    };
    // The old bank: one mandate to recreate per case.
    Choisir(frm->lblAncien_Info, S("83001"));
    ASSERT_EQ(frm->Ancien_ID, PremierId);
    int n = 10;
    for (const Cas& c : cas) {
        SCOPED_TRACE(c.nom);
        ++n;
        boxes.errors.clear();
        boxes.messages.clear();
        const QString code = QString::number(83000 + n);
        AjouterBanque(n, c.banque, c.bic, code);
        Mandat(n, QString::number(PremierId), S("FR7683001678901234567890123"), S("RUM-") + code);
        const QString ancien = QString::number(PremierId + 800 + n);

        Choisir(frm->lblNouveau_Info, code);
        ASSERT_EQ(frm->Nouveau_Nom, c.banque);
        ASSERT_EQ(frm->Nouveau_BIC, c.bic);
        const QString etiquette = c.banque + S(" (") + code + u'/' + c.bic + u')';
        EXPECT_EQ(frm->lblNouveau_Info->text(), etiquette);
        // The label shows the name as it stands, not as markup.
        QLabel brut;
        brut.setTextFormat(Qt::PlainText);
        brut.setFont(frm->lblNouveau_Info->font());
        // The room of the focus frame.
        brut.setMargin(frm->lblNouveau_Info->margin());
        brut.setFocusPolicy(frm->lblNouveau_Info->focusPolicy());
        brut.setText(etiquette);
        EXPECT_EQ(frm->lblNouveau_Info->sizeHint(), brut.sizeHint());

        frm->edtAncienGuichet->clear();
        frm->edtNouveauGuichet->clear();
        frm->btnVerifier->click();
        ASSERT_EQ(ListeMandats(), QStringList{ancien});
        auto attendu = base.Instantane();
        const qint64 generateur = attendu[S("IDGENERIQUE")][0].toLongLong();
        frm->rgoMandat->SetItemIndex(1);
        frm->btnChanger->click();
        EXPECT_EQ(Erreurs(), QString());
        ASSERT_EQ(boxes.messages.size(), 2u) << boxes.messages.back().text.toStdString();

        // Exactly one new row, the old one deactivated, nothing else anywhere.
        const QString nouveau = QString::number(generateur + 1);
        const auto rows = base.Lignes(
            S("SELECT CMAN_IDBANQ, CMAN_IBAN, CMAN_BIC, CMAN_NOMBANQUE, CMAN_MANDAT, CMAN_ACTIF "
              "FROM CLIENTS_MANDAT WHERE CMAN_ID = ") +
            nouveau);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(*rows[0][0], QString::number(PremierId + n - 1));
        EXPECT_EQ(rows[0][1]->mid(4, 10), code + S("67890"));
        EXPECT_EQ(*rows[0][2], c.bic);
        EXPECT_EQ(*rows[0][3], c.banque);
        EXPECT_EQ(*rows[0][4], S("RUM-") + code + u'N');
        EXPECT_EQ(*rows[0][5], S("-1"));
        QStringList& mandats = attendu[S("CLIENTS_MANDAT")];
        for (QString& row : mandats)
            if (row.startsWith(ancien + u'|')) row.replace(S("|-1|"), S("|0|"));
        const QStringList copie =
            base.Table(S("CLIENTS_MANDAT")).filter(QRegularExpression(S("^") + nouveau + S("\\|")));
        ASSERT_EQ(copie.size(), 1);
        mandats << copie[0];
        mandats.sort();
        attendu[S("IDGENERIQUE")] = QStringList{nouveau};
        EXPECT_EQ(base.Instantane(), attendu);
    }

    // "Modifier" takes the BIC through a parameter: stored as it stands too.
    boxes.messages.clear();
    Mandat(99, QString::number(PremierId), S("FR7683001678901234567890123"), S("RUM-M"));
    Choisir(frm->lblNouveau_Info, S("83011"));
    frm->btnVerifier->click();
    frm->rgoMandat->SetItemIndex(0);
    frm->btnChanger->click();
    EXPECT_EQ(Erreurs(), QString());
    const auto rows = base.Lignes(S("SELECT CMAN_BIC, CMAN_NOMBANQUE FROM CLIENTS_MANDAT WHERE "
                                    "CMAN_ID = ") +
                                  QString::number(PremierId + 899));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(*rows[0][0], S("OB');--"));
    EXPECT_EQ(*rows[0][1], S("Ancienne"));
}
