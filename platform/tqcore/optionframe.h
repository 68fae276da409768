#pragma once

#include "tqcore/tqcore_global.h"

#include <QList>
#include <QWidget>

class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;

// The host's options window: a tree of titles on the left, the page of the
// current title on the right. It takes ownership of the pages added.
class TQCORE_EXPORT OptionFrame : public QWidget
{
    Q_OBJECT

public:
    explicit OptionFrame(QWidget* parent = nullptr);
    ~OptionFrame() override;

    // A title without a page of its own, under parent (top level when null).
    QTreeWidgetItem* addItem(const QString& title, QTreeWidgetItem* parent = nullptr);
    // A page under parent; its title is the page's window title.
    QTreeWidgetItem* addItem(QTreeWidgetItem* parent, QWidget* page);
    // A page with a title, under parent (top level when null).
    QTreeWidgetItem* addItem(const QString& title, QWidget* page, QTreeWidgetItem* parent = nullptr);

    // Every page added, in order.
    QList<QWidget*> pages() const;
    QTreeWidget* tree() const { return m_tree; }

private:
    QTreeWidget* m_tree;
    QStackedWidget* m_stack;
};
