// The change run under faults: the server killed at a random instant, the program itself
// killed (during a run, and during the undo of one), mandates locked by another connection, the
// server gone between two mandates. After each, every listed mandate is either untouched or
// fully changed (given back or not), and the same window (or a new program) finishes the rest
// without a duplicate.
#include "Controls.h"
#include "Journal.h"
#include "Pannes.h"
#include "Programme.h"
#include "TestSupport.h"
#include "pFIBDataSet.h"
#include "pFIBQuery.h"
#include "ufrmBanqueChoix.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <future>
#include <map>
#include <random>
#include <thread>

#include <signal.h>

using namespace Pannes;

namespace {

// One line per instant, which scripts/pannes adds up.
void Rapporter(const char* genre, int mode, std::uint64_t graine, int coupure, const Bilan& b,
               int audites, const BilanJournal& j) {
    std::printf("PANNE %s mode=%s graine=%llu coupure=%d changes=%d intacts=%d moities=%d "
                "doublons=%d etrangers=%d audites=%d journal_changes=%d constates=%d "
                "interrompus=%d sans_ligne=%d fausses=%d en_cours=%d\n",
                genre, NomMode(mode), static_cast<unsigned long long>(graine), coupure, b.changes,
                b.intacts, b.moities, b.doublons, b.etrangers, audites, j.changes, j.constates,
                j.interrompus, j.sansLigne, j.fausses, j.enCours);
    std::fflush(stdout);
}

// After a kill and the next start (or listing): every mandate the audit finds changed has its
// final CHANGE line, none found untouched has one, and nothing is left pending.
BilanJournal VerifierJournaux(Connexion& base, const std::vector<Origine>& origines, int mode,
                              const Bilan& audit) {
    const BilanJournal j = LireJournaux(origines, EtatParMandat(base, origines, mode));
    EXPECT_EQ(j.sansLigne, 0);
    EXPECT_EQ(j.fausses, 0);
    EXPECT_EQ(j.enCours, 0);
    EXPECT_EQ(j.changes, audit.changes);
    return j;
}

// Whether a box since the `depuis`-th one reported mandates passed over.
bool AEcarte(const BoxRecorder& boxes, size_t depuis = 0) {
    return std::any_of(boxes.messages.begin() + qsizetype(depuis), boxes.messages.end(),
                       [](const RecordedBox& b) {
                           return b.text.contains(QString::fromUtf8("pas pu être changé"));
                       });
}

QStringList Trie(QStringList ids) {
    ids.sort();
    return ids;
}

// The rest of the list once a run was cut: the same window lists exactly the untouched
// mandates and changes them all, passing none over.
void Finir(Fenetre& f, Connexion& base, const std::vector<Origine>& origines, int mode,
           const Bilan& avant) {
    const size_t erreurs = f.boxes.errors.size();
    const size_t messages = f.boxes.messages.size();
    EXPECT_EQ(f.Verifier().size(), avant.intacts);
    EXPECT_FALSE(f.frm->ConnexionPerdue());
    f.Changer(mode);
    EXPECT_EQ(f.boxes.errors.size(), erreurs);
    EXPECT_FALSE(AEcarte(f.boxes, messages));
    EXPECT_TRUE(f.Liste().isEmpty());
    const Bilan apres = Auditer(base, origines, mode);
    EXPECT_EQ(apres.changes, int(origines.size()));
    EXPECT_EQ(apres.moities, 0);
    EXPECT_EQ(apres.doublons, 0);
    EXPECT_EQ(apres.etrangers, 0);
}

// The server forgets a killed client's attachment once it notices the closed socket; until
// then the client's transaction still holds its locks.
bool AttendreSeul(Connexion& base) {
    for (int i = 0; i < 600; ++i) {
        const QStringList autres = base.Lignes(QStringLiteral(
            "SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION "
            "AND MON$SYSTEM_FLAG = 0"));
        if (autres.value(0) == QLatin1String("0")) return true;
        QThread::msleep(100);
    }
    return false;
}

// Starts this binary as the program with `arguments` and kills it with SIGKILL `delai` µs after
// it reported its `k`-th mandate done, then waits until nothing of it is left on the server.
void TuerEnfant(const QStringList& arguments, int k, int delai, int liste, Connexion& base) {
    QProcess enfant;
    enfant.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    enfant.start(QCoreApplication::applicationFilePath(), arguments);
    ASSERT_TRUE(enfant.waitForStarted());
    int fait = 0;
    QByteArray fin;
    while (fait < k && fin.isEmpty()) {
        if (!enfant.canReadLine() && !enfant.waitForReadyRead(120000)) break;
        while (enfant.canReadLine()) {
            const QByteArray ligne = enfant.readLine().trimmed();
            if (ligne.startsWith("liste")) {
                EXPECT_EQ(ligne, "liste " + QByteArray::number(liste));
            } else if (ligne.startsWith("fin")) {
                fin = ligne;
            } else {
                fait = ligne.toInt();
            }
        }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delai));
    ::kill(pid_t(enfant.processId()), SIGKILL);
    enfant.waitForFinished();
    ASSERT_TRUE(fin.isEmpty()) << "the run ended before its kill: " << fin.constData();
    ASSERT_GE(fait, k);
    EXPECT_EQ(enfant.exitStatus(), QProcess::CrashExit);

