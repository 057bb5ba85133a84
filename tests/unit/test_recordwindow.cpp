// The record window and the data-link protocol of the generic dataset base, over a dataset of
// numbered rows held in memory: which rows the window holds after each move, what every view
// is told and in which order, and how the events are held back while controls are disabled.
#include "DB.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string>* Journal = nullptr;

// Rows 1..N; a row counts as fetched the first time the dataset reads past the highest so far.
class TNumbers : public TDataSet {
public:
    explicit TNumbers(int rows) : FRows(rows) {}
    int Fetched = 0;

    int Value() const {
        const char* b = ActiveBuffer();
        int v = 0;
        if (b && !IsEmpty()) std::memcpy(&v, b + 5, sizeof(v));
        return v;
    }
    qint32 RecNo() const override { return IsEmpty() ? 0 : Value(); }
    qint32 RecordCount() const override { return Fetched; }

protected:
    qint32 GetRecordBufferSize() const override { return 9; }
    TGetResult GetRecord(char* Buffer, TGetMode mode, bool) override {
        if (mode == gmNext) {
            if (FCursor >= FRows) return grEOF;
            ++FCursor;
        } else if (mode == gmPrior) {
            if (FCursor <= 1) {
                FCursor = 0;
                return grBOF;
            }
            --FCursor;
        }
        Fetched = std::max(Fetched, FCursor);
        std::memcpy(Buffer, &FCursor, 4);
        Buffer[4] = 0;
        std::memcpy(Buffer + 5, &FCursor, 4);
        return grOK;
    }
    void InternalSetToRecord(char* Buffer, bool) override { std::memcpy(&FCursor, Buffer, 4); }
    void InternalFirst() override { FCursor = 0; }
    void InternalLast() override {
        Fetched = FRows;
        FCursor = FRows + 1;
    }
    quint8 GetBookmarkFlag(const char* Buffer) const override { return quint8(Buffer[4]); }
    void InternalOpen() override { FCursor = 0; }
    void InternalClose() override { Fetched = 0; }
    TField* CreateFieldOfType(TFieldType) override { return nullptr; }

private:
    int FRows;
    int FCursor = 0;
};

class TJournalLink : public TDataLink {
public:
    explicit TJournalLink(std::string name, bool visual = true) : FName(std::move(name)) {
        SetVisualControl(visual);
    }
    std::vector<std::string> Events;

protected:
    void Note(const std::string& what) {
        Events.push_back(what);
        if (Journal) Journal->push_back(FName + " " + what);
    }
    void ActiveChanged() override { Note(Active() ? "active" : "inactive"); }
    void DataSetChanged() override { Note("changed"); }
    void DataSetScrolled(qint32 d) override { Note("scrolled " + std::to_string(d)); }
    void LayoutChanged() override { Note("layout"); }
    void CheckBrowseMode() override { Note("browse"); }

private:
    std::string FName;
};

// The values the link shows, read as a grid reads them: row by row through the active row.
std::vector<int> Shown(TDataLink& link, TNumbers& ds) {
    std::vector<int> values;
    const qint32 saved = link.ActiveRecord();
    for (qint32 i = 0; i < link.RecordCount(); ++i) {
        link.SetActiveRecord(i);
        values.push_back(ds.Value());
    }
    link.SetActiveRecord(saved);
    return values;
}

std::vector<int> Range(int from, int to) {
    std::vector<int> v;
    for (int i = from; i <= to; ++i)
        v.push_back(i);
    return v;
}

TEST(RecordWindow, AGridOfTwentyRowsFollowsEveryMove) {
    TNumbers ds(100);
    TDataSource source;
    source.SetDataSet(&ds);
    TJournalLink grid("grid");
    grid.SetBufferCount(20);
    grid.SetDataSource(&source);
    ds.Open();
    EXPECT_EQ(ds.Fetched, 20);
    EXPECT_EQ(Shown(grid, ds), Range(1, 20));
    EXPECT_TRUE(ds.Bof());
    EXPECT_FALSE(ds.Eof());

    // Inside the window only the active row moves; past it the window scrolls one row.
    grid.Events.clear();
    EXPECT_EQ(ds.MoveBy(19), 19);
    EXPECT_EQ(grid.Events, (std::vector<std::string>{"browse", "scrolled 0"}));
    EXPECT_EQ(grid.ActiveRecord(), 19);
    ds.Next();
    EXPECT_EQ(ds.Fetched, 21);
    EXPECT_EQ(grid.Events.back(), "scrolled 1");
    EXPECT_EQ(grid.FirstRecord(), 0);
    EXPECT_EQ(Shown(grid, ds), Range(2, 21));
    EXPECT_EQ(ds.MoveBy(5), 5);
    EXPECT_EQ(grid.Events.back(), "scrolled 5");
    EXPECT_EQ(Shown(grid, ds), Range(7, 26));

    // Backward past the first row scrolls the other way.
    EXPECT_EQ(ds.MoveBy(-22), -22);
    EXPECT_EQ(ds.Value(), 4);
    EXPECT_EQ(grid.Events.back(), "scrolled -3");
    EXPECT_EQ(Shown(grid, ds), Range(4, 23));
    EXPECT_EQ(grid.ActiveRecord(), 0);

    ds.Last();
    EXPECT_EQ(ds.Fetched, 100);
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(Shown(grid, ds), Range(81, 100));
    EXPECT_EQ(grid.ActiveRecord(), 19);
    EXPECT_EQ(grid.Events.back(), "changed");
    // At the end a forward move changes nothing and tells no view.
    grid.Events.clear();
    EXPECT_EQ(ds.MoveBy(3), 0);
    EXPECT_EQ(grid.Events, (std::vector<std::string>{"browse"}));
    ds.First();
    EXPECT_EQ(Shown(grid, ds), Range(1, 20));
    EXPECT_TRUE(ds.Bof());
    EXPECT_EQ(ds.MoveBy(-1), 0);

    ds.Close();
    EXPECT_FALSE(grid.Active());
    EXPECT_EQ(grid.RecordCount(), 0);
    EXPECT_TRUE(ds.IsEmpty());
    EXPECT_THROW(ds.Next(), EDatabaseError);
}

