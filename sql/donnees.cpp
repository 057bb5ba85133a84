// ravelin-donnees: writes on stdout an isql-fb script that fills the management database with
// demonstration data (banks, clients, mandates) for sql/schema.sql.
//
//     ravelin-donnees | isql-fb -q -b -ch ISO8859_1 127.0.0.1:TALVIK_GESTION
//
// The script is ISO 8859-1 bytes, the database's character set. The data are the same on every
// run (fixed seed), so tests may rely on them: every IBAN carries valid check digits and every
// French one a valid RIB key, whatever letters its account number holds.
#include "uFonctions_Verification.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr int NombreClients = 3000;
constexpr int NombreMandats = 10000;
constexpr int LotParCommit = 2500;
constexpr int ParAgence = 8;

std::mt19937_64 alea(19112009); // 1 November 2009: the first SEPA direct debits

// Own range reduction: the standard distributions may differ between library versions, the
// engine's raw output does not.
int entre(int bas, int haut) {
    return bas + int(alea() % uint64_t(haut - bas + 1));
}

bool chance(int pourMille) {
    return entre(0, 999) < pourMille;
}

template <typename T> const T& auHasard(const std::vector<T>& liste) {
    return liste[size_t(entre(0, int(liste.size()) - 1))];
}

QString chiffres(int nombre) {
    QString s;
    for (int i = 0; i < nombre; ++i)
        s += QChar(u'0' + entre(0, 9));
    return s;
}

QString deuxChiffres(int n) {
    return QString::number(n).rightJustified(2, u'0');
}

QString sql(const QString& texte) {
    QString s = texte;
    s.replace(u'\'', u"''"_qs);
    return u'\'' + s + u'\'';
}

QString sqlOuNull(const QString& texte) {
    return texte.isEmpty() ? u"NULL"_qs : sql(texte);
}

QString sqlId(qint64 id) {
    return id > 0 ? QString::number(id) : u"NULL"_qs;
}

struct Banque {
    QString nom;
    QString bic;
    QString code;       // empty for a network known by a range of codes, or a foreign bank
    QString debut, fin; // the range of such a network
    QString pays;
    QStringList codesReseau; // codes of the network's members, used in the IBANs
    int poids = 1;           // how many mandates it holds, relatively
    qint64 id = 0;
};

