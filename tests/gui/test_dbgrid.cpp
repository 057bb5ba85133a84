// The data grid on real lists of the demo database: what it asks the dataset to read, what it
// shows, how the keyboard, the wheel, the scroll bar and the mouse move the dataset, and what
// happens when a move fails on the server.
#include "BoxRecorder.h"
#include "DBGrid.h"
#include "TestSupport.h"
#include "Unit1.h"
#include "pFIBDataSet.h"
#include "pFIBDatabase.h"
#include "pFIBQuery.h"

#include <QImage>
#include <QLineEdit>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <vector>

namespace {

// The mandate list's select for BNP PARIBAS (identifier 1, bank code 30004), active mandates
// only, cut to its first 200 rows so that the end of the list is known.
const QString MandatsBNP =
    S("SELECT CMAN_ID, CMAN_IDCLI, CLI_NOM || ' ' || CLI_PRENOM AS NP, CMAN_ACTIF, CMAN_IDBANQ, "
      "CMAN_IBAN, CMAN_BIC, CMAN_NOMBANQUE, CMAN_MANDAT, BANQ_SOCIETE FROM CLIENTS_MANDAT "
      "INNER JOIN CLIENTS ON (CLI_ID = CMAN_IDCLI) LEFT JOIN BANQUE ON (BANQ_ID = CMAN_IDBANQ) "
      "WHERE (CMAN_IBAN STARTING WITH 'FR') AND ((CMAN_IDBANQ = 1) OR (SUBSTRING(CMAN_IBAN "
      "FROM 5 FOR 5) = '30004')) \r\nAND (CMAN_ACTIF = -1) \r\nROWS 200\r\n");
constexpr int Total = 200;

struct Mandat {
    QString id, np, iban;
};

// The same rows read by a plain statement, apart from any dataset or grid.
std::vector<Mandat> ReadMandats(TfrmPrincipale& frm) {
    TpFIBQuery q;
    q.SetDatabase(frm.dbSource);
    q.SetTransaction(frm.transSource);
    q.SQL().SetText(MandatsBNP);
    q.ExecQuery();
    std::vector<Mandat> rows;
    for (; !q.Eof(); q.Next())
        rows.push_back({q.FieldByName(S("CMAN_ID"))->AsString(), q.FieldByName(S("NP"))->AsString(),
                        q.FieldByName(S("CMAN_IBAN"))->AsString()});
    q.Close();
    return rows;
}

// How many colours a cell of the grid as painted holds: one for an empty cell, more once a
// text is drawn in it.
int ColoursIn(const QImage& image, const QRect& cell) {
    QSet<QRgb> colours;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x)
            colours.insert(image.pixel(x, y));
    return int(colours.size());
}

void Wheel(TDBGrid* grid, int angle) {
    const QPointF at(50, 50);
    QWheelEvent event(at, grid->viewport()->mapToGlobal(at), QPoint(), QPoint(0, angle),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(grid->viewport(), &event);
}

QPoint RowCentre(const TDBGrid* grid, int row, int column) {
    int x = TDBGrid::IndicatorWidth + 1 + 20;
    for (int c = 0; c < column; ++c)
        x += grid->Columns(c).Width + 1;
    const int y = grid->TitleHeight() + 1 + row * (grid->DefaultRowHeight() + 1) +
                  grid->DefaultRowHeight() / 2;
    return QPoint(x, y);
}

class GridOnMandates : public ::testing::Test {
protected:
    BoxRecorder boxes;
    TfrmPrincipale frm;
    TDBGrid* grid = frm.dgrDetail;
    TpFIBDataSet* ds = frm.idsBanque;
    std::vector<Mandat> expected;

    void SetUp() override {
        ASSERT_TRUE(boxes.errors.empty()) << boxes.errors.front().text.toStdString();
        frm.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&frm));
        expected = ReadMandats(frm);
        ASSERT_EQ(int(expected.size()), Total);
        ds->SelectSQL().SetText(MandatsBNP);
        ds->Prepare();
        ds->Open();
    }
    int Rows() const { return grid->DataLink().BufferCount(); }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(grid, key, modifiers);
    }
    // The row the dataset stands on and the rows it has fetched.
    void ExpectAt(int recNo, int fetched) {
        EXPECT_EQ(ds->RecNo(), recNo);
        EXPECT_EQ(ds->RecordCount(), fetched);
        EXPECT_EQ(grid->CellText(grid->DataLink().ActiveRecord(), 1), expected[recNo - 1].iban);
        EXPECT_EQ(grid->verticalScrollBar()->value(), recNo - 1);
        EXPECT_EQ(grid->verticalScrollBar()->maximum(), fetched - 1);
    }
};

} // namespace

