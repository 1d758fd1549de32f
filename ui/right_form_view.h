#pragma once
// CRightFormView: the computer pane. It shows one folder, lets the user
// choose a mounted volume, navigate, open files with the desktop's default
// program, rename in place, create folders and delete. Its folder is the
// document's computer folder, where downloads go. Hidden (dot) files are not
// shown; Backspace goes up; rows dragged from the device pane are copied here.
// GUI thread only.

#include "ui/list_form_view.h"

class QTimer;

namespace dorvane {

class CDeviceComboBox;
class CListRow;

/// Drag format of the device pane's rows.
inline constexpr const char* kDeviceDragFormat = "application/x-dorvane-device-files";

/// A size with ',' before every group of three digits (1234567 -> "1,234,567").
QString GroupedSize(qint64 bytes);

class CRightFormView : public CListFormView {
public:
    CRightFormView(CMainFrame& frame, QWidget* parent);

    bool CanDelete() const override { return SelectedCount() > 0; }
    bool CanRefresh() const override { return true; }
    void Refresh() override { ListFolder(Folder()); }
    /// Lists the folder again to show a file written into it, keeping the
    /// user's sort, selection and current row (F5 starts afresh instead).
    void ShowNewFile();
    void UpdateTitle() override;
    bool CanGoUp() const override;
    QString GetCaption() const override { return Folder(); }
    void BuildBackgroundMenu(QMenu& menu) override;
    void BuildItemMenu(QMenu& menu) override;
    void OnUpdate(std::uint32_t hints) override;
    bool CommandEnabled(int id) const override;
    void OnCommand(int id) override;

    /// The current folder, always ending with '/'.
    QString Folder() const { return folder_; }
    /// Shows `path` (made absolute and clean); an unreadable folder leaves
    /// the list empty. Returns the number of rows.
    int ListFolder(const QString& path);
    /// Starts at the remembered folder when it exists, else the home folder.
    void ShowInitialFolder();
    void GoUp();
    /// Double click or Return on a row: open a file, enter a folder.
    void OpenRow(const CListRow& row);
    void StartRename();
    /// Renames the row's entry to `newName`; false (and a message when the
    /// name is taken) when nothing changed.
    bool RenameRow(const CListRow& row, const QString& newName);
    void NewFolder();
    void ShowFreeSpace();
    void DeleteWithQuestion();
    qint64 SelectedBytes() const { return selectedBytes_; }
    /// The full path of the one selected file; empty when not exactly one
    /// file (folders do not count) is selected.
    QString SelectedFilePath() const;
    /// Full paths of the selected files and folders, in list order.
    QStringList SelectedPaths() const;
    CDeviceComboBox* DriveSelector() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnSelectionChanged();
    void OnDriveChanged(int index);
    void OnRowEdited(const CListRow& row, const QString& newName);

    /// A press on the row that was already the one selected and current, in
    /// a list that had the keyboard: its release starts the rename once the
    /// double-click time has passed without a second click.
    void OnListPress(const CListRow& row);
    void OnListRelease(const CListRow& row);
    void OnRenameDelayOver();

    QString folder_;
    QString driveRoot_;
    qint64 selectedBytes_ = 0;
    QTimer* renameDelay_ = nullptr;
    /// The name of the row a second click is renaming; empty when none.
    QString renameName_;
    bool pressOnSelected_ = false;
};

}  // namespace dorvane
