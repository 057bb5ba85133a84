#include "Unit1.h"

#include "Annulation.h"
#include "Application.h"
#include "CompteIntegre.h"
#include "Configuration.h"
#include "Controls.h"
#include "DBGrid.h"
#include "Dialogs.h"
#include "Journal.h"
#include "Processus.h"
#include "Programme.h"
#include "SysUtils.h"
#include "pFIBDataSet.h"
#include "pFIBDatabase.h"
#include "pFIBQuery.h"
#include "uFonctions_Verification.h"
#include "ufrmBanqueChoix.h"
#include "ufrmConnexion.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QUrl>

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QProgressDialog>
#include <QScreen>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

namespace {

const QString PasDeBanque = QStringLiteral("Vous devez sélectionner une banque");

// The layout was drawn for Calibri at a 12-pixel character height; on Linux fontconfig gives
// the metric-compatible Carlito for it.
QFont WindowFont() {
    QFont f(QStringLiteral("Calibri"));
    f.setPixelSize(12);
    return f;
}

QLabel* MakeLabel(QWidget* parent, const char* name, int left, int top) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->move(left, top);
    return label;
}

TClickLabel* MakeBankLabel(QWidget* parent, const char* name) {
    auto* label = new TClickLabel(parent);
    label->setObjectName(QLatin1String(name));
    // A bank's name is shown as it is stored, never read as markup.
    label->setTextFormat(Qt::PlainText);
    // Room for the focus frame around the text, which stays where the layout puts it.
    label->setMargin(2);
    label->move(16 - 2, 40 - 2);
    QFont f = label->font();
    f.setUnderline(true);
    label->setFont(f);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, Qt::blue);
    label->setPalette(pal);
    label->setCursor(Qt::PointingHandCursor);
    label->setAttribute(Qt::WA_TranslucentBackground);
    return label;
}

QLineEdit* MakeBranchEdit(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setGeometry(16, 80, 121, 22);
    edit->setMaxLength(5);
    return edit;
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, int left) {
    auto* group = new QGroupBox(parent);
    group->setObjectName(QLatin1String(name));
    group->setGeometry(left, 8, 361, 113);
    return group;
}

// A label sizes itself to its text, as the window's labels do.
void SetLabelText(QLabel* label, const QString& text) {
    label->setText(text);
    label->adjustSize();
}

// A bank label shows the bank; a screen reader also says which side it is and what pressing it
// does. `cote`: "Ancienne banque" or "Nouvelle banque".
void SetBankLabel(QLabel* label, const QString& cote, const QString& text, bool choisie) {
    SetLabelText(label, text);
    label->setAccessibleName(cote + QStringLiteral(" : ") +
                             (choisie ? text + QStringLiteral(" — choisir une autre banque")
                                      : QStringLiteral("aucune — choisir une banque")));
}

const QString AncienneBanque = QStringLiteral("Ancienne banque");
const QString NouvelleBanque = QStringLiteral("Nouvelle banque");

// A tool bar button with its shortcut, said in its tooltip; its text is set by FormCreate. The
// window's Tab order follows the tool bar, so a button added here takes its place there too.
QToolButton* AddToolButton(QToolBar* bar, const char* name, const QKeySequence& raccourci,
                           const QString& description) {
    auto* button = new QToolButton(bar);
    button->setObjectName(QLatin1String(name));
    button->setFixedSize(56, 20);
    button->setAutoRaise(true);
    SetRaccourci(button, raccourci, description);
    bar->addWidget(button);
    return button;
}

// Mandates passed over for their own sake stay at the old bank, and so in the list read again;
// one changed or deleted by someone else since the listing may not.
QString TexteNonChanges(int ecartes, int traites, bool restent) {
    if (ecartes == 1)
        return Format(QStringLiteral("1 mandat sur %d n'a pas pu être changé"), traites) +
               (restent ? QStringLiteral(" : il reste dans la liste.") : QStringLiteral("."));
    return Format(QStringLiteral("%d mandats sur %d n'ont pas pu être changés"), ecartes, traites) +
           (restent ? QStringLiteral(" : ils restent dans la liste.") : QStringLiteral("."));
}

// The mandates a run passed over, by reason, for the end-of-run box.
struct TEcartes {
    int verrou = 0;
    int modifie = 0;
    int autreBanque = 0;
    int donneesCompte = 0;
    int inactif = 0;
    int serveur = 0;

    int Total() const { return verrou + modifie + autreBanque + donneesCompte + inactif + serveur; }
    void Compter(const QString& motif) {
        if (motif == Motif::Verrou)
            ++verrou;
        else if (motif == Motif::Modifie)
            ++modifie;
        else if (motif == Motif::AutreBanque)
            ++autreBanque;
        else if (motif == Motif::DonneesCompte)
            ++donneesCompte;
        else if (motif == Motif::Inactif)
            ++inactif;
        else
            ++serveur;
    }
    // The first line says how many stayed; one line per reason follows, then the journal.
    QString Texte(int traites, const QString& journal) const {
        return Raisons(TexteNonChanges(Total(), traites, modifie == 0),
                       "modifiés ou supprimés depuis la liste", journal);
    }
    // An undo's box: how many went back, then the same reasons.
    QString TexteAnnulation(int traites, const QString& journal) const {
        const int rendus = traites - Total();
        QString texte =
            rendus == 1
                ? Format(QStringLiteral("1 mandat sur %d a été rendu à sa banque d'origine."),
                         traites)
                : Format(QStringLiteral("%d mandats sur %d ont été rendus à leur banque "
                                        "d'origine."),
                         rendus, traites);
        if (Total() == 1) texte += QStringLiteral("\n1 n'a pas pu l'être :");
        if (Total() > 1)
            texte +=
                QLatin1Char('\n') + Format(QStringLiteral("%d n'ont pas pu l'être :"), Total());
        return Raisons(texte, "modifiés ou supprimés depuis le passage", journal);
    }

private:
    QString Raisons(QString texte, const char* texteModifie, const QString& journal) const {
        const auto ligne = [&texte](int nombre, const char* raison) {
            if (nombre > 0)
                texte += QLatin1Char('\n') + QString::fromUtf8(raison) + QStringLiteral(" : ") +
                         QString::number(nombre);
        };
        ligne(verrou, "verrouillés par un autre utilisateur");
        ligne(modifie, texteModifie);
        ligne(autreBanque, "IBAN d'une autre banque");
        ligne(donneesCompte, "données de compte incomplètes");
        ligne(inactif, "inactifs (non recréés)");
        ligne(serveur, "refusés par le serveur");
        if (!journal.isEmpty()) texte += QStringLiteral("\nJournal : ") + journal;
        return texte;
    }
};