TEST_F(GridOnMandates, ReadsAsManyRowsAsItShowsAndPaintsThem) {
    const int n = Rows();
    // As many rows as fit entirely below the title row, and only those are fetched.
    const int pitch = grid->DefaultRowHeight() + 1;
    const int room = grid->viewport()->height() - grid->TitleHeight() - 1;
    EXPECT_EQ(n, room / pitch);
    EXPECT_GT(n, 10);
    EXPECT_EQ(grid->DataLink().RecordCount(), n);
    EXPECT_EQ(ds->RecordCount(), n);
    EXPECT_EQ(ds->RecNo(), 1);

    // The persistent fields bound to the columns of the select: identifiers as BCD of scale 0,
    // sizes of the columns, no field created at open.
    EXPECT_FALSE(ds->DefaultFields());
    EXPECT_EQ(ds->FieldCount(), 10);
    EXPECT_EQ(ds->FieldByName(S("NP")), frm.idsBanqueNP);
    EXPECT_EQ(frm.idsBanqueNP->Size(), 71);
    EXPECT_EQ(frm.idsBanqueCMAN_IBAN->Size(), 50);
    EXPECT_EQ(frm.idsBanqueCMAN_ID->AsString(), expected[0].id);
    EXPECT_EQ(frm.idsBanqueCMAN_ACTIF->AsInteger(), -1);
    for (int c = 0; c < grid->ColumnCount(); ++c)
        EXPECT_EQ(grid->ColumnField(c), ds->FindField(grid->Columns(c).FieldName));

    for (int r = 0; r < n; ++r) {
        EXPECT_EQ(grid->CellText(r, 0), expected[size_t(r)].np);
        EXPECT_EQ(grid->CellText(r, 1), expected[size_t(r)].iban);
    }
    EXPECT_EQ(grid->CellText(n, 1), QString());

    // Painting reads every shown row and leaves the dataset as it was: same row, no fetch.
    const QImage image = grid->viewport()->grab().toImage();
    EXPECT_EQ(ds->RecNo(), 1);
    EXPECT_EQ(ds->RecordCount(), n);
    const QPoint first = RowCentre(grid, 1, 1), last = RowCentre(grid, n - 1, 1);
    EXPECT_GT(ColoursIn(image, QRect(first.x(), first.y() - 4, 150, 8)), 1);
    EXPECT_GT(ColoursIn(image, QRect(last.x(), last.y() - 4, 150, 8)), 1);
    EXPECT_TRUE(boxes.errors.empty());
}

TEST_F(GridOnMandates, KeysWheelAndScrollBarMoveTheDatasetFetchingOnlyWhatIsNeeded) {
    const int n = Rows();
    for (int i = 1; i < n; ++i)
        Key(Qt::Key_Down);
    ExpectAt(n, n);
    EXPECT_EQ(grid->DataLink().ActiveRecord(), n - 1);

    // Past the last shown row: one more fetch, the grid scrolls and the active row stays last.
    Key(Qt::Key_Down);
    ExpectAt(n + 1, n + 1);
    EXPECT_EQ(grid->DataLink().ActiveRecord(), n - 1);
    EXPECT_EQ(grid->CellText(0, 1), expected[1].iban);

    Key(Qt::Key_PageDown);
    ExpectAt(2 * n + 1, 2 * n + 1);
    Key(Qt::Key_PageUp);
    ExpectAt(n + 1, 2 * n + 1);
    Key(Qt::Key_Up);
    ExpectAt(n, 2 * n + 1);

    Wheel(grid, -120);
    ExpectAt(n + 1, 2 * n + 1);
    Wheel(grid, 240);
    ExpectAt(n - 1, 2 * n + 1);
    // Half notches add up to one.
    Wheel(grid, -60);
    ExpectAt(n - 1, 2 * n + 1);
    Wheel(grid, -60);
    ExpectAt(n, 2 * n + 1);

    Key(Qt::Key_End);
    ExpectAt(Total, Total);
    EXPECT_EQ(grid->CellText(grid->DataLink().RecordCount() - 1, 1), expected[Total - 1].iban);
    Key(Qt::Key_Down);
    ExpectAt(Total, Total);
    Key(Qt::Key_Home);
    ExpectAt(1, Total);
    EXPECT_EQ(grid->DataLink().ActiveRecord(), 0);
    Key(Qt::Key_End, Qt::ControlModifier);
    ExpectAt(Total, Total);
    Key(Qt::Key_Home, Qt::ControlModifier);
    ExpectAt(1, Total);

    // Dragging the bar moves by the difference.
    grid->verticalScrollBar()->setValue(120);
    ExpectAt(121, Total);
    grid->verticalScrollBar()->setValue(20);
    ExpectAt(21, Total);
    EXPECT_TRUE(boxes.errors.empty());
}