std::vector<Banque> banques() {
    auto fr = [](const char* nom, const char* bic, const char* code, int poids) {
        return Banque{QString::fromUtf8(nom),
                      QString::fromLatin1(bic),
                      QString::fromLatin1(code),
                      {},
                      {},
                      u"FR"_qs,
                      {},
                      poids};
    };
    auto reseau = [](const char* nom, const char* bic, const char* debut, const char* fin,
                     QStringList codes, int poids) {
        return Banque{QString::fromUtf8(nom),
                      QString::fromLatin1(bic),
                      {},
                      QString::fromLatin1(debut),
                      QString::fromLatin1(fin),
                      u"FR"_qs,
                      codes,
                      poids};
    };
    auto etranger = [](const char* nom, const char* bic, const char* pays) {
        return Banque{QString::fromUtf8(nom),
                      QString::fromLatin1(bic),
                      {},
                      {},
                      {},
                      QString::fromLatin1(pays),
                      {},
                      1};
    };
    return {
        fr("BNP PARIBAS", "BNPAFRPP", "30004", 14),
        fr("SOCIÉTÉ GÉNÉRALE", "SOGEFRPP", "30003", 12),
        fr("LCL - LE CRÉDIT LYONNAIS", "CRLYFRPP", "30002", 9),
        fr("LA BANQUE POSTALE", "PSSTFRPPXXX", "20041", 12),
        fr("CIC", "CMCIFRPP", "30066", 6),
        fr("CRÉDIT MUTUEL DE BRETAGNE", "CMBRFR2BARK", "15589", 6),
        fr("BRED BANQUE POPULAIRE", "BREDFRPPXXX", "10107", 4),
        fr("CRÉDIT COOPÉRATIF", "CCOPFRPPXXX", "42559", 2),
        fr("HSBC CONTINENTAL EUROPE", "CCFRFRPP", "30056", 3),
        fr("BANQUE POPULAIRE RIVES DE PARIS", "CCBPFRPPMTG", "10207", 4),
        fr("CRÉDIT DU NORD", "NORDFRPP", "30076", 3),
        fr("BOURSORAMA", "BOUSFRPPXXX", "40618", 5),
        fr("BANQUE PALATINE", "BSPFFRPPXXX", "40978", 1),
        fr("BANQUE CIC OUEST", "CMCIFR2A", "30047", 3),
        fr("BANQUE COURTOIS", "COURFR2T", "10268", 1),
        fr("BANQUE KOLB", "KOLBFR21", "13259", 1),
        fr("BANQUE LAYDERNIER", "LAYDFR2W", "10228", 1),
        fr("BANQUE TARNEAUD", "TARNFR2L", "10558", 1),
        fr("SOCIÉTÉ MARSEILLAISE DE CRÉDIT", "SMCTFR2A", "30077", 2),
        fr("BANQUE DE SAVOIE", "BSAVFR2C", "10548", 1),
        fr("AXA BANQUE", "AXABFRPP", "12548", 2),
        fr("MONABANQ", "COURFR2TMON", "14690", 1),
        fr("CRÉDIT D'ARMOR", "CDARFR2BXXX", "16188", 3),
        fr("BANQUE HÉLIAS & LOBÉ", "HELBFRPP", "17789", 1),
        fr("CAISSE SOLIDAIRE DE L'YONNE", "CSOYFR21", "18370", 1),
        fr("BANQUE RÉGIONALE DE L'ADOUR", "BRADFR2B", "16705", 1),
        fr("CRÉDIT FONCIER CÔTE D'ÉMERAUDE", "CFCEFR2R", "13825", 1),
        fr("BANQUE FRANÇAISE MUTUALISTE", "BFMUFRP1", "18919", 1),
        fr("BANQUE PRIVÉE EUROPÉENNE SAINT-ÉTIENNE", "BPESFRPP", "12879", 1),
        reseau("CRÉDIT AGRICOLE (CAISSES RÉGIONALES)", "AGRIFRPP", "11006", "19906",
               {u"11006"_qs, u"12206"_qs, u"13306"_qs, u"14706"_qs, u"16606"_qs, u"17206"_qs,
                u"18706"_qs, u"19406"_qs},
               14),
        reseau("CAISSE D'ÉPARGNE (RÉSEAU)", "CEPAFRPP", "11315", "18715",
               {u"11315"_qs, u"13335"_qs, u"14445"_qs, u"16275"_qs, u"17515"_qs, u"18315"_qs}, 10),
        reseau("BANQUE POPULAIRE (RÉSEAU RÉGIONAL)", "CCBPFRPP", "10807", "18707",
               {u"10807"_qs, u"13807"_qs, u"14607"_qs, u"16707"_qs, u"18707"_qs}, 5),
        etranger("KBC BANK", "KREDBEBB", "BE"),
        etranger("BNP PARIBAS FORTIS", "GEBABEBB", "BE"),
        etranger("DEUTSCHE BANK", "DEUTDEFF", "DE"),
        etranger("COMMERZBANK", "COBADEFFXXX", "DE"),
        etranger("BANCO SANTANDER", "BSCHESMM", "ES"),
        etranger("CAIXABANK", "CAIXESBB", "ES"),
        etranger("BANQUE ET CAISSE D'ÉPARGNE DE L'ÉTAT", "BCEELULL", "LU"),
        etranger("BANCO BILBAO VIZCAYA ARGENTARIA", "BBVAESMM", "ES"),
    };
}

