// The program's facts that the main window, the tests and the benchmarks share: its connection
// settings, its two transactions' settings and the statements of the bank change run. Nothing
// here needs a window.
#pragma once

#include "Journal.h"
#include "pFIBDatabase.h"

#include <QString>
#include <QStringList>

#include <optional>

class TFIBQuery;

// Where and how the main window connects.
QString ProgramDatabaseName();
QString ProgramLibraryName();
constexpr int ProgramSQLDialect = 3;

// Where and as whom the program connects: its built-in connection, or what the workstation's
// configuration sets in its place.
struct TConnexionProgramme {
    QString Base = ProgramDatabaseName();
    // Empty: SYSDBA with the program's own password. Set: an account of the organisation,
    // whose password the user types at each connect.
    QString Utilisateur;
    // The SQL role given at connect; empty for none.
    QString Role;
    QString Bibliotheque = ProgramLibraryName();
    // Set from a workstation's ravelin.conf: the connection then asks the client library for an
    // encrypted line and the Srp login, and gives up on a server that does not answer.
    bool Configuree = false;
    // WireCrypt of the client: Required unless the file relaxes it for a server that cannot
    // encrypt.
    enum class TChiffrement { Requis, Actif, Desactive };
    TChiffrement Chiffrement = TChiffrement::Requis;
    // Seconds the attach waits for the server.
    int DelaiConnexion = 15;

    bool CompteSaisi() const { return !Utilisateur.isEmpty(); }
};

// The connection's parameter lines with the given password.
QStringList ProgramConnectParams(const QString& password);
// The same for a connection: the account's user name (SYSDBA without one), the character set,
// the role when there is one, and the password; for a configured connection then its connect
// timeout and the client's configuration (wire encryption, Srp only). Without configuration,
// account and role, exactly the lines above.
QStringList ProgramConnectParams(const TConnexionProgramme& connexion, const QString& password);
// After the attach: a role asked for that the server did not give (it then quietly gives none,
// and the user would meet a refusal at the first list) closes the connection and raises a
// message naming the role and the user.
void ExigerRole(TFIBDatabase& db, const TConnexionProgramme& connexion);

// The parameter lines of transSource and transLocale.
QStringList ProgramReadTransactionParams();
QStringList ProgramWriteTransactionParams();

// The connection's name, parameter lines and client library, as the window sets them just before
// connecting. The dialect is set apart, before the alias, so that a stored alias still rules it.
void SetProgramConnectParams(TFIBDatabase& db, const QString& password,
                             const QString& name = ProgramDatabaseName());
void SetProgramConnectParams(TFIBDatabase& db, const TConnexionProgramme& connexion,
                             const QString& password);

// Everything above with the program's password: a connection ready to connect as the window's.
// Only in the development build (CompteIntegre.cpp).
void ConfigureProgramConnection(TFIBDatabase& db, const QString& name = ProgramDatabaseName());

// transSource: the reading snapshot taken when the window opens.
void ConfigureProgramReadTransaction(TpFIBTransaction& tr, TFIBDatabase* db);
// transLocale: read committed with record versions, never waiting on locks.
void ConfigureProgramWriteTransaction(TpFIBTransaction& tr, TFIBDatabase* db);

// The new IBAN of a French mandate moving to the bank of code `nouveauCode`: the branch code as
// typed, or the IBAN's own (characters 10 to 14) when none is typed (blanks alone are none), the
// account number of characters 15 to 25, a fresh RIB key and fresh check digits. Empty when a piece
// does not have its exact length: a key computed over a RIB of another length would be written as
// "00".
QString NouvelIbanFrancais(const QString& nouveauCode, const QString& guichetSaisi,
                           const QString& iban);

// What « Changer » will do with a listed mandate before anything is written: the IBAN it
// builds (empty when it cannot be built whole) and, when it passes the mandate over before any
// write, the journal's reason. The list's « Nouvel IBAN » column and the run both ask here.
// `ancienCode` is the bank code of the old bank the list was made for (empty when it has none).
struct TPrevisionMandat {
    QString nouvelIban;
    QString motif;
};
TPrevisionMandat PrevoirMandat(TModeChangement mode, const QString& ancienCode,
                               const QString& nouveauCode, const QString& guichetSaisi,
                               const QString& iban, bool actif);
