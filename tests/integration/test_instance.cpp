// The private Firebird instance the other database tests stand on: its schema, its demo data,
// a second instance beside it, the volume generator, and where the password must not end up.
// Everything goes through isql-fb, as a user of the instance would, with the password handed
// over in the process environment.
#include "uFonctions_Verification.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <csignal>
#include <map>

namespace {

// ctest hands the folders over in the environment; the build's own values stand in when a
// test runs by hand.
QString dossierBuild() {
    return qEnvironmentVariable("RAVELIN_BUILD_DIR", QStringLiteral(RAVELIN_BUILD_DIR_DEFAUT));
}

QString racineFixture() {
    return qEnvironmentVariable("RAVELIN_FB_ROOT", qEnvironmentVariable("FIREBIRD"));
}

QString script(const QString& nom) {
    return qEnvironmentVariable("RAVELIN_SOURCE_DIR", QStringLiteral(RAVELIN_SOURCE_DIR_DEFAUT)) +
           u"/scripts/"_qs + nom;
}

QProcessEnvironment environnementScripts() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"RAVELIN_BUILD_DIR"_qs, dossierBuild());
    return env;
}

struct Resultat {
    int code = -1;
    QString sortie;
    QString erreurs;
};

Resultat lancer(const QString& programme, const QStringList& arguments,
                const QProcessEnvironment& env, const QByteArray& entree = {}) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(programme, arguments);
    Resultat r;
    if (!p.waitForStarted(30000)) {
        r.erreurs = programme + u" ne démarre pas"_qs;
        return r;
    }
    if (!entree.isEmpty()) p.write(entree);
    p.closeWriteChannel();
    p.waitForFinished(600000);
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.sortie = QString::fromLatin1(p.readAllStandardOutput());
    r.erreurs = QString::fromLatin1(p.readAllStandardError());
    return r;
}

const QByteArray& motDePasse() {
    static const QByteArray mdp = [] {
        QProcess p;
        p.start(dossierBuild() + u"/app/ravelin-motdepasse"_qs, {});
        p.waitForFinished(30000);
        return p.readAllStandardOutput();
    }();
    return mdp;
}

QProcessEnvironment environnement(const QString& racine) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"FIREBIRD"_qs, racine);
    env.insert(u"ISC_USER"_qs, u"SYSDBA"_qs);
    env.insert(u"ISC_PASSWORD"_qs, QString::fromUtf8(motDePasse()));
    return env;
}

// Runs statements on an instance's TALVIK_GESTION and returns the non-empty output lines,
// trimmed; a failing statement fails the test. The statements go through a file: read from
// its standard input, isql-fb mangles bytes above 127.
QStringList requete(const QString& racine, const QString& sql) {
    QTemporaryFile fichier;
    if (!fichier.open()) {
        ADD_FAILURE() << "fichier temporaire impossible";
        return {};
    }
    fichier.write((u"SET HEADING OFF;\n"_qs + sql + u'\n').toLatin1());
    fichier.flush();
    const Resultat r = lancer(u"isql-fb"_qs,
                              {u"-q"_qs, u"-b"_qs, u"-ch"_qs, u"ISO8859_1"_qs, u"-i"_qs,
                               fichier.fileName(), u"127.0.0.1:TALVIK_GESTION"_qs},
                              environnement(racine));
    EXPECT_EQ(r.code, 0) << r.erreurs.toStdString();
    QStringList lignes;
    for (const QString& l : r.sortie.split(u'\n')) {
        const QString t = l.trimmed();
        if (!t.isEmpty()) lignes << t;
    }
    return lignes;
}

qint64 nombre(const QString& racine, const QString& sql) {
    const QStringList l = requete(racine, sql);
    EXPECT_EQ(l.size(), 1) << sql.toStdString();
    return l.isEmpty() ? -1 : l.first().toLongLong();
}

QString deuxChiffres(qint32 n) {
    return QString::number(n).rightJustified(2, u'0');
}

// Checks one IBAN against the keys module; for a French one also its RIB key. Returns an empty
// text when it is valid, else why not.
QString defautIban(const QString& iban) {
    if (iban.size() < 5) return u"trop court"_qs;
    if (iban.mid(2, 2) != deuxChiffres(CleIBAN(iban.left(2) + u"00"_qs + iban.mid(4))))
        return u"chiffres de contrôle"_qs;
    if (ModuloDecimal(ConvertirLettresIBAN(iban.mid(4) + iban.left(4)), 97) != 1)
        return u"IBAN modulo 97"_qs;
    if (!iban.startsWith(u"FR"_qs)) return {};
    if (iban.size() != 27) return u"longueur"_qs;
    const QString rib = iban.mid(4);
    if (rib.right(2) != deuxChiffres(CleRIB(rib.left(21) + u"00"_qs))) return u"clé RIB"_qs;
    if (ModuloDecimal(ConvertirLettresRIB(rib), 97) != 0) return u"RIB modulo 97"_qs;
    return {};
}