const char* const Noms[] = {
    "MARTIN",
    "BERNARD",
    "THOMAS",
    "PETIT",
    "ROBERT",
    "RICHARD",
    "DURAND",
    "DUBOIS",
    "MOREAU",
    "LAURENT",
    "SIMON",
    "MICHEL",
    "LEFÈVRE",
    "LEROY",
    "ROUX",
    "DAVID",
    "BERTRAND",
    "MOREL",
    "FOURNIER",
    "GIRARD",
    "BONNET",
    "DUPONT",
    "LAMBERT",
    "FONTAINE",
    "ROUSSEAU",
    "VINCENT",
    "MULLER",
    "LEFEBVRE",
    "FAURE",
    "ANDRÉ",
    "MERCIER",
    "BLANC",
    "GUÉRIN",
    "BOYER",
    "GARNIER",
    "CHEVALIER",
    "FRANÇOIS",
    "LEGRAND",
    "GAUTHIER",
    "GARCIA",
    "PERRIN",
    "ROBIN",
    "CLÉMENT",
    "MORIN",
    "NICOLAS",
    "HENRY",
    "ROUSSEL",
    "MATHIEU",
    "GAUTIER",
    "MASSON",
    "MARCHAND",
    "DUVAL",
    "DENIS",
    "DUMONT",
    "MARIE",
    "LEMAIRE",
    "NOËL",
    "MEYER",
    "DUFOUR",
    "MEUNIER",
    "BRUN",
    "BLANCHARD",
    "GIRAUD",
    "JOLY",
    "RIVIÈRE",
    "LUCAS",
    "BRUNET",
    "GAILLARD",
    "BARBIER",
    "ARNAUD",
    "MARTINEZ",
    "GÉRARD",
    "ROCHE",
    "RENARD",
    "SCHMITT",
    "ROY",
    "LEROUX",
    "COLIN",
    "VIDAL",
    "CARON",
    "PICARD",
    "ROGER",
    "FABRE",
    "AUBERT",
    "LEMOINE",
    "RENAUD",
    "DUMAS",
    "LACROIX",
    "OLIVIER",
    "PHILIPPE",
    "BOURGEOIS",
    "PIERRE",
    "BENOÎT",
    "REY",
    "LECLERC",
    "PAYET",
    "ROLLAND",
    "LECLERCQ",
    "GUILLAUME",
    "LECOMTE",
    "LÓPEZ",
    "JEAN",
    "DUPUY",
    "GUILLOT",
    "HUBERT",
    "BERGER",
    "CARPENTIER",
    "SANCHEZ",
    "DUPUIS",
    "MOULIN",
    "LOUIS",
    "DESCHAMPS",
    "HUET",
    "VASSEUR",
    "PEREZ",
    "BOUCHER",
    "FLEURY",
    "ROYER",
    "KLEIN",
    "JACQUET",
    "ADAM",
    "PARIS",
    "POIRIER",
    "MARTY",
    "AUBRY",
    "GUYOT",
    "CARRÉ",
    "CHARLES",
    "RENAULT",
    "CHARPENTIER",
    "MÉNARD",
    "MAILLARD",
    "BARON",
    "BERTIN",
    "BAILLY",
    "HERVÉ",
    "SCHNEIDER",
    "FERNANDEZ",
    "LE GALL",
    "COLLET",
    "LÉGER",
    "BOUVIER",
    "JULIEN",
    "PRÉVOST",
    "MILLET",
    "PERROT",
    "DANIEL",
    "LE ROUX",
    "COUSIN",
    "GERMAIN",
    "BRETON",
    "BESSON",
    "LANGLOIS",
    "RÉMY",
    "LE GOFF",
    "PELLETIER",
    "LÉVÊQUE",
    "PERRIER",
    "LEBLANC",
    "BARRÉ",
    "LEBRUN",
    "MARCHAL",
    "WEBER",
    "MALLET",
    "HAMON",
    "BOULANGER",
    "JACOB",
    "MONNIER",
    "MICHAUD",
    "RODRIGUEZ",
    "GUICHARD",
    "GILLET",
    "ÉTIENNE",
    "GRONDIN",
    "POULAIN",
    "TESSIER",
    "CHEVALLIER",
    "COLLIN",
    "CHAUVIN",
    "DA SILVA",
    "BOUCHET",
    "GAY",
    "LEMAÎTRE",
    "BÉNARD",
    "MARÉCHAL",
    "HUMBERT",
    "REYNAUD",
    "ANTOINE",
    "HOARAU",
    "PERRET",
    "BARTHÉLEMY",
    "CORDIER",
    "PICHON",
    "LEJEUNE",
    "GILBERT",
    "LAMY",
    "DELAUNAY",
    "PASQUIER",
    "CARLIER",
    "LAPORTE",
    "D'ALMEIDA",
    "L'HÔTE",
    "DE SAINT-EXUPÉRY",
    "LE BIHAN-KERGUÉLEN",
    "DE LA ROCHEFOUCAULD-MONTBEL",
};

