#pragma once

#include "app/UpdateHistory.h"

#include <QDialog>

class QTableWidget;

namespace PelkPlus {

// The update history as a table, the most recent attempt first.
class UpdateHistoryDialog : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY(UpdateHistoryDialog)

public:
    // entries oldest first, as the history reads them.
    explicit UpdateHistoryDialog(const QList<UpdateHistoryEntry>& entries, QWidget* parent = nullptr);
    ~UpdateHistoryDialog() override;

    QTableWidget* table() const { return tableWidget; }

private:
    QTableWidget* tableWidget = nullptr;
};

} // namespace PelkPlus