void verifierIbans(const QStringList& ibans) {
    int fautifs = 0;
    for (const QString& iban : ibans) {
        const QString defaut = defautIban(iban);
        if (defaut.isEmpty()) continue;
        if (++fautifs <= 5) ADD_FAILURE() << iban.toStdString() << ": " << defaut.toStdString();
    }
    EXPECT_EQ(fautifs, 0);
}

// Every file under a folder that holds the given bytes.
QStringList fichiersContenant(const QString& dossier, const QByteArray& octets) {
    QStringList trouves;
    QDirIterator it(dossier, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (!f.open(QIODevice::ReadOnly)) {
            trouves << f.fileName() + u" (illisible)"_qs;
            continue;
        }
        if (f.readAll().contains(octets)) trouves << f.fileName();
    }
    return trouves;
}

Resultat fbinstance(const QStringList& arguments) {
    return lancer(script(u"fbinstance"_qs), arguments, environnementScripts());
}

} // namespace

TEST(Schema, TablesColonnesGenerateurEtJeuDeCaracteres) {
    const QString r = racineFixture();
    // Column, field type, character length, nullable.
    const QStringList colonnes = requete(
        r,
        u"SELECT TRIM(RF.RDB$RELATION_NAME) || '.' || TRIM(RF.RDB$FIELD_NAME) || ' ' || "
        u"F.RDB$FIELD_TYPE || ' ' || "
        "COALESCE(F.RDB$CHARACTER_LENGTH, 0) || ' ' || IIF(COALESCE(RF.RDB$NULL_FLAG, "
        "F.RDB$NULL_FLAG, 0) = 1, 'NN', 'N') "
        "FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
        "WHERE RF.RDB$RELATION_NAME IN ('BANQUE', 'CLIENTS', 'CLIENTS_MANDAT');"_qs);
    std::map<QString, QStringList> trouvees;
    for (const QString& l : colonnes) {
        const QStringList p = l.split(u' ');
        ASSERT_EQ(p.size(), 4) << l.toStdString();
        trouvees[p[0]] = p.mid(1);
    }
    // 16 BIGINT, 7 SMALLINT, 37 VARCHAR, 12 DATE; "-" for a type left to the schema.
    const std::map<QString, QStringList> attendues = {
        {u"BANQUE.BANQ_ID"_qs, {u"16"_qs, u"0"_qs, u"NN"_qs}},
        {u"BANQUE.BANQ_SOCIETE"_qs, {u"37"_qs, u"100"_qs, u"-"_qs}},
        {u"BANQUE.BANQ_BIC"_qs, {u"37"_qs, u"11"_qs, u"-"_qs}},
        {u"BANQUE.BANQ_BANQUE"_qs, {u"37"_qs, u"5"_qs, u"N"_qs}},
        {u"BANQUE.BANQ_BE_DEBUT"_qs, {u"37"_qs, u"5"_qs, u"N"_qs}},
        {u"BANQUE.BANQ_BE_FIN"_qs, {u"37"_qs, u"5"_qs, u"N"_qs}},
        {u"BANQUE.BANQ_CODE_PAYS"_qs, {u"37"_qs, u"2"_qs, u"-"_qs}},
        {u"CLIENTS.CLI_ID"_qs, {u"16"_qs, u"0"_qs, u"NN"_qs}},
        {u"CLIENTS.CLI_NOM"_qs, {u"37"_qs, u"35"_qs, u"-"_qs}},
        {u"CLIENTS.CLI_PRENOM"_qs, {u"37"_qs, u"35"_qs, u"-"_qs}},
        {u"CLIENTS_MANDAT.CMAN_ID"_qs, {u"16"_qs, u"0"_qs, u"NN"_qs}},
        {u"CLIENTS_MANDAT.CMAN_IDCLI"_qs, {u"16"_qs, u"0"_qs, u"-"_qs}},
        {u"CLIENTS_MANDAT.CMAN_ACTIF"_qs, {u"7"_qs, u"0"_qs, u"-"_qs}},
        {u"CLIENTS_MANDAT.CMAN_IDBANQ"_qs, {u"16"_qs, u"0"_qs, u"N"_qs}},
        {u"CLIENTS_MANDAT.CMAN_IBAN"_qs, {u"37"_qs, u"50"_qs, u"-"_qs}},
        {u"CLIENTS_MANDAT.CMAN_BIC"_qs, {u"37"_qs, u"11"_qs, u"-"_qs}},
        {u"CLIENTS_MANDAT.CMAN_NOMBANQUE"_qs, {u"37"_qs, u"100"_qs, u"-"_qs}},
        {u"CLIENTS_MANDAT.CMAN_MANDAT"_qs, {u"37"_qs, u"35"_qs, u"-"_qs}},
        {u"CLIENTS_MANDAT.CMAN_SIGNATURE"_qs, {u"12"_qs, u"0"_qs, u"-"_qs}},
        {u"CLIENTS_MANDAT.CMAN_PAYEUR"_qs, {u"-"_qs, u"-"_qs, u"-"_qs}},
        {u"CLIENTS_MANDAT.CMAN_ADRESSE1"_qs, {u"-"_qs, u"-"_qs, u"-"_qs}},
        {u"CLIENTS_MANDAT.CMAN_ADRESSE2"_qs, {u"-"_qs, u"-"_qs, u"-"_qs}},
        {u"CLIENTS_MANDAT.CMAN_CPVILLE"_qs, {u"-"_qs, u"-"_qs, u"-"_qs}},
        {u"CLIENTS_MANDAT.CMAN_CREATION_IDCTR"_qs, {u"-"_qs, u"-"_qs, u"-"_qs}},
    };
    for (const auto& [colonne, attendu] : attendues) {
        SCOPED_TRACE(colonne.toStdString());
        const auto t = trouvees.find(colonne);
        ASSERT_NE(t, trouvees.end());
        for (int i = 0; i < 3; ++i) {
            if (attendu[i] != u"-") {
                EXPECT_EQ(t->second[i], attendu[i]);
            }
        }
    }

    EXPECT_EQ(
        nombre(r,
               u"SELECT COUNT(*) FROM RDB$GENERATORS WHERE RDB$GENERATOR_NAME = 'IDGENERIQUE';"_qs),
        1);
    EXPECT_EQ(requete(r, u"SELECT TRIM(RDB$CHARACTER_SET_NAME) FROM RDB$DATABASE;"_qs),
              QStringList{u"ISO8859_1"_qs});
    EXPECT_EQ(nombre(r, u"SELECT MON$SQL_DIALECT FROM MON$DATABASE;"_qs), 3);
    // The program's new mandates take their identifiers from the generator: it must be past
    // every identifier already used in the three tables.
    EXPECT_GE(
        nombre(
            r,
            u"SELECT GEN_ID(IDGENERIQUE, 0) - MAXVALUE((SELECT MAX(BANQ_ID) FROM BANQUE), "
            "(SELECT MAX(CLI_ID) FROM CLIENTS), (SELECT MAX(CMAN_ID) FROM CLIENTS_MANDAT)) FROM RDB$DATABASE;"_qs),
        0);
}