const char* const Prenoms[] = {
    "Jean",          "Marie",         "Pierre",
    "Michel",        "André",         "Philippe",
    "Nathalie",      "Isabelle",      "Sylvie",
    "Catherine",     "Françoise",     "Jacques",
    "Bernard",       "Christine",     "Éric",
    "Stéphane",      "Valérie",       "Sandrine",
    "Véronique",     "Frédéric",      "Laurent",
    "Hélène",        "Jérôme",        "Céline",
    "Cécile",        "Anaïs",         "Zoé",
    "Noël",          "Maëlle",        "Gaëtan",
    "Loïc",          "Raphaël",       "Éloïse",
    "Agnès",         "Thérèse",       "Benoît",
    "Clément",       "Mélanie",       "Aurélie",
    "Sébastien",     "Jérémy",        "Léa",
    "Chloé",         "Inès",          "Théo",
    "Maël",          "Noémie",        "Héloïse",
    "Joël",          "Gaël",          "Anaëlle",
    "Mathéo",        "Léonie",        "Élodie",
    "Émilie",        "Séverine",      "Ghislaine",
    "Régis",         "René",          "Josiane",
    "Huguette",      "Gérard",        "Daniel",
    "Alain",         "Patrick",       "Nicolas",
    "Christophe",    "David",         "Julien",
    "Thomas",        "Camille",       "Manon",
    "Sarah",         "Julie",         "Pauline",
    "Lucas",         "Hugo",          "Louis",
    "Arthur",        "Jules",         "Emma",
    "Louise",        "Jade",          "Alice",
    "Lina",          "Rose",          "Anne-Sophie",
    "Jean-François", "Marie-Thérèse", "Pierre-Étienne",
    "Jean-Noël",     "Marie-Hélène",  "François-Xavier",
    "Yannick",       "Gwenaëlle",     "Ségolène",
    "Aimé",          "Désiré",        "Béatrice",
    "Solène",        "Maïwenn",       "Ronan",
};

const char* const Voies[] = {
    "rue de la République",    "rue Victor Hugo",
    "avenue Jean Jaurès",      "rue Pasteur",
    "place de l'Église",       "allée des Érables",
    "impasse des Prés",        "chemin du Moulin",
    "boulevard Gambetta",      "rue de la Gare",
    "rue des Écoles",          "rue du Général de Gaulle",
    "avenue de la Libération", "rue Émile Zola",
    "rue de l'Abbé Grégoire",  "quai des Bûcherons",
    "rue des Tanneurs",        "route de Nantes",
    "rue Saint-Exupéry",       "square Léon Blum",
    "rue des Lilas",           "rue du Château d'Eau",
    "_qscours Mirabeau",       "_qsrue Sainte-Anne",
};

const char* const Complements[] = {
    "Bâtiment B",           "Résidence les Pins", "Appartement 12",  "BP 42",
    "Escalier C, 3e étage", "Lieu-dit Kerhoël",   "Chez Mme Bénard", "Hameau de l'Étang",
};

const char* const Villes[] = {
    "75011 PARIS",
    "69003 LYON",
    "13006 MARSEILLE",
    "31000 TOULOUSE",
    "06000 NICE",
    "44000 NANTES",
    "67000 STRASBOURG",
    "34000 MONTPELLIER",
    "33000 BORDEAUX",
    "59000 LILLE",
    "35000 RENNES",
    "51100 REIMS",
    "76600 LE HAVRE",
    "42000 SAINT-ÉTIENNE",
    "83000 TOULON",
    "38000 GRENOBLE",
    "21000 DIJON",
    "49000 ANGERS",
    "30000 NÎMES",
    "63000 CLERMONT-FERRAND",
    "72000 LE MANS",
    "29200 BREST",
    "37000 TOURS",
    "80000 AMIENS",
    "87000 LIMOGES",
    "22000 SAINT-BRIEUC",
    "29000 QUIMPER",
    "56000 VANNES",
    "97400 SAINT-DENIS",
    "64100 BAYONNE",
    "40100 DAX",
    "89000 AUXERRE",
    "74000 ANNECY",
    "73000 CHAMBÉRY",
    "35400 SAINT-MALO",
    "22100 DINAN",
    "57000 METZ",
    "68100 MULHOUSE",
    "25000 BESANÇON",
    "80100 ABBEVILLE",
    "91000 ÉVRY-COURCOURONNES",
    "95000 CERGY",
};

