#pragma once

#include "core/core_global.h"

#include <QAbstractItemModel>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>

class PropertyItemModel;

// One node of a two-column tree of named values: column 0 shows the name,
// column 1 the value (display role 0) and the node's other roles.
//
// Ownership: a node owns its children; destroying a node destroys its
// subtree. A node that is still a child of another leaves its parent's list
// (and its model's rows) when destroyed, so the parent never points at a
// dead node. Nodes are not copyable: a copy would share children with its
// source and one of the two would destroy them under the other.
//
// Only the thread that owns the model may use it and its nodes.
class CORE_EXPORT PropertyItem
{
    friend class PropertyItemModel;

public:
    PropertyItem();
    PropertyItem(const QString& name, const QVariant& value);
    virtual ~PropertyItem();

    PropertyItem(const PropertyItem&) = delete;
    PropertyItem& operator=(const PropertyItem&) = delete;

    PropertyItem* parent() const { return m_parent; }
    const QList<PropertyItem*>& children() const { return m_children; }
    PropertyItemModel* model() const { return m_model; }

    QString name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }

    QVariant value() const { return data(Qt::DisplayRole); }
    // Stores value as the display role and tells the model; with notify
    // also tells the parent (childChanged).
    virtual void setValue(const QVariant& value, bool notify);

    virtual QVariant data(int role) const;
    // The edit role is the display role. An unchanged value does nothing; a
    // new display value goes through setValue(value, true); any other role
    // is stored (an invalid value removes it) without telling the parent.
    virtual void setData(const QVariant& value, int role);

    Qt::ItemFlags flags() const { return m_flags; }
    void setFlags(Qt::ItemFlags flags) { m_flags = flags; }
    void changeFlags(Qt::ItemFlags flags, bool on);
    bool isEditable() const { return m_flags.testFlag(Qt::ItemIsEditable); }
    void setEditable(bool on) { changeFlags(Qt::ItemIsEditable, on); }

    // Attach child (and its subtree) to this node and its model. A child
    // that has a parent is first taken out of it completely. Null, this
    // node, one of its ancestors or a model's root are refused.
    void append(PropertyItem* child);
    // As append, at position clamped to 0 .. children().size().
    void insert(int position, PropertyItem* child);
    // Detaches child and its subtree; the caller owns it afterwards. A node
    // that is not a child is left alone.
    void remove(PropertyItem* child);

    QModelIndex index() const;
    QModelIndex valueIndex() const;

    // Passes reset() to every child; subclasses also restore their default.
    virtual void reset();
    virtual int type() const { return 0; }

protected:
    void emitDataChanged();
    void notifyParent();
    // Called when a child's value changed with notify; passes it upwards.
    virtual void childChanged(PropertyItem* child);
    void setParentAndModel(PropertyItem* parent, PropertyItemModel* model);

private:
    explicit PropertyItem(PropertyItemModel* model); // a model's root
    bool accepts(const PropertyItem* child) const;

    QString m_name;
    QMap<int, QVariant> m_data;
    PropertyItem* m_parent = nullptr;
    PropertyItemModel* m_model = nullptr;
    QList<PropertyItem*> m_children;
    Qt::ItemFlags m_flags = Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled;
};

// Item model over a tree of PropertyItem. The root item is created and
// destroyed with the model and never shown: its children are the top-level
// rows. Column 0 is the name (never editable), column 1 the value.
class CORE_EXPORT PropertyItemModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    explicit PropertyItemModel(QObject* parent = nullptr);
    ~PropertyItemModel() override;

    PropertyItem* rootItem() const { return m_root; }
    void append(PropertyItem* item) { m_root->append(item); }

    // The node of a valid index; the root for an invalid one.
    PropertyItem* itemFromIndex(const QModelIndex& index) const;
    QModelIndex nameIndexFromItem(const PropertyItem* item) const;
    QModelIndex valueIndexFromItem(const PropertyItem* item) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QModelIndex buddy(const QModelIndex& index) const override;

public slots:
    void revert() override;

private:
    friend class PropertyItem;
    QModelIndex indexFromItem(const PropertyItem* item, int column) const;

    PropertyItem* m_root;
};