TEST(RecordWindow, ChangingABuffersCountKeepsTheActiveRowInView) {
    TNumbers ds(100);
    TDataSource source;
    source.SetDataSet(&ds);
    TJournalLink grid("grid");
    grid.SetBufferCount(10);
    grid.SetDataSource(&source);
    ds.Open();
    ds.MoveBy(7);
    ASSERT_EQ(ds.Value(), 8);

    // Shrinking: the window keeps the rows around the active one.
    grid.SetBufferCount(4);
    EXPECT_EQ(ds.BufferCount(), 4);
    EXPECT_EQ(ds.Value(), 8);
    EXPECT_EQ(Shown(grid, ds), Range(5, 8));
    EXPECT_EQ(grid.ActiveRecord(), 3);

    // Growing: rows after the window are read forward, then rows before it backward.
    grid.SetBufferCount(12);
    EXPECT_EQ(ds.Value(), 8);
    EXPECT_EQ(Shown(grid, ds), Range(5, 16));
    ds.Last();
    grid.SetBufferCount(15);
    EXPECT_EQ(Shown(grid, ds), Range(86, 100));
    EXPECT_EQ(ds.Value(), 100);

    // The largest view decides the window; a smaller one shows a part of it.
    TJournalLink small("small");
    small.SetBufferCount(3);
    small.SetDataSource(&source);
    EXPECT_EQ(ds.BufferCount(), 15);
    EXPECT_EQ(Shown(small, ds), Range(98, 100));
}

TEST(RecordWindow, ViewsAreToldInTwoPassesLastAttachedFirst) {
    std::vector<std::string> journal;
    Journal = &journal;
    TNumbers ds(5);
    TDataSource source;
    source.SetDataSet(&ds);
    TJournalLink grid1("grid1"), plain1("plain1", false), grid2("grid2"), plain2("plain2", false);
    for (TJournalLink* l : {&grid1, &plain1, &grid2, &plain2})
        l->SetDataSource(&source);
    journal.clear();
    ds.Open();
    EXPECT_EQ(journal, (std::vector<std::string>{"plain2 active", "plain1 active", "grid2 active",
                                                 "grid1 active"}));
    journal.clear();
    ds.Last();
    EXPECT_EQ(journal, (std::vector<std::string>{"plain2 browse", "plain1 browse", "grid2 browse",
                                                 "grid1 browse", "plain2 changed", "plain1 changed",
                                                 "grid2 changed", "grid1 changed"}));
    Journal = nullptr;
}

TEST(RecordWindow, DisabledControlsHoldTheirEventsBack) {
    TNumbers ds(50);
    TDataSource source;
    source.SetDataSet(&ds);
    TJournalLink grid("grid");
    grid.SetBufferCount(5);
    grid.SetDataSource(&source);
    ds.Open();

    // Moves while disabled: one dataset-changed at the end, none before.
    grid.Events.clear();
    ds.DisableControls();
    ds.DisableControls();
    ds.MoveBy(12);
    ds.Next();
    ds.EnableControls();
    EXPECT_TRUE(grid.Events.empty());
    ds.EnableControls();
    EXPECT_EQ(grid.Events, (std::vector<std::string>{"changed"}));
    EXPECT_EQ(ds.Value(), 14);
    EXPECT_EQ(grid.ActiveRecord(), 4);
    ds.EnableControls(); // one too many changes nothing
    EXPECT_EQ(grid.Events.size(), 1u);

    // Closed and reopened while disabled: the state change is passed on as the pending event
    // turns, and the views end up active with the dataset changed.
    grid.Events.clear();
    ds.DisableControls();
    ds.Close();
    ds.Open();
    ds.EnableControls();
    EXPECT_TRUE(grid.Active());
    EXPECT_EQ(grid.Events.back(), "changed");
    EXPECT_EQ(Shown(grid, ds), Range(1, 5));

    // Closed while disabled: the views learn it when the controls come back.
    grid.Events.clear();
    ds.DisableControls();
    ds.Close();
    EXPECT_TRUE(grid.Active());
    ds.EnableControls();
    EXPECT_FALSE(grid.Active());
    EXPECT_EQ(grid.Events, (std::vector<std::string>{"inactive"}));
}

TEST(RecordWindow, DataSourcesAndLinksLetGoOfEachOther) {
    auto ds = std::make_unique<TNumbers>(10);
    auto source = std::make_unique<TDataSource>();
    source->SetDataSet(ds.get());
    TJournalLink grid("grid");
    grid.SetBufferCount(3);
    grid.SetDataSource(source.get());
    ds->Open();
    ASSERT_TRUE(grid.Active());
    ds.reset();
    EXPECT_EQ(source->DataSet(), nullptr);
    EXPECT_FALSE(grid.Active());
    EXPECT_EQ(grid.RecordCount(), 0);
    source.reset();
    EXPECT_EQ(grid.DataSource(), nullptr);

    TNumbers other(4);
    {
        TDataSource s;
        s.SetDataSet(&other);
        TJournalLink shortLived("short");
        shortLived.SetBufferCount(3);
        shortLived.SetDataSource(&s);
        other.Open();
        EXPECT_EQ(other.BufferCount(), 3);
    }
    EXPECT_EQ(other.DataSourceCount(), 0);
    other.MoveBy(2);
    EXPECT_EQ(other.Value(), 3);
}

} // namespace