    // Nothing of the killed program is left on the server.
    ASSERT_TRUE(AttendreSeul(base));
    EXPECT_EQ(base.Lignes(QStringLiteral(
                  "SELECT COUNT(*) FROM MON$TRANSACTIONS T JOIN MON$ATTACHMENTS A ON "
                  "A.MON$ATTACHMENT_ID = T.MON$ATTACHMENT_ID WHERE A.MON$ATTACHMENT_ID <> "
                  "CURRENT_CONNECTION AND A.MON$SYSTEM_FLAG = 0")),
              QStringList{QStringLiteral("0")});
}

class ParMode : public ::testing::TestWithParam<int> {};

std::string NomDuMode(const ::testing::TestParamInfo<int>& info) {
    return NomMode(info.param);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The server killed with SIGKILL at a random instant of a run

using ServeurTue = ParMode;

TEST_P(ServeurTue, EveryMandateIsWholeAndTheSameWindowFinishes) {
    const int mode = GetParam();
    const int n = Mandats();
    std::uint64_t graine = PremiereGraine();
    std::printf("graine %llu\n", static_cast<unsigned long long>(graine));
    for (int instant = 0; instant < Instants(); ++instant, ++graine) {
        SCOPED_TRACE(::testing::Message() << "graine " << graine);
        std::mt19937_64 hasard(graine);
        // After mandate k, then somewhere inside the client and server work that follows it.
        const int k = std::uniform_int_distribution<int>(1, n - 1)(hasard);
        const int delai = std::uniform_int_distribution<int>(0, 3000)(hasard);
        NouveauxJournaux(QStringLiteral("serveur-%1-%2").arg(mode).arg(instant));
        std::vector<Origine> origines;
        {
            Connexion base;
            origines = Semer(base, n);
        }
        ASSERT_EQ(int(origines.size()), n);

        Fenetre f;
        ASSERT_TRUE(f.boxes.errors.empty());
        ASSERT_EQ(f.Verifier().size(), n);
        std::promise<void> depart;
        bool parti = false;
        std::thread tueur([fin = depart.get_future(), delai]() mutable {
            fin.wait();
            std::this_thread::sleep_for(std::chrono::microseconds(delai));
            Tuer();
        });
        f.frm->OnProgression = [&](int fait, int) {
            if (fait != k) return;
            parti = true;
            depart.set_value();
        };
        f.Changer(mode);
        if (!parti) depart.set_value();
        tueur.join();
        f.frm->OnProgression = nullptr;

        // The run ended with the error box, the dead connection dropped.
        ASSERT_EQ(f.boxes.errors.size(), 1u);
        EXPECT_TRUE(f.frm->ConnexionPerdue());
        EXPECT_FALSE(f.frm->dbSource->Connected());
        EXPECT_FALSE(f.frm->transLocale->Active());
        EXPECT_FALSE(f.frm->transSource->Active());
        EXPECT_EQ(f.frm->dlgProgression, nullptr);

        ASSERT_TRUE(Demarrer());
        Connexion base;
        const Bilan avant = Auditer(base, origines, mode);
        // The listing, the connection back, settles the commit the loss left unknown.
        EXPECT_EQ(f.Verifier().size(), avant.intacts);
        const BilanJournal journal = VerifierJournaux(base, origines, mode, avant);
        Rapporter("serveur", mode, graine, k, avant, n, journal);
        EXPECT_EQ(avant.moities, 0);
        EXPECT_EQ(avant.doublons, 0);
        EXPECT_EQ(avant.etrangers, 0);
        EXPECT_GE(avant.changes, k);
        EXPECT_EQ(avant.changes + avant.intacts, n);
        Finir(f, base, origines, mode, avant);
        if (HasFatalFailure() || HasNonfatalFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, ServeurTue, ::testing::Values(Modifier, Recreer), NomDuMode);

// ---------------------------------------------------------------------------------------------
// The program killed with SIGKILL at a random instant of a run

using ProgrammeTue = ParMode;

TEST_P(ProgrammeTue, TheServerRollsTheMandateInHandBack) {
    const int mode = GetParam();
    const int n = Mandats();
    std::uint64_t graine = PremiereGraine();
    std::printf("graine %llu\n", static_cast<unsigned long long>(graine));
    for (int instant = 0; instant < Instants(); ++instant, ++graine) {
        SCOPED_TRACE(::testing::Message() << "graine " << graine);
        std::mt19937_64 hasard(graine);
        const int k = std::uniform_int_distribution<int>(1, n - 1)(hasard);
        const int delai = std::uniform_int_distribution<int>(0, 3000)(hasard);
        NouveauxJournaux(QStringLiteral("programme-%1-%2").arg(mode).arg(instant));
        Connexion base;
        const std::vector<Origine> origines = Semer(base, n);
        ASSERT_EQ(int(origines.size()), n);

        ASSERT_NO_FATAL_FAILURE(
            TuerEnfant({QStringLiteral("--enfant"), QString::number(mode)}, k, delai, n, base));
        const Bilan avant = Auditer(base, origines, mode);
        EXPECT_EQ(avant.moities, 0);
        EXPECT_EQ(avant.doublons, 0);
        EXPECT_EQ(avant.etrangers, 0);
        EXPECT_GE(avant.changes, k);
        EXPECT_EQ(avant.changes + avant.intacts, n);

        // The next start completes the dead program's journal; it then finishes the rest: no
        // row is still locked by the dead one.
        Fenetre f;
        ASSERT_TRUE(f.boxes.errors.empty());
        const BilanJournal journal = VerifierJournaux(base, origines, mode, avant);
        Rapporter("programme", mode, graine, k, avant, n, journal);
        Finir(f, base, origines, mode, avant);
        if (HasFatalFailure() || HasNonfatalFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, ProgrammeTue, ::testing::Values(Modifier, Recreer), NomDuMode);

// ---------------------------------------------------------------------------------------------
// The program killed with SIGKILL at a random instant of an undo

using AnnulationTuee = ParMode;

TEST_P(AnnulationTuee, EveryMandateIsGivenBackWholeOrLeftChangedAndTheNextStartFinishes) {
    const int mode = GetParam();
    const int n = Mandats();
    std::uint64_t graine = PremiereGraine();
    std::printf("graine %llu\n", static_cast<unsigned long long>(graine));
    for (int instant = 0; instant < Instants(); ++instant, ++graine) {
        SCOPED_TRACE(::testing::Message() << "graine " << graine);
        std::mt19937_64 hasard(graine);
        const int k = std::uniform_int_distribution<int>(1, n - 1)(hasard);
        const int delai = std::uniform_int_distribution<int>(0, 3000)(hasard);
        NouveauxJournaux(QStringLiteral("annulation-%1-%2").arg(mode).arg(instant));
        Connexion base;
        const std::vector<Origine> origines = Semer(base, n);
        ASSERT_EQ(int(origines.size()), n);
        QString passage;
        {
            Fenetre f;
            ASSERT_EQ(int(f.Verifier().size()), n);
            f.Changer(mode);
            ASSERT_EQ(Auditer(base, origines, mode).changes, n);
            passage = QDir(DossierJournaux())
                          .entryInfoList({QStringLiteral("*.csv")})
                          .value(0)
                          .filePath();
        }

        ASSERT_NO_FATAL_FAILURE(
            TuerEnfant({QStringLiteral("--annuler"), passage}, k, delai, n, base));
        // Each mandate given back whole, or still as the run left it.
        const Bilan avant = Auditer(base, origines, mode, true);
        EXPECT_EQ(avant.moities, 0);
        EXPECT_EQ(avant.doublons, 0);
        EXPECT_EQ(avant.etrangers, 0);
        EXPECT_GE(avant.intacts, k);
        EXPECT_EQ(avant.changes + avant.intacts, n);

        // The next start completes the undo's journal: a CHANGE for exactly the mandates given
        // back, nothing pending.
        Fenetre f;
        ASSERT_TRUE(f.boxes.errors.empty());
        std::vector<bool> rendus = EtatParMandat(base, origines, mode, true);
        rendus.flip();
        const BilanJournal j = LireJournaux(origines, rendus, QStringLiteral("*_Annulation.csv"));
        EXPECT_EQ(j.sansLigne, 0);
        EXPECT_EQ(j.fausses, 0);
        EXPECT_EQ(j.enCours, 0);
        EXPECT_EQ(j.changes, avant.intacts);
        Bilan rendu = avant;
        std::swap(rendu.changes, rendu.intacts);
        Rapporter("annulation", mode, graine, k, rendu, n, j);

        // The same undo again gives back the rest and passes over those already given back.
        f.frm->AnnulerPassage(passage);
        EXPECT_TRUE(f.boxes.errors.empty());
        ASSERT_FALSE(f.boxes.messages.empty());
        EXPECT_TRUE(f.boxes.messages.back().text.startsWith(
            QStringLiteral("%1 mandats sur %2 ont été rendus").arg(avant.changes).arg(n)))
            << f.boxes.messages.back().text.toStdString();
        const Bilan apres = Auditer(base, origines, mode, true);
        EXPECT_EQ(apres.intacts, n);
        EXPECT_EQ(apres.etrangers, 0);
        if (HasFatalFailure() || HasNonfatalFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, AnnulationTuee, ::testing::Values(Modifier, Recreer), NomDuMode);

// ---------------------------------------------------------------------------------------------
// Another connection holding locks on one listed mandate in ten

using Verrous = ParMode;

TEST_P(Verrous, ExactlyTheLockedMandatesArePassedOverAndCounted) {
    const int mode = GetParam();
    Connexion base;
    const std::vector<Origine> origines = Semer(base, 1000);
    Fenetre f;
    const QStringList liste = f.Verifier();
    ASSERT_EQ(liste.size(), 1000);
    QStringList verrouilles;
    for (int i = 9; i < liste.size(); i += 10)
        verrouilles << liste[i];
    base.Verrouiller(verrouilles);

    f.Changer(mode);
    EXPECT_TRUE(f.boxes.errors.empty());
    ASSERT_FALSE(f.boxes.messages.empty());
    // Every one of them for its lock, none refused by the server for anything else.
    const QStringList box = f.boxes.messages.back().text.split(QLatin1Char('\n'));
    ASSERT_EQ(box.size(), 3);
    EXPECT_EQ(box[0], TexteEcartes(100, 1000));
    EXPECT_EQ(box[1], QString::fromUtf8("verrouillés par un autre utilisateur : 100"));
    EXPECT_TRUE(box[2].startsWith(QStringLiteral("Journal : "))) << box[2].toStdString();
    // What the box says stays in the list is what stayed: the locked ones, nothing else.
    EXPECT_EQ(Trie(f.Liste()), Trie(verrouilles));
    const std::vector<bool> etats = EtatParMandat(base, origines, mode);
    for (size_t i = 0; i < origines.size(); ++i)
        EXPECT_EQ(etats[i], !verrouilles.contains(origines[i].id)) << origines[i].id.toStdString();
    EXPECT_FALSE(f.frm->transLocale->Active());

    // Once the other connection lets go, the next run takes them.
    base.Liberer();
    const Bilan avant = Auditer(base, origines, mode);
    EXPECT_EQ(avant.intacts, 100);
    Finir(f, base, origines, mode, avant);
}

INSTANTIATE_TEST_SUITE_P(Modes, Verrous, ::testing::Values(Modifier, Recreer), NomDuMode);

// ---------------------------------------------------------------------------------------------
// The server gone between two mandates

TEST(ConnexionPerdue, TheRunStopsAndTheWindowCarriesOnOnceTheServerIsBack) {
    constexpr int n = 300;
    constexpr int k = 120;
    std::vector<Origine> origines;
    {
        Connexion base;
        origines = Semer(base, n);
    }
    Fenetre f;
    f.frm->show();
    const QStringList liste = f.Verifier();
    ASSERT_EQ(liste.size(), n);
    f.frm->OnProgression = [&](int fait, int) {
        if (fait == k) Tuer();
    };
    f.Changer(Modifier);
    f.frm->OnProgression = nullptr;
    ASSERT_EQ(f.boxes.errors.size(), 1u);
    // The server's own words, after the component that met them.
    const QString texte = f.boxes.errors[0].text;
    EXPECT_TRUE(texte.startsWith(QStringLiteral("frmPrincipale.trans"))) << texte.toStdString();
    EXPECT_TRUE(f.frm->ConnexionPerdue());
    EXPECT_FALSE(f.frm->dbSource->Connected());
    EXPECT_FALSE(f.frm->transLocale->Active());
    EXPECT_FALSE(f.frm->idsBanque->Active());
    EXPECT_FALSE(AEcarte(f.boxes));

    // With the server still away, "Vérifier" says so and the window waits for the next try.
    f.Verifier();
    EXPECT_EQ(f.boxes.errors.size(), 2u);
    EXPECT_TRUE(f.frm->ConnexionPerdue());

    ASSERT_TRUE(Demarrer());
    Connexion base;
    std::map<QString, Origine> parId;
    for (const Origine& o : origines)
        parId[o.id] = o;
    std::vector<Origine> dansLOrdre;
    for (const QString& id : liste)
        dansLOrdre.push_back(parId[id]);
    const std::vector<bool> etats = EtatParMandat(base, dansLOrdre, Modifier);
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(etats[size_t(i)], i < k) << i;

    EXPECT_EQ(Trie(f.Verifier()), Trie(liste.mid(k)));
    EXPECT_EQ(f.boxes.errors.size(), 2u);
    f.Changer(Modifier);
    EXPECT_EQ(f.boxes.errors.size(), 2u);
    EXPECT_EQ(Auditer(base, origines, Modifier).changes, n);
    EXPECT_TRUE(f.frm->close());
}

TEST(ConnexionPerdue, ClosingAfterTheServerWentAlwaysCloses) {
    // A loss met only by the close: the window closes all the same.
    {
        Connexion base;
        Semer(base, 10);
    }
    {
        Fenetre f;
        f.frm->show();
        ASSERT_EQ(f.Verifier().size(), 10);
        Tuer();
        EXPECT_TRUE(f.frm->close());
        EXPECT_FALSE(f.frm->isVisible());
        // The rollback of a dead transaction passes; the list's statement, let go at the
        // disconnect, is what meets the loss.
        ASSERT_EQ(f.boxes.errors.size(), 1u);
        EXPECT_TRUE(f.boxes.errors[0].text.startsWith(
            QStringLiteral("frmPrincipale.idsBanque.SelectQuery:")))
            << f.boxes.errors[0].text.toStdString();
        EXPECT_FALSE(f.frm->dbSource->Connected());
    }
    ASSERT_TRUE(Demarrer());

    // A loss found by the bank chooser's close: the dialog closes, the main window drops the
    // connection, and the next bank choice connects again.
    Fenetre f;
    f.frm->show();
    const auto choisir = [&](std::function<void(TfrmBanqueChoix&)> action) {
        int result = -1;
        QTimer::singleShot(0, [&] {
            auto* dlg = qobject_cast<TfrmBanqueChoix*>(QApplication::activeModalWidget());
            if (!dlg) return;
            QObject::connect(dlg, &QDialog::finished, [&](int r) { result = r; });
            action(*dlg);
            if (dlg->isVisible()) dlg->done(-5);
        });
        QTest::mouseClick(f.frm->lblAncien_Info, Qt::LeftButton);
        return result;
    };
    const QString avant = f.frm->lblAncien_Info->text();
    EXPECT_EQ(choisir([](TfrmBanqueChoix& dlg) {
                  Tuer();
                  QTest::mouseClick(dlg.btnAnnuler, Qt::LeftButton);
              }),
              TfrmBanqueChoix::mrCancel);
    ASSERT_EQ(f.boxes.errors.size(), 1u);
    EXPECT_TRUE(f.frm->ConnexionPerdue());
    EXPECT_FALSE(f.frm->dbSource->Connected());
    EXPECT_EQ(f.frm->lblAncien_Info->text(), avant);

    ASSERT_TRUE(Demarrer());
    QString choisi;
    EXPECT_EQ(choisir([&](TfrmBanqueChoix& dlg) {
                  ASSERT_FALSE(dlg.idsListe->IsEmpty());
                  choisi = dlg.idsListe->Fields(1)->AsString();
                  QTest::mouseClick(dlg.btnOK, Qt::LeftButton);
              }),
              TfrmBanqueChoix::mrOk);
    EXPECT_EQ(f.boxes.errors.size(), 1u);
    EXPECT_FALSE(f.frm->ConnexionPerdue());
    EXPECT_EQ(f.frm->Ancien_Nom, choisi);
    EXPECT_TRUE(f.frm->close());
}

// ---------------------------------------------------------------------------------------------
// The layer under a lost connection

TEST(ConnexionPerdue, TheLayerTellsALossAndAForcedCloseDropsEverything) {
    TpFIBDatabase db;
    db.SetSynchronizeTime(false);
    ConfigureProgramConnection(db);
    TpFIBTransaction lecture;
    lecture.SetDefaultDatabase(&db);
    ConfigureProgramReadTransaction(lecture, &db);
    TpFIBTransaction ecriture;
    ConfigureProgramWriteTransaction(ecriture, &db);
    TpFIBDataSet liste;
    liste.SetDatabase(&db);
    liste.SetTransaction(&lecture);
    liste.SelectSQL().SetText(QStringLiteral("SELECT BANQ_ID FROM BANQUE"));
    TpFIBQuery ecrire;
    ecrire.SetDatabase(&db);
    ecrire.SetTransaction(&ecriture);
    ecrire.SQL().SetText(QStringLiteral("UPDATE BANQUE SET BANQ_BIC = BANQ_BIC WHERE BANQ_ID = 0"));
    db.Open(true);
    lecture.StartTransaction();
    liste.Open();
    ASSERT_FALSE(liste.IsEmpty());

    // Errors that are no loss never say so: a server refusal, the layer's own message.
    ecriture.StartTransaction();
    const EFIBError refus = Raised<EFIBError>([&] {
        TpFIBQuery q;
        q.SetDatabase(&db);
        q.SetTransaction(&ecriture);
        q.SQL().SetText(QStringLiteral("INSERT INTO BANQUE (BANQ_ID) VALUES (NULL, NULL)"));
        q.ExecQuery();
    });
    EXPECT_FALSE(refus.IBErrorCodes().empty());
    EXPECT_FALSE(IsConnectionLost(refus));
    ecriture.Rollback();
    EXPECT_FALSE(IsConnectionLost(Raised<EFIBClientError>([&] { ecriture.Commit(); })));

    // Killed: the next call says the connection is lost, and the layer's own error that
    // follows on the same thread does not borrow the server's codes.
    ecriture.StartTransaction();
    ecrire.Prepare();
    Tuer();
    const EFIBError perte = Raised<EFIBInterBaseError>([&] { ecrire.ExecQuery(); });
    EXPECT_TRUE(IsConnectionLost(perte)) << perte.Message().toStdString();
    TpFIBTransaction inactive;
    inactive.SetDefaultDatabase(&db);
    const EFIBClientError ensuite = Raised<EFIBClientError>([&] { inactive.Commit(); });
    EXPECT_TRUE(ensuite.IBErrorCodes().empty());
    EXPECT_FALSE(IsConnectionLost(ensuite));

    // Forced, the close asks nothing of the dead server and leaves nothing half-open.
    EXPECT_NO_THROW(db.ForceClose());
    EXPECT_FALSE(db.Connected());
    EXPECT_FALSE(lecture.Active());
    EXPECT_FALSE(ecriture.Active());
    EXPECT_FALSE(liste.Active());
    EXPECT_FALSE(ecrire.Prepared());

    // The same objects work again once the server is back.
    ASSERT_TRUE(Demarrer());
    db.Open(true);
    lecture.StartTransaction();
    liste.Open();
    EXPECT_FALSE(liste.IsEmpty());
    ecriture.StartTransaction();
    ecrire.ExecQuery();
    ecriture.Commit();
    liste.Close();
    lecture.Rollback();
    db.Close();
}
