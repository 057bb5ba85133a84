#include "Annulation.h"

#include "FIBQuery.h"
#include "SysUtils.h"

#include <QDir>
#include <QFile>

#include <map>
#include <utility>

namespace {

QString Refus(const QString& chemin, const QString& raison) {
    return QStringLiteral("Le fichier %1 ne peut pas être annulé : %2")
        .arg(QDir::toNativeSeparators(chemin), raison);
}

bool Nombre(const QString& texte) {
    bool ok = false;
    texte.toLongLong(&ok);
    return ok;
}

} // namespace

TPassage LirePassage(const QString& chemin) {
    TPassage passage;
    QFile fichier(chemin);
    if (!fichier.open(QIODevice::ReadOnly)) {
        passage.refus =
            Refus(chemin, QStringLiteral("il n'a pas pu être lu (%1).").arg(fichier.errorString()));
        return passage;
    }
    const std::vector<QStringList> lignes = LireCsv(fichier.readAll());
    if (lignes.empty() || lignes.front() != EnTeteJournal()) {
        passage.refus =
            Refus(chemin, QStringLiteral("ce n'est pas un journal de changement de banque."));
        return passage;
    }

    // The last line of each mandate decides, in the order the mandates first came.
    std::map<QString, std::pair<size_t, TLigneJournal>> dernieres;
    bool mode = false;
    for (size_t i = 1; i < lignes.size(); ++i) {
        TModeChangement modeLigne = TModeChangement::Modifier;
        TLigneJournal ligne;
        if (!LireLigneJournal(lignes[i], modeLigne, ligne)) continue;
        if (!mode) {
            mode = true;
            passage.mode = modeLigne;
            passage.debut = QDateTime::fromString(lignes[i].front(), Qt::ISODate);
        } else if (modeLigne != passage.mode) {
            passage.refus = Refus(chemin, QStringLiteral("ses lignes mêlent plusieurs modes."));
            return passage;
        }
        // Its identifiers and banks go into the statements as numbers: a line edited into
        // anything else is refused rather than guessed at.
        if (!Nombre(ligne.id) || !Nombre(ligne.idClient) ||
            !(ligne.ancienneBanque.isEmpty() || Nombre(ligne.ancienneBanque)) ||
            !(ligne.nouvelleBanque.isEmpty() || Nombre(ligne.nouvelleBanque))) {
            passage.refus = Refus(chemin, QStringLiteral("sa ligne %1 ne nomme pas un mandat par "
                                                         "ses numéros (CMAN_ID « %2 »).")
                                              .arg(i + 1)
                                              .arg(ligne.id));
            return passage;
        }
        auto [place, nouveau] = dernieres.try_emplace(ligne.id, i, ligne);
        if (!nouveau) place->second.second = std::move(ligne);
    }
    if (!mode) {
        passage.refus = Refus(chemin, QStringLiteral("il ne contient aucun mandat."));
        return passage;
    }
    if (EstAnnulation(passage.mode)) {
        passage.refus = Refus(chemin, QStringLiteral("c'est le journal d'une annulation ; "
                                                     "refaites plutôt le changement de banque."));
        return passage;
    }
    std::vector<std::pair<size_t, TLigneJournal>> changes;
    for (auto& [id, derniere] : dernieres) {
        if (derniere.second.resultat == Resultat::EnCours) ++passage.enCours;
        if (derniere.second.resultat == Resultat::Change) changes.push_back(std::move(derniere));
    }
    // Given back without them, mandates the run may have changed would stay at the new bank
    // with nothing said.
    if (passage.enCours > 0) {
        passage.refus = Refus(chemin, QStringLiteral("%1 de ses mandats sont encore « EN_COURS », "
                                                     "d'issue inconnue ; un journal du dossier "
                                                     "des journaux est d'abord complété.")
                                          .arg(passage.enCours));
        return passage;
    }
    std::sort(changes.begin(), changes.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [ordre, ligne] : changes)
        passage.changes.push_back(std::move(ligne));
    if (passage.changes.empty())
        passage.refus = Refus(chemin, QStringLiteral("ce passage n'a changé aucun mandat."));
    return passage;
}

