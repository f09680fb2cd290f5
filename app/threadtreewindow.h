// The thread tree beside the message browse (procedure ThreadTree).
#pragma once
#include <QWidget>
#include <string>
#include <vector>

#include "reading/threadtree.h"

class QTreeWidget;
class QTreeWidgetItem;
class QLabel;

namespace qb {

class ThreadTreeWindow : public QWidget {
    Q_OBJECT
public:
    explicit ThreadTreeWindow(QWidget* parent = nullptr);
    // Builds the tree of this thread (nothing when it is already shown).
    void showThread(uint32_t threadNumber, const std::string& alpha, bool force = false);
    // The thread of the message browse's highlighted message.
    void followBrowse();
    uint32_t thread() const { return thread_; }
    QTreeWidget* tree() const { return tree_; }
    const std::vector<TreeNode>& nodes() const { return nodes_; }
    // The node label setting (tree display setting, default 2) and date picture.
    void setLabelFormat(int setting, const std::string& datePicture);
    // Chooses the node of this message: the message browse shows it.
    bool choose(uint32_t number);

private:
    QTreeWidget* tree_;
    QLabel* title_;
    std::vector<TreeNode> nodes_;
    uint32_t thread_ = 0;
    std::string alpha_;
    int setting_ = 2;
    std::string picture_ = "@D17";
};

} // namespace qb
