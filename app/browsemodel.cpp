#include "app/browsemodel.h"

#include <QBrush>
#include <QColor>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include "core/text.h"

namespace qb {

BrowseModel::BrowseModel(bool mail, QObject* parent)
    : QAbstractTableModel(parent), list_(mail), titles_(BrowseList::columnTitles(mail)) {}

int BrowseModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(list_.size());
}

int BrowseModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(titles_.size());
}

const BrowseRow* BrowseModel::rowAt(int r) const {
    if (r < 0 || static_cast<size_t>(r) >= list_.size()) return nullptr;
    return &list_.at(static_cast<size_t>(r));
}

QVariant BrowseModel::data(const QModelIndex& index, int role) const {
    const BrowseRow* row = rowAt(index.row());
    if (!row) return {};
    if (role == Qt::DisplayRole) {
        size_t c = static_cast<size_t>(index.column());
        return c < row->cols.size() ? QString::fromStdString(toUtf8(row->cols[c])) : QString();
    }
    if (role == Qt::ForegroundRole) {
        uint8_t st = list_.mail() ? row->mail.DUMMY : row->msg.DUMMY;
        if (st == 1) return QBrush(QColor(0, 0, 128));   // keep: navy
        if (st == 2) return QBrush(QColor(160, 0, 0));   // delete
    }
    return {};
}

QVariant BrowseModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && static_cast<size_t>(section) < titles_.size())
        return QString::fromStdString(titles_[static_cast<size_t>(section)]);
    return QAbstractTableModel::headerData(section, o, role);
}

void BrowseModel::setView(const ViewSpec& spec) { rebuild([&] { list_.setView(spec); }); }
void BrowseModel::toFirst() { rebuild([&] { list_.toFirst(); }); }
void BrowseModel::toLast() { rebuild([&] { list_.toLast(); }); }
void BrowseModel::refresh() { rebuild([&] { list_.refresh(); }); }

int BrowseModel::locateId(uint32_t id) {
    for (size_t i = 0; i < list_.size(); ++i)
        if (list_.at(i).id == id) return static_cast<int>(i);
    long r = -1;
    rebuild([&] { r = list_.locateId(id); });
    return static_cast<int>(r);
}

int BrowseModel::centreOn(const ViewRow& row) {
    size_t r = 0;
    rebuild([&] { r = list_.centreOn(row); });
    return static_cast<int>(r);
}

int BrowseModel::seek(const void* rec) {
    size_t r = 0;
    rebuild([&] { r = list_.seek(rec); });
    return static_cast<int>(r);
}

int BrowseModel::fetchAfter(int& droppedFront) {
    droppedFront = 0;
    bool end = false;
    auto rows = list_.readAfter(BrowseList::kPage, end);
    const int n = static_cast<int>(rows.size());
    const int before = static_cast<int>(list_.size());
    if (n > 0) beginInsertRows({}, before, before + n - 1);
    list_.appendRows(std::move(rows), end);
    if (n == 0) return 0;
    endInsertRows();
    if (list_.size() > BrowseList::kMaxRows) {
        const int drop = static_cast<int>(list_.size() - BrowseList::kMaxRows);
        beginRemoveRows({}, 0, drop - 1);
        list_.dropFront(static_cast<size_t>(drop));
        endRemoveRows();
        droppedFront = drop;
    }
    return n;
}

int BrowseModel::fetchBefore(int& droppedBack) {
    droppedBack = 0;
    bool start = false;
    auto rows = list_.readBefore(BrowseList::kPage, start);
    const int n = static_cast<int>(rows.size());
    if (n > 0) beginInsertRows({}, 0, n - 1);
    list_.prependRows(std::move(rows), start);
    if (n == 0) return 0;
    endInsertRows();
    if (list_.size() > BrowseList::kMaxRows) {
        const int drop = static_cast<int>(list_.size() - BrowseList::kMaxRows);
        const int total = static_cast<int>(list_.size());
        beginRemoveRows({}, total - drop, total - 1);
        list_.dropBack(static_cast<size_t>(drop));
        endRemoveRows();
        droppedBack = drop;
    }
    return n;
}

