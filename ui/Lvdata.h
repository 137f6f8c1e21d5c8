// TListViewData: a report-style list that holds no texts of its own. Its model
// knows only the row count; whenever a cell is painted, the owner is asked for
// that cell's text and image through OnLVFastDisplay / OnLVFastDisplayShort,
// so a list of any length costs no per-row storage and painting asks only for
// the visible cells.
#pragma once

#include <QIcon>
#include <QList>
#include <QString>
#include <QTreeView>

#include <functional>
#include <string>
#include <vector>

class QItemSelection;
class TListViewDataModel;

// What a display request asks for (both bits may be set).
constexpr int LVIF_TEXT = 1;
constexpr int LVIF_IMAGE = 2;
// Row states reported by OnLVDChange.
constexpr unsigned LVIS_FOCUSED = 1;
constexpr unsigned LVIS_SELECTED = 2;

// One display request: the owner fills text and/or image as mask asks. The
// same record is handed to both callbacks of one request.
struct LVDispItem {
    int mask;
    int row;
    int column;
    std::string& text;  // UTF-8
    int& image;         // index into the images set with setImages; -1 none
};

// A change of the current row or of the selection.
struct LVChange {
    int row;           // the row concerned, -1 when several rows changed
    unsigned changed;  // LVIS_FOCUSED and/or LVIS_SELECTED
};

// A column of the report view. autoSize columns share the width left over by
// the others; fixed columns cannot be resized by the user.
struct LVColumn {
    QString caption;
    int width = 100;
    bool autoSize = false;
    bool fixed = false;
};

class TListViewData : public QTreeView {
    Q_OBJECT
public:
    explicit TListViewData(QWidget* parent = nullptr);
    ~TListViewData() override;

    // Display request with its fields unpacked: mask, text, column, row, image.
    std::function<void(TListViewData* sender, int mask, std::string& text, int column, int row, int& image)>
        OnLVFastDisplay;
    // Display request as one record; called after OnLVFastDisplay when both are set.
    std::function<void(TListViewData* sender, LVDispItem& item)> OnLVFastDisplayShort;
    // The current row or the selection changed (also emitted as lvdChanged).
    std::function<void(TListViewData* sender, const LVChange& change)> OnLVDChange;
    // A tool tip of the owner's own for a cell (left empty: none); without
    // one, a cell cut short by its column shows its whole text.
    std::function<void(TListViewData* sender, int row, int column, std::string& text)> OnLVToolTip;

    void lvdSetColumns(const std::vector<LVColumn>& columns);
    // Images of the display requests' image indexes, in index order.
    void setImages(const QList<QIcon>& images);

    void lvdSetCount(int count);
    int lvdGetCount() const;
    void lvdClearAll();
    // Asks again for rows 0 .. count - 1 and repaints at once.
    void lvdRedraw(int count);
    void lvdUpdate(int index);
    // Removes one row: the rows below move up, the count drops by one.
    void lvdRemove(int index);
    int lvdItemSelected(int index) const;
    // index -1 addresses every row.
    void lvdSetSelected(int index, int selected);
    // The current (focused) row, or -1.
    int lvdIndexFocused() const;
    void lvdSetIndexFocused(int index);
    // Deselects the previously focused row only, then focuses, selects and
    // scrolls the row fully into view. An index outside the rows does nothing.
    void lvdGoto(int index);
    void lvdSelectAll(char select);
    void lvdInvertSelect();
    // No per-row data is kept: both only add rows to the count.
    void lvdAdd(int index, long data);
    void lvdAddCount(int count);
    void lvdSetFullRow();

    // Display requests answered by the owner since the last reset; painting
    // should ask only for about the visible rows times the columns.
    long long cellRequests() const { return cellRequests_; }
    void resetCellRequests() { cellRequests_ = 0; }

signals:
    void lvdChanged(const LVChange& change);
    void columnClicked(int column);

public:
    // Type-ahead search would ask the owner for every row: not offered.
    void keyboardSearch(const QString& search) override;

protected:
    // Tool tips: the owner's, or the whole text of a cell cut short.
    bool viewportEvent(QEvent* event) override;

private:
    friend class TListViewDataModel;
    // Runs one display request through the owner's callbacks.
    void askOwner(int mask, int row, int column, std::string& text, int& image);
    QIcon imageAt(int index) const;
    void onCurrentChanged(const QModelIndex& current, const QModelIndex& previous);
    void onSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
    void reportChange(const LVChange& change);

    TListViewDataModel* model_;
    QList<QIcon> images_;
    long long cellRequests_ = 0;
};
