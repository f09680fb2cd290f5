// The purge and count windows (procedures PurgeMess and CountMess): one
// window each, driven by a timer, one batch of the step machine per tick.
#pragma once
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <memory>

#include "maintenance/counting.h"
#include "maintenance/purge.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;
class QGridLayout;

namespace qb {

class MaintenanceWindow : public QWidget {
    Q_OBJECT
public:
    // counting: the count procedure, else the purge.
    MaintenanceWindow(bool counting, QWidget* parent = nullptr);
    ~MaintenanceWindow() override;

    void start();
    bool running() const { return purge_ || recount_; }
    int result() const { return result_; }
    uint32_t database() const { return database_; }

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void tick();
    void finish(int result);
    void showCounts(const CountTotals& t);
    void setRow(int row, const std::string& label, uint64_t value);

    bool counting_;
    uint32_t database_;
    uint8_t kind_;
    int result_ = 0;
    std::unique_ptr<Purge> purge_;
    std::unique_ptr<Recount> recount_;
    std::chrono::steady_clock::time_point started_;
    QLabel* status_;
    QProgressBar* bar_;
    QGridLayout* grid_;
    QSpinBox* weeks_ = nullptr;
    QPushButton *start_, *end_;
    QTimer* timer_;
};

} // namespace qb
