// Property tree model: model contract under QAbstractItemModelTester, data
// and flag rules per column, change notification up the tree, attaching,
// moving and destroying nodes.
#include "core/propertyitemmodel.h"

#include <QAbstractItemModelTester>
#include <QColor>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <type_traits>

static_assert(!std::is_copy_constructible_v<PropertyItem>, "a copy would share its children");
static_assert(!std::is_copy_assignable_v<PropertyItem>, "a copy would share its children");

namespace {

// Records the hooks the tree calls.
class RecordingItem : public PropertyItem
{
public:
    RecordingItem(const QString& name, QStringList* log)
        : PropertyItem(name, QVariant())
        , m_log(log)
    {
    }
    int type() const override { return 1; }
    void reset() override
    {
        m_log->append("reset " + name());
        PropertyItem::reset();
    }

protected:
    void childChanged(PropertyItem* child) override
    {
        m_log->append(name() + " <- " + child->name());
        PropertyItem::childChanged(child);
    }

private:
    QStringList* m_log;
};

} // namespace

class tst_PropertyModel : public QObject
{
    Q_OBJECT

private slots:
    void emptyModel();
    void treeUnderModelTester();
    void itemConstruction();
    void modelData_data();
    void modelData();
    void modelSetData_data();
    void modelSetData();
    void equalValueEmitsNothing();
    void changeTravelsToRoot();
    void invalidRoleValueRemovesRole();
    void flagsPerColumn();
    void insertClampsPosition_data();
    void insertClampsPosition();
    void indexOutOfRange_data();
    void indexOutOfRange();
    void moveSubtreeBetweenModels();
    void reparentWithinModel();
    void refusesCycles();
    void removeKeepsNode();
    void destroyedChildLeavesParent();
    void revertResetsTree();
    void buddyIsValueColumn();
};

void tst_PropertyModel::emptyModel()
{
    PropertyItemModel model;
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 2);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QString("名称"));
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QString("值"));
    QCOMPARE(model.headerData(5, Qt::Horizontal).toString(), QString("值"));
    QCOMPARE(model.headerData(0, Qt::Vertical), QVariant(1)); // the framework's row number
    QCOMPARE(model.itemFromIndex(QModelIndex()), model.rootItem());
    QCOMPARE(model.rootItem()->model(), &model);
    QVERIFY(!model.rootItem()->index().isValid());
}

void tst_PropertyModel::treeUnderModelTester()
{
    PropertyItemModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    auto* a = new PropertyItem("a", 1);
    auto* b = new PropertyItem("b", "two");
    model.append(a);
    model.append(b);
    a->append(new PropertyItem("a1", 1.5));
    a->insert(0, new PropertyItem("a0", QVariant()));
    auto* a2 = new PropertyItem("a2", true);
    a2->append(new PropertyItem("a2x", 'x'));
    a->append(a2);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.rowCount(a->index()), 3);
    QCOMPARE(model.rowCount(a->valueIndex()), 0); // children hang below column 0 only
    QVERIFY(!model.index(0, 0, a->valueIndex()).isValid());
    QCOMPARE(model.parent(a2->children().first()->index()), a2->index());
    QCOMPARE(model.parent(a->index()), QModelIndex());

    QVERIFY(model.setData(a2->valueIndex(), false));
    b->setValue("changed", true);
    b->setData(QColor(Qt::red), Qt::ForegroundRole);

    // Moves within the model: out of one parent, into another.
    a2->append(b);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(b->parent(), a2);
    model.append(b);
    QCOMPARE(model.rowCount(), 2);
    a->insert(1, a2->children().first());
    QCOMPARE(a->children().size(), 4);

    // Destroying attached nodes, a leaf and a subtree.
    delete a->children().first();
    delete a2;
    QCOMPARE(a->children().size(), 2);
    PropertyItem* a1 = a->children().last();
    a->remove(a1);
    delete a1;
    QCOMPARE(model.rowCount(a->index()), 1);
}

