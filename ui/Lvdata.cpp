#include "ui/Lvdata.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QHelpEvent>
#include <QItemSelectionModel>
#include <QModelRoleDataSpan>
#include <QToolTip>

#include <algorithm>

// The model behind the view: a row count and the column captions, nothing else.
class TListViewDataModel : public QAbstractTableModel {
public:
    explicit TListViewDataModel(TListViewData* owner) : QAbstractTableModel(owner), owner_(owner) {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : rows_; }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(captions_.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) return {};
        if (role == Qt::DisplayRole) {
            std::string text;
            int image = -1;
            owner_->askOwner(LVIF_TEXT, index.row(), index.column(), text, image);
            return QString::fromStdString(text);
        }
        if (role == Qt::DecorationRole && index.column() == 0) {
            std::string text;
            int image = -1;
            owner_->askOwner(LVIF_IMAGE, index.row(), 0, text, image);
            QIcon icon = owner_->imageAt(image);
            return icon.isNull() ? QVariant() : QVariant(icon);
        }
        return {};
    }

    // The delegate asks for all roles of a cell at once: one request to the
    // owner then answers both the text and the image.
    void multiData(const QModelIndex& index, QModelRoleDataSpan roleDataSpan) const override {
        bool wantText = false;
        bool wantImage = false;
        for (QModelRoleData& rd : roleDataSpan) {
            rd.clearData();
            wantText = wantText || rd.role() == Qt::DisplayRole;
            wantImage = wantImage || rd.role() == Qt::DecorationRole;
        }
        if (!index.isValid()) return;
        wantImage = wantImage && index.column() == 0;
        const int mask = (wantText ? LVIF_TEXT : 0) | (wantImage ? LVIF_IMAGE : 0);
        if (mask == 0) return;
        std::string text;
        int image = -1;
        owner_->askOwner(mask, index.row(), index.column(), text, image);
        QIcon icon = wantImage ? owner_->imageAt(image) : QIcon();
        for (QModelRoleData& rd : roleDataSpan) {
            if (rd.role() == Qt::DisplayRole) rd.setData(QString::fromStdString(text));
            if (rd.role() == Qt::DecorationRole && !icon.isNull()) rd.setData(icon);
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
            section < static_cast<int>(captions_.size()))
            return captions_[static_cast<size_t>(section)];
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren
                               : Qt::NoItemFlags;
    }

    void setCaptions(std::vector<QString> captions) {
        beginResetModel();
        captions_ = std::move(captions);
        endResetModel();
    }

    void setCount(int count) {
        count = std::max(count, 0);
        if (count > rows_) {
            beginInsertRows(QModelIndex(), rows_, count - 1);
            rows_ = count;
            endInsertRows();
        } else if (count < rows_) {
            beginRemoveRows(QModelIndex(), count, rows_ - 1);
            rows_ = count;
            endRemoveRows();
        }
    }

    void insertAt(int index) {
        index = std::clamp(index, 0, rows_);
        beginInsertRows(QModelIndex(), index, index);
        ++rows_;
        endInsertRows();
    }

    void removeAt(int index) {
        beginRemoveRows(QModelIndex(), index, index);
        --rows_;
        endRemoveRows();
    }

    void clear() {
        beginResetModel();
        rows_ = 0;
        endResetModel();
    }

    void rowsChanged(int first, int last) {
        if (captions_.empty() || first > last) return;
        emit dataChanged(index(first, 0), index(last, columnCount() - 1));
    }

    int rows() const { return rows_; }

private:
    TListViewData* owner_;
    int rows_ = 0;
    std::vector<QString> captions_;
};

TListViewData::TListViewData(QWidget* parent) : QTreeView(parent), model_(new TListViewDataModel(this)) {
    setModel(model_);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSortingEnabled(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setIconSize(QSize(16, 16));
    setTextElideMode(Qt::ElideRight);
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);

    connect(header(), &QHeaderView::sectionClicked, this, &TListViewData::columnClicked);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, &TListViewData::onCurrentChanged);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &TListViewData::onSelectionChanged);
}

TListViewData::~TListViewData() = default;

void TListViewData::askOwner(int mask, int row, int column, std::string& text, int& image) {
    ++cellRequests_;
    if (OnLVFastDisplay) OnLVFastDisplay(this, mask, text, column, row, image);
    if (OnLVFastDisplayShort) {
        LVDispItem item{.mask = mask, .row = row, .column = column, .text = text, .image = image};
        OnLVFastDisplayShort(this, item);
    }
}

QIcon TListViewData::imageAt(int index) const {
    if (index < 0 || index >= images_.size()) return {};
    return images_[index];
}