TEST(DonneesDemo, EffectifsEtIbansValides) {
    const QString r = racineFixture();
    EXPECT_GE(nombre(r, u"SELECT COUNT(*) FROM BANQUE;"_qs), 35);
    EXPECT_LE(nombre(r, u"SELECT COUNT(*) FROM BANQUE;"_qs), 50);
    EXPECT_GE(nombre(r, u"SELECT COUNT(*) FROM CLIENTS;"_qs), 2500);
    EXPECT_LE(nombre(r, u"SELECT COUNT(*) FROM CLIENTS;"_qs), 3500);
    EXPECT_GE(nombre(r, u"SELECT COUNT(*) FROM CLIENTS_MANDAT;"_qs), 9000);
    EXPECT_LE(nombre(r, u"SELECT COUNT(*) FROM CLIENTS_MANDAT;"_qs), 12000);

    const QStringList francais =
        requete(r, u"SELECT CMAN_IBAN FROM CLIENTS_MANDAT WHERE CMAN_IBAN STARTING WITH 'FR';"_qs);
    EXPECT_GE(francais.size(), 8000);
    verifierIbans(francais);
    // Account numbers with letters are what tells a RIB key apart from a plain modulo.
    EXPECT_GT(francais.filter(QRegularExpression(u"^FR\\d{12}\\d*[A-Z]"_qs)).size(), 10);

    const QStringList etrangers = requete(
        r, u"SELECT CMAN_IBAN FROM CLIENTS_MANDAT WHERE NOT CMAN_IBAN STARTING WITH 'FR';"_qs);
    EXPECT_GE(etrangers.size(), 100);
    verifierIbans(etrangers);
}

