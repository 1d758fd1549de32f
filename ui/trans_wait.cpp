#include "ui/trans_wait.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "i18n/string_table.h"
#include "names/file_names.h"

namespace dorvane {

namespace {
/// The animation's frame time: 11 frames at 100 ms each, as the dialog always had.
constexpr int kFrameMs = 100;
constexpr int kFrames = 11;
constexpr int kStripHeight = 32;
constexpr int kPercentScale = 100;
}  // namespace

/// The busy animation: a page travelling from the handheld to the computer.
class CBusyStrip : public QWidget {
public:
    explicit CBusyStrip(QWidget* parent) : QWidget(parent) {
        setMinimumHeight(kStripHeight);
        timer_.setInterval(kFrameMs);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            frame_ = (frame_ + 1) % kFrames;
            update();
        });
        timer_.start();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const int h = height();
        const int w = width();
        p.setPen(QColor(40, 60, 110));
        p.setBrush(QColor(90, 110, 150));
        p.drawRoundedRect(2, 2, 16, h - 4, 3, 3);  // the handheld
        p.setBrush(QColor(200, 200, 210));
        p.drawRect(w - 30, 4, 28, h - 12);  // the computer
        const int x = 22 + (w - 60) * frame_ / (kFrames - 1);
        p.setBrush(Qt::white);
        p.drawRect(x, h / 2 - 7, 10, 13);
    }

private:
    QTimer timer_;
    int frame_ = 0;
};

CTransWait::CTransWait(QWidget* parent) : QDialog(parent) {
    setModal(true);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    auto* grid = new QGridLayout(this);
    busy_ = new CBusyStrip(this);
    nameLabel_ = new QLabel(this);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, kPercentScale);
    bar_->setTextVisible(false);
    sizeLabel_ = new QLabel(this);
    percentLabel_ = new QLabel(this);
    percentLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cancel_ = new QPushButton(this);
    grid->addWidget(busy_, 0, 0, 1, 3);
    grid->addWidget(nameLabel_, 1, 0, 1, 3);
    grid->addWidget(bar_, 2, 0, 1, 3);
    grid->addWidget(sizeLabel_, 3, 0);
    grid->addWidget(percentLabel_, 3, 2);
    grid->addWidget(cancel_, 4, 1);
    nameLabel_->setMinimumWidth(320);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    ApplyTexts();
}

void CTransWait::ApplyTexts() {
    setWindowTitle(QString::fromStdString(Text(StringId::RES_CTRANSWAIT_COPYFILE)));
    cancel_->setText(QString::fromStdString(Text(StringId::RES_CTRANSWAIT_CANCEL)));
}

void CTransWait::SetProgress(const std::string& name, std::uint32_t totalSize, double fraction) {
    std::lock_guard lock(m_);
    fraction_ = std::clamp(fraction, 0.0, 1.0);
    if (name != name_) name_ = name;
    if (totalSize != total_) total_ = totalSize;
}

void CTransWait::Refresh() {
    std::string name;
    std::uint32_t total = 0;
    double fraction = 0.0;
    {
        std::lock_guard lock(m_);
        name = name_;
        total = total_;
        fraction = fraction_;
    }
    // The document hands over the name already in UTF-8.
    const QString shownName = QString::fromStdString(name);
    if (nameLabel_->text() != shownName) nameLabel_->setText(shownName);
    const QString size = QString::fromStdString(dorvane::SizeText(total));
    if (sizeLabel_->text() != size) sizeLabel_->setText(size);
    percentLabel_->setText(QStringLiteral("%1 %").arg(fraction * kPercentScale, 0, 'f', 1));
    bar_->setValue(static_cast<int>(fraction * kPercentScale));
}

void CTransWait::CloseWith(int result) {
    {
        std::lock_guard lock(m_);
        name_.clear();
        total_ = 0;
        fraction_ = 0.0;
    }
    done(result);
}

QString CTransWait::NameText() const {
    return nameLabel_->text();
}
QString CTransWait::SizeText() const {
    return sizeLabel_->text();
}
QString CTransWait::PercentText() const {
    return percentLabel_->text();
}
int CTransWait::BarValue() const {
    return bar_->value();
}

}  // namespace dorvane
