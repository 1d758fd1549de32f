#pragma once
// CListFormView: what both panes share — the caption strip beside the
// selector, the active flag, the context menu, and the virtual operations the
// frame's commands call on the active pane. GUI thread only.

#include <QString>
#include <QWidget>
#include <cstdint>

class QComboBox;
class QMenu;

namespace dorvane {

class CMainFrame;
class CSortListCtrl;
class CDorvaneDoc;

class CListFormView : public QWidget {
public:
    CListFormView(CMainFrame& frame, QWidget* parent);

    virtual bool CanDelete() const { return false; }
    virtual int GetListStyle() const;
    virtual bool CanRefresh() const { return false; }
    virtual void Refresh() {}
    virtual void UpdateTitle() {}
    virtual bool CanGoUp() const { return false; }
    virtual void SetListStyle(int remove, int add);
    virtual QString GetCaption() const { return {}; }
    virtual void BuildBackgroundMenu(QMenu&) {}
    virtual void BuildItemMenu(QMenu&) {}
    /// The pane's update with hint bits (WM_PANE_UPDATE).
    virtual void OnUpdate(std::uint32_t hints) = 0;
    /// The pane's own rule for a command: whether it is enabled here. Commands
    /// the pane does not know are disabled.
    virtual bool CommandEnabled(int id) const = 0;
    /// Runs one of the pane's own commands.
    virtual void OnCommand(int id) = 0;

    void SetActive(bool active);
    bool IsActive() const { return active_; }
    CSortListCtrl* List() const { return list_; }
    int SelectedCount() const;
    /// The caption strip beside the selector (pane coordinates).
    QRect CaptionRect() const { return caption_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    /// Adds a command item with its picture to a context menu.
    QAction* AddItem(QMenu& menu, int id, const QString& text, bool enabled);
    CDorvaneDoc& Doc() const;
    /// Right click in the list: the item or background menu at the cursor.
    void ShowContextMenu();

    CMainFrame& frame_;
    QComboBox* selector_ = nullptr;
    CSortListCtrl* list_ = nullptr;

private:
    bool active_ = false;
    QRect caption_;
};

}  // namespace dorvane
