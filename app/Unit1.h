// The main window: the user's choice of banks and options, the tool bar and the mandate grid.
#pragma once

#include "Classes.h"
#include "Programme.h"

#include <QStringList>
#include <QWidget>

#include <functional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QAction;
class QLineEdit;
class QMenu;
class QProgressDialog;
class QToolBar;
class QToolButton;
class TClickLabel;
class TDBGrid;
class TPanel;
class TRadioGroup;
class TpFIBDatabase;
class TpFIBTransaction;
class TpFIBQuery;
class TpFIBDataSet;
class TDataSource;
class TFIBBCDField;
class TFIBStringField;
class TFIBSmallIntField;

class TfrmPrincipale : public QWidget, public TComponent {
    Q_OBJECT
public:
    explicit TfrmPrincipale(TComponent* AOwner = nullptr);
    ~TfrmPrincipale() override;

    // The user's bank choice; an identifier of 0 means no bank has been chosen.
    QString Ancien_Nom;
    QString Ancien_BIC;
    qint64 Ancien_ID = 0;
    QString Ancien_Code;
    QString Nouveau_Nom;
    QString Nouveau_BIC;
    qint64 Nouveau_ID = 0;
    QString Nouveau_Code;

    TPanel* Panel1 = nullptr;
    QGroupBox* gbxAncienne = nullptr;
    QLabel* lblBanque1 = nullptr;
    TClickLabel* lblAncien_Info = nullptr;
    QLabel* lblCodeGuichet1 = nullptr;
    QLineEdit* edtAncienGuichet = nullptr;
    QGroupBox* gbxNouvelle = nullptr;
    QLabel* lblBanque2 = nullptr;
    TClickLabel* lblNouveau_Info = nullptr;
    QLabel* lblCodeGuichet2 = nullptr;
    QLineEdit* edtNouveauGuichet = nullptr;
    QGroupBox* gbxOptions = nullptr;
    QCheckBox* cbxActif = nullptr;
    TRadioGroup* rgoMandat = nullptr;
    QToolBar* tbMenu = nullptr;
    QToolButton* btnVerifier = nullptr;
    QToolButton* btnChanger = nullptr;
    QToolButton* btnAnnuler = nullptr;
    TDBGrid* dgrDetail = nullptr;
    // The grid's context menu: the list exported, the journals' folder opened.
    QMenu* mnuGrille = nullptr;
    QAction* actExporter = nullptr;
    QAction* actAnnulerPassage = nullptr;
    QAction* actOuvrirJournaux = nullptr;

    // The database objects: the connection, the reading transaction the list is read in, and
    // the writing transaction of the change run.
    TpFIBDatabase* dbSource = nullptr;
    TpFIBTransaction* transSource = nullptr;
    TpFIBTransaction* transLocale = nullptr;
    // The statement of the change run, one mandate at a time in transLocale.
    TpFIBQuery* qryLocale = nullptr;

    // The mandate list, read in transSource and shown in dgrDetail, with its persistent fields.
    TpFIBDataSet* idsBanque = nullptr;
    TDataSource* dsBanque = nullptr;
    TFIBBCDField* idsBanqueCMAN_ID = nullptr;
    TFIBBCDField* idsBanqueCMAN_IDCLI = nullptr;
    TFIBStringField* idsBanqueNP = nullptr;
    TFIBSmallIntField* idsBanqueCMAN_ACTIF = nullptr;
    TFIBBCDField* idsBanqueCMAN_IDBANQ = nullptr;
    TFIBStringField* idsBanqueCMAN_IBAN = nullptr;
    TFIBStringField* idsBanqueCMAN_BIC = nullptr;
    TFIBStringField* idsBanqueCMAN_NOMBANQUE = nullptr;
    TFIBStringField* idsBanqueCMAN_MANDAT = nullptr;
    TFIBStringField* idsBanqueBANQ_SOCIETE = nullptr;

    void FormCreate(TObject* Sender);
    void FormClose(TObject* Sender);
    void lblAncien_InfoClick(TObject* Sender);
    void lblNouveau_InfoClick(TObject* Sender);
    void btnVerifierClick(TObject* Sender);
    void btnChangerClick(TObject* Sender);
    void actExporterClick(TObject* Sender);
    void actOuvrirJournauxClick(TObject* Sender);
    // « Annuler un passage… »: the journal chosen in the journals' folder, then given back.
    void actAnnulerPassageClick(TObject* Sender);

