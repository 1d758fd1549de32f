#pragma once
// The receiver's accuracy, the desktop setting that draws every area's band
// (boundary length x accuracy): kept in the profile in metres, 1.25 m until
// the user sets another, and the small dialog that sets it. A value typed
// that is not a number of metres above 0 and within kMaxReceiverAccuracy_m
// is refused in the dialog, which stays open; nothing is saved.
// GUI thread only.

#include <QDialog>
#include <QString>
#include <optional>

class QLabel;
class QLineEdit;

namespace dorvane {

/// The largest accuracy taken (metres). A handheld receiver without
/// corrections keeps within about 10 m under open sky; a figure past 50 m
/// is a typing slip (a band as wide as a small field), not a receiver.
inline constexpr double kMaxReceiverAccuracy_m = 50.0;

/// The setting from the profile; the default (geo::kDefaultReceiverAccuracy_m)
/// when it was never set or holds something that is no accuracy.
double ReceiverAccuracySetting();
void SaveReceiverAccuracySetting(double metres);

/// `text` as an accuracy in metres ("2.5", " 2,5 "), or nullopt when it is
/// not a number above 0 and at most kMaxReceiverAccuracy_m.
std::optional<double> ParseReceiverAccuracy(const QString& text);

/// "2.5": the shortest text that reads back as `metres`.
QString AccuracyText(double metres);

class CAccuracyDialog : public QDialog {
public:
    explicit CAccuracyDialog(double now, QWidget* parent = nullptr);

    /// The accuracy chosen (valid after Accepted).
    double Chosen() const { return chosen_; }
    QLineEdit* Edit() const { return edit_; }
    /// Says why the value typed was refused (hidden until it is).
    QLabel* Problem() const { return problem_; }

    void accept() override;

private:
    double chosen_;
    QLineEdit* edit_ = nullptr;
    QLabel* problem_ = nullptr;
};

}  // namespace dorvane