TEST(DonneesDemo, CasParticuliersPresents) {
    const QString r = racineFixture();
    EXPECT_GT(nombre(r, u"SELECT COUNT(*) FROM CLIENTS_MANDAT WHERE CMAN_ACTIF = 0;"_qs), 100);
    EXPECT_GT(
        nombre(r, u"SELECT COUNT(*) FROM CLIENTS_MANDAT WHERE CHAR_LENGTH(CMAN_MANDAT) = 35;"_qs),
        50);
    EXPECT_GT(
        nombre(
            r,
            u"SELECT COUNT(*) FROM BANQUE WHERE BANQ_BANQUE IS NULL AND BANQ_BE_DEBUT IS NOT NULL "
            "AND BANQ_BE_FIN IS NOT NULL;"_qs),
        1);
    EXPECT_GT(
        nombre(
            r,
            u"SELECT COUNT(*) FROM BANQUE WHERE BANQ_BANQUE IS NULL AND BANQ_BE_DEBUT IS NULL;"_qs),
        0);
    // Mandates that only the IBAN's bank code ties to their bank: the listing's second condition.
    EXPECT_GT(nombre(r, u"SELECT COUNT(*) FROM CLIENTS_MANDAT JOIN BANQUE ON BANQ_BANQUE = "
                        u"SUBSTRING(CMAN_IBAN FROM 5 FOR 5) "
                        "WHERE CMAN_IDBANQ IS NULL;"_qs),
              10);
    EXPECT_GT(nombre(r, u"SELECT COUNT(*) FROM CLIENTS_MANDAT JOIN BANQUE ON BANQ_BANQUE = "
                        u"SUBSTRING(CMAN_IBAN FROM 5 FOR 5) "
                        "WHERE CMAN_IDBANQ <> BANQ_ID;"_qs),
              5);
    EXPECT_GT(nombre(r, u"SELECT COUNT(*) FROM CLIENTS_MANDAT JOIN BANQUE ON BANQ_ID = CMAN_IDBANQ "
                        "WHERE BANQ_BANQUE = SUBSTRING(CMAN_IBAN FROM 5 FOR 5);"_qs),
              5000);
    EXPECT_GT(
        nombre(r,
               u"SELECT COUNT(*) FROM CLIENTS_MANDAT JOIN BANQUE ON BANQ_ID = CMAN_IDBANQ WHERE "
               u"BANQ_BANQUE IS NULL "
               "AND SUBSTRING(CMAN_IBAN FROM 5 FOR 5) BETWEEN BANQ_BE_DEBUT AND BANQ_BE_FIN;"_qs),
        100);

    // Branches that hold several mandates, for a listing narrowed by branch code.
    EXPECT_GE(nombre(r, u"SELECT COUNT(*) FROM (SELECT SUBSTRING(CMAN_IBAN FROM 5 FOR 10) AS "
                        u"AGENCE FROM CLIENTS_MANDAT "
                        "WHERE CMAN_IBAN STARTING WITH 'FR' GROUP BY 1 HAVING COUNT(*) >= 8);"_qs),
              5);

    // One byte per accented letter: the text went in as ISO 8859-1, not as UTF-8 read as it.
    const QString nom = QString::fromUtf8("CRÉDIT D'ARMOR");
    EXPECT_EQ(
        requete(
            r,
            u"SELECT BANQ_SOCIETE || '|' || OCTET_LENGTH(BANQ_SOCIETE) FROM BANQUE WHERE BANQ_SOCIETE = '"_qs +
                QString(nom).replace(u"'"_qs, u"''"_qs) + u"';"_qs),
        QStringList{nom + u"|14"_qs});
    EXPECT_GT(nombre(r, u"SELECT COUNT(*) FROM CLIENTS WHERE CLI_PRENOM = '"_qs +
                            QString::fromUtf8("Zoé") + u"';"_qs),
              0);
}

