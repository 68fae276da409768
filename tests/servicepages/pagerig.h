#pragma once

#include "rig.h"

#include "core/profile.h"

#include <QDir>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QTemporaryDir>
#include <QWidget>

#include <memory>

// What the scripted analyzer answers the service pages. A request found in
// `replies` gets that reply; one whose first two characters are in
// `codeReplies` gets that one. Completion polls (53, 54, 55 with the arm
// digit) answer "<code>01" (busy) `busyPolls` times, then "<code>00";
// `pollReply`, when set, answers every poll instead. Anything else gets its
// code followed by "00".
struct PageScript
{
    QByteArray handle(const QByteArray& request)
    {
        QMutexLocker lock(&mutex);
        if (replies.contains(request))
            return replies.value(request);
        const QByteArray code = request.left(2);
        if (codeReplies.contains(code))
            return codeReplies.value(code);
        if ((code == "53" || code == "54" || code == "55") && request.size() == 3) {
            if (pollReply)
                return *pollReply;
            if (busyLeft > 0) {
                --busyLeft;
                return code + "01";
            }
            busyLeft = busyPolls;
            return code + "00";
        }
        return code + "00";
    }
    void setBusyPolls(int n)
    {
        QMutexLocker lock(&mutex);
        busyPolls = busyLeft = n;
    }
    void setPollReply(const QByteArray& reply)
    {
        QMutexLocker lock(&mutex);
        pollReply = std::make_unique<QByteArray>(reply);
    }
    void setReply(const QByteArray& request, const QByteArray& reply)
    {
        QMutexLocker lock(&mutex);
        replies.insert(request, reply);
    }
    void setCodeReply(const QByteArray& code, const QByteArray& reply)
    {
        QMutexLocker lock(&mutex);
        codeReplies.insert(code, reply);
    }

    QMutex mutex;
    QHash<QByteArray, QByteArray> replies;
    QHash<QByteArray, QByteArray> codeReplies;
    int busyPolls = 0;
    int busyLeft = 0;
    std::unique_ptr<QByteArray> pollReply;
};

// A rig whose analyzer is a PageScript.
struct PageRig : Rig
{
    PageRig()
    {
        server.setHandler([s = script](const QByteArray& request) { return s->handle(request); });
    }
    std::shared_ptr<PageScript> script = std::make_shared<PageScript>();
};

// The named child widget of a page; a missing one ends the test program.
template<class T>
T* child(QWidget& page, const QString& name)
{
    T* w = page.findChild<T*>(name);
    if (!w)
        qFatal("no widget %s", qPrintable(name));
    return w;
}

// Every test runs in a folder of its own with a fresh settings store; the
// store's complaint about the missing tables is recorded, not shown.
inline void openSettingsInTemporaryFolder()
{
    static QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    static tq::MessageRecorder startup;
    Profile::instance();
}
