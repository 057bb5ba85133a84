#include "Configuration.h"

#include "SysUtils.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTextStream>

#include <vector>

namespace {

const QString Groupe = QStringLiteral("connexion");
const QString CleBase = QStringLiteral("base");
const QString CleUtilisateur = QStringLiteral("utilisateur");
const QString CleRole = QStringLiteral("role");
const QString CleBibliotheque = QStringLiteral("bibliotheque");
const QString CleChiffrement = QStringLiteral("chiffrement");
const QString CleDelai = QStringLiteral("delai_connexion");

// Firebird 3 keeps names of users and roles in 31 characters.
constexpr int LongueurNom = 31;

// A key as the file writes it, with the group it stands in and its line; QSettings gives the
// values but not where they came from, which is what an administrator needs to mend the file.
struct TLigneCle {
    int ligne = 0;
    QString groupe;
    QString cle;
    // The text after "=", as written.
    QString brute;
};

// The file's lines as QSettings reads them: "[groupe]", "cle = valeur", comments after ";" or
// "#", blank lines. A line of any other form is kept with an empty key.
std::vector<TLigneCle> LignesDuFichier(const QString& fichier) {
    std::vector<TLigneCle> lignes;
    QFile f(fichier);
    if (!f.open(QIODevice::ReadOnly)) return lignes;
    QTextStream in(&f);
    in.setEncoding(QStringConverter::Utf8);
    // QSettings ends a line at a lone carriage return too; a line read here as one would hide
    // the key after it from every check below, while QSettings uses it.
    static const QRegularExpression finDeLigne(QStringLiteral("\\r\\n|\\r|\\n"));
    QStringList textes = in.readAll().split(finDeLigne);
    if (!textes.isEmpty() && textes.back().isEmpty()) textes.removeLast();
    QString groupe;
    int numero = 0;
    for (const QString& ligne : textes) {
        const QString texte = ligne.trimmed();
        ++numero;
        if (texte.isEmpty() || texte.startsWith(u';') || texte.startsWith(u'#')) continue;
        if (texte.startsWith(u'[')) {
            const qsizetype fin = texte.indexOf(u']');
            groupe = texte.mid(1, fin < 0 ? -1 : fin - 1).trimmed();
            continue;
        }
        const qsizetype egal = texte.indexOf(u'=');
        lignes.push_back({numero, groupe, egal < 0 ? QString() : texte.left(egal).trimmed(),
                          egal < 0 ? QString() : texte.mid(egal + 1)});
    }
    return lignes;
}

// QSettings takes an unquoted value with commas for a list; none of ours is one.
QString Valeur(const QSettings& settings, const QString& cle) {
    const QVariant v = settings.value(cle);
    if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(u',');
    return v.toString();
}

// The value a line means to give, as an administrator reads it: the text after "=", up to a
// comment after ";" outside quotes, without the blanks at its ends; a value wholly in quotes
// stands for the text inside them. "\\" and "\"" stand for a backslash and a quote.
QString ValeurEcrite(const QString& brute) {
    QString texte;
    bool entreGuillemets = false;
    for (const QChar c : brute) {
        if (c == u'"') entreGuillemets = !entreGuillemets;
        if (c == u';' && !entreGuillemets) break;
        texte += c;
    }
    texte = texte.trimmed();
    if (texte.size() >= 2 && texte.front() == u'"' && texte.back() == u'"')
        texte = texte.mid(1, texte.size() - 2);
    QString valeur;
    for (qsizetype i = 0; i < texte.size(); ++i) {
        if (texte[i] == u'\\' && i + 1 < texte.size() &&
            (texte[i + 1] == u'\\' || texte[i + 1] == u'"'))
            ++i;
        valeur += texte[i];
    }
    return valeur;
}

// QSettings ends a value at a ";" outside quotes and drops the rest as a comment: after a
// value without quotes, what follows it would be lost without a word. After a value wholly in
// quotes the comment is plain to see.
bool PointVirguleApresValeurNue(const QString& brute) {
    bool entreGuillemets = false;
    for (qsizetype i = 0; i < brute.size(); ++i) {
        if (brute[i] == u'"') entreGuillemets = !entreGuillemets;
        if (brute[i] != u';' || entreGuillemets) continue;
        const QString avant = brute.left(i).trimmed();
        return !(avant.size() >= 2 && avant.front() == u'"' && avant.back() == u'"');
    }
    return false;
}

// What is wrong with a value of a known key; empty when it can be used.
QString DefautValeur(const QString& cle, const QString& valeur) {
    if (valeur.trimmed().isEmpty()) return QStringLiteral("« %1 » est vide").arg(cle);
    // The connection sends its texts in ISO 8859-1.
    if (!IsLatin1(valeur))
        return QStringLiteral("« %1 » contient un caractère que la connexion ne peut pas "
                              "transmettre")
            .arg(cle);
    if (cle == CleUtilisateur && valeur.trimmed().size() > LongueurNom)
        return QStringLiteral("« utilisateur » a plus de %1 caractères").arg(LongueurNom);
    if (cle == CleRole) {
        static const QRegularExpression nom(QStringLiteral("^[A-Za-z][A-Za-z0-9_$]{0,30}$"));
        if (!nom.match(valeur.trimmed()).hasMatch())
            return QStringLiteral("« role » : « %1 » n'est pas un nom de rôle (une lettre, puis "
                                  "des lettres, des chiffres, _ ou $, %2 caractères au plus)")
                .arg(valeur, QString::number(LongueurNom));
    }
    if (cle == CleChiffrement && valeur.trimmed() != QLatin1String("requis") &&
        valeur.trimmed() != QLatin1String("actif") &&
        valeur.trimmed() != QLatin1String("desactive"))
        return QStringLiteral("« chiffrement » : « %1 » n'est pas une valeur possible (requis, "
                              "actif ou desactive)")
            .arg(valeur.trimmed());
    if (cle == CleDelai) {
        static const QRegularExpression entier(QStringLiteral("^[0-9]{1,3}$"));
        const QString v = valeur.trimmed();
        if (!entier.match(v).hasMatch() || v.toInt() < 1 || v.toInt() > 255)
            return QStringLiteral("« delai_connexion » : « %1 » n'est pas un nombre entier de "
                                  "secondes de 1 à 255")
                .arg(v);
    }
    return {};
}

} // namespace

