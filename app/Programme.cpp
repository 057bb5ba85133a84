#include "Programme.h"

#include "SysUtils.h"
#include "pFIBDataSet.h"
#include "pFIBQuery.h"
#include "uFonctions_Verification.h"

#include <type_traits>

QString ProgramDatabaseName() {
    return QStringLiteral("127.0.0.1:TALVIK_GESTION");
}

QString ProgramLibraryName() {
    return QStringLiteral("fbClient.dll");
}

QStringList ProgramConnectParams(const QString& password) {
    return {QStringLiteral("user_name=SYSDBA"), QStringLiteral("lc_ctype=ISO8859_1"),
            QStringLiteral("password=") + password};
}

QStringList ProgramConnectParams(const TConnexionProgramme& connexion, const QString& password) {
    QStringList lines = ProgramConnectParams(password);
    if (connexion.CompteSaisi()) lines[0] = QStringLiteral("user_name=") + connexion.Utilisateur;
    if (!connexion.Role.isEmpty())
        lines.insert(2, QStringLiteral("sql_role_name=") + connexion.Role);
    if (!connexion.Configuree) return lines;
    lines << QStringLiteral("connect_timeout=") + QString::number(connexion.DelaiConnexion);
    using TChiffrement = TConnexionProgramme::TChiffrement;
    const char* wireCrypt = connexion.Chiffrement == TChiffrement::Requis  ? "Required"
                            : connexion.Chiffrement == TChiffrement::Actif ? "Enabled"
                                                                           : "Disabled";
    lines << QStringLiteral("config=WireCrypt = ") + QLatin1String(wireCrypt);
    // Legacy_Auth, which the client offers by default, would hand a server a password
    // equivalent.
    lines << QStringLiteral("config=AuthClient = Srp256, Srp");
    return lines;
}

void ExigerRole(TFIBDatabase& db, const TConnexionProgramme& connexion) {
    if (connexion.Role.isEmpty()) return;
    QString role;
    QString utilisateur;
    {
        TpFIBTransaction tr;
        tr.SetDefaultDatabase(&db);
        tr.TRParams().SetStringList({QStringLiteral("read"), QStringLiteral("read_committed"),
                                     QStringLiteral("rec_version"), QStringLiteral("nowait")});
        tr.StartTransaction();
        TpFIBQuery q;
        q.SetDatabase(&db);
        q.SetTransaction(&tr);
        q.SQL().SetText(QStringLiteral("SELECT CURRENT_ROLE, CURRENT_USER FROM RDB$DATABASE"));
        q.ExecQuery();
        role = Trim(q.Fields(0)->AsString());
        utilisateur = Trim(q.Fields(1)->AsString());
        q.Close();
        tr.Commit();
    }
    if (role == connexion.Role) return;
    db.SetConnected(false);
    throw Exception(QStringLiteral("Le rôle « %1 » n'est pas accordé à l'utilisateur « %2 » sur "
                                   "ce serveur : la connexion est refermée. L'administrateur "
                                   "corrige « role » dans ravelin.conf, ou donne le rôle au "
                                   "compte (GRANT %1 TO %2)")
                        .arg(connexion.Role, utilisateur));
}

QStringList ProgramReadTransactionParams() {
    return {QStringLiteral("write"), QStringLiteral("nowait"), QStringLiteral("concurrency")};
}

QStringList ProgramWriteTransactionParams() {
    return {QStringLiteral("write"), QStringLiteral("nowait"), QStringLiteral("rec_version"),
            QStringLiteral("read_committed")};
}

void SetProgramConnectParams(TFIBDatabase& db, const QString& password, const QString& name) {
    TConnexionProgramme connexion;
    connexion.Base = name;
    SetProgramConnectParams(db, connexion, password);
}

void SetProgramConnectParams(TFIBDatabase& db, const TConnexionProgramme& connexion,
                             const QString& password) {
    db.SetDBName(connexion.Base);
    // Line by line, as the window always did: each line is a change the connection is told of.
    db.DBParams().Clear();
    for (const QString& line : ProgramConnectParams(connexion, password))
        db.DBParams().Add(line);
    db.SetLibraryName(connexion.Bibliotheque);
}

namespace {

void ConfigureProgramTransaction(TpFIBTransaction& tr, TFIBDatabase* db, const QStringList& lines) {
    tr.SetDefaultDatabase(db);
    tr.TRParams().SetStringList(lines);
    tr.SetTimeoutAction(TACommit);
    tr.SetTPBMode(tpbDefault);
}

} // namespace

