#include "ufrmBanqueChoix.h"

#include "Application.h"
#include "Controls.h"
#include "DBGrid.h"
#include "Programme.h"
#include "pFIBDataSet.h"
#include "pFIBDatabase.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QValidator>

namespace {

const QColor Fond(0xF3, 0xF3, 0xF3);
const QColor Bandeau(0x1B, 0x32, 0x98);

constexpr int VK_RETURN = 13;
constexpr int VK_ESCAPE = 27;

QFont CalibriFont(int pixelSize, bool bold = false) {
    QFont f(QStringLiteral("Calibri"));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

void Colour(QWidget* w, QPalette::ColorRole role, const QColor& colour) {
    QPalette pal = w->palette();
    pal.setColor(role, colour);
    w->setPalette(pal);
}

// The footer's two buttons are labels: white bold text on the band's colour.
TClickLabel* MakeFooterButton(QWidget* parent, const char* name, const QString& text, int left) {
    auto* label = new TClickLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(left, 3, 100, 24);
    label->setAlignment(Qt::AlignCenter);
    label->setFont(CalibriFont(16, true));
    Colour(label, QPalette::WindowText, Qt::white);
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

// The search picture: a magnifier in the band's colour, drawn rather than shipped.
QPixmap Loupe() {
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Bandeau, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(15, 15), QPointF(21, 21));
    p.setPen(QPen(Bandeau, 2.5));
    p.setBrush(QColor(0xDD, 0xE6, 0xFF));
    p.drawEllipse(QPointF(10, 10), 7, 7);
    // A glint on the glass, so that it reads as a lens.
    p.setPen(QPen(Qt::white, 1.5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(6, 6, 8, 8), 100 * 16, 70 * 16);
    return pixmap;
}

// Every letter typed, pasted or set goes in upper case, except the few Latin-1 letters whose
// capital lies outside Latin-1 ("ÿ", "µ"): the search goes to the server in Latin-1, where the
// capital would be refused, while the letter as typed can be found.
class TUpperCaseValidator : public QValidator {
public:
    using QValidator::QValidator;
    // Letter by letter: the upper case of a whole text may be longer than the text ("ß" gives
    // "SS"), which would both change the search and leave the cursor before the added letter.
    State validate(QString& input, int&) const override {
        for (QChar& c : input) {
            const QChar upper = c.toUpper();
            if (c.unicode() > 0xFF || upper.unicode() <= 0xFF) c = upper;
        }
        return Acceptable;
    }
};

// The dialog's key codes for the two keys it acts on; 0 for any other key.
int VirtualKey(const QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Escape:
        return VK_ESCAPE;
    default:
        return 0;
    }
}

} // namespace

TfrmBanqueChoix::TfrmBanqueChoix(TComponent* AOwner, TFIBDatabase* Database)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::MSWindowsFixedSizeDialogHint),
      TComponent(AOwner) {
    BeginLoading();
    SetName(QStringLiteral("frmBanqueChoix"));
    setObjectName(QStringLiteral("frmBanqueChoix"));
    CreateControls();
    CreateDatabaseObjects(Database);
    ConnectHandlers();
    EndLoading();
}

TfrmBanqueChoix::~TfrmBanqueChoix() = default;

