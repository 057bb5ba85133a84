#include "Pannes.h"

#include "Controls.h"
#include "Journal.h"
#include "Programme.h"
#include "ServerRows.h"
#include "pFIBDataSet.h"
#include "pFIBQuery.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QThread>
#include <QToolButton>

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <random>
#include <set>

#include <signal.h>

namespace Pannes {

namespace {

const QString BanqueAncienne = QStringLiteral("8100000001");
const QString BanqueNouvelle = QStringLiteral("8100000002");
const QString CodeAncien = QStringLiteral("98765");
const QString CodeNouveau = QStringLiteral("12345");
const QString BicAncien = QStringLiteral("ANCIFRPPXXX");
const QString BicNouveau = QStringLiteral("OUESFRPPXXX");
const QString Client = QStringLiteral("8200000001");
const QString PremierMandat = QStringLiteral("8000000000");

QString Port;

bool Script(const QStringList& arguments) {
    const QString script = qEnvironmentVariable("RAVELIN_SOURCE_DIR") + "/scripts/fbinstance";
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(script, arguments);
    return p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

qint64 PidServeur() {
    QFile f(Racine() + "/firebird.pid");
    if (!f.open(QIODevice::ReadOnly)) return 0;
    return f.readAll().trimmed().toLongLong();
}

// A killed server may linger a moment as a zombie until its parent collects it.
bool Vivant(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return false;
    const QByteArray line = stat.readAll();
    const qsizetype fin = line.lastIndexOf(')');
    return fin >= 0 && line.mid(fin + 2, 1) != "Z";
}

int EntierEnv(const char* name, int defaut) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : defaut;
}

} // namespace

QString Racine() {
    return qEnvironmentVariable("RAVELIN_PANNES_ROOT");
}

bool Demarrer() {
    QStringList arguments{QStringLiteral("start"), Racine()};
    if (!Port.isEmpty()) arguments << QStringLiteral("--port") << Port;
    if (!Script(arguments)) return false;
    QFile f(Racine() + "/port");
    if (!f.open(QIODevice::ReadOnly)) return false;
    Port = QString::fromLatin1(f.readAll().trimmed());
    return !Port.isEmpty();
}

void Tuer() {
    const qint64 pid = PidServeur();
    if (pid <= 0) return;
    ::kill(pid_t(pid), SIGKILL);
    while (Vivant(pid))
        QThread::msleep(10);
}

void Arreter() {
    // The server waits for long on SIGTERM; its database is nothing to take care of here.
    Tuer();
    Script({QStringLiteral("stop"), Racine()});
}

int Instants() {
    return EntierEnv("RAVELIN_PANNES_INSTANTS", 1);
}

int Mandats() {
    return EntierEnv("RAVELIN_PANNES_MANDATS", 10000);
}

std::uint64_t PremiereGraine() {
    bool ok = false;
    const qulonglong value = qEnvironmentVariable("RAVELIN_PANNES_GRAINE").toULongLong(&ok);
    if (ok) return value;
    return std::random_device{}();
}

const char* NomMode(int mode) {
    return mode == Recreer ? "Recreer" : "Modifier";
}

// ---------------------------------------------------------------------------------------------
// Connexion

Connexion::Connexion() {
    FDb.SetSynchronizeTime(false);
    ConfigureProgramConnection(FDb);
    FDb.Open(true);
    FVerrou.SetDefaultDatabase(&FDb);
}

Connexion::~Connexion() {
    Liberer();
}

void Connexion::Executer(const QString& sql) {
    ExecuteIn(FDb, sql);
}

QStringList Connexion::Lignes(const QString& sql) {
    return RowsOf(FDb, sql);
}

void Connexion::Verrouiller(const QStringList& ids) {
    FVerrou.StartTransaction();
    TpFIBQuery q;
    q.SetDatabase(&FDb);
    q.SetTransaction(&FVerrou);
    q.SQL().SetText(QStringLiteral("UPDATE CLIENTS_MANDAT SET CMAN_BIC = CMAN_BIC WHERE CMAN_ID "
                                   "IN (") +
                    ids.join(QLatin1Char(',')) + QLatin1Char(')'));
    q.ExecQuery();
    q.Close();
}

void Connexion::Liberer() {
    if (FVerrou.Active()) FVerrou.Rollback();
}

// ---------------------------------------------------------------------------------------------
// Data and audit

std::vector<Origine> Semer(Connexion& base, int nombre) {
    base.Executer(QStringLiteral("DELETE FROM CLIENTS_MANDAT"));
    base.Executer(QStringLiteral("DELETE FROM CLIENTS WHERE CLI_ID = ") + Client);
    base.Executer(QStringLiteral("DELETE FROM BANQUE WHERE BANQ_ID IN (") + BanqueAncienne + ',' +
                  BanqueNouvelle + ')');
    base.Executer(QStringLiteral("INSERT INTO BANQUE (BANQ_ID, BANQ_SOCIETE, BANQ_BIC, "
                                 "BANQ_BANQUE) VALUES (") +
                  BanqueAncienne + QStringLiteral(", 'Banque Ancienne', '") + BicAncien +
                  QStringLiteral("', '") + CodeAncien + QStringLiteral("')"));
    base.Executer(QStringLiteral("INSERT INTO BANQUE (BANQ_ID, BANQ_SOCIETE, BANQ_BIC, "
                                 "BANQ_BANQUE) VALUES (") +
                  BanqueNouvelle + QStringLiteral(", 'Banque de l''Ouest', '") + BicNouveau +
                  QStringLiteral("', '") + CodeNouveau + QStringLiteral("')"));
    base.Executer(QStringLiteral("INSERT INTO CLIENTS VALUES (") + Client +
                  QStringLiteral(", 'RAVPANNE', 'Paul')"));
    // Branch codes and account numbers vary with the row, so that every new IBAN differs.
    base.Executer(
        QStringLiteral("EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < %1) DO BEGIN "
                       "INSERT INTO CLIENTS_MANDAT VALUES (%2 + :I, %3, -1, DATE '2016-05-04', "
                       "%4, 'FR76%5' || LPAD(MOD(:I * 7, 100000), 5, '0') || LPAD(:I * 13, 11, "
                       "'0') || '00', '%6', 'Ancienne (saisie)', 'PAN-' || :I, 'Paul RAVPANNE', "
                       "'2 rue du Port', NULL, '29200 BREST', 7); I = I + 1; END END")
            .arg(nombre)
            .arg(PremierMandat, Client, BanqueAncienne, CodeAncien, BicAncien));
    std::vector<Origine> origines;
    for (const QString& row :
         base.Lignes(QStringLiteral("SELECT CMAN_ID, CMAN_IBAN, CMAN_MANDAT FROM CLIENTS_MANDAT "
                                    "ORDER BY CMAN_ID"))) {
        const QStringList c = row.split('|');
        origines.push_back({c[0], c[1], c[2]});
    }
    return origines;
}

namespace {

struct Ligne {
    QString id, client, actif, banque, iban, bic, reference, nomBanque;
};

enum class Etat { Intact, Change, Moitie };

struct Lecture {
    std::map<QString, Ligne> parId;
    std::map<QString, std::vector<Ligne>> parReference;
    int total = 0;
};

Lecture Lire(Connexion& base) {
    Lecture l;
    for (const QString& row : base.Lignes(QStringLiteral(
             "SELECT CMAN_ID, CMAN_IDCLI, CMAN_ACTIF, CMAN_IDBANQ, CMAN_IBAN, CMAN_BIC, "
             "CMAN_MANDAT, CMAN_NOMBANQUE FROM CLIENTS_MANDAT"))) {
        const QStringList c = row.split('|');
        const Ligne ligne{c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]};
        l.parId[ligne.id] = ligne;
        l.parReference[ligne.reference].push_back(ligne);
        ++l.total;
    }
    return l;
}

bool Ancienne(const Ligne& l, const Origine& o, const char* actif) {
    return l.client == Client && l.actif == QLatin1String(actif) && l.banque == BanqueAncienne &&
           l.iban == o.iban && l.bic == BicAncien && l.reference == o.reference;
}

bool Nouvelle(const Ligne& l, const Origine& o, const QString& reference,
              const char* actif = "-1") {
    return l.client == Client && l.actif == QLatin1String(actif) && l.banque == BanqueNouvelle &&
           l.iban == NouvelIbanFrancais(CodeNouveau, QString(), o.iban) && l.bic == BicNouveau &&
           l.reference == reference;
}

Etat Classer(const Lecture& l, const Origine& o, int mode, bool annulation, int& copies) {
    const auto it = l.parId.find(o.id);
    if (it == l.parId.end()) return Etat::Moitie;
    const Ligne& ligne = it->second;
    if (mode == Modifier) {
        copies = 0;
        if (Ancienne(ligne, o, "-1")) return Etat::Intact;
        return Nouvelle(ligne, o, o.reference) && ligne.id == o.id ? Etat::Change : Etat::Moitie;
    }
    const QString reference = RecreerReference(o.reference);
    const auto trouve = l.parReference.find(reference);
    copies = trouve == l.parReference.end() ? 0 : int(trouve->second.size());
    if (copies == 0) return Ancienne(ligne, o, "-1") ? Etat::Intact : Etat::Moitie;
    const Ligne& copie = trouve->second.front();
    const bool copieDeLaBanque =
        copie.id != o.id && copie.nomBanque == QLatin1String("Banque de l'Ouest");
    // Given back: the original active again, its one copy ended.
    if (annulation && copies == 1 && Ancienne(ligne, o, "-1"))
        return copieDeLaBanque && Nouvelle(copie, o, reference, "0") ? Etat::Intact : Etat::Moitie;
    if (copies > 1 || !Ancienne(ligne, o, "0")) return Etat::Moitie;
    return copieDeLaBanque && Nouvelle(copie, o, reference) ? Etat::Change : Etat::Moitie;
}

} // namespace