    // Gives back the run whose journal is at `chemin`: each mandate it changed goes back to what
    // it held before, one transaction per mandate, only while its row still holds what the run
    // wrote. The undo keeps a journal of its own, and the end box says what was given back.
    void AnnulerPassage(const QString& chemin);

    // The progress of a change run: the dialog exists while a run works and shows itself once
    // the run looks like lasting more than about a second; its "Arrêter" button stops the run
    // after the mandate in hand. OnProgression is told after each mandate (done, listed).
    QProgressDialog* dlgProgression = nullptr;
    std::function<void(int fait, int liste)> OnProgression;
    static constexpr int DelaiProgression = 1000; // ms

    // True from the moment the server connection was found lost (and dropped) until the next
    // "Vérifier" or bank choice has connected again.
    bool ConnexionPerdue() const { return FConnexionPerdue; }

    // For measurement only: the benchmark runs the same window with and without its journal,
    // side by side, to tell what the journal costs. The program never sets it.
    bool SansJournal = false;

    static constexpr int ClientWidth = 1138;
    static constexpr int ClientHeight = 633;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QString MotDePasseBase() const;

    // Runs a handler of the window; what escapes it is shown in the error box, and a lost
    // connection is dropped first so that nothing later trips over its dead handle.
    void Proteger(const std::function<void()>& handler);
    void AbandonnerConnexion();
    // Connects again and starts transSource, only after a lost connection or a login cancelled
    // at the start.
    void RetablirConnexion();
    // Connects dbSource as the configuration says: with the program's own password, or with
    // the configured account through the login dialog. Annuler there raises EAbort.
    void Connecter();
    void ConnecterCompte();

    bool ControleSaisie();
    void ChargerMandats();
    // Ends transSource and starts it again: the list then reads the database as it is now.
    void RenouvelerLecture();
    TModeChangement ModeChoisi() const;
    // What the run will do with the list's current row, with the new bank and branch box as
    // they are now; and that as the list's « Nouvel IBAN » and « Nouveau BIC » show it.
    TPrevisionMandat PrevisionLigne() const;
    QString NouvelIbanAffiche() const;
    QString NouveauBicAffiche() const;
    // Writes one mandate in a transaction of its own, over a row that still holds what the list
    // showed: empty when it was committed, else the journal's reason it was rolled back. A lost
    // connection is raised: the outcome of a commit cut short is unknown.
    QString EcrireMandat(TModeChangement mode, const QString& id, const QString& iban,
                         const QString& reference, const TCompteMandat& liste);
    // Writes one mandate of a run back as its journal line says it was, in a transaction of its
    // own: empty when it was committed, else the journal's reason it was rolled back.
    QString RendreMandat(TModeChangement modeDuPassage, const TLigneJournal& ligne);
    // A run stopped by a failure: its journal's last outcome written if it can be, and the
    // journal kept for the next listing when a mandate's outcome is unknown.
    void LaisserJournal(TJournal& journal);
    // The reason a mandate's write failed, its transaction rolled back; a lost connection is
    // raised again. Called from the write's handler.
    QString MotifAbandon(const Exception& e);
    // Why « Recréer »'s deactivation ended nothing: the mandate ended, or changed or gone.
    QString MotifNonDesactive(const QString& id);
    // Completes from the database the journals a kill or a lost connection left pending: every
    // journal at the start, then at each listing those this window left so.
    void CompleterJournaux(bool tous);

    void CreateControls();
    void OrdonnerTabulation();
    void CreateDatabaseObjects();
    void CreateMandateList();
    void ConnectHandlers();

    // What the list on screen was made for: « Changer » runs only on a list made with the old
    // bank, old branch box and « Que les mandats actifs » still on screen.
    struct TListeFaite {
        qint64 ancienId = 0;
        QString ancienCode;
        QString ancienGuichet;
        bool actifs = false;
        bool operator==(const TListeFaite&) const = default;
    };
    TListeFaite CritereAffiche() const;
    TListeFaite FListe;

    bool FCentred = false;
    bool FConnexionPerdue = false;
    // « Annuler » at the login dialog when the window opened: the next operation asks again.
    bool FConnexionAnnulee = false;
    // Where and as whom dbSource connects, read from the configuration at creation.
    TConnexionProgramme FConnexion;
    QStringList FJournauxEnSuspens;
};