template <size_t N> QString unDe(const char* const (&liste)[N]) {
    return QString::fromUtf8(liste[size_t(entre(0, int(N) - 1))]);
}

// An 11-character French account number; some banks put a capital letter in it.
QString compteFrancais() {
    QString compte = chiffres(11);
    if (chance(60)) compte[entre(0, 10)] = QChar(u'A' + entre(0, 25));
    if (chance(10)) compte[entre(0, 10)] = QChar(u'A' + entre(0, 25));
    return compte;
}

QString ibanAvecCle(const QString& pays, const QString& bban) {
    return pays + deuxChiffres(CleIBAN(pays + u"00"_qs + bban)) + bban;
}

QString ibanFrancais(const QString& codeBanque, const QString& agence) {
    const QString sansCle = codeBanque + agence + compteFrancais();
    const QString rib = sansCle + deuxChiffres(CleRIB(sansCle + u"00"_qs));
    return ibanAvecCle(u"FR"_qs, rib);
}

QString ibanFrancais(const QString& codeBanque) {
    const QString sansCle = codeBanque + chiffres(5) + compteFrancais();
    const QString rib = sansCle + deuxChiffres(CleRIB(sansCle + u"00"_qs));
    return ibanAvecCle(u"FR"_qs, rib);
}

// Spanish control digits: weighted sums modulo 11 over "00" + bank + branch, then the account.
int chiffreControleEspagnol(const QString& dix) {
    static const int poids[10] = {1, 2, 4, 8, 5, 10, 9, 7, 3, 6};
    int somme = 0;
    for (int i = 0; i < 10; ++i)
        somme += dix[i].digitValue() * poids[i];
    const int c = 11 - somme % 11;
    return c == 11 ? 0 : c == 10 ? 1 : c;
}

QString ibanEtranger(const QString& pays) {
    if (pays == u"BE"_qs) {
        const QString dix = chiffres(10);
        int reste = int(dix.toLongLong() % 97);
        return ibanAvecCle(pays, dix + deuxChiffres(reste == 0 ? 97 : reste));
    }
    if (pays == u"DE"_qs) return ibanAvecCle(pays, chiffres(8) + chiffres(10));
    if (pays == u"ES"_qs) {
        const QString banqueAgence = chiffres(8);
        const QString compte = chiffres(10);
        const QString dc = QString::number(chiffreControleEspagnol(u"00"_qs + banqueAgence)) +
                           QString::number(chiffreControleEspagnol(compte));
        return ibanAvecCle(pays, banqueAgence + dc + compte);
    }
    // Luxembourg: 3-digit bank code, 13 alphanumeric characters.
    QString compte = chiffres(13);
    if (chance(300)) compte[entre(0, 12)] = QChar(u'A' + entre(0, 25));
    return ibanAvecCle(pays, chiffres(3) + compte);
}

QString dateSignature() {
    const int annee = entre(2009, 2024);
    const int mois = annee == 2009 ? entre(11, 12) : entre(1, 12);
    const int jour = entre(1, 28);
    return QString(u"%1-%2-%3"_qs).arg(annee).arg(deuxChiffres(mois), deuxChiffres(jour));
}

// References were typed by hand over the years: several styles, some filling the whole
// 35 characters the column allows.
QString referenceMandat(qint64 idClient, int rang, const QString& signature) {
    const QString annee = signature.left(4);
    const QString client = QString::number(idClient).rightJustified(6, u'0');
    if (chance(40)) {
        QString r = u"SEPA-TALVIK-"_qs + annee + u'-' + client + u'-' +
                    QString::number(rang).rightJustified(4, u'0') + u"-PRLV"_qs;
        while (r.size() < 35)
            r += QChar(u'A' + entre(0, 25));
        return r.left(35);
    }
    if (chance(300)) return u"RUM"_qs + annee + client + deuxChiffres(rang);
    return u"TLK-"_qs + annee + u'-' + client + u'-' + deuxChiffres(rang);
}

QString nomTape(const Banque& b) {
    if (chance(200)) return b.nom.toUpper();
    if (chance(60)) return b.nom + u" - agence"_qs;
    return b.nom;
}

struct Client {
    qint64 id;
    QString nom, prenom;
    int mandats = 0;
};

