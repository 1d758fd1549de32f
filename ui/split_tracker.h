#pragma once
// CSplitTracker: the "Split" command (57653) as the framework's split
// command works: the divider between the panes follows the mouse or the
// arrow keys until the user confirms (click, Return) or cancels (Escape,
// which puts it back). A transparent cover over the splitter takes the
// input meanwhile. GUI thread only.

#include <QList>
#include <QWidget>

class QSplitter;

namespace dorvane {

class CSplitTracker : public QWidget {
public:
    /// Arrow-key steps in pixels: the framework's 16, and 1 with Ctrl.
    static constexpr int kStep = 16;
    static constexpr int kFineStep = 1;
    /// No pane is made narrower than this.
    static constexpr int kMinColumn = 10;

    CSplitTracker(QSplitter* splitter, QWidget* parent);
    /// Starts tracking: covers the splitter, takes the keyboard and mouse.
    void Start();
    bool Tracking() const { return isVisible(); }

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    /// The divider at `left` pixels from the splitter's left edge, bounded.
    void MoveTo(int left);
    void Finish(bool keep);

    QSplitter* splitter_;
    QList<int> saved_;
};

}  // namespace dorvane
