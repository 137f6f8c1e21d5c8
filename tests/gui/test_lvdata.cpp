#include "ui/Icons.h"
#include "ui/Lvdata.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QImage>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <QToolTip>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A list wired to a fake owner that answers "r<row>c<column>" and image row % 4.
class ListFixture : public ::testing::Test {
protected:
    void SetUp() override {
        list.lvdSetColumns({{.caption = "Source", .width = 150, .autoSize = true},
                            {.caption = "Duration", .width = 75},
                            {.caption = "Name", .width = 150, .autoSize = true},
                            {.caption = "Status", .width = 193, .fixed = true}});
        list.setImages(ListImages());
        list.OnLVFastDisplayShort = [this](TListViewData*, LVDispItem& item) {
            if (item.mask & LVIF_TEXT) item.text = "r" + std::to_string(item.row) + "c" + std::to_string(item.column);
            if (item.mask & LVIF_IMAGE) item.image = item.row % 4;
        };
        list.OnLVDChange = [this](TListViewData*, const LVChange& c) { changes.push_back(c); };
        list.resize(600, 600);
    }

    QString cellText(int row, int column) {
        return list.model()->index(row, column).data(Qt::DisplayRole).toString();
    }
    std::vector<int> selectedRows() {
        std::vector<int> rows;
        for (int r = 0; r < list.lvdGetCount(); ++r)
            if (list.lvdItemSelected(r)) rows.push_back(r);
        return rows;
    }

    TListViewData list;
    std::vector<LVChange> changes;
};

}  // namespace

TEST_F(ListFixture, HoldsOnlyACountAndAsksTheOwnerForCells) {
    EXPECT_EQ(list.lvdGetCount(), 0);
    EXPECT_EQ(list.model()->columnCount(), 4);
    EXPECT_EQ(list.model()->headerData(3, Qt::Horizontal).toString(), "Status");
    list.lvdSetCount(5);
    EXPECT_EQ(list.lvdGetCount(), 5);
    EXPECT_EQ(cellText(4, 2), "r4c2");
    // Images only for the first column, from the owner's index.
    EXPECT_FALSE(list.model()->index(3, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_FALSE(list.model()->index(3, 1).data(Qt::DecorationRole).isValid());

    list.lvdSetCount(2);
    EXPECT_EQ(list.lvdGetCount(), 2);
    list.lvdAdd(0, 1234);
    list.lvdAdd(99, 0);
    EXPECT_EQ(list.lvdGetCount(), 4);
    list.lvdAddCount(7);
    EXPECT_EQ(list.lvdGetCount(), 7);
    list.lvdClearAll();
    EXPECT_EQ(list.lvdGetCount(), 0);
    list.lvdSetCount(-3);
    EXPECT_EQ(list.lvdGetCount(), 0);
}

TEST_F(ListFixture, ImageIndexOutsideTheListShowsNoImage) {
    list.OnLVFastDisplayShort = [](TListViewData*, LVDispItem& item) {
        if (item.mask & LVIF_IMAGE) item.image = 9;
    };
    list.lvdSetCount(1);
    EXPECT_FALSE(list.model()->index(0, 0).data(Qt::DecorationRole).isValid());
}

TEST_F(ListFixture, LongFormRunsFirstOnTheSameRequest) {
    std::vector<std::string> calls;
    list.OnLVFastDisplay = [&](TListViewData* sender, int mask, std::string& text, int column, int row, int& image) {
        EXPECT_EQ(sender, &list);
        calls.push_back("long " + std::to_string(mask) + " " + std::to_string(row) + "," + std::to_string(column));
        text = "from long";
        image = 1;
    };
    list.OnLVFastDisplayShort = [&](TListViewData*, LVDispItem& item) {
        calls.push_back("short " + item.text + " " + std::to_string(item.image));
        item.text += " and short";
    };
    list.lvdSetCount(3);
    EXPECT_EQ(cellText(2, 1), "from long and short");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "long 1 2,1");
    EXPECT_EQ(calls[1], "short from long 1");
}

TEST_F(ListFixture, IndexFocusedIsMinusOneWhenNothingIsFocused) {
    EXPECT_EQ(list.lvdIndexFocused(), -1);
    list.lvdSetCount(3);
    list.lvdSetIndexFocused(1);
    EXPECT_EQ(list.lvdIndexFocused(), 1);
    // Focus alone selects nothing.
    EXPECT_TRUE(selectedRows().empty());
    list.lvdClearAll();
    EXPECT_EQ(list.lvdIndexFocused(), -1);
}

TEST_F(ListFixture, GotoDeselectsOnlyThePreviouslyFocusedRow) {
    list.lvdSetCount(10);
    list.lvdSetSelected(2, 1);
    list.lvdSetSelected(5, 1);
    list.lvdSetIndexFocused(5);
    list.lvdGoto(8);
    EXPECT_EQ(list.lvdIndexFocused(), 8);
    EXPECT_EQ(selectedRows(), (std::vector<int>{2, 8}));
}

TEST_F(ListFixture, GotoWithoutFocusStillFocusesSelectsAndScrolls) {
    list.lvdSetCount(30000);
    list.show();
    list.lvdGoto(29999);
    EXPECT_EQ(list.lvdIndexFocused(), 29999);
    EXPECT_EQ(selectedRows().back(), 29999);
    const QRect row = list.visualRect(list.model()->index(29999, 0));
    EXPECT_TRUE(list.viewport()->rect().contains(row)) << "last row fully visible";
    // An index outside the rows changes nothing.
    list.lvdGoto(30000);
    list.lvdGoto(-1);
    EXPECT_EQ(list.lvdIndexFocused(), 29999);
}

TEST_F(ListFixture, RemoveShiftsTheRowsBelowUp) {
    list.lvdSetCount(5);
    list.lvdSetSelected(3, 1);
    list.lvdSetIndexFocused(4);
    list.lvdRemove(1);
    EXPECT_EQ(list.lvdGetCount(), 4);
    EXPECT_EQ(selectedRows(), std::vector<int>{2});
    EXPECT_EQ(list.lvdIndexFocused(), 3);
    list.lvdRemove(7);
    list.lvdRemove(-1);
    EXPECT_EQ(list.lvdGetCount(), 4);
}

TEST_F(ListFixture, SelectionOfAllInvertAndMinusOne) {
    list.lvdSetCount(4);
    list.lvdSetSelected(-1, 1);
    EXPECT_EQ(selectedRows(), (std::vector<int>{0, 1, 2, 3}));
    list.lvdSetSelected(1, 0);
    list.lvdInvertSelect();
    EXPECT_EQ(selectedRows(), std::vector<int>{1});
    list.lvdSelectAll(0);
    EXPECT_TRUE(selectedRows().empty());
    list.lvdSelectAll(1);
    EXPECT_EQ(selectedRows().size(), 4u);
    EXPECT_EQ(list.lvdItemSelected(99), 0);
}

TEST_F(ListFixture, ReportsFocusAndSelectionChanges) {
    list.lvdSetCount(4);
    changes.clear();
    list.lvdGoto(2);
    ASSERT_FALSE(changes.empty());
    bool focused = false, selected = false;
    for (const LVChange& c : changes) {
        focused = focused || (c.changed == LVIS_FOCUSED && c.row == 2);
        selected = selected || (c.changed == LVIS_SELECTED && c.row == 2);
    }
    EXPECT_TRUE(focused);
    EXPECT_TRUE(selected);
    changes.clear();
    list.lvdSelectAll(1);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].row, -1);
}