void ConfigureProgramReadTransaction(TpFIBTransaction& tr, TFIBDatabase* db) {
    ConfigureProgramTransaction(tr, db, ProgramReadTransactionParams());
}

void ConfigureProgramWriteTransaction(TpFIBTransaction& tr, TFIBDatabase* db) {
    ConfigureProgramTransaction(tr, db, ProgramWriteTransactionParams());
}

QString QuotedSQL(const QString& value) {
    QString inner = value;
    inner.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + inner + QLatin1Char('\'');
}

QString ConditionCompteInchange() {
    return QStringLiteral(" AND CMAN_IBAN IS NOT DISTINCT FROM :ATTENDU_IBAN AND CMAN_BIC IS NOT "
                          "DISTINCT FROM :ATTENDU_BIC AND CMAN_IDBANQ IS NOT DISTINCT FROM "
                          ":ATTENDU_BANQUE");
}

void SetCompteAttendu(TFIBQuery& q, const TCompteMandat& attendu) {
    const auto texte = [&q](const char* nom, const std::optional<QString>& valeur) {
        TFIBXSQLVAR* p = q.ParamByName(QLatin1String(nom));
        if (valeur)
            p->SetAsString(*valeur);
        else
            p->SetIsNull(true);
    };
    texte("ATTENDU_IBAN", attendu.iban);
    texte("ATTENDU_BIC", attendu.bic);
    TFIBXSQLVAR* banque = q.ParamByName(QStringLiteral("ATTENDU_BANQUE"));
    if (attendu.banque)
        banque->SetAsInt64(*attendu.banque);
    else
        banque->SetIsNull(true);
}

QString ModifierSQL(const QString& mandateId) {
    return QStringLiteral("UPDATE CLIENTS_MANDAT SET CMAN_IBAN = :P0, CMAN_BIC = :P1, "
                          "CMAN_IDBANQ = :P2 WHERE CMAN_ID = ") +
           mandateId + ConditionCompteInchange();
}

QString RecreerDeactivateSQL(const QString& mandateId) {
    // A mandate ended since the listing (by the client, or recreated from another workstation)
    // is left alone as one whose account was changed: the row count tells.
    return QStringLiteral("UPDATE CLIENTS_MANDAT SET CMAN_ACTIF = 0 WHERE CMAN_ID = ") + mandateId +
           QStringLiteral(" AND CMAN_ACTIF = -1") + ConditionCompteInchange();
}

QString RecreerInsertSQL(const QString& mandateId, qint64 newBankId, const QString& newIban,
                         const QString& newBic, const QString& newBankName) {
    return QStringLiteral(
               "INSERT INTO CLIENTS_MANDAT (CMAN_ID,CMAN_IDCLI,CMAN_ACTIF,CMAN_SIGNATURE,"
               "CMAN_IDBANQ,CMAN_IBAN,CMAN_BIC,CMAN_MANDAT,CMAN_PAYEUR,CMAN_NOMBANQUE,"
               "CMAN_ADRESSE1,CMAN_ADRESSE2,CMAN_CPVILLE,CMAN_CREATION_IDCTR) SELECT NEXT VALUE "
               "FOR IDGENERIQUE,CMAN_IDCLI,-1,CURRENT_DATE,") +
           IntToStr(newBankId) + QLatin1Char(',') + QuotedSQL(newIban) + QLatin1Char(',') +
           QuotedSQL(newBic) + QStringLiteral(",:CMAN_MANDAT,CMAN_PAYEUR,") +
           QuotedSQL(newBankName) +
           QStringLiteral(",CMAN_ADRESSE1,CMAN_ADRESSE2,CMAN_CPVILLE,CMAN_CREATION_IDCTR "
                          "FROM CLIENTS_MANDAT WHERE CMAN_ID = ") +
           mandateId;
}

QString RecreerReference(const QString& oldReference) {
    constexpr int MaxReferenceLength = 35;
    return (oldReference + QLatin1Char('N')).left(MaxReferenceLength);
}

// ---------------------------------------------------------------------------------------------
// The mandate list

