// Figures for the result and curve value types:
//  1. ClotCurve::fromBuffer of a 1200-point curve against a plain QDataStream
//     decode of the same bytes (target: at most twice as slow);
//  2. heap allocations made by copying, assigning and destroying
//     AnalysisResult values (target: none).
// Exits 1 when a copy allocates; the timing ratio is reported only, as it
// depends on the load of the machine.
#include "core/analysisresult.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

// ---- allocation counting --------------------------------------------------
// operator new is replaced, and malloc/calloc/realloc are interposed as well
// (Qt's containers and strings allocate with malloc, not with new).

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
}

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

inline void count()
{
    if (g_counting.load(std::memory_order_relaxed))
        g_allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

extern "C" void* malloc(size_t n)
{
    count();
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t m)
{
    count();
    return __libc_calloc(n, m);
}
extern "C" void* realloc(void* p, size_t n)
{
    count();
    return __libc_realloc(p, n);
}
extern "C" void free(void* p)
{
    __libc_free(p);
}

void* operator new(size_t n)
{
    count();
    if (void* p = __libc_malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n)
{
    return operator new(n);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept
{
    count();
    return __libc_malloc(n ? n : 1);
}
void* operator new[](size_t n, const std::nothrow_t& t) noexcept
{
    return operator new(n, t);
}
void operator delete(void* p) noexcept
{
    __libc_free(p);
}
void operator delete[](void* p) noexcept
{
    __libc_free(p);
}
void operator delete(void* p, size_t) noexcept
{
    __libc_free(p);
}
void operator delete[](void* p, size_t) noexcept
{
    __libc_free(p);
}

namespace {

class AllocationCounter
{
public:
    AllocationCounter()
    {
        g_allocations = 0;
        g_counting = true;
    }
    long stop()
    {
        g_counting = false;
        return g_allocations.load();
    }
};

// ---- decode timing --------------------------------------------------------

using Clock = std::chrono::steady_clock;

QByteArray curveBuffer(int points)
{
    QVector<double> values;
    values.reserve(points);
    for (int k = 0; k < points; ++k)
        values << 1000.0 - 0.37 * k;
    ClotCurve c;
    c.append(0.0, 0.1, values);
    return c.toBuffer();
}

// The same bytes read with the stream reader, field by field.
double streamDecode(const QByteArray& buffer)
{
    QDataStream in(buffer);
    in.setVersion(QDataStream::Qt_4_8);
    qint32 type = 0;
    quint32 segments = 0;
    in >> type >> segments;
    double sum = 0.0;
    for (quint32 s = 0; s < segments; ++s) {
        double start = 0.0, interval = 0.0;
        in >> start >> interval;
        QVector<double> values;
        in >> values;
        sum += values.isEmpty() ? start : values.last() + interval;
    }
    return sum;
}

double curveDecode(const QByteArray& buffer)
{
    const ClotCurve c = ClotCurve::fromBuffer(buffer);
    const int n = c.size();
    return n ? c.y(n - 1) + c.x(0) + 0.1 : 0.0;
}

template <typename F>
double nanosPerCall(F f, const QByteArray& buffer, int calls, volatile double* sink)
{
    const auto t0 = Clock::now();
    for (int i = 0; i < calls; ++i)
        *sink = *sink + f(buffer);
    const auto t1 = Clock::now();
    return std::chrono::duration<double, std::nano>(t1 - t0).count() / calls;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main()
{
    int failures = 0;

    // 1. Decode of a 1200-point curve: both decoders alternate, so a change
    //    in machine load hits both alike.
    const QByteArray buffer = curveBuffer(1200);
    volatile double sink = 0.0;
    if (curveDecode(buffer) != streamDecode(buffer)) {
        std::printf("decoders disagree\n");
        return 1;
    }
    const int calls = 2000;
    std::vector<double> ours, stream;
    for (int rep = 0; rep < 15; ++rep) {
        ours.push_back(nanosPerCall(curveDecode, buffer, calls, &sink));
        stream.push_back(nanosPerCall(streamDecode, buffer, calls, &sink));
    }
    const double a = median(ours);
    const double b = median(stream);
    std::printf("decode of a 1200-point curve (%lld bytes), median of 15 x %d calls:\n",
                static_cast<long long>(buffer.size()), calls);
    std::printf("  ClotCurve::fromBuffer   %9.0f ns\n", a);
    std::printf("  QDataStream field read  %9.0f ns\n", b);
    std::printf("  ratio                   %9.2f x  (target <= 2.00 x) %s\n", a / b,
                a / b <= 2.0 ? "ok" : "ABOVE TARGET");

    // 2. Allocations.
    AnalysisResult full(12.5);
    full.setErrorText(QStringLiteral("note"));
    full.setValue(12.5);
    full.setFlags(tq::Diluted);
    full.setCurve(ClotCurve::fromBuffer(buffer));
    const AnalysisResult empty;

    struct Row
    {
        const char* what;
        long allocations;
        long expected;
    };
    std::vector<Row> rows;
    rows.reserve(8);
    {
        AllocationCounter c;
        for (int i = 0; i < 1000; ++i) {
            AnalysisResult copy(full);
            AnalysisResult other;
            other = copy;
            AnalysisResult third = other;
            third = empty;
        }
        rows.push_back({"1000 x copy, assign, destroy a full result", c.stop(), 0});
    }
    {
        AllocationCounter c;
        for (int i = 0; i < 1000; ++i) {
            AnalysisResult r;
            AnalysisResult s(r);
            s = empty;
        }
        rows.push_back({"1000 x build and copy the empty result", c.stop(), 0});
    }
    {
        std::vector<AnalysisResult> list(100, full);
        AllocationCounter c;
        double sum = 0.0;
        for (const AnalysisResult& r : list)
            sum += r.value() + r.od() + r.flags() + r.curve().size();
        sink = sink + sum;
        rows.push_back({"read accessors (curve included) on 100 results", c.stop(), 0});
    }
    {
        AnalysisResult own(12.5);
        AllocationCounter c;
        for (int i = 0; i < 1000; ++i) {
            own.setCh(i);
            own.setOD(0.5);
        }
        rows.push_back({"1000 x write an unshared result", c.stop(), 0});
    }
    {
        AllocationCounter c;
        AnalysisResult copy(full);
        copy.setCh(2);
        rows.push_back({"write a shared result (detach, informative)", c.stop(), 1});
    }

    std::printf("allocations (operator new and malloc):\n");
    for (const Row& r : rows) {
        const bool ok = r.allocations == r.expected;
        std::printf("  %-48s %6ld  %s\n", r.what, r.allocations, ok ? "ok" : "UNEXPECTED");
        if (!ok && r.expected == 0)
            ++failures;
    }
    return failures ? 1 : 0;
}