// Inserts travel in EXECUTE BLOCKs of some tens of rows: one round trip each instead of two
// per row, which turns a quarter of a minute of loading into a second or two. A block stays
// well below the 64 KB a statement text may have and the 256 table references a statement may
// make.
class Script {
public:
    Script() { ligne(u"SET TERM ^ ;"_qs); }
    void insertion(const QString& texte) {
        bloc_ += texte + u'\n';
        if (bloc_.size() > 30000 || ++dansBloc_ == 200) vider();
        if (++lignes_ % LotParCommit == 0) {
            vider();
            ligne(u"COMMIT^"_qs);
        }
    }
    // Ends the inserts: commits them and hands the statement terminator back to ";".
    void terminer(const QString& derniereInstruction) {
        vider();
        ligne(u"COMMIT^"_qs);
        ligne(derniereInstruction + u'^');
        ligne(u"COMMIT^"_qs);
        ligne(u"SET TERM ; ^"_qs);
    }

private:
    void vider() {
        if (bloc_.isEmpty()) return;
        ligne(u"EXECUTE BLOCK AS BEGIN\n"_qs + bloc_ + u"END^"_qs);
        bloc_.clear();
        dansBloc_ = 0;
    }
    static void ligne(const QString& texte) {
        QByteArray octets = texte.toLatin1();
        if (QString::fromLatin1(octets) != texte) {
            std::fprintf(stderr, "ravelin-donnees: texte hors ISO 8859-1 : %s\n",
                         texte.toUtf8().constData());
            std::exit(1);
        }
        octets += '\n';
        std::fwrite(octets.constData(), 1, size_t(octets.size()), stdout);
    }

    QString bloc_;
    int dansBloc_ = 0;
    int lignes_ = 0;
};

// The mandate's other columns, drawn at random, and its insert.
void insererMandat(Script& script, Client& client, int rang, qint64 id, const QString& signature,
                   const QString& iban, const QString& bic, const QString& nomBanque,
                   qint64 idBanque) {
    const QString payeur =
        chance(80) ? u"M. et Mme "_qs + client.nom : client.nom + u' ' + client.prenom;
    const QString adresse1 =
        QString::number(entre(1, 180)) + (chance(80) ? u" bis "_qs : u" "_qs) + unDe(Voies);
    const QString adresse2 = chance(150) ? unDe(Complements) : QString();
    const qint64 contrat = chance(900) ? 100000 + entre(0, 899999) : 0;
    const int actif = chance(140) ? 0 : -1;

    script.insertion(
        u"INSERT INTO CLIENTS_MANDAT (CMAN_ID, CMAN_IDCLI, CMAN_ACTIF, CMAN_SIGNATURE, CMAN_IDBANQ, CMAN_IBAN, CMAN_BIC, "_qs
        "CMAN_NOMBANQUE, CMAN_MANDAT, CMAN_PAYEUR, CMAN_ADRESSE1, CMAN_ADRESSE2, CMAN_CPVILLE, CMAN_CREATION_IDCTR) VALUES ("_qs +
        QString::number(id) + u", "_qs + QString::number(client.id) + u", "_qs +
        QString::number(actif) + u", "_qs + sql(signature) + u", "_qs + sqlId(idBanque) + u", "_qs +
        sql(iban) + u", "_qs + sql(bic) + u", "_qs + sql(nomBanque.left(100)) + u", "_qs +
        sql(referenceMandat(client.id, rang, signature)) + u", "_qs + sql(payeur.left(71)) +
        u", "_qs + sql(adresse1.left(38)) + u", "_qs + sqlOuNull(adresse2) + u", "_qs +
        sql(unDe(Villes)) + u", "_qs + sqlId(contrat) + u");"_qs);
}

} // namespace

