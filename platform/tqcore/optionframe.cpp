#include "tqcore/optionframe.h"

#include <QHBoxLayout>
#include <QStackedWidget>
#include <QTreeWidget>

namespace {
constexpr int pageRole = Qt::UserRole + 1;
}

OptionFrame::OptionFrame(QWidget* parent)
    : QWidget(parent)
    , m_tree(new QTreeWidget(this))
    , m_stack(new QStackedWidget(this))
{
    m_tree->setHeaderHidden(true);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_tree);
    layout->addWidget(m_stack, 1);
    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (!item)
            return;
        auto* page = static_cast<QWidget*>(item->data(0, pageRole).value<void*>());
        if (page)
            m_stack->setCurrentWidget(page);
    });
}

OptionFrame::~OptionFrame() = default;

QTreeWidgetItem* OptionFrame::addItem(const QString& title, QTreeWidgetItem* parent)
{
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_tree);
    item->setText(0, title);
    if (parent)
        parent->setExpanded(true);
    // Every title shown whole, however long it is in the interface language.
    const int titles = static_cast<const QAbstractItemView*>(m_tree)->sizeHintForColumn(0);
    m_tree->setMinimumWidth(qMax(m_tree->minimumWidth(), titles + 2 * m_tree->frameWidth()));
    return item;
}

QTreeWidgetItem* OptionFrame::addItem(QTreeWidgetItem* parent, QWidget* page)
{
    return addItem(page ? page->windowTitle() : QString(), page, parent);
}

QTreeWidgetItem* OptionFrame::addItem(const QString& title, QWidget* page, QTreeWidgetItem* parent)
{
    QTreeWidgetItem* item = addItem(title, parent);
    if (page) {
        m_stack->addWidget(page);
        item->setData(0, pageRole, QVariant::fromValue<void*>(page));
    }
    return item;
}

QList<QWidget*> OptionFrame::pages() const
{
    QList<QWidget*> list;
    for (int i = 0; i < m_stack->count(); ++i)
        list.append(m_stack->widget(i));
    return list;
}