// The server's own words for a refused write, on one line: the journal's reason.
QString MotifServeur(const Exception& e) {
    const auto* fib = dynamic_cast<const EFIBError*>(&e);
    QString texte = fib && !fib->IBMessage().isEmpty() ? fib->IBMessage() : e.Message();
    texte.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    texte.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return Motif::Serveur + texte.trimmed();
}

// A mandate's outcome after its write: CHANGE with the amendment the next collection must carry,
// or ECARTE and the reason.
void EcrireIssue(TJournal& journal, TModeChangement mode, TLigneJournal& ligne,
                 const QString& motif) {
    if (motif.isEmpty()) {
        ligne.resultat = Resultat::Change;
        ligne.modificationSepa =
            ModificationSepa(mode, ligne.ancienIban, ligne.nouvelIban, ligne.ancienneReference);
    } else {
        ligne.resultat = Resultat::Ecarte;
        ligne.motif = motif;
    }
    journal.Ecrire(ligne);
}

// The wait cursor for as long as a listing or a run works, whatever way it ends.
class TCurseurAttente {
public:
    TCurseurAttente() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TCurseurAttente() { QGuiApplication::restoreOverrideCursor(); }
    TCurseurAttente(const TCurseurAttente&) = delete;
    TCurseurAttente& operator=(const TCurseurAttente&) = delete;
};

// The progress dialog of a run, known to the window as dlgProgression while the run works. It
// stays hidden unless the run looks like lasting more than DelaiProgression.
class TProgression {
public:
    TProgression(TfrmPrincipale& frm, int liste,
                 const QString& titre = QStringLiteral("Changement de banque"))
        : FFrm(frm), FListe(liste) {
        auto* dlg = new QProgressDialog(&frm);
        dlg->setObjectName(QStringLiteral("dlgProgression"));
        dlg->setWindowTitle(titre);
        dlg->setCancelButtonText(QStringLiteral("Arrêter"));
        dlg->setWindowModality(Qt::WindowModal);
        dlg->setAutoClose(false);
        dlg->setAutoReset(false);
        dlg->setRange(0, liste);
        dlg->setMinimumDuration(TfrmPrincipale::DelaiProgression);
        dlg->setLabelText(Libelle(0));
        dlg->setValue(0);
        frm.dlgProgression = dlg;
    }
    ~TProgression() {
        delete FFrm.dlgProgression;
        FFrm.dlgProgression = nullptr;
    }
    TProgression(const TProgression&) = delete;
    TProgression& operator=(const TProgression&) = delete;

    // True when "Arrêter" was pressed.
    bool Avancer(int fait) {
        QProgressDialog* dlg = FFrm.dlgProgression;
        // The dialog lets events through at each update, and the repaint that follows costs
        // over half a millisecond of client time whatever the pace of the run: two updates a
        // second keep it live and "Arrêter" answered within half a second, and a run slowed
        // down by the disk (forced writes) does not pay them at every other mandate.
        if (!FMiseAJour.isValid() || FMiseAJour.elapsed() >= IntervalleMiseAJour ||
            fait == FListe) {
            FMiseAJour.start();
            dlg->setLabelText(Libelle(fait));
            dlg->setValue(fait);
            // Once the dialog is there, the user may point at its button.
            if (!FVisible && dlg->isVisible()) {
                FVisible = true;
                QGuiApplication::changeOverrideCursor(Qt::BusyCursor);
            }
        }
        if (FFrm.OnProgression) FFrm.OnProgression(fait, FListe);
        // A termination signal stops the run as "Arrêter" does, without waiting for the
        // dialog to let the event through.
        return dlg->wasCanceled() || TerminationRequested();
    }

private:
    QString Libelle(int fait) const {
        return Format(QStringLiteral("Mandats traités : %d / %d"), fait, FListe);
    }

    static constexpr qint64 IntervalleMiseAJour = 500; // ms

    TfrmPrincipale& FFrm;
    int FListe;
    bool FVisible = false;
    QElapsedTimer FMiseAJour;
};

} // namespace

TfrmPrincipale::TfrmPrincipale(TComponent* AOwner) : QWidget(nullptr), TComponent(AOwner) {
    // The window definition: stored properties first, Loaded, then the creation handler.
    BeginLoading();
    SetName(QStringLiteral("frmPrincipale"));
    setObjectName(QStringLiteral("frmPrincipale"));
    CreateControls();
    CreateDatabaseObjects();
    CreateMandateList();
    ConnectHandlers();
    EndLoading();
    // A failure of the creation handler is shown; the window is created and shown all the same.
    Protect([this] { FormCreate(this); });
}

TfrmPrincipale::~TfrmPrincipale() = default;

