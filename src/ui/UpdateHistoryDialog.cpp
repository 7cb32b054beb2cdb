#include "ui/UpdateHistoryDialog.h"

#include "update/DownloadReplies.h"
#include "workflow/VersionText.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace PelkPlus {

UpdateHistoryDialog::UpdateHistoryDialog(const QList<UpdateHistoryEntry>& entries, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Update History"));
    const QStringList headers = { QStringLiteral("Time (UTC)"), QStringLiteral("Local Time"),
        QStringLiteral("Model"), QStringLiteral("Serial Number"), QStringLiteral("Component"),
        QStringLiteral("Version Before"), QStringLiteral("Version Sent"), QStringLiteral("Outcome"),
        QStringLiteral("Source"), QStringLiteral("SHA-256") };
    tableWidget = new QTableWidget(entries.size(), headers.size(), this);
    tableWidget->setObjectName(QStringLiteral("historyTable"));
    tableWidget->setHorizontalHeaderLabels(headers);
    tableWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableWidget->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableWidget->verticalHeader()->hide();

    for (int row = 0; row < entries.size(); ++row) {
        const UpdateHistoryEntry& entry = entries.at(entries.size() - 1 - row);
        const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
        // The record keeps UTC, which a support request needs; the user remembers the clock's time.
        const QStringList cells = { entry.time.toUTC().toString(format),
            entry.time.toLocalTime().toString(format + QStringLiteral(" t")), entry.model, entry.serial,
            entry.component,
            // Before and sent read alike: the device's form, the catalogue's beside it.
            VersionText::recordedBefore(entry.component, entry.versionBefore),
            VersionText::recordedSent(entry.component, entry.versionSent),
            UpdateHistoryEntry::outcomeText(entry.outcome),
            // Records written before URLs were redacted may still carry a password or a token.
            DownloadReplies::displaySource(entry.source), entry.sha256 };
        for (int column = 0; column < cells.size(); ++column)
            tableWidget->setItem(row, column, new QTableWidgetItem(cells.at(column)));
    }
    tableWidget->resizeColumnsToContents();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    if (entries.isEmpty())
        layout->addWidget(new QLabel(QStringLiteral("No update has been recorded yet."), this));
    layout->addWidget(tableWidget);
    layout->addWidget(buttons);
    resize(900, 400);
}

UpdateHistoryDialog::~UpdateHistoryDialog() = default;

} // namespace PelkPlus
