// Profile::value read from 4 threads at once, against the plain lookup a
// caller would do on a const QHash shared by the same 4 threads (no lock:
// a const hash may be read concurrently). Both copy the QVariant out, as a
// caller must. Prints the median time per lookup of each and their ratio.
#include "core/messagepresenter.h"
#include "core/profile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int threadCount = 4;
constexpr int lookupsPerThread = 200000;
constexpr int repetitions = 15;

QStringList makeKeys()
{
    QStringList keys;
    for (int i = 0; i < 64; ++i)
        keys << QStringLiteral("instrument/timeout/key%1").arg(i);
    keys << "max_clot_time"
         << "PT/max_clot_time"
         << "instrument/port"
         << "hospital";
    return keys;
}

// Nanoseconds per lookup of one run: all threads start together; the wall
// time of the slowest, divided by the lookups of one thread.
double runOnce(const std::function<void(const QString&)>& lookup, const QStringList& keys)
{
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back(QThread::create([&, t] {
            ++ready;
            while (!go.load(std::memory_order_acquire))
                QThread::yieldCurrentThread();
            const int n = int(keys.size());
            for (int i = 0; i < lookupsPerThread; ++i)
                lookup(keys.at((i + t * 7) % n));
        }));
        threads.back()->start();
    }
    while (ready.load() < threadCount)
        QThread::yieldCurrentThread();
    QElapsedTimer timer;
    timer.start();
    go.store(true, std::memory_order_release);
    for (auto& t : threads)
        t->wait();
    return double(timer.nsecsElapsed()) / lookupsPerThread;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    tq::MessageRecorder boxes; // the empty databases warn; nobody answers

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const QStringList keys = makeKeys();
    QHash<QString, QVariant> plain;
    std::unique_ptr<Profile> store = std::make_unique<Profile>(QStringLiteral("profile.db"));
    for (int i = 0; i < keys.size(); ++i) {
        const QVariant v = (i % 2) ? QVariant(i * 100) : QVariant(QStringLiteral("value %1").arg(i));
        plain.insert(keys.at(i), v);
        store->setValue(keys.at(i), v, false);
    }
    const QHash<QString, QVariant>& constHash = plain;
    const Profile& constStore = *store;

    std::atomic<qint64> sink{0};
    auto viaHash = [&](const QString& key) {
        const QVariant v = constHash.value(key);
        if (!v.isValid())
            sink.fetch_add(1, std::memory_order_relaxed);
    };
    auto viaProfile = [&](const QString& key) {
        const QVariant v = constStore.value(key);
        if (!v.isValid())
            sink.fetch_add(1, std::memory_order_relaxed);
    };

    // Interleave the runs so that load on the machine hits both alike.
    std::vector<double> hashRuns, profileRuns;
    runOnce(viaHash, keys);
    runOnce(viaProfile, keys);
    for (int r = 0; r < repetitions; ++r) {
        hashRuns.push_back(runOnce(viaHash, keys));
        profileRuns.push_back(runOnce(viaProfile, keys));
    }
    const double h = median(hashRuns);
    const double p = median(profileRuns);
    std::printf("threads: %d, lookups per thread: %d, runs: %d\n", threadCount, lookupsPerThread, repetitions);
    std::printf("const QHash lookup (unguarded): %8.1f ns per lookup (median)\n", h);
    std::printf("Profile::value (read lock):     %8.1f ns per lookup (median)\n", p);
    std::printf("ratio Profile/QHash: %.2f (target <= 3)\n", p / h);
    if (sink.load() != 0)
        std::printf("unexpected misses: %lld\n", static_cast<long long>(sink.load()));

    store.reset();
    for (const char* name : {"profile.db", "data.db", "qc.db", "syslog.db"})
        QSqlDatabase::removeDatabase(QString::fromLatin1(name));
    return 0;
}