TLigneJournal LigneAnnulation(const TLigneJournal& l) {
    TLigneJournal a = l;
    std::swap(a.ancienneReference, a.nouvelleReference);
    std::swap(a.ancienIban, a.nouvelIban);
    std::swap(a.ancienBic, a.nouveauBic);
    std::swap(a.ancienneBanque, a.nouvelleBanque);
    a.resultat.clear();
    a.motif.clear();
    a.modificationSepa.clear();
    return a;
}

std::optional<QString> TexteOuNul(const QString& valeur) {
    if (valeur.isEmpty()) return std::nullopt;
    return valeur;
}

std::optional<qint64> BanqueOuNulle(const QString& valeur) {
    bool ok = false;
    const qint64 banque = valeur.toLongLong(&ok);
    if (!ok) return std::nullopt;
    return banque;
}

QString ConditionCompteJournal() {
    // A changed mandate always had and got an IBAN: compared as it stands, the IBAN's index
    // finds the copy of a client with thousands of mandates at once.
    return QStringLiteral(" AND CMAN_IBAN = :ATTENDU_IBAN AND COALESCE(CMAN_BIC, '') = "
                          ":ATTENDU_BIC AND CMAN_IDBANQ IS NOT DISTINCT FROM :ATTENDU_BANQUE");
}

void SetCompteJournal(TFIBQuery& q, const QString& iban, const QString& bic,
                      const QString& banque) {
    q.ParamByName(QStringLiteral("ATTENDU_IBAN"))->SetAsString(iban);
    q.ParamByName(QStringLiteral("ATTENDU_BIC"))->SetAsString(bic);
    TFIBXSQLVAR* p = q.ParamByName(QStringLiteral("ATTENDU_BANQUE"));
    if (const std::optional<qint64> id = BanqueOuNulle(banque))
        p->SetAsInt64(*id);
    else
        p->SetIsNull(true);
}

QString AnnulerModifierSQL(qint64 mandat) {
    return QStringLiteral("UPDATE CLIENTS_MANDAT SET CMAN_IBAN = :P0, CMAN_BIC = :P1, "
                          "CMAN_IDBANQ = :P2 WHERE CMAN_ID = ") +
           IntToStr(mandat) + ConditionCompteJournal();
}

void SetCompteRendu(TFIBQuery& q, const TLigneJournal& l) {
    const auto texte = [&q](const char* nom, const QString& valeur) {
        TFIBXSQLVAR* p = q.ParamByName(QLatin1String(nom));
        if (const std::optional<QString> v = TexteOuNul(valeur))
            p->SetAsString(*v);
        else
            p->SetIsNull(true);
    };
    texte("P0", l.ancienIban);
    texte("P1", l.ancienBic);
    TFIBXSQLVAR* banque = q.ParamByName(QStringLiteral("P2"));
    if (const std::optional<qint64> id = BanqueOuNulle(l.ancienneBanque))
        banque->SetAsInt64(*id);
    else
        banque->SetIsNull(true);
}

QString AnnulerRecreerFinCopieSQL(qint64 mandat, qint64 client) {
    // The client's index left aside ("+ 0"): the IBAN's finds the copy, where the client's would
    // walk every mandate of a client that has thousands.
    return QStringLiteral("UPDATE CLIENTS_MANDAT SET CMAN_ACTIF = 0 WHERE CMAN_IDCLI + 0 = ") +
           IntToStr(client) + QStringLiteral(" AND CMAN_ID <> ") + IntToStr(mandat) +
           QStringLiteral(" AND CMAN_ACTIF = -1 AND CMAN_MANDAT = :ATTENDU_REFERENCE") +
           ConditionCompteJournal();
}

QString AnnulerRecreerReactiverSQL(qint64 mandat) {
    return QStringLiteral("UPDATE CLIENTS_MANDAT SET CMAN_ACTIF = -1 WHERE CMAN_ID = ") +
           IntToStr(mandat) + QStringLiteral(" AND CMAN_ACTIF = 0") + ConditionCompteJournal();
}