namespace {

template <typename F>
F* AddMandateField(TpFIBDataSet& ids, TComponent* owner, const char* column, qint32 size = -1) {
    auto* field = new F(owner);
    field->SetName(ids.Name() + QLatin1String(column));
    field->SetFieldName(QLatin1String(column));
    if (size >= 0) field->SetSize(size);
    if constexpr (std::is_base_of_v<TStringField, F>) field->SetTransliterate(false);
    field->SetDataSet(&ids);
    return field;
}

} // namespace

TMandateListFields DefineMandateList(TpFIBDataSet& ids, TComponent* FieldOwner) {
    for (const char* option :
         {"poUseBooleanField", "poImportDefaultValues", "poGetOrderInfo", "poEmptyStrToNull",
          "oTrimCharFields", "oRefreshAfterPost", "oStartTransaction", "oAutoFormatFields"})
        ids.SetStoredOption(QLatin1String(option), false);
    TFormatFields& formats = ids.DefaultFormats();
    formats.DateTimeDisplayFormat = QStringLiteral("dd/mm/yyyy hh:mm:ss");
    formats.NumericDisplayFormat = QStringLiteral("# ##0.");
    formats.NumericEditFormat = QStringLiteral("0.00");
    formats.DisplayFormatDate = QStringLiteral("dd/mm/yyyy");
    formats.DisplayFormatTime = QStringLiteral("hh:mm:ss");

    TMandateListFields f;
    f.CMAN_ID = AddMandateField<TFIBBCDField>(ids, FieldOwner, "CMAN_ID", 0);
    f.CMAN_IDCLI = AddMandateField<TFIBBCDField>(ids, FieldOwner, "CMAN_IDCLI", 0);
    f.NP = AddMandateField<TFIBStringField>(ids, FieldOwner, "NP", 71);
    f.CMAN_ACTIF = AddMandateField<TFIBSmallIntField>(ids, FieldOwner, "CMAN_ACTIF");
    f.CMAN_IDBANQ = AddMandateField<TFIBBCDField>(ids, FieldOwner, "CMAN_IDBANQ", 0);
    f.CMAN_IBAN = AddMandateField<TFIBStringField>(ids, FieldOwner, "CMAN_IBAN", 50);
    f.CMAN_BIC = AddMandateField<TFIBStringField>(ids, FieldOwner, "CMAN_BIC", 11);
    f.CMAN_NOMBANQUE = AddMandateField<TFIBStringField>(ids, FieldOwner, "CMAN_NOMBANQUE", 100);
    f.CMAN_MANDAT = AddMandateField<TFIBStringField>(ids, FieldOwner, "CMAN_MANDAT", 35);
    f.BANQ_SOCIETE = AddMandateField<TFIBStringField>(ids, FieldOwner, "BANQ_SOCIETE", 100);
    return f;
}

// ---------------------------------------------------------------------------------------------
// The select of the mandate list

QStringList MandateSelectLines(qint64 ancienId, const QString& ancienCode,
                               const QString& ancienGuichet, bool actifsSeulement) {
    constexpr int LongueurGuichet = 5;
    QStringList lines{
        QStringLiteral("SELECT CMAN_ID, CMAN_IDCLI, CLI_NOM || ' ' || CLI_PRENOM AS NP, "
                       "CMAN_ACTIF, CMAN_IDBANQ, CMAN_IBAN, CMAN_BIC, CMAN_NOMBANQUE, "
                       "CMAN_MANDAT, BANQ_SOCIETE FROM CLIENTS_MANDAT INNER JOIN CLIENTS ON "
                       "(CLI_ID = CMAN_IDCLI) LEFT JOIN BANQUE ON (BANQ_ID = CMAN_IDBANQ) WHERE "
                       "(CMAN_IBAN STARTING WITH 'FR') AND ((CMAN_IDBANQ = ") +
        IntToStr(ancienId) + QStringLiteral(") OR (SUBSTRING(CMAN_IBAN FROM 5 FOR 5) = ") +
        QuotedSQL(ancienCode) + QStringLiteral(")) ")};
    // The trimmed length decides, the code goes in as typed: a blank in front of four digits
    // is no branch code.
    if (Trim(ancienGuichet).length() == LongueurGuichet)
        lines << QStringLiteral("AND (SUBSTRING(CMAN_IBAN FROM 10 FOR 5) = ") +
                     QuotedSQL(ancienGuichet) + QLatin1Char(')');
    if (actifsSeulement) lines << QStringLiteral("AND (CMAN_ACTIF = -1) ");
    return lines;
}

// ---------------------------------------------------------------------------------------------
// The bank chooser's list

