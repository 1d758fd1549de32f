#include "ui/split_tracker.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QSplitter>
#include <algorithm>

namespace dorvane {

CSplitTracker::CSplitTracker(QSplitter* splitter, QWidget* parent)
    : QWidget(parent), splitter_(splitter) {
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::SplitHCursor);
    hide();
}

void CSplitTracker::Start() {
    if (Tracking()) return;
    saved_ = splitter_->sizes();
    setGeometry(QRect(splitter_->mapTo(parentWidget(), QPoint(0, 0)), splitter_->size()));
    show();
    raise();
    setFocus(Qt::OtherFocusReason);
    grabKeyboard();
    grabMouse();
}

void CSplitTracker::MoveTo(int left) {
    const QList<int> sizes = splitter_->sizes();
    if (sizes.size() != 2) return;
    const int total = sizes[0] + sizes[1];
    const int l = std::clamp(left, kMinColumn, std::max(kMinColumn, total - kMinColumn));
    splitter_->setSizes({l, total - l});
}

void CSplitTracker::keyPressEvent(QKeyEvent* e) {
    const int step = e->modifiers() & Qt::ControlModifier ? kFineStep : kStep;
    const QList<int> sizes = splitter_->sizes();
    const int left = sizes.value(0);
    switch (e->key()) {
        case Qt::Key_Left:
            MoveTo(left - step);
            break;
        case Qt::Key_Right:
            MoveTo(left + step);
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            Finish(true);
            break;
        case Qt::Key_Escape:
            Finish(false);
            break;
        default:
            break;
    }
}

void CSplitTracker::mouseMoveEvent(QMouseEvent* e) {
    MoveTo(e->position().toPoint().x());
}

void CSplitTracker::mousePressEvent(QMouseEvent* e) {
    MoveTo(e->position().toPoint().x());
    Finish(true);
}

void CSplitTracker::focusOutEvent(QFocusEvent*) {
    // Another window took the focus: the divider stays where it is.
    if (Tracking()) Finish(true);
}

void CSplitTracker::Finish(bool keep) {
    releaseMouse();
    releaseKeyboard();
    if (!keep) splitter_->setSizes(saved_);
    hide();
}

}  // namespace dorvane