// ---------------------------------------------------------------- view

BrowseListView::BrowseListView(QWidget* parent) : QTableView(parent) {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setAlternatingRowColors(true);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setStretchLastSection(false);
    setWordWrap(false);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &BrowseListView::scrolled);
}

void BrowseListView::setBrowseModel(BrowseModel* m) {
    model_ = m;
    setModel(m);
    horizontalHeader()->setSectionResizeMode(4, QHeaderView::Stretch);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { emit currentMessageChanged(); });
    connect(m, &QAbstractItemModel::modelReset, this, [this] { emit currentMessageChanged(); });
}

int BrowseListView::currentRowIndex() const { return currentIndex().isValid() ? currentIndex().row() : -1; }

void BrowseListView::selectRow(int r) {
    if (!model_ || model_->rowCount() == 0) return;
    r = std::clamp(r, 0, model_->rowCount() - 1);
    QModelIndex idx = model_->index(r, 0);
    setCurrentIndex(idx);
    selectionModel()->select(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(idx, QAbstractItemView::EnsureVisible);
}

void BrowseListView::extendDown() {
    if (!model_ || extending_) return;
    extending_ = true;
    int value = verticalScrollBar()->value();
    int dropped = 0;
    if (model_->fetchAfter(dropped) > 0 && dropped > 0) verticalScrollBar()->setValue(std::max(0, value - dropped));
    extending_ = false;
}

void BrowseListView::extendUp() {
    if (!model_ || extending_) return;
    extending_ = true;
    int value = verticalScrollBar()->value();
    int dropped = 0;
    int added = model_->fetchBefore(dropped);
    if (added > 0) verticalScrollBar()->setValue(value + added);
    extending_ = false;
}

// Reads on past the end of the page in memory; the message chosen stays chosen
// wherever the rows moved.
void BrowseListView::extendKeepingSelection(int row, bool down) {
    const uint32_t id = row >= 0 ? model_->rowAt(row)->id : 0;
    if (down) extendDown();
    else extendUp();
    if (!id) return;
    for (int i = 0; i < model_->rowCount(); ++i)
        if (model_->rowAt(i)->id == id) {
            selectRow(i);
            return;
        }
}

void BrowseListView::scrolled(int value) {
    if (extending_ || !model_) return;
    if (value >= verticalScrollBar()->maximum() && !model_->list().atEnd()) extendDown();
    else if (value <= verticalScrollBar()->minimum() && !model_->list().atStart()) extendUp();
}

void BrowseListView::keyPressEvent(QKeyEvent* e) {
    if (!model_) return QTableView::keyPressEvent(e);
    const int row = currentRowIndex();
    const int last = model_->rowCount() - 1;
    switch (e->key()) {
    case Qt::Key_Home:
        model_->toFirst();
        selectRow(0);
        return;
    case Qt::Key_End:
        model_->toLast();
        selectRow(model_->rowCount() - 1);
        return;
    case Qt::Key_Down:
    case Qt::Key_PageDown:
        if (row >= last - (e->key() == Qt::Key_PageDown ? 30 : 0) && !model_->list().atEnd()) {
            extendKeepingSelection(row, true);
        }
        break;
    case Qt::Key_Up:
    case Qt::Key_PageUp:
        if (row <= (e->key() == Qt::Key_PageUp ? 30 : 0) && !model_->list().atStart()) {
            extendKeepingSelection(row, false);
        }
        break;
    default: break;
    }
    QTableView::keyPressEvent(e);
}

void BrowseListView::wheelEvent(QWheelEvent* e) {
    QTableView::wheelEvent(e);
    scrolled(verticalScrollBar()->value());
}

} // namespace qb