void TfrmPrincipale::CreateControls() {
    setWindowTitle(QStringLiteral("Ravelin"));
    resize(ClientWidth, ClientHeight);
    setFont(WindowFont());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Panel1 = new TPanel(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(147);
    layout->addWidget(Panel1);

    gbxAncienne = MakeGroup(Panel1, "gbxAncienne", 8);
    lblBanque1 = MakeLabel(gbxAncienne, "lblBanque1", 16, 24);
    lblAncien_Info = MakeBankLabel(gbxAncienne, "lblAncien_Info");
    lblCodeGuichet1 = MakeLabel(gbxAncienne, "lblCodeGuichet1", 16, 64);
    edtAncienGuichet = MakeBranchEdit(gbxAncienne, "edtAncienGuichet");

    gbxNouvelle = MakeGroup(Panel1, "gbxNouvelle", 384);
    lblBanque2 = MakeLabel(gbxNouvelle, "lblBanque2", 16, 24);
    lblNouveau_Info = MakeBankLabel(gbxNouvelle, "lblNouveau_Info");
    lblCodeGuichet2 = MakeLabel(gbxNouvelle, "lblCodeGuichet2", 16, 64);
    edtNouveauGuichet = MakeBranchEdit(gbxNouvelle, "edtNouveauGuichet");

    gbxOptions = MakeGroup(Panel1, "gbxOptions", 760);
    gbxOptions->setTitle(QStringLiteral("Options"));
    cbxActif = new QCheckBox(QStringLiteral("Que les mandats actifs"), gbxOptions);
    cbxActif->setObjectName(QStringLiteral("cbxActif"));
    cbxActif->setGeometry(16, 24, 337, 17);
    cbxActif->setChecked(true);
    rgoMandat = new TRadioGroup(gbxOptions);
    rgoMandat->setObjectName(QStringLiteral("rgoMandat"));
    rgoMandat->setGeometry(16, 48, 329, 57);
    rgoMandat->setTitle(QStringLiteral("Mandat"));
    rgoMandat->SetColumns(2);
    rgoMandat->SetItems({QStringLiteral("Modifier"), QStringLiteral("Recréer")});
    rgoMandat->SetItemIndex(0);

    tbMenu = new QToolBar(Panel1);
    tbMenu->setObjectName(QStringLiteral("tbMenu"));
    tbMenu->setMovable(false);
    tbMenu->setFloatable(false);
    tbMenu->setToolButtonStyle(Qt::ToolButtonTextOnly);
    tbMenu->setContentsMargins(0, 0, 0, 0);
    tbMenu->layout()->setContentsMargins(0, 0, 0, 0);
    tbMenu->layout()->setSpacing(0);
    tbMenu->setStyleSheet(QStringLiteral(
        "QToolBar { border: none; padding: 0px; spacing: 0px; background: qlineargradient(x1:0, "
        "y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #ececec); }"));
    Panel1->AlignBottom(tbMenu, 20);
    // F5 lists, as in every list window. « Changer » writes: three keys, C for the button's
    // initial, that neither the edit boxes (Ctrl+C copies) nor a slip of the finger take; the
    // undo the same way, P for « passage » (Ctrl+Maj+Z is the boxes' Redo).
    btnVerifier = AddToolButton(tbMenu, "btnVerifier", QKeySequence(Qt::Key_F5),
                                QStringLiteral("Lister les mandats à changer"));
    btnChanger = AddToolButton(tbMenu, "btnChanger", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C),
                               QStringLiteral("Changer la banque des mandats listés"));
    btnAnnuler =
        AddToolButton(tbMenu, "btnAnnuler", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P),
                      QStringLiteral("Rendre à leur banque d'origine les mandats d'un passage"));

    dgrDetail = new TDBGrid(this);
    dgrDetail->setObjectName(QStringLiteral("dgrDetail"));
    dgrDetail->SetTitleFont(WindowFont());
    dgrDetail->AddColumn(QStringLiteral("NP"), 250);
    dgrDetail->AddColumn(QStringLiteral("CMAN_IBAN"), 250);
    dgrDetail->AddColumn(QStringLiteral("CMAN_BIC"), 100);
    // What the run will write, computed for the rows shown only, from the new bank and the
    // branch box as they are on screen.
    dgrDetail->AddComputedColumn([this] { return NouvelIbanAffiche(); }, 200);
    dgrDetail->AddComputedColumn([this] { return NouveauBicAffiche(); }, 100);
    dgrDetail->AddColumn(QStringLiteral("CMAN_NOMBANQUE"), 250);
    dgrDetail->AddColumn(QStringLiteral("BANQ_SOCIETE"), 250);
    dgrDetail->setContextMenuPolicy(Qt::CustomContextMenu);
    dgrDetail->setAccessibleName(QStringLiteral("Liste des mandats"));
    layout->addWidget(dgrDetail, 1);

    mnuGrille = new QMenu(this);
    mnuGrille->setObjectName(QStringLiteral("mnuGrille"));
    actExporter = mnuGrille->addAction(QStringLiteral("Exporter la liste…"));
    actExporter->setObjectName(QStringLiteral("actExporter"));
    actAnnulerPassage = mnuGrille->addAction(QStringLiteral("Annuler un passage…"));
    actAnnulerPassage->setObjectName(QStringLiteral("actAnnulerPassage"));
    actOuvrirJournaux = mnuGrille->addAction(QStringLiteral("Ouvrir le dossier des journaux"));
    actOuvrirJournaux->setObjectName(QStringLiteral("actOuvrirJournaux"));

    edtAncienGuichet->setAccessibleName(QStringLiteral("Ancien code agence"));
    edtNouveauGuichet->setAccessibleName(QStringLiteral("Nouveau code agence"));
    mnuGrille->setAccessibleName(QStringLiteral("Menu de la liste"));
    // Alt+A and Alt+N, underlined in the captions FormCreate sets, choose the banks.
    ActiverParMnemonique(gbxAncienne, lblAncien_Info);
    ActiverParMnemonique(gbxNouvelle, lblNouveau_Info);
    OrdonnerTabulation();
}

// The order the eye reads the window in: each side's bank then its branch box, the options, the
// tool bar's buttons as they stand on it, the grid.
void TfrmPrincipale::OrdonnerTabulation() {
    QList<QWidget*> ordre{lblAncien_Info, edtAncienGuichet, lblNouveau_Info, edtNouveauGuichet,
                          cbxActif};
    for (int i = 0; i < rgoMandat->Items().size(); ++i)
        ordre << rgoMandat->Button(i);
    for (QAction* action : tbMenu->actions())
        if (QWidget* button = tbMenu->widgetForAction(action)) ordre << button;
    ordre << dgrDetail;
    for (qsizetype i = 1; i < ordre.size(); ++i)
        setTabOrder(ordre[i - 1], ordre[i]);
}

void TfrmPrincipale::CreateDatabaseObjects() {
    dbSource = new TpFIBDatabase(this);
    dbSource->SetName(QStringLiteral("dbSource"));
    transSource = new TpFIBTransaction(this);
    transSource->SetName(QStringLiteral("transSource"));
    transLocale = new TpFIBTransaction(this);
    transLocale->SetName(QStringLiteral("transLocale"));
    qryLocale = new TpFIBQuery(this);
    qryLocale->SetName(QStringLiteral("qryLocale"));

    dbSource->SetSQLDialect(ProgramSQLDialect);
    dbSource->SetDefaultTransaction(transSource);
    dbSource->SetDefaultUpdateTransaction(transSource);
    dbSource->SetTimeout(0);
    dbSource->SetSynchronizeTime(false);
    dbSource->SetWaitForRestoreConnect(0);
    dbSource->OnConnect = [](TObject*) { ReinstallTerminationHandlers(); };
    // Set last, as the definition does: a stored alias overrides what comes before it.
    dbSource->SetAliasName(QStringLiteral("TALVIK_GESTION"));

    ConfigureProgramReadTransaction(*transSource, dbSource);
    ConfigureProgramWriteTransaction(*transLocale, dbSource);

    qryLocale->SetDatabase(dbSource);
    qryLocale->SetTransaction(transLocale);
}

