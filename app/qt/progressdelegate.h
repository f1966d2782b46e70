// Draws a cell of the STB list as a progress bar: the value kPercentRole holds (0..100)
// with the cell's text on it; a cell without a value (-1, or none) is drawn as plain text.
#pragma once

#include <QStyledItemDelegate>

// The item data role that holds a cell's progress in percent.
constexpr int kPercentRole = Qt::UserRole;

class CProgressDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* pPainter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // Rows tall enough for a bar with its text inside.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
