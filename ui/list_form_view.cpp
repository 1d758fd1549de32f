#include "ui/list_form_view.h"

#include <QComboBox>
#include <QMenu>
#include <QPainter>

#include "menus/commands.h"
#include "ui/main_frame.h"
#include "ui/sort_list.h"

namespace dorvane {

namespace {
// The pane's layout: the list starts below the 28-pixel caption row.
constexpr int kListTop = 28;
constexpr int kCaptionTop = 2;
constexpr int kCaptionBottom = 25;
constexpr int kCaptionGap = 2;
/// The caption's text is drawn in the strip moved this far right and down.
constexpr int kCaptionTextInset = 3;
const QColor kInactiveFill(0x80, 0x80, 0x80);
const QColor kInactiveText(0xD4, 0xD0, 0xC8);
}  // namespace

CListFormView::CListFormView(CMainFrame& frame, QWidget* parent) : QWidget(parent), frame_(frame) {}

CDorvaneDoc& CListFormView::Doc() const { return frame_.Doc(); }

int CListFormView::GetListStyle() const { return list_ ? list_->ListStyle() : 0; }

void CListFormView::SetListStyle(int remove, int add) {
    if (list_) list_->SetListStyle(remove, add);
}

int CListFormView::SelectedCount() const { return list_ ? list_->SelectedCount() : 0; }

void CListFormView::SetActive(bool active) {
    if (active_ == active) return;
    active_ = active;
    update(caption_);
    UpdateTitle();
}

void CListFormView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QColor fill = active_ ? palette().color(QPalette::Active, QPalette::Highlight) : kInactiveFill;
    const QColor text = active_ ? QColor(Qt::white) : kInactiveText;
    p.fillRect(caption_, fill);
    QFont f = font();
    f.setBold(true);
    p.setFont(f);
    p.setPen(text);
    p.drawText(caption_.translated(kCaptionTextInset, kCaptionTextInset),
               Qt::AlignVCenter | Qt::TextSingleLine, GetCaption());
    // A sunken frame: dark along the top and left, light along the right and bottom.
    p.setPen(Qt::black);
    p.drawLine(caption_.topLeft(), caption_.topRight());
    p.drawLine(caption_.topLeft(), caption_.bottomLeft());
    p.setPen(Qt::white);
    p.drawLine(caption_.topRight(), caption_.bottomRight());
    p.drawLine(caption_.bottomLeft(), caption_.bottomRight());
}

void CListFormView::resizeEvent(QResizeEvent*) {
    const int w = width();
    const int h = height();
    int right = 1;
    if (selector_) {
        const QSize s = selector_->sizeHint();
        selector_->setGeometry(1, 1, s.width(), kListTop - 3);
        right = selector_->geometry().right();
    }
    if (list_) list_->setGeometry(1, kListTop, std::max(0, w - 2), std::max(0, h - kListTop - 1));
    caption_ = QRect(QPoint(right + kCaptionGap, kCaptionTop), QPoint(w - 2, kCaptionBottom));
    update();
}

QAction* CListFormView::AddItem(QMenu& menu, int id, const QString& text, bool enabled) {
    QAction* a = menu.addAction(CommandIcon(id), text);
    a->setEnabled(enabled);
    a->setData(id);
    return a;
}

void CListFormView::ShowContextMenu() {
    frame_.SetActivePane(this);
    QMenu menu(this);
    if (SelectedCount() > 0) BuildItemMenu(menu);
    else BuildBackgroundMenu(menu);
    QAction* chosen = menu.exec(QCursor::pos());
    if (chosen && chosen->data().isValid()) frame_.RunCommand(chosen->data().toInt());
}

}  // namespace dorvane