void TListViewData::lvdSetColumns(const std::vector<LVColumn>& columns) {
    std::vector<QString> captions;
    for (const LVColumn& c : columns) captions.push_back(c.caption);
    model_->setCaptions(std::move(captions));
    QHeaderView* h = header();
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        const LVColumn& c = columns[static_cast<size_t>(i)];
        h->resizeSection(i, c.width);
        h->setSectionResizeMode(i, c.autoSize ? QHeaderView::Stretch
                                   : c.fixed  ? QHeaderView::Fixed
                                              : QHeaderView::Interactive);
    }
}

void TListViewData::setImages(const QList<QIcon>& images) {
    images_ = images;
    viewport()->update();
}

void TListViewData::lvdSetCount(int count) { model_->setCount(count); }

int TListViewData::lvdGetCount() const { return model_->rows(); }

void TListViewData::lvdClearAll() {
    model_->clear();
    viewport()->repaint();
}

void TListViewData::lvdRedraw(int count) {
    model_->rowsChanged(0, std::min(count, model_->rows()) - 1);
    viewport()->repaint();
}

void TListViewData::lvdUpdate(int index) {
    if (index < 0 || index >= model_->rows()) return;
    model_->rowsChanged(index, index);
}

void TListViewData::lvdRemove(int index) {
    if (index < 0 || index >= model_->rows()) return;
    model_->removeAt(index);
}

int TListViewData::lvdItemSelected(int index) const {
    if (index < 0 || index >= model_->rows()) return 0;
    return selectionModel()->isRowSelected(index, QModelIndex()) ? 1 : 0;
}

void TListViewData::lvdSetSelected(int index, int selected) {
    const int rows = model_->rows();
    if (rows == 0 || index < -1 || index >= rows) return;
    const int first = index == -1 ? 0 : index;
    const int last = index == -1 ? rows - 1 : index;
    QItemSelection range(model_->index(first, 0), model_->index(last, 0));
    selectionModel()->select(range, (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                                         QItemSelectionModel::Rows);
}

int TListViewData::lvdIndexFocused() const {
    const QModelIndex current = selectionModel()->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void TListViewData::lvdSetIndexFocused(int index) {
    if (index < 0 || index >= model_->rows()) return;
    // Focus alone: the selection stays as it is.
    selectionModel()->setCurrentIndex(model_->index(index, 0), QItemSelectionModel::NoUpdate);
}

void TListViewData::lvdGoto(int index) {
    if (index < 0 || index >= model_->rows()) return;
    const int previous = lvdIndexFocused();
    if (previous != -1) lvdSetSelected(previous, 0);
    lvdSetIndexFocused(index);
    lvdSetSelected(index, 1);
    scrollTo(model_->index(index, 0), QAbstractItemView::EnsureVisible);
}

void TListViewData::lvdSelectAll(char select) { lvdSetSelected(-1, select ? 1 : 0); }

void TListViewData::lvdInvertSelect() {
    const int rows = model_->rows();
    if (rows == 0) return;
    QItemSelection all(model_->index(0, 0), model_->index(rows - 1, 0));
    selectionModel()->select(all, QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
}

void TListViewData::lvdAdd(int index, long /*data*/) { model_->insertAt(index); }

void TListViewData::lvdAddCount(int count) {
    model_->clear();
    model_->setCount(count);
    viewport()->repaint();
}

void TListViewData::lvdSetFullRow() {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
}

void TListViewData::keyboardSearch(const QString& /*search*/) {}

bool TListViewData::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QTreeView::viewportEvent(event);
    auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = indexAt(help->pos());
    const QRect cell = visualRect(index);
    std::string text;
    if (index.isValid() && OnLVToolTip) OnLVToolTip(this, index.row(), index.column(), text);
    if (index.isValid() && text.empty() && sizeHintForIndex(index).width() > cell.width()) {
        int image = -1;
        askOwner(LVIF_TEXT, index.row(), index.column(), text, image);
    }
    if (text.empty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        QToolTip::showText(help->globalPos(), QString::fromStdString(text), viewport(), cell);
    }
    return true;
}

void TListViewData::onCurrentChanged(const QModelIndex& current, const QModelIndex& /*previous*/) {
    reportChange(LVChange{.row = current.isValid() ? current.row() : -1, .changed = LVIS_FOCUSED});
}

void TListViewData::onSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    long long rows = 0;
    int row = -1;
    for (const QItemSelection* s : {&selected, &deselected}) {
        for (const QItemSelectionRange& r : *s) {
            rows += r.height();
            row = r.top();
        }
    }
    if (rows == 0) return;
    reportChange(LVChange{.row = rows == 1 ? row : -1, .changed = LVIS_SELECTED});
}

void TListViewData::reportChange(const LVChange& change) {
    if (OnLVDChange) OnLVDChange(this, change);
    emit lvdChanged(change);
}