TEST_F(GridOnMandates, ResizingChangesTheRowsAskedFor) {
    const int n = Rows();
    frm.resize(frm.width(), frm.height() - 5 * (grid->DefaultRowHeight() + 1));
    QCoreApplication::processEvents();
    const int fewer = Rows();
    EXPECT_EQ(fewer, grid->VisibleRowCapacity());
    EXPECT_EQ(fewer, n - 5);
    EXPECT_EQ(ds->RecordCount(), n); // shrinking reads nothing
    EXPECT_EQ(grid->DataLink().RecordCount(), fewer);

    frm.resize(frm.width(), frm.height() + 12 * (grid->DefaultRowHeight() + 1));
    QCoreApplication::processEvents();
    EXPECT_EQ(Rows(), n + 7);
    EXPECT_EQ(ds->RecordCount(), n + 7); // growing reads just the new rows
    EXPECT_EQ(grid->CellText(n + 6, 1), expected[size_t(n + 6)].iban);
    EXPECT_EQ(ds->RecNo(), 1);
}

TEST_F(GridOnMandates, AClickSelectsARowAndADoubleClickIsSignalled) {
    QSignalSpy doubles(grid, &TDBGrid::doubleClicked);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, RowCentre(grid, 3, 1));
    EXPECT_EQ(ds->RecNo(), 4);
    EXPECT_EQ(grid->DataLink().ActiveRecord(), 3);
    EXPECT_EQ(grid->SelectedColumn(), 1);
    EXPECT_TRUE(grid->hasFocus());

    // The title row selects nothing and is no double-click of a row.
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, QPoint(100, 3));
    EXPECT_EQ(ds->RecNo(), 4);
    EXPECT_EQ(doubles.count(), 0);

    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, RowCentre(grid, 6, 0));
    EXPECT_EQ(ds->RecNo(), 7);
    EXPECT_EQ(doubles.count(), 1);

    // After scrolling, a click counts from the first shown row.
    for (int i = 0; i < Rows(); ++i)
        Key(Qt::Key_Down);
    const int top = ds->RecNo() - grid->DataLink().ActiveRecord();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, RowCentre(grid, 0, 2));
    EXPECT_EQ(ds->RecNo(), top);
    EXPECT_EQ(ds->RecordCount(), Rows() + 7);
    EXPECT_TRUE(boxes.errors.empty());
}

TEST_F(GridOnMandates, WholeRowSelectionShowsAlsoWithoutFocus) {
    Key(Qt::Key_Down);
    frm.edtAncienGuichet->setFocus();
    QCoreApplication::processEvents();
    ASSERT_FALSE(grid->hasFocus());
    const QColor highlight = grid->palette().color(QPalette::Highlight);
    // Far right in the last column: past any text of the active row and of the next one.
    const QPoint active = RowCentre(grid, 1, 4) + QPoint(200, 0);
    const QPoint next = RowCentre(grid, 2, 4) + QPoint(200, 0);
    EXPECT_NE(grid->viewport()->grab().toImage().pixelColor(active), highlight);

    grid->SetRowSelect(true);
    grid->SetAlwaysShowSelection(true);
    QImage image = grid->viewport()->grab().toImage();
    EXPECT_EQ(image.pixelColor(active), highlight);
    EXPECT_NE(image.pixelColor(next), highlight);

    // Without the option the selection shows only while the grid has the focus.
    grid->SetAlwaysShowSelection(false);
    EXPECT_NE(grid->viewport()->grab().toImage().pixelColor(active), highlight);
}

