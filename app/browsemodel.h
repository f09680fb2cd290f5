// The list of a browse window: a table model over a BrowseList window of
// rows, and the view that moves the window as the user scrolls past its ends.
#pragma once
#include <QAbstractTableModel>
#include <QTableView>

#include "reading/browselist.h"

namespace qb {

class BrowseModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit BrowseModel(bool mail, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    BrowseList& list() { return list_; }
    const BrowseRow* rowAt(int r) const;

    void setView(const ViewSpec& spec);
    void toFirst();
    void toLast();
    // Rows added at the end (start) of the window; rows dropped from the other
    // end are reported through dropped.
    int fetchAfter(int& droppedFront);
    int fetchBefore(int& droppedBack);
    int locateId(uint32_t id);
    int centreOn(const ViewRow& row);
    int seek(const void* rec);
    void refresh();

private:
    template <class F>
    void rebuild(F&& f) {
        beginResetModel();
        f();
        endResetModel();
    }
    BrowseList list_;
    std::vector<std::string> titles_;
};

class BrowseListView : public QTableView {
    Q_OBJECT
public:
    explicit BrowseListView(QWidget* parent = nullptr);
    void setBrowseModel(BrowseModel* m);
    BrowseModel* browseModel() const { return model_; }
    // Selects row r (clamped) and scrolls it into view.
    void selectRow(int r);
    int currentRowIndex() const;

signals:
    void currentMessageChanged();

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    void extendDown();
    void extendUp();
    void extendKeepingSelection(int row, bool down);
    void scrolled(int value);
    BrowseModel* model_ = nullptr;
    bool extending_ = false;
};

} // namespace qb