void TfrmPrincipale::CreateMandateList() {
    idsBanque = new TpFIBDataSet(this);
    idsBanque->SetName(QStringLiteral("idsBanque"));
    idsBanque->SetDatabase(dbSource);
    idsBanque->SetTransaction(transSource);
    const TMandateListFields fields = DefineMandateList(*idsBanque, this);
    idsBanqueCMAN_ID = fields.CMAN_ID;
    idsBanqueCMAN_IDCLI = fields.CMAN_IDCLI;
    idsBanqueNP = fields.NP;
    idsBanqueCMAN_ACTIF = fields.CMAN_ACTIF;
    idsBanqueCMAN_IDBANQ = fields.CMAN_IDBANQ;
    idsBanqueCMAN_IBAN = fields.CMAN_IBAN;
    idsBanqueCMAN_BIC = fields.CMAN_BIC;
    idsBanqueCMAN_NOMBANQUE = fields.CMAN_NOMBANQUE;
    idsBanqueCMAN_MANDAT = fields.CMAN_MANDAT;
    idsBanqueBANQ_SOCIETE = fields.BANQ_SOCIETE;

    dsBanque = new TDataSource(this);
    dsBanque->SetName(QStringLiteral("dsBanque"));
    dsBanque->SetDataSet(idsBanque);
    dgrDetail->SetDataSource(dsBanque);
}

void TfrmPrincipale::ConnectHandlers() {
    connect(lblAncien_Info, &TClickLabel::clicked, this,
            [this] { Proteger([this] { lblAncien_InfoClick(this); }); });
    connect(lblNouveau_Info, &TClickLabel::clicked, this,
            [this] { Proteger([this] { lblNouveau_InfoClick(this); }); });
    connect(btnVerifier, &QToolButton::clicked, this,
            [this] { Proteger([this] { btnVerifierClick(this); }); });
    connect(btnChanger, &QToolButton::clicked, this,
            [this] { Proteger([this] { btnChangerClick(this); }); });
    // The list's « Nouvel IBAN » follows the new bank, the branch box and the mode as they change.
    const auto suivre = [this] { dgrDetail->viewport()->update(); };
    connect(edtNouveauGuichet, &QLineEdit::textChanged, this, suivre);
    connect(rgoMandat, &TRadioGroup::itemIndexChanged, this, suivre);
    connect(dgrDetail, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        actExporter->setEnabled(idsBanque->Active());
        mnuGrille->popup(dgrDetail->viewport()->mapToGlobal(pos));
    });
    connect(actExporter, &QAction::triggered, this,
            [this] { Proteger([this] { actExporterClick(this); }); });
    const auto annuler = [this] { Proteger([this] { actAnnulerPassageClick(this); }); };
    connect(actAnnulerPassage, &QAction::triggered, this, annuler);
    connect(btnAnnuler, &QToolButton::clicked, this, annuler);
    connect(actOuvrirJournaux, &QAction::triggered, this,
            [this] { Proteger([this] { actOuvrirJournauxClick(this); }); });
}

void TfrmPrincipale::Proteger(const std::function<void()>& handler) {
    Protect([&] {
        try {
            handler();
        } catch (const EFIBError& e) {
            if (IsConnectionLost(e)) AbandonnerConnexion();
            throw;
        }
    });
}

void TfrmPrincipale::AbandonnerConnexion() {
    // Forced: the transactions end without asking the dead server, the list and the statement
    // let go of their handles, and no detach error is raised.
    dbSource->ForceClose();
    FConnexionPerdue = true;
}

void TfrmPrincipale::RetablirConnexion() {
    // A connection that never opened is left as it is: the failure at start-up was shown, and
    // each operation reports its own. The user who cancelled the login is asked again.
    if (!FConnexionPerdue && !FConnexionAnnulee) return;
    // The program's own parameter lines are still there; an account's password is not, and is
    // asked for again.
    if (FConnexion.CompteSaisi()) {
        ConnecterCompte();
    } else {
        dbSource->SetConnected(true);
        ExigerRole(*dbSource, FConnexion);
    }
    transSource->StartTransaction();
    FConnexionPerdue = false;
    // The start's completion never ran: what a kill left pending is settled first.
    if (std::exchange(FConnexionAnnulee, false)) CompleterJournaux(true);
}

void TfrmPrincipale::Connecter() {
    if (FConnexion.CompteSaisi()) return ConnecterCompte();
    if (!CompteIntegreDisponible()) throw Exception(TexteSansCompte(FichierConfiguration()));
    SetProgramConnectParams(*dbSource, FConnexion, MotDePasseBase());
    TCurseurAttente attente;
    dbSource->SetConnected(true);
    ExigerRole(*dbSource, FConnexion);
}

void TfrmPrincipale::ConnecterCompte() {
    // A failure after the attach (the alias store) leaves the connection open: the dialog is
    // then done, and the failure is shown as any other once it has closed.
    std::exception_ptr apresAttache;
    TfrmConnexion dlg(
        FConnexion.Base, FConnexion.Utilisateur,
        [this, &apresAttache](const QString& motDePasse) {
            SetProgramConnectParams(*dbSource, FConnexion, motDePasse);
            try {
                TCurseurAttente attente;
                dbSource->SetConnected(true);
            } catch (...) {
                dbSource->ForgetPassword();
                if (!dbSource->Connected()) throw;
                apresAttache = std::current_exception();
                return;
            }
            dbSource->ForgetPassword();
            try {
                ExigerRole(*dbSource, FConnexion);
            } catch (...) {
                apresAttache = std::current_exception();
            }
        },
        this);
    if (dlg.exec() != QDialog::Accepted) throw EAbort(QString());
    if (apresAttache) std::rethrow_exception(apresAttache);
}