QString TConfiguration::TexteErreurs() const {
    return Erreurs.join(QStringLiteral("\r\n"));
}

QString FichierConfiguration() {
    return QStandardPaths::locate(QStandardPaths::GenericConfigLocation,
                                  QStringLiteral("ravelin/ravelin.conf"));
}

TConfiguration LireConfiguration() {
    const QString fichier = FichierConfiguration();
    if (fichier.isEmpty()) return {};
    return LireConfiguration(fichier);
}

TConfiguration LireConfiguration(const QString& fichier) {
    TConfiguration config;
    config.Fichier = fichier;
    config.Connexion.Configuree = true;
    auto erreur = [&](int ligne, const QString& texte) {
        config.Erreurs << (ligne > 0 ? QStringLiteral("%1, ligne %2 : %3")
                                           .arg(fichier, QString::number(ligne), texte)
                                     : QStringLiteral("%1 : %2").arg(fichier, texte));
    };

    QFile lisible(fichier);
    if (!lisible.open(QIODevice::ReadOnly)) {
        erreur(0, QStringLiteral("fichier illisible (%1)").arg(lisible.errorString()));
        return config;
    }
    lisible.close();

    QSettings settings(fichier, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        erreur(0, QStringLiteral("fichier mal formé"));
        return config;
    }

    const std::vector<TLigneCle> lignes = LignesDuFichier(fichier);
    QHash<QString, int> occurrences;
    for (const TLigneCle& l : lignes)
        if (l.groupe == Groupe) ++occurrences[l.cle];
    // QSettings keeps the last of two lines of one key: the first would be silently ignored.
    QHash<QString, int> vues;
    for (const TLigneCle& l : lignes) {
        if (l.cle.isEmpty()) {
            erreur(l.ligne,
                   QStringLiteral("ligne illisible (ni « [groupe] » ni « clé = valeur »)"));
            continue;
        }
        const bool connue = l.groupe == Groupe && (l.cle == CleBase || l.cle == CleUtilisateur ||
                                                   l.cle == CleRole || l.cle == CleBibliotheque ||
                                                   l.cle == CleChiffrement || l.cle == CleDelai);
        if (!connue) {
            if (l.groupe == Groupe)
                erreur(l.ligne, QStringLiteral("clé inconnue « %1 »").arg(l.cle));
            else if (l.groupe.isEmpty())
                erreur(l.ligne, QStringLiteral("clé « %1 » hors du groupe [connexion]").arg(l.cle));
            else
                erreur(
                    l.ligne,
                    QStringLiteral("clé « %1 » dans le groupe inconnu [%2]").arg(l.cle, l.groupe));
            continue;
        }
        if (const int premiere = vues.value(l.cle); premiere > 0) {
            erreur(l.ligne, QStringLiteral("« %1 » déjà donnée ligne %2")
                                .arg(l.cle, QString::number(premiere)));
            continue;
        }
        vues.insert(l.cle, l.ligne);
        if (PointVirguleApresValeurNue(l.brute)) {
            erreur(l.ligne, QStringLiteral("« %1 » : un « ; » hors de guillemets commence un "
                                           "commentaire, la suite de la ligne serait ignorée "
                                           "(écrire la valeur entre guillemets, un commentaire "
                                           "sur une ligne à lui)")
                                .arg(l.cle));
            continue;
        }
        const QString valeur = Valeur(settings, Groupe + u'/' + l.cle);
        // QSettings reads escapes after a backslash (dropping those it does not know: a path
        // "D:\Firebird" comes out "D:irebird"), quotes inside a value and lists at commas (the
        // blanks after them lost): what it gives may name another database or account than
        // the line. A key given twice is reported as such, whatever its lines hold.
        if (occurrences.value(l.cle) == 1 && valeur != ValeurEcrite(l.brute)) {
            erreur(l.ligne, QStringLiteral("« %1 » ne serait pas lu tel qu'il est écrit (une "
                                           "virgule, un guillemet ou une barre oblique inverse : "
                                           "écrire la valeur entre guillemets, chaque « \\ » "
                                           "doublé)")
                                .arg(l.cle));
            continue;
        }
        if (const QString defaut = DefautValeur(l.cle, valeur); !defaut.isEmpty()) {
            erreur(l.ligne, defaut);
            continue;
        }
        if (l.cle == CleBase)
            config.Connexion.Base = valeur.trimmed();
        else if (l.cle == CleUtilisateur)
            config.Connexion.Utilisateur = valeur.trimmed();
        // A role name written without quotes is an SQL identifier: case does not matter to it,
        // and the server knows it in capitals.
        else if (l.cle == CleRole)
            config.Connexion.Role = valeur.trimmed().toUpper();
        else if (l.cle == CleChiffrement)
            config.Connexion.Chiffrement = valeur.trimmed() == QLatin1String("requis")
                                               ? TConnexionProgramme::TChiffrement::Requis
                                           : valeur.trimmed() == QLatin1String("actif")
                                               ? TConnexionProgramme::TChiffrement::Actif
                                               : TConnexionProgramme::TChiffrement::Desactive;
        else if (l.cle == CleDelai)
            config.Connexion.DelaiConnexion = valeur.trimmed().toInt();
        else
            config.Connexion.Bibliotheque = valeur.trimmed();
    }
    return config;
}

QString TexteSansCompte(const QString& fichier) {
    const QString debut =
        fichier.isEmpty()
            ? QStringLiteral("Ce poste n'est pas configuré : aucun fichier ravelin.conf ne dit à "
                             "quelle base se connecter ni avec quel compte.")
            : QStringLiteral("Ce poste n'est pas configuré : %1 ne nomme pas de compte "
                             "(« utilisateur »).")
                  .arg(fichier);
    return debut +
           QStringLiteral("\r\nL'administrateur du poste crée /etc/xdg/ravelin/ravelin.conf (pour "
                          "tous les utilisateurs) ou ~/.config/ravelin/ravelin.conf, groupe "
                          "[connexion], avec au moins « base » et « utilisateur », comme le décrit "
                          "la section « Install » du README de Ravelin. Aucune connexion n'est "
                          "ouverte");
}
