#include "core/propertyitemmodel.h"

// ---- PropertyItem ---------------------------------------------------------

PropertyItem::PropertyItem() = default;

PropertyItem::PropertyItem(const QString& name, const QVariant& value)
    : m_name(name)
{
    // Non-virtual on purpose: a subclass is not built yet.
    PropertyItem::setValue(value, false);
}

PropertyItem::PropertyItem(PropertyItemModel* model)
    : m_model(model)
{
}

PropertyItem::~PropertyItem()
{
    // Leave the parent's list (and the model's rows) first, so that neither
    // points at this node once it is gone.
    if (m_parent)
        m_parent->remove(this);
    // The subtree is detached from the model now: no row notifications.
    const QList<PropertyItem*> children = std::move(m_children);
    m_children.clear();
    for (PropertyItem* child : children) {
        child->m_parent = nullptr;
        delete child;
    }
}

void PropertyItem::setValue(const QVariant& value, bool notify)
{
    if (value.isValid())
        m_data.insert(Qt::DisplayRole, value);
    else
        m_data.remove(Qt::DisplayRole);
    emitDataChanged();
    if (notify)
        notifyParent();
}

QVariant PropertyItem::data(int role) const
{
    return m_data.value(role);
}

void PropertyItem::setData(const QVariant& value, int role)
{
    if (role == Qt::EditRole)
        role = Qt::DisplayRole;
    if (m_data.value(role) == value)
        return;
    if (role == Qt::DisplayRole) {
        setValue(value, true);
        return;
    }
    if (value.isValid())
        m_data.insert(role, value);
    else
        m_data.remove(role);
    emitDataChanged();
}

void PropertyItem::changeFlags(Qt::ItemFlags flags, bool on)
{
    if (on)
        m_flags |= flags;
    else
        m_flags &= ~flags;
}

bool PropertyItem::accepts(const PropertyItem* child) const
{
    if (!child)
        return false;
    if (child->m_model && child->m_model->rootItem() == child)
        return false;
    // Attaching this node or one of its ancestors would make a cycle.
    for (const PropertyItem* p = this; p; p = p->m_parent) {
        if (p == child)
            return false;
    }
    return true;
}

void PropertyItem::append(PropertyItem* child)
{
    insert(m_children.size(), child);
}

void PropertyItem::insert(int position, PropertyItem* child)
{
    if (!accepts(child))
        return;
    // Complete the removal from the old parent before this node announces
    // the new row: the two notifications never nest.
    if (child->m_parent)
        child->m_parent->remove(child);

    position = qBound(0, position, int(m_children.size()));
    if (m_model)
        m_model->beginInsertRows(index(), position, position);
    m_children.insert(position, child);
    child->setParentAndModel(this, m_model);
    if (m_model)
        m_model->endInsertRows();
}

void PropertyItem::remove(PropertyItem* child)
{
    const int row = m_children.indexOf(child);
    if (row < 0)
        return;
    if (m_model)
        m_model->beginRemoveRows(index(), row, row);
    m_children.removeAt(row);
    child->m_parent = nullptr;
    child->setParentAndModel(nullptr, nullptr);
    if (m_model)
        m_model->endRemoveRows();
}

QModelIndex PropertyItem::index() const
{
    return m_model ? m_model->nameIndexFromItem(this) : QModelIndex();
}

QModelIndex PropertyItem::valueIndex() const
{
    return m_model ? m_model->valueIndexFromItem(this) : QModelIndex();
}

void PropertyItem::reset()
{
    for (PropertyItem* child : std::as_const(m_children))
        child->reset();
}

void PropertyItem::emitDataChanged()
{
    if (!m_model)
        return;
    const QModelIndex i = valueIndex();
    if (i.isValid())
        emit m_model->dataChanged(i, i);
}

void PropertyItem::notifyParent()
{
    if (m_parent)
        m_parent->childChanged(this);
}