void TfrmPrincipale::FormCreate(TObject*) {
    SetBankLabel(lblNouveau_Info, NouvelleBanque, PasDeBanque, false);
    SetBankLabel(lblAncien_Info, AncienneBanque, PasDeBanque, false);

    gbxAncienne->setTitle(QStringLiteral("&Anciennes valeurs"));
    gbxNouvelle->setTitle(QStringLiteral("&Nouvelles valeurs"));
    SetLabelText(lblBanque1, QStringLiteral("Banque"));
    SetLabelText(lblBanque2, QStringLiteral("Banque"));
    SetLabelText(lblCodeGuichet1, QStringLiteral("Code agence"));
    SetLabelText(lblCodeGuichet2, QStringLiteral("Code agence"));
    btnVerifier->setText(QStringLiteral("Vérifier"));
    btnChanger->setText(QStringLiteral("Changer"));
    btnAnnuler->setText(QStringLiteral("Annuler un passage…"));
    // Its caption is longer than the others': the button is as wide as it needs.
    btnAnnuler->setFixedWidth(btnAnnuler->fontMetrics().horizontalAdvance(btnAnnuler->text()) +
                              btnVerifier->width() -
                              btnVerifier->fontMetrics().horizontalAdvance(btnVerifier->text()));

    dgrDetail->Columns(0).Title = QStringLiteral("Client");
    dgrDetail->Columns(1).Title = QStringLiteral("IBAN");
    dgrDetail->Columns(2).Title = QStringLiteral("BIC");
    dgrDetail->Columns(3).Title = QStringLiteral("Nouvel IBAN");
    dgrDetail->Columns(4).Title = QStringLiteral("Nouveau BIC");
    dgrDetail->Columns(5).Title = QStringLiteral("Nom de la banque (Saisie)");
    dgrDetail->Columns(6).Title = QStringLiteral("Nom de la banque");
    dgrDetail->ColumnsChanged();

    // Connect and start the reading transaction; a failure ends the handler here and is shown,
    // the window is usable all the same. Without a configuration file, the program's own
    // connection; with one it cannot use entirely, none at all.
    const TConfiguration configuration = LireConfiguration();
    if (!configuration.Utilisable()) throw Exception(configuration.TexteErreurs());
    FConnexion = configuration.Connexion;
    try {
        Connecter();
    } catch (const EAbort&) {
        FConnexionAnnulee = true;
        throw;
    }
    transSource->StartTransaction();
    // What a kill left pending is settled before anything else is changed.
    CompleterJournaux(true);
}

void TfrmPrincipale::CompleterJournaux(bool tous) {
    TCompletionJournaux completion(dbSource);
    if (tous) {
        completion.CompleterTout();
        FJournauxEnSuspens.clear();
    } else if (!FJournauxEnSuspens.isEmpty() && completion.Completer(FJournauxEnSuspens)) {
        FJournauxEnSuspens.clear();
    }
    // Told once, and the rest goes on: the next start tries those files again.
    if (!completion.Echecs().isEmpty())
        HandleException(std::make_exception_ptr(Exception(completion.Echecs().join(u'\n'))));
}

void TfrmPrincipale::FormClose(TObject*) {
    if (!dbSource->Connected()) return;
    if (transSource->Active()) transSource->Rollback();
    dbSource->SetConnected(false);
}

void TfrmPrincipale::closeEvent(QCloseEvent* event) {
    // A failure while closing is shown and the window stays open, unless the server is gone:
    // there is nothing left to roll back, and a window that cannot close would be worse.
    try {
        FormClose(this);
        event->accept();
    } catch (const EFIBError& e) {
        if (IsConnectionLost(e)) {
            AbandonnerConnexion();
            event->accept();
        } else if (TerminationRequested()) {
            event->accept();
        } else {
            event->ignore();
        }
        HandleException(std::current_exception());
    } catch (...) {
        // Ending the program, the window closes all the same: the error goes to standard error
        // and the objects end their connection as they go.
        if (TerminationRequested())
            event->accept();
        else
            event->ignore();
        HandleException(std::current_exception());
    }
}

// The bank chooser, the listing and the change run are wired here; each handler receives the
// window as its sender.
namespace {

// The bank choice of one side of the window: the chooser lists every bank; after OK its result
// goes into that side's fields and label, any other result changes nothing.
void ChoisirBanque(TFIBDatabase* db, QLabel* label, const QString& cote, QString& nom, QString& bic,
                   qint64& id, QString& code) {
    // Destroyed however the steps end.
    auto chooser = std::make_unique<TfrmBanqueChoix>(nullptr, db);
    chooser->DataInitialisation(-1, true, false);
    if (chooser->exec() == TfrmBanqueChoix::mrOk) {
        nom = chooser->sNomChoisi;
        bic = chooser->sBICChoisi;
        id = chooser->iCodeChoisi;
        code = chooser->sCodeBanqueChoisi;
        SetBankLabel(label, cote,
                     nom + QStringLiteral(" (") + code + QLatin1Char('/') + bic + QLatin1Char(')'),
                     true);
    }
    // A row confirmed before the connection was found lost was read whole and stays chosen;
    // the loss itself is the window's to handle.
    if (chooser->ErreurFermeture()) std::rethrow_exception(chooser->ErreurFermeture());
}

} // namespace

void TfrmPrincipale::lblAncien_InfoClick(TObject*) {
    RetablirConnexion();
    ChoisirBanque(dbSource, lblAncien_Info, AncienneBanque, Ancien_Nom, Ancien_BIC, Ancien_ID,
                  Ancien_Code);
}

void TfrmPrincipale::lblNouveau_InfoClick(TObject*) {
    RetablirConnexion();
    ChoisirBanque(dbSource, lblNouveau_Info, NouvelleBanque, Nouveau_Nom, Nouveau_BIC, Nouveau_ID,
                  Nouveau_Code);
    dgrDetail->viewport()->update();
}

void TfrmPrincipale::btnVerifierClick(TObject*) {
    RetablirConnexion();
    // The connection is back: the commits whose outcome a loss hid can be looked up now.
    CompleterJournaux(false);
    if (ControleSaisie()) ChargerMandats();
}