void tst_PropertyModel::itemConstruction()
{
    PropertyItem plain;
    QCOMPARE(plain.name(), QString());
    QCOMPARE(plain.value(), QVariant());
    QCOMPARE(plain.parent(), nullptr);
    QCOMPARE(plain.model(), nullptr);
    QCOMPARE(int(plain.flags()), 0x23);
    QCOMPARE(plain.type(), 0);
    QVERIFY(!plain.index().isValid());

    PropertyItem named("n", 3);
    QCOMPARE(named.name(), QString("n"));
    QCOMPARE(named.value(), QVariant(3));
    QCOMPARE(named.data(Qt::DisplayRole), QVariant(3));
    named.setEditable(false);
    QVERIFY(!named.isEditable());
    QCOMPARE(int(named.flags()), 0x21);
    named.changeFlags(Qt::ItemIsEditable | Qt::ItemIsUserCheckable, true);
    QCOMPARE(named.flags(), Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
}

void tst_PropertyModel::modelData_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("name, display") << 0 << int(Qt::DisplayRole) << QVariant("speed");
    QTest::newRow("name, edit") << 0 << int(Qt::EditRole) << QVariant("speed");
    QTest::newRow("name column, other role") << 0 << int(Qt::ToolTipRole) << QVariant("tip");
    QTest::newRow("value, display") << 1 << int(Qt::DisplayRole) << QVariant(42);
    QTest::newRow("value, edit") << 1 << int(Qt::EditRole) << QVariant(42);
    QTest::newRow("value, other role") << 1 << int(Qt::ToolTipRole) << QVariant("tip");
    QTest::newRow("value, unset role") << 1 << int(Qt::DecorationRole) << QVariant();
}

void tst_PropertyModel::modelData()
{
    QFETCH(int, column);
    QFETCH(int, role);
    QFETCH(QVariant, expected);
    PropertyItemModel model;
    auto* item = new PropertyItem("speed", 42);
    item->setData("tip", Qt::ToolTipRole);
    model.append(item);
    QCOMPARE(model.data(model.index(0, column), role), expected);
    QCOMPARE(model.data(QModelIndex(), role), QVariant());
}

void tst_PropertyModel::modelSetData_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("value column, edit") << 1 << int(Qt::EditRole) << QVariant(7) << true << QVariant(7);
    QTest::newRow("value column, display") << 1 << int(Qt::DisplayRole) << QVariant(7) << true << QVariant(7);
    QTest::newRow("value column, same value") << 1 << int(Qt::EditRole) << QVariant(1) << true << QVariant(1);
    QTest::newRow("name column refused") << 0 << int(Qt::EditRole) << QVariant(7) << false << QVariant(1);
}

void tst_PropertyModel::modelSetData()
{
    QFETCH(int, column);
    QFETCH(int, role);
    QFETCH(QVariant, value);
    QFETCH(bool, accepted);
    QFETCH(QVariant, expected);
    PropertyItemModel model;
    model.append(new PropertyItem("x", 1));
    QCOMPARE(model.setData(model.index(0, column), value, role), accepted);
    QCOMPARE(model.rootItem()->children().first()->value(), expected);
    QCOMPARE(model.rootItem()->children().first()->name(), QString("x"));
    QVERIFY(!model.setData(QModelIndex(), 7)); // the root
}

void tst_PropertyModel::equalValueEmitsNothing()
{
    QStringList log;
    PropertyItemModel model;
    auto* parent = new RecordingItem("parent", &log);
    model.append(parent);
    auto* child = new PropertyItem("child", 5);
    parent->append(child);
    child->setData("tip", Qt::ToolTipRole);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    log.clear();

    child->setData(5, Qt::EditRole);
    child->setData(5, Qt::DisplayRole);
    child->setData("tip", Qt::ToolTipRole);
    child->setData(QVariant(), Qt::DecorationRole); // unset stays unset
    QVERIFY(model.setData(child->valueIndex(), 5));
    QCOMPARE(changed.count(), 0);
    QCOMPARE(log, QStringList());

    child->setData(6, Qt::EditRole);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().at(0).toModelIndex(), child->valueIndex());
    QCOMPARE(changed.first().at(1).toModelIndex(), child->valueIndex());
    QCOMPARE(log, QStringList{"parent <- child"});
}

void tst_PropertyModel::changeTravelsToRoot()
{
    QStringList log;
    PropertyItemModel model;
    auto* top = new RecordingItem("top", &log);
    auto* middle = new RecordingItem("middle", &log);
    auto* leaf = new RecordingItem("leaf", &log);
    model.append(top);
    top->append(middle);
    middle->append(leaf);

    leaf->setValue(1, true);
    QCOMPARE(log, (QStringList{"middle <- leaf", "top <- middle"}));
    log.clear();
    leaf->setValue(2, false);
    QCOMPARE(log, QStringList());
    leaf->setData(3, Qt::ToolTipRole); // other roles do not tell the parent
    QCOMPARE(log, QStringList());
}