QString BanqueChoixSQL(qint64 excludedId, const QString& search) {
    const QString crlf = QStringLiteral("\r\n");
    QString text = QStringLiteral("SELECT BANQ_ID, BANQ_SOCIETE, BANQ_BIC, COALESCE(BANQ_BANQUE, "
                                  "BANQ_BE_DEBUT || '-' || BANQ_BE_FIN) AS CODE, BANQ_CODE_PAYS, "
                                  "BANQ_BANQUE, BANQ_BE_DEBUT, BANQ_BE_FIN FROM BANQUE WHERE "
                                  "(BANQ_ID <> ") +
                   IntToStr(excludedId) + QStringLiteral(") ") + crlf;
    const QString s = Trim(search);
    if (!s.isEmpty()) {
        const QString p = QuotedSQL(QLatin1Char('%') + s + QLatin1Char('%'));
        text += QStringLiteral("AND ((BANQ_SOCIETE LIKE ") + p +
                QStringLiteral(") OR (BANQ_BIC LIKE ") + p +
                QStringLiteral(") OR (BANQ_BANQUE LIKE ") + p +
                QStringLiteral(") OR (BANQ_BE_DEBUT LIKE ") + p +
                QStringLiteral(") OR (BANQ_BE_FIN LIKE ") + p +
                QStringLiteral(") OR (:P0 BETWEEN BANQ_BE_DEBUT AND BANQ_BE_FIN)) ") + crlf;
    }
    return text + QStringLiteral("ORDER BY BANQ_SOCIETE");
}

QString BanqueChoixParametre(const QString& search) {
    return Trim(search).left(3);
}

// ---------------------------------------------------------------------------------------------
// The new IBAN

namespace {

QString DeuxChiffres(qint32 valeur) {
    return QString::number(valeur).rightJustified(2, QLatin1Char('0'));
}

} // namespace

QString NouvelIbanFrancais(const QString& nouveauCode, const QString& guichetSaisi,
                           const QString& iban) {
    constexpr int LongueurCode = 5;
    constexpr int LongueurCompte = 11;
    const QString guichet = Trim(guichetSaisi).isEmpty() ? iban.mid(9, LongueurCode) : guichetSaisi;
    const QString compte = iban.mid(14, LongueurCompte);
    // Pieces of the wrong length could still add up to 23 characters: each is checked.
    if (nouveauCode.length() != LongueurCode || guichet.length() != LongueurCode ||
        compte.length() != LongueurCompte)
        return {};
    QString rib = nouveauCode + guichet + compte + QStringLiteral("00");
    rib = rib.left(21) + DeuxChiffres(CleRIB(rib));
    return QStringLiteral("FR") + DeuxChiffres(CleIBAN(QStringLiteral("FR00") + rib)) + rib;
}

TPrevisionMandat PrevoirMandat(TModeChangement mode, const QString& ancienCode,
                               const QString& nouveauCode, const QString& guichetSaisi,
                               const QString& iban, bool actif) {
    TPrevisionMandat prevision;
    // A mandate whose new RIB could not be built whole keeps its old IBAN rather than one with
    // a key of "00". An ended mandate is not recreated: its copy would be an active mandate
    // again, and since the old row stays listed, a second run would make a second one.
    prevision.nouvelIban = NouvelIbanFrancais(nouveauCode, guichetSaisi, iban);
    // The list takes mandates by bank identifier or by the IBAN's bank code: one linked by
    // identifier whose IBAN names another bank would get the new code in front of that other
    // bank's branch and account.
    if (!ancienCode.isEmpty() && QStringView(iban).mid(4, 5) != ancienCode)
        prevision.motif = Motif::AutreBanque;
    else if (prevision.nouvelIban.isEmpty())
        prevision.motif = Motif::DonneesCompte;
    else if (mode == TModeChangement::Recreer && !actif)
        prevision.motif = Motif::Inactif;
    return prevision;
}

QString TexteMotif(const QString& motif) {
    if (motif == Motif::DonneesCompte) return QStringLiteral("données de compte incomplètes");
    if (motif == Motif::AutreBanque) return QStringLiteral("IBAN d'une autre banque");
    if (motif == Motif::Inactif) return QStringLiteral("inactif (non recréé)");
    if (motif == Motif::Modifie) return QStringLiteral("modifié depuis la liste");
    if (motif == Motif::Verrou) return QStringLiteral("verrouillé par un autre utilisateur");
    return motif;
}