namespace {

// Both banks chosen, and two different ones: « Vérifier » and « Changer » refuse alike.
bool DeuxBanquesDifferentes(qint64 ancien, qint64 nouveau) {
    if (ancien != 0 && nouveau != 0 && ancien != nouveau) return true;
    AfficherMessage(QStringLiteral("Vous devez sélectionner deux banques différentes"),
                    TMessageKind::Information);
    return false;
}

} // namespace

bool TfrmPrincipale::ControleSaisie() {
    if (!DeuxBanquesDifferentes(Ancien_ID, Nouveau_ID)) return false;
    if (!Trim(edtAncienGuichet->text()).isEmpty() && !Trim(edtNouveauGuichet->text()).isEmpty())
        return true;
    return AfficherMessage(
               QStringLiteral("Au moins un des codes agence est vide. voulez-vous continuer ?"),
               TMessageKind::Confirmation) == IDYES;
}

void TfrmPrincipale::ChargerMandats() {
    if (idsBanque->Active()) idsBanque->Close();
    if (idsBanque->Prepared()) idsBanque->UnPrepare();
    TCurseurAttente attente;
    RenouvelerLecture();
    FListe = CritereAffiche();
    idsBanque->SelectSQL().SetStringList(MandateSelectLines(FListe.ancienId, FListe.ancienCode,
                                                            FListe.ancienGuichet, FListe.actifs));
    idsBanque->Prepare();
    idsBanque->Open();
}

TfrmPrincipale::TListeFaite TfrmPrincipale::CritereAffiche() const {
    return {Ancien_ID, Ancien_Code, edtAncienGuichet->text(), cbxActif->isChecked()};
}

void TfrmPrincipale::RenouvelerLecture() {
    // A snapshot kept since the window opened would list mandates as they were then, and a run
    // would overwrite any correction made since. A retaining end keeps the old snapshot: only
    // a real end and a new start see the database as it is. transSource never writes, so a
    // rollback loses nothing.
    if (transSource->Active()) transSource->Rollback();
    transSource->StartTransaction();
}

void TfrmPrincipale::btnChangerClick(TObject*) {
    if (idsBanque->IsEmpty()) return;
    // The refusals of « Vérifier », but its question on an empty branch code: asked already.
    if (!DeuxBanquesDifferentes(Ancien_ID, Nouveau_ID)) return;
    // Another old bank, branch or choice on screen than the list was made for: the run would
    // move mandates the user no longer sees named.
    if (!(CritereAffiche() == FListe)) {
        AfficherMessage(
            QStringLiteral("La liste affichée ne correspond plus à l'ancienne banque, à "
                           "son code agence ou au choix « Que les mandats actifs ». "
                           "Cliquez sur « Vérifier » pour la refaire avant de changer "
                           "les mandats."),
            TMessageKind::Information);
        return;
    }
    // Without a bank code no new IBAN can be built: every mandate would be passed over.
    if (Nouveau_Code.isEmpty()) {
        AfficherMessage(Format(QStringLiteral("La nouvelle banque %s n'a pas de code banque : les "
                                              "nouveaux IBAN ne peuvent pas être calculés."),
                               Nouveau_Nom),
                        TMessageKind::Information);
        return;
    }
    // The key rule reads a letter as a digit, since an account number may hold one; a branch
    // code never does, and a typed one would go as it stands into every new IBAN. Refused as
    // the key functions refuse any other character they cannot read, before anything is written.
    const QString guichet = edtNouveauGuichet->text();
    if (std::any_of(guichet.cbegin(), guichet.cend(),
                    [](QChar c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }))
        throw EConvertError(InvalidIntegerMessage(guichet));
    if (AfficherMessage(QStringLiteral("Etes-vous sûr(e) de vouloir continuer cette opération ?"),
                        TMessageKind::Confirmation) != IDYES)
        return;

    const TModeChangement mode = ModeChoisi();
    // Made before anything is written: a run that cannot keep its record changes nothing.
    std::optional<TJournal> journal;
    if (!SansJournal) journal.emplace(mode, QDateTime::currentDateTime());
    int traites = 0;
    TEcartes ecartes;
    try {
        TCurseurAttente attente;
        // The grid follows the list only once the run is over: a repaint for every mandate
        // walked would cost more than some of the writes.
        TControlsDisabled suspendus(*idsBanque);
        // Every row read before the first write: the dialog counts against the whole list.
        idsBanque->FetchAll();
        TProgression progression(*this, idsBanque->RecordCount());
        const QString nouvelleBanque = IntToStr(Nouveau_ID);
        TLigneJournal ligne;
        idsBanque->First();
        while (!idsBanque->Eof()) {
            const QString ancienIban = idsBanqueCMAN_IBAN->AsString();
            const TPrevisionMandat prevision =
                PrevoirMandat(mode, FListe.ancienCode, Nouveau_Code, guichet, ancienIban,
                              idsBanqueCMAN_ACTIF->AsInteger() == -1);
            const QString& iban = prevision.nouvelIban;
            const QString id = idsBanqueCMAN_ID->AsString();
            const QString reference = idsBanqueCMAN_MANDAT->AsString();
            const QString ancienBic = idsBanqueCMAN_BIC->AsString();
            const bool sansBanque = idsBanqueCMAN_IDBANQ->IsNull();
            if (journal) {
                ligne.id = id;
                ligne.idClient = idsBanqueCMAN_IDCLI->AsString();
                ligne.client = idsBanqueNP->AsString();
                ligne.ancienneReference = reference;
                ligne.nouvelleReference =
                    mode == TModeChangement::Recreer ? RecreerReference(reference) : reference;
                ligne.ancienIban = ancienIban;
                ligne.nouvelIban = iban;
                ligne.ancienBic = ancienBic;
                ligne.nouveauBic = Nouveau_BIC;
                ligne.ancienneBanque = sansBanque ? QString() : idsBanqueCMAN_IDBANQ->AsString();
                ligne.nouvelleBanque = nouvelleBanque;
                ligne.modificationSepa.clear();
                ligne.motif.clear();
            }
            QString motif = prevision.motif;
            if (motif.isEmpty()) {
                TCompteMandat liste;
                if (!idsBanqueCMAN_IBAN->IsNull()) liste.iban = ancienIban;
                if (!idsBanqueCMAN_BIC->IsNull()) liste.bic = ancienBic;
                if (!sansBanque) liste.banque = idsBanqueCMAN_IDBANQ->AsLargeInt();
                // On the disk's way before the commit: whatever kills the run from here on, the
                // next start finds the mandate named and looks it up.
                if (journal) {
                    ligne.resultat = Resultat::EnCours;
                    journal->Ecrire(ligne);
                }
                motif = EcrireMandat(mode, id, iban, reference, liste);
            }
            if (journal) EcrireIssue(*journal, mode, ligne, motif);
            if (!motif.isEmpty()) ecartes.Compter(motif);
            ++traites;
            if (progression.Avancer(traites)) break;
            idsBanque->Next();
        }
        if (journal) journal->Terminer();
        idsBanque->Close();
        RenouvelerLecture();
        idsBanque->Open();
    } catch (...) {
        if (journal) LaisserJournal(*journal);
        throw;
    }
    // A run that passed mandates over must not look like one that changed everything.
    if (ecartes.Total() > 0)
        AfficherMessage(ecartes.Texte(traites, journal ? QDir::toNativeSeparators(journal->Chemin())
                                                       : QString()),
                        TMessageKind::Information);
}