Bilan Auditer(Connexion& base, const std::vector<Origine>& origines, int mode, bool annulation) {
    const Lecture l = Lire(base);
    Bilan b;
    int attendues = 0;
    for (const Origine& o : origines) {
        int copies = 0;
        switch (Classer(l, o, mode, annulation, copies)) {
        case Etat::Intact:
            ++b.intacts;
            break;
        case Etat::Change:
            ++b.changes;
            break;
        case Etat::Moitie:
            ++b.moities;
            break;
        }
        if (copies > 1) b.doublons += copies - 1;
        attendues += 1 + copies;
    }
    b.etrangers = l.total - attendues;
    return b;
}

std::vector<bool> EtatParMandat(Connexion& base, const std::vector<Origine>& origines, int mode,
                                bool annulation) {
    const Lecture l = Lire(base);
    std::vector<bool> etats;
    for (const Origine& o : origines) {
        int copies = 0;
        const Etat e = Classer(l, o, mode, annulation, copies);
        EXPECT_NE(e, Etat::Moitie) << o.id.toStdString();
        etats.push_back(e == Etat::Change);
    }
    return etats;
}

// ---------------------------------------------------------------------------------------------
// The journals

QString DossierDonnees;

void NouveauxJournaux(const QString& nom) {
    const QString dossier = DossierDonnees + QLatin1Char('/') + nom;
    QDir(dossier).removeRecursively();
    qputenv("XDG_DATA_HOME", QFile::encodeName(dossier));
}