void TfrmBanqueChoix::CreateControls() {
    setWindowTitle(QStringLiteral("Banque"));
    setFixedSize(ClientWidth, ClientHeight);
    setFont(CalibriFont(12));
    Colour(this, QPalette::Window, Fond);
    setAutoFillBackground(true);

    pnlFenetreEntete = new QLabel(QStringLiteral(" Transfert"), this);
    pnlFenetreEntete->setObjectName(QStringLiteral("pnlFenetreEntete"));
    pnlFenetreEntete->setGeometry(0, 0, ClientWidth, 42);
    pnlFenetreEntete->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    pnlFenetreEntete->setFont(CalibriFont(19, true));
    pnlFenetreEntete->setAutoFillBackground(true);
    Colour(pnlFenetreEntete, QPalette::Window, Bandeau);
    Colour(pnlFenetreEntete, QPalette::WindowText, Qt::white);

    // Below the header with a 3-pixel margin on every side.
    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(3, 42 + 3, ClientWidth - 6, 36);
    lblRecherche = new QLabel(Panel1);
    lblRecherche->setObjectName(QStringLiteral("lblRecherche"));
    lblRecherche->setGeometry(0, 0, Panel1->width(), 15);
    edtRecherche = new QLineEdit(Panel1);
    edtRecherche->setObjectName(QStringLiteral("edtRecherche"));
    edtRecherche->setGeometry(0, 15, 649, 22);
    edtRecherche->setValidator(new TUpperCaseValidator(edtRecherche));
    btnGo = new TClickLabel(Panel1);
    btnGo->setObjectName(QStringLiteral("btnGo"));
    btnGo->setGeometry(656, 12, 24, 24);
    btnGo->setPixmap(Loupe());
    btnGo->setCursor(Qt::PointingHandCursor);
    btnGo->setToolTip(QStringLiteral("Rechercher un fichier"));

    constexpr int FooterHeight = 30;
    pnlFenetrePied = new QWidget(this);
    pnlFenetrePied->setObjectName(QStringLiteral("pnlFenetrePied"));
    pnlFenetrePied->setGeometry(0, ClientHeight - FooterHeight, ClientWidth, FooterHeight);
    pnlFenetrePied->setAutoFillBackground(true);
    Colour(pnlFenetrePied, QPalette::Window, Bandeau);
    // Right-aligned with 3-pixel margins: "ANNULER" last, "OK" to its left.
    btnAnnuler = MakeFooterButton(pnlFenetrePied, "btnAnnuler", QStringLiteral("ANNULER"),
                                  ClientWidth - 3 - 100);
    btnOK = MakeFooterButton(pnlFenetrePied, "btnOK", QStringLiteral("OK"),
                             ClientWidth - 3 - 100 - 3 - 3 - 100);

    const int gridTop = Panel1->geometry().bottom() + 1 + 3;
    dgrListe = new TDBGrid(this);
    dgrListe->setObjectName(QStringLiteral("dgrListe"));
    dgrListe->setGeometry(0, gridTop, ClientWidth, pnlFenetrePied->y() - gridTop);
    dgrListe->SetTitleFont(CalibriFont(12));
    dgrListe->SetRowSelect(true);
    dgrListe->SetAlwaysShowSelection(true);
    dgrListe->AddColumn(QStringLiteral("BANQ_SOCIETE"), 350);
    dgrListe->AddColumn(QStringLiteral("CODE"), 70);
    dgrListe->AddColumn(QStringLiteral("BANQ_BIC"), 80);
    dgrListe->AddColumn(QStringLiteral("BANQ_CODE_PAYS"), 50);

    edtRecherche->setAccessibleName(QStringLiteral("Recherche d'une banque"));
    btnGo->setAccessibleName(QStringLiteral("Rechercher"));
    dgrListe->setAccessibleName(QStringLiteral("Liste des banques"));
    btnOK->setAccessibleName(QStringLiteral("OK : choisir la banque sélectionnée"));
    btnAnnuler->setAccessibleName(QStringLiteral("Annuler : fermer sans choisir de banque"));
    // As the eye reads the dialog: the search and its picture, the list, then the footer left
    // to right. The search has the focus when the dialog opens.
    setTabOrder(edtRecherche, btnGo);
    setTabOrder(btnGo, dgrListe);
    setTabOrder(dgrListe, btnOK);
    setTabOrder(btnOK, btnAnnuler);
    edtRecherche->setFocus();
}

void TfrmBanqueChoix::CreateDatabaseObjects(TFIBDatabase* Database) {
    transListe = new TpFIBTransaction(this);
    transListe->SetName(QStringLiteral("transListe"));
    // The same snapshot settings as the main window's reading transaction.
    ConfigureProgramReadTransaction(*transListe, Database);

    idsListe = new TpFIBDataSet(this);
    idsListe->SetName(QStringLiteral("idsListe"));
    idsListe->SetDatabase(Database);
    idsListe->SetTransaction(transListe);
    // Identifiers are read as 64-bit integers; everything else as the columns come.
    idsListe->SetStoredOption(QStringLiteral("poUseLargeIntField"), true);
    for (const char* option :
         {"poUseBooleanField", "poImportDefaultValues", "poGetOrderInfo", "poEmptyStrToNull",
          "oTrimCharFields", "oRefreshAfterPost", "oStartTransaction", "oAutoFormatFields"})
        idsListe->SetStoredOption(QLatin1String(option), false);

    dsListe = new TDataSource(this);
    dsListe->SetName(QStringLiteral("dsListe"));
    dsListe->SetDataSet(idsListe);
    dgrListe->SetDataSource(dsListe);
}