void tst_PropertyModel::invalidRoleValueRemovesRole()
{
    PropertyItemModel model;
    auto* item = new PropertyItem("x", 1);
    model.append(item);
    item->setData(QColor(Qt::blue), Qt::BackgroundRole);
    QCOMPARE(model.data(item->valueIndex(), Qt::BackgroundRole), QVariant(QColor(Qt::blue)));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    item->setData(QVariant(), Qt::BackgroundRole);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(item->data(Qt::BackgroundRole), QVariant());
    QCOMPARE(model.itemData(item->valueIndex()).contains(Qt::BackgroundRole), false);
}

void tst_PropertyModel::flagsPerColumn()
{
    PropertyItemModel model;
    auto* editable = new PropertyItem("e", 1);
    auto* fixed = new PropertyItem("f", 2);
    fixed->setEditable(false);
    model.append(editable);
    model.append(fixed);
    const Qt::ItemFlags base = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    QCOMPARE(model.flags(model.index(0, 0)), base);
    QCOMPARE(model.flags(model.index(0, 1)), base | Qt::ItemIsEditable);
    QCOMPARE(model.flags(model.index(1, 0)), base);
    QCOMPARE(model.flags(model.index(1, 1)), base);
    QCOMPARE(model.flags(QModelIndex()), Qt::NoItemFlags);
}

void tst_PropertyModel::insertClampsPosition_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("expectedRow");
    QTest::newRow("-5 -> front") << -5 << 0;
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("middle") << 2 << 2;
    QTest::newRow("3 = end") << 3 << 3;
    QTest::newRow("100 -> end") << 100 << 3;
}

void tst_PropertyModel::insertClampsPosition()
{
    QFETCH(int, position);
    QFETCH(int, expectedRow);
    PropertyItemModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    auto* parent = new PropertyItem("p", QVariant());
    model.append(parent);
    for (int i = 0; i < 3; ++i)
        parent->append(new PropertyItem(QString::number(i), i));
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    auto* child = new PropertyItem("new", 9);
    parent->insert(position, child);
    QCOMPARE(parent->children().indexOf(child), expectedRow);
    QCOMPARE(child->index().row(), expectedRow);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.first().at(0).toModelIndex(), parent->index());
    QCOMPARE(inserted.first().at(1).toInt(), expectedRow);
}

void tst_PropertyModel::indexOutOfRange_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("valid");
    QTest::newRow("0,0") << 0 << 0 << true;
    QTest::newRow("1,1") << 1 << 1 << true;
    QTest::newRow("row past end") << 2 << 0 << false;
    QTest::newRow("negative row") << -1 << 0 << false;
    QTest::newRow("column 2") << 0 << 2 << false;
    QTest::newRow("negative column") << 0 << -1 << false;
}

void tst_PropertyModel::indexOutOfRange()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(bool, valid);
    PropertyItemModel model;
    model.append(new PropertyItem("a", 1));
    model.append(new PropertyItem("b", 2));
    const QModelIndex i = model.index(row, column);
    QCOMPARE(i.isValid(), valid);
    if (valid)
        QCOMPARE(model.itemFromIndex(i), model.rootItem()->children().at(row));
}

