#pragma once
// The field ledger window: the ledger of the computer pane's selection or of
// a folder (optionally with its sub-folders), sortable by every column by a
// click on its heading, with a totals row, a date-range filter, CSV and PDF
// export and printing through the desktop's print dialog.
//
// The files are read on a worker thread (one at a time; a new load cancels
// the previous one through its atomic flag and waits for it, which takes at
// most the reading of one file); the rows reach the window through a queued
// call, and so does its progress (files read of all). The fields that overlap
// are listed under the totals (ui/ledger_overlaps.h), each "measured twice?"
// pair with its own "Keep both". CSV, PDF and the printout are written on a worker behind a modal busy
// box (ui/busy_work.h); the rest runs on the GUI thread. The PDF and the printout take
// the map pictures from the field view's snapshot with the tile source of the
// profile (tiles when they come within the picture's wait, the grid otherwise).

#include <QDialog>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "map/overview_map.h"
#include "report/ledger.h"
#include "ui/field_map.h"

class QCheckBox;
class QDateEdit;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace dorvane {

class CLedgerOverlaps;
class COverviewWidget;

class CLedgerWindow : public QDialog {
public:
    explicit CLedgerWindow(QWidget* parent = nullptr);
    ~CLedgerWindow() override;
    CLedgerWindow(const CLedgerWindow&) = delete;
    CLedgerWindow& operator=(const CLedgerWindow&) = delete;

    /// Reads `paths` (files and folders) on the worker; returns at once.
    void Load(const QStringList& paths);
    /// True while the worker reads.
    bool Loading() const { return loading_; }
    /// The rows shown (date filter applied), in the ledger's order.
    const report::Ledger& Shown() const { return shown_; }
    QTableWidget* Table() const { return table_; }
    /// The map of every field of the ledger (the filter's only), a click on
    /// one selects its row.
    COverviewWidget* Overview() const { return overview_; }
    QTableWidget* TotalsTable() const { return totals_; }
    /// The pairs of fields that overlap (hidden when none do).
    CLedgerOverlaps* Overlaps() const { return overlaps_; }
    QProgressBar* Progress() const { return progress_; }
    /// The receiver accuracy (m) the areas' bands are drawn with; a new
    /// value reads the ledger again.
    void SetReceiverAccuracy(double metres);
    double ReceiverAccuracy() const { return accuracy_; }
    /// Re-applies the texts of the current language.
    void Retranslate();
    /// Called on the GUI thread with each CSV or PDF written (a pane
    /// showing its folder lists it).
    void SetOnWritten(std::function<void(const QString&)> f) { onWritten_ = std::move(f); }
    /// Called with the files of the rows shown by "Add all to book" (the
    /// button shows once this is set).
    void SetOnAddAll(std::function<void(const QStringList&)> f);

protected:
    void showEvent(QShowEvent* e) override;

private:
    void StartWorker();
    void StopWorker();
    /// Each row's outline (world units; empty when the file has no shape),
    /// in the order of `all`'s rows.
    /// Each row's outline for the map (its ring, whether it is a line); the
    /// rest of each field is filled in on the GUI thread.
    using Rings = std::vector<map::OverviewField>;
    void OnLoaded(report::Ledger all, Rings rings, unsigned generation);
    void OnProgress(std::size_t done, std::size_t total, unsigned generation);
    /// The user kept both fields of `pair`, or let one go again.
    void KeepBoth(const report::RowPair& pair, bool keep);
    /// The overview's field of a row of shown_, and back (-1: none).
    int FieldOfShown(int shownRow) const;
    void SelectField(int field);
    void ShowSelectionOnMap();
    void ApplyFilter();
    void Fill();
    /// Widens the window to its columns, within the screen's width.
    void FitWidth();
    /// Shows the first columns (File, Name).
    void ScrollToStart();
    void ChooseFolder();
    /// The rows shown, in the order the table shows them (the user's sort): the CSV,
    /// the PDF and the printout list the fields as they were seen.
    report::Ledger InScreenOrder() const;
    void ExportCsv();
    void ExportPdf();
    void Print();
    void Complain(const QString& path, const std::string& why);
    /// Where the CSV or PDF is offered: the ledger's folder, a dated name.
    QString SuggestedOutput(const QString& suffix) const;
    void Written(const QString& path);

    QStringList paths_;
    std::function<void(const QString&)> onWritten_;
    std::function<void(const QStringList&)> onAddAll_;
    report::Ledger all_;
    report::Ledger shown_;
    bool loading_ = false;
    double accuracy_;
    /// The "measured twice?" pairs kept, across loads and filters.
    report::KeptPairs kept_;
    unsigned generation_ = 0;
    std::shared_ptr<std::atomic<bool>> cancel_;
    std::thread worker_;

    QTableWidget* table_ = nullptr;
    COverviewWidget* overview_ = nullptr;
    QTableWidget* totals_ = nullptr;
    QLabel* overlapsTitle_ = nullptr;
    CLedgerOverlaps* overlaps_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* folder_ = nullptr;
    QCheckBox* recursive_ = nullptr;
    QCheckBox* filter_ = nullptr;
    QLabel* fromLabel_ = nullptr;
    QLabel* toLabel_ = nullptr;
    QDateEdit* from_ = nullptr;
    QDateEdit* to_ = nullptr;
    QPushButton* csv_ = nullptr;
    QPushButton* pdf_ = nullptr;
    QPushButton* print_ = nullptr;
    QPushButton* close_ = nullptr;
    QPushButton* addAll_ = nullptr;
};

/// "Export as…": asks for a file and a format, then exports `paths` (field
/// and track files) through GDAL. Reads the files on the GUI thread (the
/// figures of 1 000 fields take a tenth of a second) and writes on a worker
/// behind a busy box; failures are shown in a message box. The dialog starts
/// in the files' folder. Returns the file written, or "" (cancelled, failed).
QString ExportAsDialog(QWidget* parent, const QStringList& paths);

}  // namespace dorvane
