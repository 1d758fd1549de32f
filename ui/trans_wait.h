#pragma once
// CTransWait: the modal progress dialog of a transfer. It shows the file's
// name, its size text, the percentage, a bar and a busy animation, and has a
// Cancel button. The worker stores progress with SetProgress (any thread) and
// the front end asks the dialog to repaint (Refresh) and to close
// (CloseWith) on the GUI thread.

#include <QDialog>
#include <mutex>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;

namespace dorvane {

class CBusyStrip;

class CTransWait : public QDialog {
public:
    explicit CTransWait(QWidget* parent = nullptr);

    /// Worker thread: stores the operation name (UTF-8), the total
    /// size and the fraction done (0..1).
    void SetProgress(const std::string& name, std::uint32_t totalSize, double fraction);
    /// GUI thread: shows the stored values (WM_WAIT_PROGRESS).
    void Refresh();
    /// GUI thread: forgets the stored values and ends the dialog with
    /// `result` (QDialog::Accepted for finished, Rejected for failed).
    void CloseWith(int result);
    /// Caption and button in the current language.
    void ApplyTexts();

    QString NameText() const;
    QString SizeText() const;
    QString PercentText() const;
    int BarValue() const;
    QPushButton* CancelButton() const { return cancel_; }

private:
    mutable std::mutex m_;
    std::string name_;
    std::uint32_t total_ = 0;
    double fraction_ = 0.0;

    QLabel* nameLabel_;
    QLabel* sizeLabel_;
    QLabel* percentLabel_;
    QProgressBar* bar_;
    QPushButton* cancel_;
    CBusyStrip* busy_;
};

}  // namespace dorvane
