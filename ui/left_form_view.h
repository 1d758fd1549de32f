#pragma once
// CLeftFormView: the device pane. It shows the handheld's files, lets the
// user choose the link (serial port or USB) and copies, moves and deletes
// through the document. It never touches the link itself. GUI thread only.

#include "ui/list_form_view.h"

class QProgressBar;

namespace dorvane {

class CIconComboBox;
class CListRow;

/// Names of the handheld's own files that the list never shows.
inline constexpr const char* kHiddenDeviceFiles[] = {"N070101.gmt", "C070101.gmt"};

class CLeftFormView : public CListFormView {
public:
    CLeftFormView(CMainFrame& frame, QWidget* parent);

    bool CanDelete() const override;
    bool CanRefresh() const override;
    void Refresh() override;
    void UpdateTitle() override;
    QString GetCaption() const override;
    void BuildBackgroundMenu(QMenu& menu) override;
    void BuildItemMenu(QMenu& menu) override;
    void OnUpdate(std::uint32_t hints) override;
    bool CommandEnabled(int id) const override;
    void OnCommand(int id) override;

    /// Marks the selected rows in the document and copies (or moves) them
    /// into the computer pane's folder.
    void CopySelection(bool move);
    /// The handheld's name bytes of a row.
    static std::string DeviceName(const CListRow& row);
    CIconComboBox* LinkSelector() const;
    bool BusyShown() const;

private:
    void FillList();
    void FillSelector();
    void MarkSelection();
    void DeleteWithQuestion();
    void DeselectUnmarked();

    QProgressBar* busy_;
};

}  // namespace dorvane
