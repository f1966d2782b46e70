#include "app/qt/progressdelegate.h"

#include <QApplication>
#include <QStyle>
#include <QStyleOptionProgressBar>

void CProgressDelegate::paint(QPainter* pPainter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QVariant percent = index.data(kPercentRole);
    if (!percent.isValid() || percent.toInt() < 0) {
        QStyledItemDelegate::paint(pPainter, option, index);
        return;
    }
    QStyleOptionProgressBar bar;
    bar.initFrom(option.widget);
    bar.rect = option.rect.adjusted(1, 1, -1, -1);
    bar.state = option.state | QStyle::State_Horizontal;
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = qBound(0, percent.toInt(), 100);
    bar.text = index.data(Qt::DisplayRole).toString();
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    QStyle* pStyle = option.widget != nullptr ? option.widget->style() : QApplication::style();
    pStyle->drawControl(QStyle::CE_ProgressBar, &bar, pPainter, option.widget);
}

QSize CProgressDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(qMax(size.height(), option.fontMetrics.height() + 10));
    return size;
}