TEST_F(ListFixture, HeaderClickIsReported) {
    int clicked = -1;
    QObject::connect(&list, &TListViewData::columnClicked, [&](int c) { clicked = c; });
    emit list.header()->sectionClicked(2);
    EXPECT_EQ(clicked, 2);
}

TEST_F(ListFixture, UpdateAndRedrawAskAgainForTheRowsOnly) {
    list.lvdSetCount(100);
    std::vector<std::pair<int, int>> changed;
    QObject::connect(list.model(), &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& a, const QModelIndex& b) { changed.emplace_back(a.row(), b.row()); });
    list.lvdUpdate(7);
    list.lvdUpdate(100);
    list.lvdRedraw(0);
    list.lvdRedraw(500);
    ASSERT_EQ(changed.size(), 2u);
    EXPECT_EQ(changed[0], std::make_pair(7, 7));
    EXPECT_EQ(changed[1], std::make_pair(0, 99));
}

// Owner-data mode: a repaint asks for the visible cells, not for every row.
TEST_F(ListFixture, PaintingALongListAsksOnlyForVisibleCells) {
    list.lvdSetCount(30000);
    list.resetCellRequests();
    QImage shot = list.grab().toImage();
    EXPECT_FALSE(shot.isNull());
    EXPECT_GT(list.cellRequests(), 0);
    EXPECT_LT(list.cellRequests(), 1000);

    list.lvdGoto(15000);
    list.resetCellRequests();
    list.lvdRedraw(list.lvdGetCount());
    (void)list.grab();
    EXPECT_LT(list.cellRequests(), 1000);

    // Changing the count asks for nothing by itself.
    list.resetCellRequests();
    list.lvdSetCount(29000);
    list.lvdSetCount(30000);
    EXPECT_EQ(list.cellRequests(), 0);
}

TEST_F(ListFixture, TypingDoesNotSearchThroughTheOwner) {
    list.lvdSetCount(30000);
    list.resetCellRequests();
    list.keyboardSearch("r2");
    EXPECT_EQ(list.cellRequests(), 0);
}

TEST_F(ListFixture, OnlyACellCutShortShowsItsWholeTextAsAToolTip) {
    const std::string longText(300, 'x');
    list.OnLVFastDisplayShort = [&](TListViewData*, LVDispItem& item) {
        if (item.mask & LVIF_TEXT) item.text = item.row == 0 ? longText : "r" + std::to_string(item.row);
    };
    list.lvdSetCount(2);
    list.show();
    // The short one first: a tip once shown fades out only later.
    for (const int row : {1, 0}) {
        SCOPED_TRACE(row);
        const QRect cell = list.visualRect(list.model()->index(row, 2));
        ASSERT_TRUE(cell.isValid());
        QHelpEvent help(QEvent::ToolTip, cell.center(), list.viewport()->mapToGlobal(cell.center()));
        QApplication::sendEvent(list.viewport(), &help);
        EXPECT_EQ(QToolTip::isVisible(), row == 0);
        if (row == 0) {
            EXPECT_EQ(QToolTip::text(), QString::fromStdString(longText));
            QToolTip::hideText();
        }
    }
}