BilanJournal LireJournaux(const std::vector<Origine>& origines, const std::vector<bool>& changes,
                          const QString& filtre) {
    std::map<QString, QString> derniere;
    std::set<QString> avecChange;
    BilanJournal b;
    const QDir dossier(DossierJournaux());
    for (const QString& nom : dossier.entryList({filtre}, QDir::Files)) {
        QFile f(dossier.filePath(nom));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << nom.toStdString();
        for (const QStringList& c : LireCsv(f.readAll())) {
            if (c.size() != 16 || c[0] == QLatin1String("horodatage")) continue;
            derniere[c[4]] = c[2];
            if (c[2] == QLatin1String("CHANGE")) avecChange.insert(c[4]);
            if (c[3] == QString::fromUtf8("constaté au démarrage")) ++b.constates;
            if (c[3] == QLatin1String("interrompu")) ++b.interrompus;
        }
    }
    for (size_t i = 0; i < origines.size(); ++i) {
        const QString& id = origines[i].id;
        const QString fin = derniere.count(id) ? derniere[id] : QString();
        if (fin == QLatin1String("CHANGE")) ++b.changes;
        if (fin == QLatin1String("EN_COURS")) ++b.enCours;
        if (changes[i] && fin != QLatin1String("CHANGE")) ++b.sansLigne;
        if (!changes[i] && avecChange.count(id)) ++b.fausses;
    }
    return b;
}

// ---------------------------------------------------------------------------------------------
// The window

Fenetre::Fenetre() : frm(std::make_unique<TfrmPrincipale>()) {
    frm->Ancien_ID = BanqueAncienne.toLongLong();
    frm->Ancien_Code = CodeAncien;
    frm->Ancien_BIC = BicAncien;
    frm->Ancien_Nom = QStringLiteral("Banque Ancienne");
    frm->Nouveau_ID = BanqueNouvelle.toLongLong();
    frm->Nouveau_Code = CodeNouveau;
    frm->Nouveau_BIC = BicNouveau;
    frm->Nouveau_Nom = QStringLiteral("Banque de l'Ouest");
    // Deactivated mandates of an interrupted "Recréer" must not be listed again.
    frm->cbxActif->setChecked(true);
}

Fenetre::~Fenetre() = default;

QStringList Fenetre::Verifier() {
    frm->btnVerifier->click();
    return Liste();
}

QStringList Fenetre::Liste() {
    QStringList ids;
    if (!frm->idsBanque->Active()) return ids;
    for (frm->idsBanque->First(); !frm->idsBanque->Eof(); frm->idsBanque->Next())
        ids << frm->idsBanqueCMAN_ID->AsString();
    frm->idsBanque->First();
    return ids;
}

void Fenetre::Changer(int mode) {
    frm->rgoMandat->SetItemIndex(mode);
    frm->btnChanger->click();
}

QString TexteEcartes(int ecartes, int traites) {
    return QString::fromUtf8("%1 mandats sur %2 n'ont pas pu être changés : ils restent dans la "
                             "liste.")
        .arg(ecartes)
        .arg(traites);
}

} // namespace Pannes