TPrevisionMandat TfrmPrincipale::PrevisionLigne() const {
    return PrevoirMandat(ModeChoisi(), FListe.ancienCode, Nouveau_Code, edtNouveauGuichet->text(),
                         idsBanqueCMAN_IBAN->AsString(), idsBanqueCMAN_ACTIF->AsInteger() == -1);
}

TModeChangement TfrmPrincipale::ModeChoisi() const {
    return rgoMandat->ItemIndex() == 1 ? TModeChangement::Recreer : TModeChangement::Modifier;
}

QString TfrmPrincipale::NouvelIbanAffiche() const {
    const TPrevisionMandat prevision = PrevisionLigne();
    return prevision.motif.isEmpty() ? prevision.nouvelIban : TexteMotif(prevision.motif);
}

QString TfrmPrincipale::NouveauBicAffiche() const {
    // Nothing is written on a mandate the run passes over.
    return PrevisionLigne().motif.isEmpty() ? Nouveau_BIC : QString();
}

QString TfrmPrincipale::EcrireMandat(TModeChangement mode, const QString& id, const QString& iban,
                                     const QString& reference, const TCompteMandat& liste) {
    transLocale->StartTransaction();
    try {
        // Each write lands only on a row that still holds what the list showed; a count of 0
        // means the row was changed, ended or deleted since, and nothing was written.
        const auto ecrire = [this, &liste] {
            SetCompteAttendu(*qryLocale, liste);
            qryLocale->ExecQuery();
            const bool ecrit = qryLocale->RowsAffected() == 1;
            qryLocale->Close();
            qryLocale->FreeHandle();
            return ecrit;
        };
        if (mode == TModeChangement::Recreer) {
            qryLocale->SQL().SetText(RecreerDeactivateSQL(id));
            qryLocale->Prepare();
            if (!ecrire()) {
                const QString motif = MotifNonDesactive(id);
                transLocale->Rollback();
                return motif;
            }
            qryLocale->SQL().SetText(
                RecreerInsertSQL(id, Nouveau_ID, iban, Nouveau_BIC, Nouveau_Nom));
            qryLocale->Prepare();
            qryLocale->ParamByName(QStringLiteral("CMAN_MANDAT"))
                ->SetAsString(RecreerReference(reference));
            qryLocale->ExecQuery();
            qryLocale->Close();
            qryLocale->FreeHandle();
        } else {
            qryLocale->SQL().SetText(ModifierSQL(id));
            qryLocale->Prepare();
            qryLocale->ParamByName(QStringLiteral("P0"))->SetAsString(iban);
            qryLocale->ParamByName(QStringLiteral("P1"))->SetAsString(Nouveau_BIC);
            // The whole identifier: a 32-bit one would name another bank past 2^31 - 1.
            qryLocale->ParamByName(QStringLiteral("P2"))->SetAsInt64(Nouveau_ID);
            if (!ecrire()) {
                transLocale->Rollback();
                return Motif::Modifie;
            }
        }
        transLocale->Commit();
        return {};
    } catch (const Exception& e) {
        return MotifAbandon(e);
    }
}

void TfrmPrincipale::LaisserJournal(TJournal& journal) {
    // The last outcome out first: only then does the file say what is pending.
    try {
        journal.Terminer();
    } catch (const Exception&) {
    }
    // A commit whose outcome the lost connection hid, or whose line the system refused: looked
    // up at the next listing.
    if (journal.EnSuspens()) FJournauxEnSuspens << journal.Chemin();
}

QString TfrmPrincipale::MotifAbandon(const Exception& e) {
    const auto* fib = dynamic_cast<const EFIBError*>(&e);
    // Nothing can be asked of a dead server; the window drops the connection, and the
    // mandate's line waits for the database's answer.
    if (fib && IsConnectionLost(*fib)) throw;
    // The mandate is left whole as it was and the run goes on; only a failing rollback
    // stops it.
    if (transLocale->Active()) transLocale->Rollback();
    if (fib && IsLockConflict(*fib)) return Motif::Verrou;
    return MotifServeur(e);
}

QString TfrmPrincipale::RendreMandat(TModeChangement modeDuPassage, const TLigneJournal& l) {
    const qint64 id = l.id.toLongLong();
    transLocale->StartTransaction();
    try {
        // Each statement must find exactly its row: none means it changed since the run, two
        // copies that the run's one cannot be told from the other.
        const auto ecrire = [this] {
            qryLocale->ExecQuery();
            const bool ecrit = qryLocale->RowsAffected() == 1;
            qryLocale->Close();
            qryLocale->FreeHandle();
            return ecrit;
        };
        bool rendu = false;
        if (modeDuPassage == TModeChangement::Recreer) {
            // The copy ended first: the client never has two active mandates, even inside the
            // transaction.
            qryLocale->SQL().SetText(AnnulerRecreerFinCopieSQL(id, l.idClient.toLongLong()));
            qryLocale->Prepare();
            qryLocale->ParamByName(QStringLiteral("ATTENDU_REFERENCE"))
                ->SetAsString(l.nouvelleReference);
            SetCompteJournal(*qryLocale, l.nouvelIban, l.nouveauBic, l.nouvelleBanque);
            rendu = ecrire();
            if (rendu) {
                qryLocale->SQL().SetText(AnnulerRecreerReactiverSQL(id));
                qryLocale->Prepare();
                SetCompteJournal(*qryLocale, l.ancienIban, l.ancienBic, l.ancienneBanque);
                rendu = ecrire();
            }
        } else {
            qryLocale->SQL().SetText(AnnulerModifierSQL(id));
            qryLocale->Prepare();
            SetCompteRendu(*qryLocale, l);
            SetCompteJournal(*qryLocale, l.nouvelIban, l.nouveauBic, l.nouvelleBanque);
            rendu = ecrire();
        }
        if (!rendu) {
            transLocale->Rollback();
            return Motif::Modifie;
        }
        transLocale->Commit();
        return {};
    } catch (const Exception& e) {
        return MotifAbandon(e);
    }
}

