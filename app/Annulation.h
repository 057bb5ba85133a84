// Giving a change run back from its journal: which mandates its journal says it changed, the
// undo's own line for each, and the statements that write a mandate back. The writes land only
// on rows that still hold what the run wrote, as the run itself writes only over what it listed.
#pragma once

#include "Journal.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

class TFIBQuery;

// A journal of a change run, read for its undo.
struct TPassage {
    // Empty when the journal can be given back; else why not, as the user is told.
    QString refus;
    TModeChangement mode = TModeChangement::Modifier;
    // When the run wrote its first line.
    QDateTime debut;
    // The mandates whose last line is CHANGE, in the journal's order.
    std::vector<TLigneJournal> changes;
    // Those whose last line is still EN_COURS: their outcome is unknown until the completion.
    int enCours = 0;
};

// Reads the journal at `chemin` with the journal's own reader (a journal cut short or edited by
// hand is read as far as its lines are whole). Refuses a file that is no journal of a change
// run, the journal of an undo, a line naming its mandate, client or banks otherwise than by
// number (its values go into the statements), a mandate still EN_COURS, and a run that changed
// nothing.
TPassage LirePassage(const QString& chemin);

// The undo's line for a mandate of the run, before its outcome: the old and new columns of the
// run's line swapped, so that the old ones are what the mandate holds before the undo.
TLigneJournal LigneAnnulation(const TLigneJournal& ligneDuPassage);

// A journal's account columns as the database holds them: its empty text was a null column.
std::optional<QString> TexteOuNul(const QString& valeur);
std::optional<qint64> BanqueOuNulle(const QString& valeur);

// The condition an undo's write adds to its WHERE: the row holds the journal's :ATTENDU_IBAN,
// :ATTENDU_BIC and :ATTENDU_BANQUE. The journal writes a null BIC and an empty one alike, so
// either matches an empty text; the bank is compared null-safe.
QString ConditionCompteJournal();
// Sets those parameters from a journal's IBAN, BIC and bank.
void SetCompteJournal(TFIBQuery& q, const QString& iban, const QString& bic, const QString& banque);

// « Modifier »'s undo: the old IBAN, BIC and bank back through :P0, :P1 and :P2 (null for an
// empty one), over a row that still holds what the run wrote.
QString AnnulerModifierSQL(qint64 mandat);
// Sets :P0, :P1 and :P2 of that statement from the run's line: its old IBAN, BIC and bank.
void SetCompteRendu(TFIBQuery& q, const TLigneJournal& ligneDuPassage);
// « Recréer »'s undo, first statement: the copy ends — the client's other active row with the
// run's new reference (:ATTENDU_REFERENCE) and account. Exactly one row must be ended.
QString AnnulerRecreerFinCopieSQL(qint64 mandat, qint64 client);
// Second statement: the original, inactive and still holding its account, is active again.
QString AnnulerRecreerReactiverSQL(qint64 mandat);