int main() {
    Script script;
    qint64 prochainId = 1;

    std::vector<Banque> lesBanques = banques();
    std::vector<size_t> francaises, pondereesFr;
    for (size_t i = 0; i < lesBanques.size(); ++i) {
        Banque& b = lesBanques[i];
        b.id = prochainId++;
        script.insertion(
            u"INSERT INTO BANQUE (BANQ_ID, BANQ_SOCIETE, BANQ_BIC, BANQ_BANQUE, BANQ_BE_DEBUT, BANQ_BE_FIN, BANQ_CODE_PAYS) VALUES ("_qs +
            QString::number(b.id) + u", "_qs + sql(b.nom) + u", "_qs + sql(b.bic) + u", "_qs +
            sqlOuNull(b.code) + u", "_qs + sqlOuNull(b.debut) + u", "_qs + sqlOuNull(b.fin) +
            u", "_qs + sql(b.pays) + u");"_qs);
        if (b.pays != u"FR"_qs) continue;
        francaises.push_back(i);
        for (int p = 0; p < b.poids; ++p)
            pondereesFr.push_back(i);
    }

    std::vector<Client> clients;
    clients.reserve(NombreClients);
    for (int i = 0; i < NombreClients; ++i) {
        Client c{prochainId++, unDe(Noms), unDe(Prenoms)};
        if (chance(30)) c.prenom = unDe(Prenoms) + u' ' + unDe(Prenoms);
        c.prenom = c.prenom.left(35);
        script.insertion(u"INSERT INTO CLIENTS (CLI_ID, CLI_NOM, CLI_PRENOM) VALUES ("_qs +
                         QString::number(c.id) + u", "_qs + sql(c.nom) + u", "_qs + sql(c.prenom) +
                         u");"_qs);
        clients.push_back(c);
    }

    for (int m = 0; m < NombreMandats; ++m) {
        // Every client holds at least one mandate; the others go to clients at random.
        Client& client =
            m < NombreClients ? clients[size_t(m)] : clients[size_t(entre(0, NombreClients - 1))];
        const int rang = ++client.mandats;
        const qint64 id = prochainId++;
        const QString signature = dateSignature();

        QString iban, bic, nomBanque;
        qint64 idBanque = 0;
        if (chance(60)) {
            static const QString pays[] = {u"BE"_qs, u"DE"_qs, u"ES"_qs, u"LU"_qs};
            const QString p = pays[entre(0, 3)];
            std::vector<size_t> candidates;
            for (size_t i = 0; i < lesBanques.size(); ++i)
                if (lesBanques[i].pays == p) candidates.push_back(i);
            const Banque& b = lesBanques[auHasard(candidates)];
            iban = ibanEtranger(p);
            bic = b.bic;
            nomBanque = nomTape(b);
            idBanque = chance(800) ? b.id : 0;
        } else {
            const Banque& b = lesBanques[auHasard(pondereesFr)];
            iban = ibanFrancais(
                b.code.isEmpty() ? b.codesReseau[entre(0, int(b.codesReseau.size()) - 1)] : b.code);
            bic = b.bic;
            nomBanque = nomTape(b);
            // Older mandates were typed without choosing the bank row, and a few were attached
            // to the wrong one: the bank code in the IBAN is what still tells their bank.
            if (chance(120))
                idBanque = 0;
            else if (chance(15))
                idBanque = lesBanques[auHasard(francaises)].id;
            else
                idBanque = b.id;
        }

        insererMandat(script, client, rang, id, signature, iban, bic, nomBanque, idBanque);
    }

    // A branch code narrows a listing to one branch: these branches hold enough mandates, active
    // and inactive, at banks with a code and in a network, for that to show.
    const struct {
        const char* code;
        const char* agence;
    } agences[] = {{"30004", "00321"},
                   {"30004", "01765"},
                   {"30003", "04120"},
                   {"16188", "00050"},
                   {"16606", "10012"}};
    for (const auto& a : agences) {
        const QString code = QString::fromLatin1(a.code);
        const Banque* banque = nullptr;
        for (const Banque& b : lesBanques)
            if (b.code == code || b.codesReseau.contains(code)) banque = &b;
        for (int n = 0; n < ParAgence; ++n) {
            Client& client = clients[size_t(entre(0, NombreClients - 1))];
            const int rang = ++client.mandats;
            const QString signature = dateSignature();
            insererMandat(script, client, rang, prochainId++, signature,
                          ibanFrancais(code, QString::fromLatin1(a.agence)), banque->bic,
                          nomTape(*banque), banque->id);
        }
    }

    // New rows written by the program take their identifiers from here on.
    script.terminer(u"SET GENERATOR IDGENERIQUE TO "_qs + QString::number(prochainId - 1));
    return std::fflush(stdout) == 0 ? 0 : 1;
}
