// The bank chooser: a modal dialog in which the user searches the bank table and picks one bank.
// It reads through the main window's connection, in a transaction of its own that lives from
// DataInitialisation to the dialog's close.
#pragma once

#include "Classes.h"

#include <QDialog>

#include <exception>

class QLabel;
class QLineEdit;
class TClickLabel;
class TDBGrid;
class TDataSource;
class TFIBDatabase;
class TpFIBDataSet;
class TpFIBTransaction;

class TfrmBanqueChoix : public QDialog, public TComponent {
    Q_OBJECT
public:
    // Database: the connection the list is read through (the main window's).
    TfrmBanqueChoix(TComponent* AOwner, TFIBDatabase* Database);
    ~TfrmBanqueChoix() override;

    // Result codes of the modal dialog.
    static constexpr int mrOk = 1;
    static constexpr int mrCancel = 2;

    // The chosen bank, set when the user confirms a row; a null column gives the empty text.
    // Before that, iCodeChoisi holds the identifier left out of the list.
    qint64 iCodeChoisi = 0;
    QString sNomChoisi;
    QString sBICChoisi;
    QString sCodeBanqueChoisi;
    QString sCodeDebutChoisi;
    QString sCodeFinChoisi;
    QString sPaysChoisi;

    QLabel* pnlFenetreEntete = nullptr;
    QWidget* Panel1 = nullptr;
    QLabel* lblRecherche = nullptr;
    QLineEdit* edtRecherche = nullptr;
    TClickLabel* btnGo = nullptr;
    TDBGrid* dgrListe = nullptr;
    QWidget* pnlFenetrePied = nullptr;
    TClickLabel* btnAnnuler = nullptr;
    TClickLabel* btnOK = nullptr;

    TpFIBTransaction* transListe = nullptr;
    TpFIBDataSet* idsListe = nullptr;
    TDataSource* dsListe = nullptr;

    // ID: the bank to leave out of the list (-1: none). bAjouter and bImportation are kept for
    // the callers' sake and change nothing. Starts transListe and reads the list.
    bool DataInitialisation(qint64 ID, bool bAjouter, bool bImportation);

    void btnOKClick(TObject* Sender);
    void btnAnnulerClick(TObject* Sender);
    void btnGoClick(TObject* Sender);
    // True when the key was consumed.
    bool FormKeyDown(TObject* Sender, int Key);
    void FormClose(TObject* Sender);

    // Every close, whatever its result, goes through FormClose; a failure there is shown and
    // the dialog stays open, except a lost connection: the list only read, so its transaction
    // is dropped, the dialog closes and the error waits in ErreurFermeture for the caller.
    void done(int r) override;
    // The lost connection met by the last close, or null.
    std::exception_ptr ErreurFermeture() const { return FErreurFermeture; }
    // The system's close and the toolkit's own Escape give the cancel result.
    void reject() override;

    static constexpr int ClientWidth = 690;
    static constexpr int ClientHeight = 597;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void CreateDatabaseObjects(TFIBDatabase* Database);
    void ConnectHandlers();
    void ChargerListe();

    // The bank left out of the list, as given at initialisation: a confirmed row whose close
    // failed must not drop that row from the next search.
    qint64 FExclu = -1;
    std::exception_ptr FErreurFermeture;
};