void PropertyItem::childChanged(PropertyItem* /*child*/)
{
    notifyParent();
}

void PropertyItem::setParentAndModel(PropertyItem* parent, PropertyItemModel* model)
{
    if (parent != m_parent && m_parent)
        m_parent->remove(this);
    if (model != m_model) {
        for (PropertyItem* child : std::as_const(m_children))
            child->setParentAndModel(this, model);
    }
    m_parent = parent;
    m_model = model;
}

// ---- PropertyItemModel ----------------------------------------------------

PropertyItemModel::PropertyItemModel(QObject* parent)
    : QAbstractItemModel(parent)
    , m_root(new PropertyItem(this))
{
}

PropertyItemModel::~PropertyItemModel()
{
    delete m_root;
}

PropertyItem* PropertyItemModel::itemFromIndex(const QModelIndex& index) const
{
    if (!index.isValid())
        return m_root;
    return static_cast<PropertyItem*>(index.internalPointer());
}

QModelIndex PropertyItemModel::indexFromItem(const PropertyItem* item, int column) const
{
    if (!item || item == m_root || !item->m_parent)
        return QModelIndex();
    const int row = item->m_parent->m_children.indexOf(const_cast<PropertyItem*>(item));
    if (row < 0)
        return QModelIndex();
    return createIndex(row, column, const_cast<PropertyItem*>(item));
}

QModelIndex PropertyItemModel::nameIndexFromItem(const PropertyItem* item) const
{
    return indexFromItem(item, 0);
}

QModelIndex PropertyItemModel::valueIndexFromItem(const PropertyItem* item) const
{
    return indexFromItem(item, 1);
}

// Children hang below column 0 only: an index of the value column has no
// rows, as item views and the model contract expect (a second column with
// the same children as the first would show every subtree twice).
QModelIndex PropertyItemModel::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return QModelIndex();
    const PropertyItem* node = itemFromIndex(parent);
    if (!node || uint(row) >= uint(node->m_children.size()) || uint(column) > 1u)
        return QModelIndex();
    return createIndex(row, column, node->m_children.at(row));
}

QModelIndex PropertyItemModel::parent(const QModelIndex& index) const
{
    if (!index.isValid())
        return QModelIndex();
    const PropertyItem* node = itemFromIndex(index);
    if (!node || node == m_root)
        return QModelIndex();
    return nameIndexFromItem(node->m_parent);
}

int PropertyItemModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    const PropertyItem* node = itemFromIndex(parent);
    return node ? int(node->m_children.size()) : 0;
}

int PropertyItemModel::columnCount(const QModelIndex& /*parent*/) const
{
    return 2;
}

QVariant PropertyItemModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const PropertyItem* node = itemFromIndex(index);
    if (!node)
        return QVariant();
    if (index.column() == 0 && (role == Qt::DisplayRole || role == Qt::EditRole))
        return node->name();
    return node->data(role == Qt::EditRole ? int(Qt::DisplayRole) : role);
}

bool PropertyItemModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.column() != 1)
        return false;
    PropertyItem* node = itemFromIndex(index);
    if (!node || node == m_root)
        return false;
    node->setData(value, role);
    return true;
}

QVariant PropertyItemModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return section == 0 ? tr("名称") : tr("值");
    return QAbstractItemModel::headerData(section, orientation, role);
}

Qt::ItemFlags PropertyItemModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    const PropertyItem* node = itemFromIndex(index);
    if (!node || node == m_root)
        return Qt::NoItemFlags;
    Qt::ItemFlags f = node->flags();
    if (index.column() == 0)
        f &= ~Qt::ItemIsEditable;
    return f;
}

QModelIndex PropertyItemModel::buddy(const QModelIndex& index) const
{
    if (index.isValid() && index.column() == 0)
        return this->index(index.row(), 1, index.parent());
    return index;
}

void PropertyItemModel::revert()
{
    m_root->reset();
}
