// The instrument command set: placing and releasing tests, the reagent
// table, the module sequence.
#include "instrvela.h"

#include "commandcodec.h"
#include "linktrace.h"
#include "replyerror.h"
#include "replyparser.h"
#include "velaprotocol.h"

#include "core/tqglobal.h"

#include <tqcore/assay.h>
#include <tqcore/resource.h>
#include <tqcore/workbench.h>

#include <QDeadlineTimer>
#include <QMap>

namespace {
// waitModuleIdle gives up after this many replies in a row that are empty
// (the link is closed) or error replies ("Err:", "55XX").
const int MaxLinkFailures = 5;
const int DefaultModuleWait = 120000;
} // namespace

int InstrVela::moduleWaitTimeout()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("VELA_MODULE_WAIT_MS", &ok);
    return ok && ms > 0 ? ms : DefaultModuleWait;
}

QList<QPair<QString, QList<Resource*>>> InstrVela::reagentGroups() const
{
    QList<QPair<QString, QList<Resource*>>> groups;
    ResourceManager* rm = workbench() ? workbench()->resourceManager() : nullptr;
    if (!rm)
        return groups;
    QMap<QString, QList<Resource*>> byName; // ascending, case-sensitive
    for (ResourcePosition* position : rm->positions()) {
        Resource* resource = position ? position->resource() : nullptr;
        if (resource && resource->isIncluded())
            byName[resource->name()].append(resource);
    }
    for (auto it = byName.cbegin(); it != byName.cend(); ++it)
        groups.append(qMakePair(it.key(), it.value()));
    return groups;
}

// 77: item code, then per bottle its position code and fill level (2 hex):
// "77PTR17FR2FF" is reagent PT in R1 at half and in R2 full.
bool InstrVela::sendReagentTable()
{
    for (const auto& group : reagentGroups()) {
        QList<VelaProtocol::ReagentBottle> bottles;
        for (Resource* resource : group.second)
            bottles.append({resource->position()->name(), resource->volumePercent()});
        qDebug().noquote() << "reagent table:"
                           << QString::fromLatin1(VelaProtocol::reagentTableText(group.first, bottles));
        // The reply is not examined, but none at all means the analyzer
        // never got the table.
        if (m_protocol.sendReagentTable(group.first, bottles).isEmpty()) {
            setLastError(tr("与仪器的连接已断开"));
            return false;
        }
    }
    return true;
}

// 78 <item code>: two characters, then per bottle its position code (2) and
// fill level (2 hex).
void InstrVela::readReagentVolumes()
{
    ResourceManager* rm = workbench() ? workbench()->resourceManager() : nullptr;
    if (!rm)
        return;
    for (const auto& group : reagentGroups()) {
        const QByteArray reply = m_protocol.readReagentVolumes(group.first);
        if (isErrorReply(reply))
            continue;
        QList<QByteArray> badGroups;
        const QList<ReplyParser::ReagentVolume> volumes = ReplyParser::parseReagentVolumes(reply, &badGroups);
        for (const QByteArray& bad : std::as_const(badGroups))
            qCWarning(lcLink).noquote() << "fill level is no number:" << escapeBytes(bad);
        for (const ReplyParser::ReagentVolume& bottle : volumes) {
            const QString name = positionName(bottle.positionCode);
            ResourcePosition* position = rm->position(name);
            if (!position) {
                qDebug().noquote() << "不存在位置" << name << QString::fromLatin1(bottle.positionCode);
                continue;
            }
            Resource* resource = position->resource();
            if (resource && resource->name() == group.first)
                resource->setVolumePercent(bottle.volume);
        }
    }
}

void InstrVela::runModuleSequence()
{
    WaitCursor cursor; // shown in the GUI thread only
    try {
        m_protocol.moduleAction(0x13);
        m_protocol.moduleAction(0x23);
        if (waitModuleIdle(2)) {
            m_protocol.moduleAction(0x24);
            waitModuleIdle(2);
            waitModuleIdle(1);
        }
    } catch (const ReplyError&) {
        // An error reply ends the sequence; the last error holds it.
    }
}

// 55 <module>: "5500" idle; otherwise the module's pending codes as groups
// of four hex digits from character 4 on.
bool InstrVela::waitModuleIdle(int module)
{
    const QDeadlineTimer deadline(moduleWaitTimeout());
    int linkFailures = 0;
    for (;;) {
        const QByteArray reply = m_protocol.moduleState(module);
        const ReplyParser::ModuleStateReply state = ReplyParser::parseModuleStateReply(reply);
        if (state.idle)
            return true;
        if (reply.isEmpty() || isErrorReply(reply)) {
            if (++linkFailures >= MaxLinkFailures) {
                if (reply.isEmpty())
                    setLastError(tr("与仪器的连接已断开"));
                qCWarning(lcLink) << "module" << module << "wait given up: no answer";
                return false;
            }
        } else {
            linkFailures = 0;
            for (int code : state.codes) {
                if (setStatusCode(code, 1, QString()) > 1)
                    return false;
            }
        }
        if (deadline.hasExpired()) {
            qCWarning(lcLink) << "module" << module << "not idle within" << moduleWaitTimeout() << "ms";
            return false;
        }
        ::sleep(100);
    }
}