void tst_PropertyModel::moveSubtreeBetweenModels()
{
    PropertyItemModel from;
    PropertyItemModel to;
    QAbstractItemModelTester testFrom(&from, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester testTo(&to, QAbstractItemModelTester::FailureReportingMode::QtTest);
    auto* node = new PropertyItem("node", 1);
    auto* child = new PropertyItem("child", 2);
    auto* grandchild = new PropertyItem("grandchild", 3);
    child->append(grandchild);
    node->append(child);
    from.append(node);
    QCOMPARE(grandchild->model(), &from);

    auto* target = new PropertyItem("target", QVariant());
    to.append(target);
    QSignalSpy removed(&from, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&to, &QAbstractItemModel::rowsInserted);
    target->append(node);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(from.rowCount(), 0);
    QCOMPARE(node->parent(), target);
    for (PropertyItem* p : {node, child, grandchild})
        QCOMPARE(p->model(), &to);
    QCOMPARE(to.itemFromIndex(grandchild->index()), grandchild);
    QCOMPARE(to.parent(grandchild->index()), child->index());

    // Changes of the moved nodes reach the new model only.
    QSignalSpy changedFrom(&from, &QAbstractItemModel::dataChanged);
    QSignalSpy changedTo(&to, &QAbstractItemModel::dataChanged);
    grandchild->setValue(4, true);
    QCOMPARE(changedFrom.count(), 0);
    QCOMPARE(changedTo.count(), 1);
}

void tst_PropertyModel::reparentWithinModel()
{
    PropertyItemModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    auto* a = new PropertyItem("a", 1);
    auto* b = new PropertyItem("b", 2);
    model.append(a);
    model.append(b);
    auto* x = new PropertyItem("x", 3);
    a->append(x);
    // The removal from a completes before b announces the new row.
    QStringList order;
    connect(&model, &QAbstractItemModel::rowsRemoved, this, [&] { order << "removed"; });
    connect(&model, &QAbstractItemModel::rowsAboutToBeInserted, this, [&] { order << "insert"; });
    b->append(x);
    QCOMPARE(order, (QStringList{"removed", "insert"}));
    QCOMPARE(a->children().size(), 0);
    QCOMPARE(b->children(), QList<PropertyItem*>{x});
    // Moving to the same parent keeps one entry.
    b->insert(0, x);
    QCOMPARE(b->children(), QList<PropertyItem*>{x});
}

void tst_PropertyModel::refusesCycles()
{
    PropertyItemModel model;
    PropertyItemModel other;
    auto* a = new PropertyItem("a", 1);
    auto* b = new PropertyItem("b", 2);
    model.append(a);
    a->append(b);
    b->append(a); // an ancestor
    b->append(b); // itself
    b->append(nullptr);
    b->append(other.rootItem()); // another model's root
    QCOMPARE(a->parent(), model.rootItem());
    QCOMPARE(b->children().size(), 0);
    QCOMPARE(other.rootItem()->model(), &other);
    QCOMPARE(model.rowCount(), 1);
}

void tst_PropertyModel::removeKeepsNode()
{
    PropertyItemModel model;
    auto* parent = new PropertyItem("p", 1);
    model.append(parent);
    auto* child = new PropertyItem("c", 2);
    auto* grandchild = new PropertyItem("g", 3);
    child->append(grandchild);
    parent->append(child);

    PropertyItem stranger("s", 0);
    parent->remove(&stranger); // not a child: nothing happens
    QCOMPARE(parent->children().size(), 1);

    parent->remove(child);
    std::unique_ptr<PropertyItem> owned(child); // the caller owns it now
    QCOMPARE(child->parent(), nullptr);
    QCOMPARE(child->model(), nullptr);
    QCOMPARE(grandchild->model(), nullptr);
    QCOMPARE(grandchild->parent(), child);
    QCOMPARE(model.rowCount(parent->index()), 0);
}

void tst_PropertyModel::destroyedChildLeavesParent()
{
    PropertyItemModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    auto* parent = new PropertyItem("p", 1);
    model.append(parent);
    auto* first = new PropertyItem("first", 1);
    auto* second = new PropertyItem("second", 2);
    parent->append(first);
    parent->append(second);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    delete first;
    QCOMPARE(removed.count(), 1);
    QCOMPARE(parent->children(), QList<PropertyItem*>{second});
    QCOMPARE(second->index().row(), 0);

    // Without a model too.
    PropertyItem detached("d", 0);
    auto* c = new PropertyItem("c", 0);
    detached.append(c);
    delete c;
    QVERIFY(detached.children().isEmpty());
}

void tst_PropertyModel::revertResetsTree()
{
    QStringList log;
    PropertyItemModel model;
    auto* one = new RecordingItem("one", &log);
    auto* plain = new PropertyItem("plain", 0);
    auto* nested = new RecordingItem("nested", &log);
    plain->append(nested);
    model.append(one);
    model.append(plain);
    model.revert();
    QCOMPARE(log, (QStringList{"reset one", "reset nested"}));
}

void tst_PropertyModel::buddyIsValueColumn()
{
    PropertyItemModel model;
    auto* top = new PropertyItem("top", 0);
    model.append(top);
    top->append(new PropertyItem("a", 1));
    top->append(new PropertyItem("b", 2));
    const QModelIndex name = model.index(1, 0, top->index());
    QCOMPARE(model.buddy(name), model.index(1, 1, top->index()));
    const QModelIndex value = model.index(1, 1, top->index());
    QCOMPARE(model.buddy(value), value);
}

QTEST_GUILESS_MAIN(tst_PropertyModel)
#include "tst_propertymodel.moc"
