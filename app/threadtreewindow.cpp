#include "app/threadtreewindow.h"

#include <QLabel>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <unordered_map>

#include "app/browsewindow.h"
#include "app/browsemodel.h"
#include "app/procedures.h"
#include "core/text.h"
#include "reading/browseview.h"
#include "core/ui.h"

namespace qb {

ThreadTreeWindow::ThreadTreeWindow(QWidget* parent) : QWidget(parent) {
    setWindowTitle("Thread tree");
    auto* l = new QVBoxLayout(this);
    title_ = new QLabel(this);
    tree_ = new QTreeWidget(this);
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    l->addWidget(title_);
    l->addWidget(tree_, 1);
    connect(tree_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* it, int) {
        if (it) choose(it->data(0, Qt::UserRole).toUInt());
    });
    connect(tree_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* it, int) {
        if (it) choose(it->data(0, Qt::UserRole).toUInt());
    });
    resize(360, 480);
    setting_ = readingPrefs().treeLabel;
    picture_ = readingPrefs().datePicture;
    if (BrowseWindow* b = openBrowse()) {
        connect(b, &BrowseWindow::messageShown, this, [this] { followBrowse(); });
        followBrowse();
    }
}

void ThreadTreeWindow::setLabelFormat(int setting, const std::string& datePicture) {
    setting_ = setting;
    picture_ = datePicture;
    showThread(thread_, alpha_, true);
}

void ThreadTreeWindow::followBrowse() {
    BrowseWindow* b = openBrowse();
    if (!b || b->isMail()) return;
    const BrowseRow* r = b->model()->rowAt(b->listView()->currentRowIndex());
    if (!r || !r->found) return;
    showThread(r->msg.THREADNUMBER, r->msg.THREADALPHA.str());
    // Mark the browse's message in the tree.
    for (QTreeWidgetItemIterator it(tree_); *it; ++it)
        if ((*it)->data(0, Qt::UserRole).toUInt() == r->id) {
            QSignalBlocker block(tree_);
            tree_->setCurrentItem(*it);
            break;
        }
}

void ThreadTreeWindow::showThread(uint32_t threadNumber, const std::string& alpha, bool force) {
    if (!force && threadNumber == thread_ && alpha == alpha_) return;
    thread_ = threadNumber;
    alpha_ = alpha;
    tree_->clear();
    nodes_.clear();
    if (threadNumber == 0) {
        title_->clear();
        return;
    }
    nodes_ = buildThreadTree(threadNumber, alpha);
    std::string heading = threadHeading(threadNumber);
    if (heading.empty()) heading = alpha;
    title_->setText(QString::fromStdString(toUtf8(heading)) + QString(" (%1)").arg(nodes_.size()));
    const QIcon folder = style()->standardIcon(QStyle::SP_DirIcon);  // "~Folder.ico"
    const QIcon file = style()->standardIcon(QStyle::SP_FileIcon);   // "~File.ico"
    std::unordered_map<uint32_t, QTreeWidgetItem*> items;
    // A parent may come after its replies in key order: create the nodes
    // level by level, each level in key order.
    std::vector<size_t> order(nodes_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return nodes_[a].level < nodes_[b].level; });
    for (size_t i : order) {
        const TreeNode& n = nodes_[i];
        QTreeWidgetItem* item;
        auto p = items.find(n.parent);
        if (n.level > 1 && p != items.end() && !n.inLoop) item = new QTreeWidgetItem(p->second);
        else item = new QTreeWidgetItem(tree_);
        item->setText(0, QString::fromStdString(toUtf8(nodeLabel(n, setting_, picture_))));
        item->setIcon(0, n.hasReplies ? folder : file);
        item->setData(0, Qt::UserRole, n.number);
        items[n.number] = item;
    }
    tree_->expandAll();
}

bool ThreadTreeWindow::choose(uint32_t number) {
    BrowseWindow* b = openBrowse();
    if (!b || b->isMail() || number == 0) return false;
    return b->showMessage(number);
}

namespace {
const bool reg = registerProcedure("ThreadTree", [](QWidget* parent) -> QWidget* {
    return new ThreadTreeWindow(parent);
});
} // namespace

} // namespace qb