QString TfrmPrincipale::MotifNonDesactive(const QString& id) {
    // Only after the deactivation found nothing to end, to tell the user which: a mandate ended
    // since the listing keeps the reason of one ended before it.
    qryLocale->SQL().SetText(
        QStringLiteral("SELECT CMAN_ACTIF FROM CLIENTS_MANDAT WHERE CMAN_ID = ") + id);
    qryLocale->ExecQuery();
    const bool termine = !qryLocale->Eof() && qryLocale->Fields(0)->AsInteger() != -1;
    qryLocale->Close();
    qryLocale->FreeHandle();
    return termine ? Motif::Inactif : Motif::Modifie;
}

void TfrmPrincipale::actExporterClick(TObject*) {
    const QString chemin = ChoisirFichierEnregistrement(
        QStringLiteral("Exporter la liste"),
        DossierExportParDefaut() + QLatin1Char('/') + NomExportParDefaut(QDate::currentDate()));
    if (chemin.isEmpty()) return;
    TCurseurAttente attente;
    ExporterListe(*idsBanque, chemin,
                  {{QStringLiteral("NOUVEL_IBAN"), [this] { return NouvelIbanAffiche(); }},
                   {QStringLiteral("NOUVEAU_BIC"), [this] { return NouveauBicAffiche(); }}});
}

void TfrmPrincipale::actOuvrirJournauxClick(TObject*) {
    const QString dossier = CreerDossierJournaux();
    // The file manager is another program: it gets none of our descriptors.
    FermerDescripteursALExec();
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(dossier)))
        AfficherMessage(QStringLiteral("Le dossier des journaux n'a pas pu être ouvert : ") +
                            QDir::toNativeSeparators(dossier),
                        TMessageKind::Information);
}

void TfrmPrincipale::actAnnulerPassageClick(TObject*) {
    const QString chemin =
        ChoisirFichierOuverture(QStringLiteral("Annuler un passage"), CreerDossierJournaux());
    if (!chemin.isEmpty()) AnnulerPassage(chemin);
}

void TfrmPrincipale::AnnulerPassage(const QString& chemin) {
    RetablirConnexion();
    TPassage passage = LirePassage(chemin);
    // The completion knows the journals of its own folder only; one kept elsewhere with a
    // mandate pending is refused as it is read.
    const bool duDossier =
        QFileInfo(chemin).absoluteDir().canonicalPath() == QDir(DossierJournaux()).canonicalPath();
    if (duDossier && passage.enCours > 0) {
        // A mandate a kill left EN_COURS may have been changed or not: the database says which
        // before the undo counts it.
        if (!TCompletionJournaux(dbSource).Completer({chemin})) {
            AfficherMessage(QStringLiteral("Le journal %1 est utilisé par un autre programme (un "
                                           "passage en cours ?) : réessayez une fois celui-ci "
                                           "terminé.")
                                .arg(QDir::toNativeSeparators(chemin)),
                            TMessageKind::Information);
            return;
        }
        passage = LirePassage(chemin);
    }
    if (!passage.refus.isEmpty()) {
        AfficherMessage(passage.refus, TMessageKind::Information);
        return;
    }
    const int nombre = int(passage.changes.size());
    const QString quand = passage.debut.isValid()
                              ? passage.debut.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"))
                              : QStringLiteral("date inconnue");
    const QString question =
        nombre == 1 ? Format(QStringLiteral("1 mandat de ce passage (%s, %s) sera rendu à sa "
                                            "banque d'origine. Voulez-vous continuer ?"),
                             NomMode(passage.mode), quand)
                    : Format(QStringLiteral("%d mandats de ce passage (%s, %s) seront rendus à "
                                            "leur banque d'origine. Voulez-vous continuer ?"),
                             nombre, NomMode(passage.mode), quand);
    if (AfficherMessage(question, TMessageKind::Confirmation) != IDYES) return;

    const TModeChangement mode = ModeAnnulation(passage.mode);
    // Made before anything is written, as the run's: an undo is a run of its own.
    std::optional<TJournal> journal;
    if (!SansJournal) journal.emplace(mode, QDateTime::currentDateTime());
    int traites = 0;
    TEcartes ecartes;
    try {
        TCurseurAttente attente;
        TControlsDisabled suspendus(*idsBanque);
        TProgression progression(*this, nombre, QStringLiteral("Annulation d'un passage"));
        for (const TLigneJournal& duPassage : passage.changes) {
            TLigneJournal ligne = LigneAnnulation(duPassage);
            if (journal) {
                ligne.resultat = Resultat::EnCours;
                journal->Ecrire(ligne);
            }
            const QString motif = RendreMandat(passage.mode, duPassage);
            if (journal) EcrireIssue(*journal, mode, ligne, motif);
            if (!motif.isEmpty()) ecartes.Compter(motif);
            ++traites;
            if (progression.Avancer(traites)) break;
        }
        if (journal) journal->Terminer();
        // A list on screen shows the mandates as they are now.
        if (idsBanque->Active()) {
            idsBanque->Close();
            RenouvelerLecture();
            idsBanque->Open();
        }
    } catch (...) {
        if (journal) LaisserJournal(*journal);
        throw;
    }
    // Always said: the user must know which part of the run is given back.
    AfficherMessage(ecartes.TexteAnnulation(
                        traites, journal ? QDir::toNativeSeparators(journal->Chemin()) : QString()),
                    TMessageKind::Information);
}

QString TfrmPrincipale::MotDePasseBase() const {
    return MotDePasseIntegre();
}

void TfrmPrincipale::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (FCentred) return;
    FCentred = true;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}
