#pragma once
// The ledger window's list of fields that overlap: one row per pair, both
// fields, the shared area in m² and mu, its share of the smaller field and
// "measured twice?". A "measured twice?" pair has a "Keep both" box: checked,
// the field left out goes back into the totals (that pair only). GUI thread.

#include <QTableWidget>
#include <functional>

#include "report/ledger.h"

namespace dorvane {

class CLedgerOverlaps : public QTableWidget {
public:
    explicit CLedgerOverlaps(QWidget* parent = nullptr);

    /// Lists the pairs of `shown` (its overlaps and rows).
    void Fill(const report::Ledger& shown);
    /// Called when the user checks or clears a pair's "Keep both".
    void SetOnKeep(std::function<void(const report::RowPair&, bool keep)> f) {
        onKeep_ = std::move(f);
    }
    /// The "Keep both" box of row `row` (null for a pair that is no "measured twice?").
    QWidget* KeepBoth(int row) const;
    void Retranslate();

    enum Column { kFieldA, kFieldB, kOverlapM2, kOverlapMu, kShare, kTwice, kKeep, kColumns };

private:
    std::function<void(const report::RowPair&, bool)> onKeep_;
};

}  // namespace dorvane
