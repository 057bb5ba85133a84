// The login dialog of a configured account: the server and the account as the configuration
// names them, and the password, which the user types at each connect.
#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

class TfrmConnexion : public QDialog {
    Q_OBJECT
public:
    // Attaches with the typed password; raises what the attach raises. The password it receives
    // is wiped as soon as it returns.
    using TConnecter = std::function<void(const QString& motDePasse)>;

    TfrmConnexion(const QString& serveur, const QString& utilisateur, TConnecter connecter,
                  QWidget* parent = nullptr);
    ~TfrmConnexion() override;

    QLineEdit* edtServeur = nullptr;
    QLineEdit* edtUtilisateur = nullptr;
    QLineEdit* edtMotDePasse = nullptr;
    // Why the last attempt failed, as the server said it; hidden until there is one.
    QLabel* lblErreur = nullptr;
    QPushButton* btnConnecter = nullptr;
    // "Annuler" is reject(): closing the dialog any way but by connecting leaves the caller
    // without a connection.
    QPushButton* btnAnnuler = nullptr;

    void btnConnecterClick();

private:
    TConnecter FConnecter;
};