TEST_F(GridOnMandates, ClosingEmptiesTheGrid) {
    EXPECT_NE(grid->ColumnField(0), nullptr);
    ds->Close();
    EXPECT_FALSE(grid->DataLink().Active());
    EXPECT_EQ(grid->ColumnField(0), nullptr);
    EXPECT_EQ(grid->CellText(0, 0), QString());
    EXPECT_EQ(grid->verticalScrollBar()->maximum(), 0);
    // Keys on a closed list do nothing and raise nothing.
    Key(Qt::Key_Down);
    Key(Qt::Key_End);
    EXPECT_TRUE(boxes.errors.empty());
    ds->Open();
    EXPECT_EQ(grid->CellText(0, 1), expected[0].iban);
}

// A select whose 40th row fails on the server while it is fetched.
TEST(GridFailures, AFailedFetchIsShownAndTheGridStaysUsable) {
    BoxRecorder boxes;
    TfrmPrincipale frm;
    ASSERT_TRUE(frm.transSource->Active());
    TpFIBDataSet ds;
    ds.SetName(S("idsEssai"));
    ds.SetDatabase(frm.dbSource);
    ds.SetTransaction(frm.transSource);
    ds.SelectSQL().SetText(S("WITH RECURSIVE N AS (SELECT 1 AS I FROM RDB$DATABASE UNION ALL "
                             "SELECT I + 1 FROM N WHERE I < 100) "
                             "SELECT I, CAST('Ligne ' || I AS VARCHAR(20)) AS TEXTE, "
                             "100 / (I - 40) AS Q FROM N"));
    TDataSource source;
    source.SetDataSet(&ds);
    TDBGrid grid;
    grid.AddColumn(S("TEXTE"), 120);
    grid.AddColumn(S("ABSENT"), 60);
    grid.resize(300, grid.TitleHeight() + 12 * (grid.DefaultRowHeight() + 1) + 10);
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    grid.SetDataSource(&source);
    const int n = grid.DataLink().BufferCount();
    ASSERT_GE(n, 10);
    ds.Prepare();
    ds.Open();
    EXPECT_EQ(ds.RecordCount(), n);
    EXPECT_EQ(grid.CellText(1, 0), S("Ligne 2"));
    EXPECT_EQ(grid.CellText(1, 1), QString()); // a column without a field stays empty

    // Page by page towards the failing row: the move stops at the last row that came.
    for (int i = 0; i < 4 && boxes.errors.empty(); ++i)
        QTest::keyClick(&grid, Qt::Key_PageDown);
    ASSERT_EQ(boxes.errors.size(), 1u);
    EXPECT_TRUE(boxes.errors[0].text.contains(S("divide by zero")))
        << boxes.errors[0].text.toStdString();
    EXPECT_EQ(ds.RecordCount(), 39);
    EXPECT_EQ(ds.RecNo(), 39);
    EXPECT_EQ(grid.CellText(grid.DataLink().ActiveRecord(), 0), S("Ligne 39"));
    EXPECT_EQ(grid.verticalScrollBar()->value(), 38);

    // The grid goes on working on what was read.
    QTest::keyClick(&grid, Qt::Key_Home);
    EXPECT_EQ(ds.RecNo(), 1);
    QTest::keyClick(&grid, Qt::Key_Down);
    EXPECT_EQ(ds.RecNo(), 2);
    QTest::keyClick(&grid, Qt::Key_End);
    EXPECT_TRUE(ds.Active());
    EXPECT_EQ(ds.RecNo(), 39);
    EXPECT_EQ(grid.CellText(grid.DataLink().ActiveRecord(), 0), S("Ligne 39"));
    // Painting what was read raises nothing.
    const size_t shown = boxes.errors.size();
    grid.viewport()->grab();
    QCoreApplication::processEvents();
    EXPECT_EQ(boxes.errors.size(), shown);
}