void TfrmBanqueChoix::ConnectHandlers() {
    connect(btnOK, &TClickLabel::clicked, this, Protected([this] { btnOKClick(this); }));
    connect(dgrListe, &TDBGrid::doubleClicked, this, Protected([this] { btnOKClick(this); }));
    connect(btnAnnuler, &TClickLabel::clicked, this, Protected([this] { btnAnnulerClick(this); }));
    connect(btnGo, &TClickLabel::clicked, this, Protected([this] { btnGoClick(this); }));
    // The dialog sees every key before its controls.
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
}

bool TfrmBanqueChoix::DataInitialisation(qint64 ID, bool, bool) {
    lblRecherche->setText(QStringLiteral("Recherche"));
    dgrListe->Columns(0).Title = QStringLiteral("Banque");
    dgrListe->Columns(1).Title = QStringLiteral("Code banque");
    dgrListe->Columns(2).Title = QStringLiteral("BIC");
    dgrListe->Columns(3).Title = QStringLiteral("Pays");
    dgrListe->ColumnsChanged();
    iCodeChoisi = ID;
    FExclu = ID;
    transListe->StartTransaction();
    ChargerListe();
    return true;
}

void TfrmBanqueChoix::ChargerListe() {
    if (idsListe->Active()) {
        idsListe->Close();
        idsListe->UnPrepare();
    }
    idsListe->SelectSQL().SetText(BanqueChoixSQL(FExclu, edtRecherche->text()));
    idsListe->Prepare();
    if (idsListe->ParamCount() > 0)
        idsListe->Params()->Vars(0)->SetAsString(BanqueChoixParametre(edtRecherche->text()));
    idsListe->Open();
}

void TfrmBanqueChoix::btnOKClick(TObject*) {
    if (idsListe->IsEmpty()) return;
    iCodeChoisi = idsListe->Fields(0)->AsLargeInt();
    sNomChoisi = idsListe->Fields(1)->AsString();
    sBICChoisi = idsListe->Fields(2)->AsString();
    sCodeBanqueChoisi = idsListe->FieldByName(QStringLiteral("BANQ_BANQUE"))->AsString();
    sCodeDebutChoisi = idsListe->FieldByName(QStringLiteral("BANQ_BE_DEBUT"))->AsString();
    sCodeFinChoisi = idsListe->FieldByName(QStringLiteral("BANQ_BE_FIN"))->AsString();
    sPaysChoisi = idsListe->FieldByName(QStringLiteral("BANQ_CODE_PAYS"))->AsString();
    done(mrOk);
}

void TfrmBanqueChoix::btnAnnulerClick(TObject*) {
    iCodeChoisi = -1;
    done(mrCancel);
}

void TfrmBanqueChoix::btnGoClick(TObject*) {
    ChargerListe();
}

bool TfrmBanqueChoix::FormKeyDown(TObject*, int Key) {
    switch (Key) {
    case VK_RETURN:
        ChargerListe();
        return true;
    case VK_ESCAPE:
        done(mrCancel);
        return true;
    default:
        return false;
    }
}

void TfrmBanqueChoix::FormClose(TObject*) {
    if (idsListe->Active()) {
        idsListe->Close();
        idsListe->UnPrepare();
    }
    transListe->Commit();
}

void TfrmBanqueChoix::done(int r) {
    try {
        FormClose(this);
    } catch (const EFIBError& e) {
        if (!IsConnectionLost(e)) {
            HandleException(std::current_exception());
            return;
        }
        // Nothing to keep and nothing to end on a server that is gone; the dialog must not
        // stay open on it.
        if (transListe->Active()) transListe->EndTransaction(TARollback, true);
        FErreurFermeture = std::current_exception();
    } catch (...) {
        HandleException(std::current_exception());
        return;
    }
    QDialog::done(r);
}

void TfrmBanqueChoix::reject() {
    done(mrCancel);
}

bool TfrmBanqueChoix::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
    const auto* keyEvent = static_cast<QKeyEvent*>(event);
    // Enter belongs to the search everywhere in the dialog: Space on the list is the keyboard's
    // double-click, an OK on the row the list stands on.
    if (watched == dgrListe && keyEvent->key() == Qt::Key_Space &&
        keyEvent->modifiers() == Qt::NoModifier) {
        if (!keyEvent->isAutoRepeat()) Protect([this] { btnOKClick(this); });
        return true;
    }
    const int key = VirtualKey(keyEvent);
    if (key == 0) return false;
    // A key whose handling raised was meant for the dialog all the same.
    bool consumed = true;
    Protect([&] { consumed = FormKeyDown(this, key); });
    return consumed;
}

void TfrmBanqueChoix::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}