// A reason as the list's column and the end-of-run box show it to the user.
QString TexteMotif(const QString& motif);

// A text value between single quotes, inner single quotes doubled.
QString QuotedSQL(const QString& value);

// A mandate's account columns as the list read them, a null column as nullopt. A run writes a
// mandate only while its row still holds exactly these: a colleague's correction made since the
// listing is never overwritten with an IBAN built from the account as it was.
struct TCompteMandat {
    std::optional<QString> iban;
    std::optional<QString> bic;
    std::optional<qint64> banque;
};

// The condition a write of the run adds to its WHERE, null-safe, in the statement itself so
// that the check and the write are one step: the row still holds :ATTENDU_IBAN,
// :ATTENDU_BIC and :ATTENDU_BANQUE.
QString ConditionCompteInchange();
// Sets those three parameters of a prepared statement.
void SetCompteAttendu(TFIBQuery& q, const TCompteMandat& attendu);

// "Modifier": the new IBAN, BIC and bank go in through :P0, :P1 and :P2, over a row that still
// holds what was listed; its row count tells whether it did.
QString ModifierSQL(const QString& mandateId);

// "Recréer", first statement: the old mandate is deactivated, if it is still active and holds
// what was listed.
QString RecreerDeactivateSQL(const QString& mandateId);

// "Recréer", second statement: a copy of the old mandate with the new bank, taking its new
// reference through :CMAN_MANDAT.
QString RecreerInsertSQL(const QString& mandateId, qint64 newBankId, const QString& newIban,
                         const QString& newBic, const QString& newBankName);

// The reference of a recreated mandate: the old one followed by "N", at most 35 characters.
QString RecreerReference(const QString& oldReference);

// ---------------------------------------------------------------------------------------------
// The mandate list idsBanque, as the main window defines it

class TpFIBDataSet;
class TFIBBCDField;
class TFIBStringField;
class TFIBSmallIntField;

struct TMandateListFields {
    TFIBBCDField* CMAN_ID = nullptr;
    TFIBBCDField* CMAN_IDCLI = nullptr;
    TFIBStringField* NP = nullptr;
    TFIBSmallIntField* CMAN_ACTIF = nullptr;
    TFIBBCDField* CMAN_IDBANQ = nullptr;
    TFIBStringField* CMAN_IBAN = nullptr;
    TFIBStringField* CMAN_BIC = nullptr;
    TFIBStringField* CMAN_NOMBANQUE = nullptr;
    TFIBStringField* CMAN_MANDAT = nullptr;
    TFIBStringField* BANQ_SOCIETE = nullptr;
};

// The list's stored options, default formats and ten persistent fields (owned by FieldOwner,
// named after the dataset: "idsBanqueCMAN_ID", …), as the window definition sets them.
TMandateListFields DefineMandateList(TpFIBDataSet& ids, TComponent* FieldOwner);

// ---------------------------------------------------------------------------------------------
// The select of the mandate list

// The list's select as "Vérifier" builds it, one line per piece: the base select for the old
// bank (by identifier or by the bank code in the IBAN), then the branch condition when the old
// branch code is five characters once trimmed, then the condition on active mandates when only
// those are wanted.
QStringList MandateSelectLines(qint64 ancienId, const QString& ancienCode,
                               const QString& ancienGuichet, bool actifsSeulement);

// ---------------------------------------------------------------------------------------------
// The bank chooser's list

// The chooser's select over BANQUE, every bank but the excluded one, ordered by name, as the
// lines its dataset holds: the select with its exclusion, then the search clause when the
// trimmed search text is not empty, then the order. The clause compares the text with the name,
// BIC and codes, and takes :P0 for the code range.
QString BanqueChoixSQL(qint64 excludedId, const QString& search);

// The value of :P0: the first three characters of the trimmed search text, which a code range
// is compared with.
QString BanqueChoixParametre(const QString& search);