namespace {

// A second instance in a folder of its own, stopped whatever the test's outcome.
class Voisine {
public:
    Voisine() { dossier_.setAutoRemove(true); }
    ~Voisine() { fbinstance({u"stop"_qs, racine()}); }
    QString racine() const { return dossier_.path() + u"/fb"_qs; }

private:
    QTemporaryDir dossier_;
};

bool processusVivant(qint64 pid) {
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

} // namespace

TEST(InstanceVoisine, TourneACoteGenereDuVolumeEtSArrete) {
    const QString fixture = racineFixture();
    const Resultat portFixture = fbinstance({u"status"_qs, fixture});
    ASSERT_EQ(portFixture.code, 0) << "l'instance des tests ne tourne pas";

    Voisine voisine;
    const Resultat depart = fbinstance({u"start"_qs, voisine.racine()});
    ASSERT_EQ(depart.code, 0) << depart.erreurs.toStdString();
    EXPECT_TRUE(depart.sortie.isEmpty()) << depart.sortie.toStdString();
    const Resultat port = fbinstance({u"status"_qs, voisine.racine()});
    ASSERT_EQ(port.code, 0);
    EXPECT_NE(port.sortie.trimmed(), portFixture.sortie.trimmed());
    EXPECT_EQ(nombre(voisine.racine(), u"SELECT COUNT(*) FROM BANQUE;"_qs),
              nombre(fixture, u"SELECT COUNT(*) FROM BANQUE;"_qs));

    // The volume generator computes its keys in PSQL: the keys module must agree with it.
    const qint64 avant = nombre(voisine.racine(), u"SELECT COUNT(*) FROM CLIENTS_MANDAT;"_qs);
    const Resultat volume =
        lancer(script(u"volume"_qs), {u"250"_qs, voisine.racine()}, environnementScripts());
    ASSERT_EQ(volume.code, 0) << volume.erreurs.toStdString();
    EXPECT_EQ(nombre(voisine.racine(), u"SELECT COUNT(*) FROM CLIENTS_MANDAT;"_qs), avant + 250);
    const QStringList ibans =
        requete(voisine.racine(),
                u"SELECT CMAN_IBAN FROM CLIENTS_MANDAT WHERE CMAN_MANDAT STARTING WITH 'VOL-';"_qs);
    EXPECT_EQ(ibans.size(), 250);
    verifierIbans(ibans);
    EXPECT_GE(nombre(voisine.racine(),
                     u"SELECT GEN_ID(IDGENERIQUE, 0) - MAX(CMAN_ID) FROM CLIENTS_MANDAT;"_qs),
              0);
    EXPECT_EQ(fichiersContenant(voisine.racine(), motDePasse()), QStringList{});

    QFile fichierPid(voisine.racine() + u"/firebird.pid"_qs);
    ASSERT_TRUE(fichierPid.open(QIODevice::ReadOnly));
    const qint64 pid = fichierPid.readAll().trimmed().toLongLong();
    ASSERT_TRUE(processusVivant(pid));
    EXPECT_EQ(fbinstance({u"stop"_qs, voisine.racine()}).code, 0);
    EXPECT_FALSE(processusVivant(pid));
    EXPECT_NE(fbinstance({u"status"_qs, voisine.racine()}).code, 0);
    EXPECT_EQ(fbinstance({u"stop"_qs, voisine.racine()}).code, 0)
        << "arrêter une instance arrêtée réussit";

    EXPECT_GT(nombre(fixture, u"SELECT COUNT(*) FROM BANQUE;"_qs), 0)
        << "l'instance des tests répond encore";
}

TEST(MotDePasseInstance, AbsentDesFichiersDeLInstance) {
    const QByteArray mdp = motDePasse();
    ASSERT_GE(mdp.size(), 4);
    ASSERT_TRUE(QFile::exists(racineFixture() + u"/security3.fdb"_qs));
    EXPECT_EQ(fichiersContenant(racineFixture(), mdp), QStringList{});
}

// An instance never lends the machine's accounts, and its accounts are no client's to read.
TEST(SecuriteInstance, BaseDesComptesNeuveEtFermeeAuReseau) {
    // Only SYSDBA and the accounts the tests create themselves.
    EXPECT_EQ(nombre(racineFixture(), u"SELECT COUNT(*) FROM SEC$USERS WHERE SEC$USER_NAME <> "
                                      "'SYSDBA' AND SEC$USER_NAME NOT STARTING WITH 'RAVTEST';"_qs),
              0);
    for (const QString& nom :
         {u"127.0.0.1:security.db"_qs, u"127.0.0.1:"_qs + racineFixture() + u"/security3.fdb"_qs}) {
        SCOPED_TRACE(nom.toStdString());
        const Resultat r = lancer(u"isql-fb"_qs, {u"-q"_qs, u"-b"_qs, nom},
                                  environnement(racineFixture()), "SELECT 1 FROM RDB$DATABASE;\n");
        EXPECT_NE(r.code, 0);
        EXPECT_TRUE(r.erreurs.contains(u"no permission for remote access"_qs))
            << r.erreurs.toStdString();
    }
}
