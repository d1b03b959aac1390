// QX748UI.dll called from eight threads at once, as it is in the spooler
// and in every application's print dialog: objects made and released
// through the class factory, every callback on each thread's own object
// and on one object they all share. Each thread's results must be the ones
// its calls give when made alone, and the module's counters must come out
// exact.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "tests/frame/plugin_library.h"
// After the platform headers that plugin_library.h brings in.
#include "tests/support/heap_busy.h"
#include "uiplugin/settings/private_devmode.h"

namespace {

using qxtest::PluginLibrary;

constexpr int kThreads = 8;
constexpr int kOpsPerThread = 40000;
constexpr int kWarmUpOps = 500;
constexpr DWORD kSentinel = 0xDEADBEEF;
constexpr size_t kRecord = qx::kPrivateDevModeSize;
// A leak of a few bytes per object would pass thousands of objects over this.
constexpr int64_t kHeapTolerance = 64 * 1024;

// xorshift64*: the same calls on every run.
struct Random {
    uint64_t s;
    explicit Random(uint64_t seed) : s(seed | 1) {}
    uint64_t Next() {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return s * 0x2545F4914F6CDD1Dull;
    }
    void Fill(void *p, size_t n) {
        auto *b = static_cast<unsigned char *>(p);
        for (size_t i = 0; i < n; i += 8) {
            const uint64_t v = Next();
            std::memcpy(b + i, &v, n - i < 8 ? n - i : 8);
        }
    }
};

// FNV-1a over everything a call gave back.
struct Digest {
    uint64_t h = 0xCBF29CE484222325ull;
    void Add(const void *p, size_t n) {
        for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<const unsigned char *>(p)[i]) * 0x100000001B3ull;
    }
    template <class T>
    void Of(T v) {
        Add(&v, sizeof v);
    }
};

// A driver helper as the driver UI publishes it, safe to share between
// threads. `slow` yields inside the query, as a helper behind a lock or a
// proxy may, which opens the window between the plug-in's check for a held
// helper and its store.
class Helper final : public IPrintOemDriverUI {
public:
    Helper(bool accepts, bool slow) : accepts(accepts), slow(slow) {}
    std::atomic<LONG> refs{1};
    std::atomic<LONG> queries{0};
    std::atomic<bool> called{false};  // one of its operations was called: never allowed

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        ++queries;
        if (slow) SwitchToThread();
        if (IsEqualIID(riid, IID_IUnknown) || (accepts && IsEqualIID(riid, IID_IPrintOemDriverUI))) {
            *ppv = static_cast<IPrintOemDriverUI *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID, PCSTR, PVOID, DWORD, PDWORD, PDWORD) override {
        called = true;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DrvUpgradeRegistrySetting(HANDLE, PCSTR, PCSTR) override {
        called = true;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DrvUpdateUISetting(PVOID, PVOID, DWORD, DWORD) override {
        called = true;
        return E_NOTIMPL;
    }

private:
    const bool accepts, slow;
};

enum class Kind : uint8_t { GetInfo, ColorProfile, DevMode, Publish, References, NewObject, Factory };

struct Op {
    Kind kind;
    bool shared;    // on the object all threads share, else the thread's own
    uint64_t seed;  // everything else about the call
};

std::vector<Op> Script(int thread, int count) {
    Random rnd(0x9E3779B97F4A7C15ull + 0x1000193ull * static_cast<uint64_t>(thread));
    std::vector<Op> ops;
    ops.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const uint64_t r = rnd.Next();
        const unsigned pick = static_cast<unsigned>(r % 100);
        const Kind kind = pick < 20   ? Kind::GetInfo
                          : pick < 40 ? Kind::ColorProfile
                          : pick < 70 ? Kind::DevMode
                          : pick < 78 ? Kind::Publish
                          : pick < 90 ? Kind::References
                          : pick < 95 ? Kind::NewObject
                                      : Kind::Factory;
        ops.push_back({kind, ((r >> 8) & 1) != 0, rnd.Next()});
    }
    return ops;
}

// One caller: its own plug-in object, its own helpers, its results.
struct Worker {
    Worker(PluginLibrary &lib, IPrintOemUI *shared, std::vector<Op> script)
        : lib(lib), shared(shared), script(std::move(script)) {
        results.reserve(this->script.size() + 2);
    }
    PluginLibrary &lib;
    IPrintOemUI *shared;
    std::vector<Op> script;
    int count = 0;  // how many of the script's calls to make
    IPrintOemUI *own = nullptr;
    Helper accepting{true, false}, refusing{false, false};
    uint64_t calls = 0;    // calls into the library
    uint64_t created = 0;  // plug-in objects made
    std::vector<uint64_t> results;
};

// A random private block: often ours, with a dwSize anywhere from the bare
// header up, settings in and out of range.
void RandomRecord(Random &rnd, unsigned char *in) {
    rnd.Fill(in, kRecord);
    const uint64_t pick = rnd.Next();
    auto store = [in](size_t at, uint32_t v) { std::memcpy(in + at, &v, 4); };
    if (pick % 4 != 0) store(qx::pdm::kSignature, qx::kPrivateDevModeSignature);
    switch ((pick >> 8) % 4) {
    case 0: store(qx::pdm::kSize, kRecord); break;
    case 1: store(qx::pdm::kSize, 12 + static_cast<uint32_t>((pick >> 16) % (kRecord - 12))); break;
    case 2: store(qx::pdm::kSize, 0xFFFFFFFFu); break;
    default: break;
    }
}

void GetInfoCall(Worker &w, IPrintOemUI *target, Random &rnd, Digest &d) {
    static const DWORD kModes[] = {OEMGI_GETSIGNATURE, OEMGI_GETVERSION,
                                   OEMGI_GETPUBLISHERINFO, OEMGI_GETINTERFACEVERSION,
                                   OEMGI_GETREQUESTEDHELPERINTERFACES, 0};
    const uint64_t r = rnd.Next();
    const DWORD mode = r % 8 < 6 ? kModes[r % 8] : static_cast<DWORD>(r >> 32);
    const DWORD cb = (r >> 8) % 11 == 10 ? 64 : static_cast<DWORD>((r >> 8) % 11);
    unsigned char bytes[1 + 64];  // odd offset: the host's buffer need not be aligned
    rnd.Fill(bytes, sizeof bytes);
    DWORD needed = static_cast<DWORD>(rnd.Next());
    SetLastError(kSentinel);
    const HRESULT hr = target->GetInfo(mode, (r >> 16) % 8 ? bytes + 1 : nullptr, cb, (r >> 20) % 8 ? &needed : nullptr);
    d.Of(GetLastError());
    ++w.calls;
    d.Of(hr);
    d.Of(needed);
    d.Add(bytes, sizeof bytes);
}

void ColorProfileCall(Worker &w, IPrintOemUI *target, Random &rnd, Digest &d) {
    static const DWORD kIcm[] = {DMICMMETHOD_NONE, DMICMMETHOD_SYSTEM, DMICMMETHOD_DRIVER, DMICMMETHOD_DEVICE,
                                 DMICMMETHOD_USER};
    const uint64_t r = rnd.Next();
    const ULONG mode = r % 8 < 5 ? QCP_DEVICEPROFILE : r % 8 < 7 ? QCP_SOURCEPROFILE : static_cast<ULONG>(r >> 32);
    DEVMODEW dm;
    rnd.Fill(&dm, sizeof dm);
    dm.dmICMMethod = (r >> 8) % 6 < 5 ? kIcm[(r >> 8) % 6] : static_cast<DWORD>(r >> 40);
    const bool publicDm = (r >> 12) % 8 != 0;
    unsigned char bytes[66];
    rnd.Fill(bytes, sizeof bytes);
    ULONG size = (r >> 16) % 67;
    FLONG flags = static_cast<FLONG>(rnd.Next());
    SetLastError(kSentinel);
    const HRESULT hr = target->QueryColorProfile(reinterpret_cast<HANDLE>(1), nullptr, publicDm ? &dm : nullptr,
                                                 nullptr, mode, (r >> 24) % 8 ? bytes : nullptr,
                                                 (r >> 28) % 8 ? &size : nullptr, (r >> 32) % 8 ? &flags : nullptr);
    d.Of(GetLastError());
    ++w.calls;
    d.Of(hr);
    d.Of(size);
    d.Of(flags);
    d.Add(bytes, sizeof bytes);
    d.Add(&dm, sizeof dm);
}

void DevModeCall(Worker &w, IPrintOemUI *target, Random &rnd, Digest &d) {
    static const DWORD kCodes[] = {OEMDM_SIZE, OEMDM_DEFAULT, OEMDM_CONVERT, OEMDM_MERGE, 0, 5};
    const uint64_t r = rnd.Next();
    const unsigned k = static_cast<unsigned>(r % 16);  // the four requests 12 times in 16, unknown codes the rest
    const DWORD code = k < 12 ? kCodes[k % 4] : k < 14 ? kCodes[k - 8] : static_cast<DWORD>(r >> 32);
    unsigned char in[kRecord], out[kRecord];
    RandomRecord(rnd, in);
    rnd.Fill(out, sizeof out);
    DEVMODEW pub;
    rnd.Fill(&pub, sizeof pub);
    if ((r >> 8) % 4 == 0) pub.dmDeviceName[0] = L'\\';
    OEMDMPARAM param = {};
    param.cbSize = sizeof param;
    param.pPublicDMIn = (r >> 12) % 8 ? &pub : nullptr;
    param.pPublicDMOut = &pub;
    // In and out may be the same block.
    param.pOEMDMIn = (r >> 16) % 8 == 0 ? nullptr : (r >> 16) % 8 == 1 ? static_cast<void *>(out) : in;
    param.pOEMDMOut = (r >> 20) % 8 ? out : nullptr;
    param.cbBufSize = (r >> 24) % 4 ? kRecord : static_cast<DWORD>(r >> 40);
    SetLastError(kSentinel);
    const HRESULT hr = target->DevMode(code, (r >> 28) % 16 ? &param : nullptr);
    d.Of(GetLastError());
    ++w.calls;
    d.Of(hr);
    d.Of(param.cbBufSize);
    d.Add(in, sizeof in);
    d.Add(out, sizeof out);
    d.Add(&pub, sizeof pub);
}

void PublishCall(Worker &w, IPrintOemUI *target, Random &rnd, Digest &d) {
    const uint64_t r = rnd.Next() % 3;
    IUnknown *offered = r == 0 ? static_cast<IUnknown *>(&w.accepting) : r == 1 ? &w.refusing : nullptr;
    d.Of(target->PublishDriverInterface(offered));
    ++w.calls;
    for (Helper *h : {&w.accepting, &w.refusing}) {
        d.Of(h->refs.load());
        d.Of(h->queries.load());
    }
}

// Extra references taken and given back, directly and through
// QueryInterface. On the shared object the counts depend on the other
// threads; they must stay within what eight such callers can hold.
void ReferenceCalls(Worker &w, IPrintOemUI *target, bool shared, Random &rnd, Digest &d) {
    const int extra = 1 + static_cast<int>(rnd.Next() % 3);
    const IID &iid = rnd.Next() % 2 ? IID_IUnknown : IID_IPrintOemUI;
    std::vector<ULONG> counts;
    for (int i = 0; i < extra; ++i) counts.push_back(target->AddRef());
    void *p = nullptr;
    const HRESULT hr = target->QueryInterface(iid, &p);
    d.Of(hr);
    d.Of(p == static_cast<void *>(target));
    if (SUCCEEDED(hr) && p != nullptr) counts.push_back(static_cast<IUnknown *>(p)->Release());
    for (int i = 0; i < extra; ++i) counts.push_back(target->Release());
    w.calls += static_cast<uint64_t>(2 * extra + 2);
    if (!shared) {
        d.Add(counts.data(), counts.size() * sizeof(ULONG));
        return;
    }
    const ULONG most = 1 + kThreads * 4;  // the creator's reference, four per thread at most
    bool inRange = true;
    for (ULONG c : counts) inRange = inRange && c >= 1 && c <= most;
    d.Of(inRange);
}

// A factory and an object made through it. With `replace` the thread's own
// object is released first and the new one takes its place (its helper is
// let go with it); otherwise the object lives for one call.
void NewObjectCalls(Worker &w, bool replace, Digest &d) {
    if (replace && w.own != nullptr) {
        d.Of(w.own->Release());
        ++w.calls;
        w.own = nullptr;
    }
    IClassFactory *factory = nullptr;
    d.Of(w.lib.getClassObject(CLSID_OEMUI, IID_IClassFactory, reinterpret_cast<void **>(&factory)));
    ++w.calls;
    if (factory == nullptr) return;
    IPrintOemUI *object = nullptr;
    d.Of(factory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void **>(&object)));
    d.Of(factory->Release());
    w.calls += 2;
    if (object == nullptr) return;
    ++w.created;
    d.Of(w.lib.canUnloadNow());  // S_FALSE: this thread holds a live object
    ++w.calls;
    if (replace) {
        w.own = object;
        return;
    }
    DWORD signature = 0, needed = 0;
    d.Of(object->GetInfo(OEMGI_GETSIGNATURE, &signature, sizeof signature, &needed));
    d.Of(signature);
    d.Of(object->Release());
    w.calls += 2;
}

// The factory's refusals and a lock taken and given back, while objects
// come and go on the other threads.
void FactoryCalls(Worker &w, Digest &d) {
    IClassFactory *factory = nullptr;
    d.Of(w.lib.getClassObject(CLSID_OEMUI, IID_IClassFactory, reinterpret_cast<void **>(&factory)));
    ++w.calls;
    if (factory == nullptr) return;
    void *p = nullptr;
    d.Of(factory->QueryInterface(IID_IUnknown, &p));
    d.Of(p == static_cast<void *>(factory));
    if (p != nullptr) d.Of(static_cast<IUnknown *>(p)->Release());
    d.Of(factory->LockServer(TRUE));
    p = &w;
    d.Of(factory->CreateInstance(&w.refusing, IID_IPrintOemUI, &p));  // aggregation is refused
    d.Of(p == static_cast<void *>(&w));
    d.Of(factory->CreateInstance(nullptr, IID_IClassFactory, &p));  // made and destroyed again
    d.Of(p);
    d.Of(factory->LockServer(FALSE));
    d.Of(w.lib.canUnloadNow());
    d.Of(factory->Release());
    w.calls += 8;
}

uint64_t Run(Worker &w, const Op &op) {
    Random rnd(op.seed);
    Digest d;
    d.Of(op.kind);
    IPrintOemUI *target = op.shared ? w.shared : w.own;
    if (target == nullptr) {  // an earlier creation failed; that result already differs
        d.Of(0xBADu);
        return d.h;
    }
    switch (op.kind) {
    case Kind::GetInfo: GetInfoCall(w, target, rnd, d); break;
    case Kind::ColorProfile: ColorProfileCall(w, target, rnd, d); break;
    case Kind::DevMode: DevModeCall(w, target, rnd, d); break;
    case Kind::Publish: PublishCall(w, target, rnd, d); break;
    case Kind::References: ReferenceCalls(w, target, op.shared, rnd, d); break;
    case Kind::NewObject: NewObjectCalls(w, !op.shared, d); break;
    case Kind::Factory: FactoryCalls(w, d); break;
    }
    return d.h;
}

// Callers inside the library at this moment, and the most there were: the
// figure that shows the calls really overlapped.
std::atomic<int> inside{0}, mostInside{0};

uint64_t RunCounted(Worker &w, const Op &op) {
    const int now = ++inside;
    for (int most = mostInside.load(); now > most && !mostInside.compare_exchange_weak(most, now);) {
    }
    const uint64_t result = Run(w, op);
    --inside;
    return result;
}

// A whole script on one thread: a new object of its own, the calls, the
// object released and the helpers it held given back.
void RunScript(Worker &w) {
    Digest d;
    w.own = w.lib.CreatePlugin();
    w.calls += 3;  // DllGetClassObject, CreateInstance, the factory's Release
    if (w.own != nullptr) ++w.created;
    d.Of(w.own != nullptr);
    w.results.push_back(d.h);
    for (int i = 0; i < w.count; ++i) w.results.push_back(RunCounted(w, w.script[static_cast<size_t>(i)]));
    Digest end;
    if (w.own != nullptr) {
        end.Of(w.own->Release());
        ++w.calls;
        w.own = nullptr;
    }
    for (Helper *h : {&w.accepting, &w.refusing}) {
        end.Of(h->refs.load());
        end.Of(h->called.load());
    }
    w.results.push_back(end.h);
}

struct Gate {
    HANDLE open = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // manual reset: lets every thread through
    ~Gate() { CloseHandle(open); }
};

template <class T>
struct ThreadArgs {
    HANDLE gate;
    void (*body)(T *);
    T *context;
    static DWORD WINAPI Main(LPVOID p) {
        auto *args = static_cast<ThreadArgs *>(p);
        WaitForSingleObject(args->gate, INFINITE);
        args->body(args->context);
        return 0;
    }
};

// Runs body(contexts[i]) on one thread each, all let go at the same moment.
template <class T>
bool RunTogether(const std::vector<T *> &contexts, void (*body)(T *)) {
    Gate gate;
    std::vector<ThreadArgs<T>> args;
    for (T *c : contexts) args.push_back({gate.open, body, c});
    std::vector<HANDLE> threads;
    for (ThreadArgs<T> &a : args) {
        HANDLE t = CreateThread(nullptr, 0, ThreadArgs<T>::Main, &a, 0, nullptr);
        if (t == nullptr) break;
        threads.push_back(t);
    }
    SetEvent(gate.open);
    if (!threads.empty())
        WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
    for (HANDLE t : threads) CloseHandle(t);
    return threads.size() == contexts.size();
}

// The value of a new kernel handle (Wine's server hands out the lowest free
// slot, so leaked handles push it up; Wine keeps no handle count) and the
// busy bytes of every heap.
struct Figures {
    uintptr_t nextHandle;
    int64_t heapBusy;
};

Figures Measure() {
    Figures f{};
    f.nextHandle = qxtest::NextKernelHandle();
    f.heapBusy = qxtest::HeapBusyBytes();
    return f;
}

class PluginThreads : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib.loaded()) << "cannot load " << QX748UI_PATH << " (error " << GetLastError() << ")";
        ASSERT_EQ(S_OK, lib.canUnloadNow()) << "an earlier test left objects or locks behind";
    }
    void TearDown() override { EXPECT_EQ(S_OK, lib.canUnloadNow()) << "objects or locks left behind"; }
    PluginLibrary &lib = PluginLibrary::Get();
};

// Compares each thread's results with the single-threaded ones.
void ExpectSameResults(const std::vector<std::unique_ptr<Worker>> &alone,
                       const std::vector<std::unique_ptr<Worker>> &together, const char *round) {
    static const char *const kNames[] = {"GetInfo",           "QueryColorProfile", "DevMode",      "PublishDriverInterface",
                                         "AddRef/Release",    "new object",        "class factory"};
    for (size_t t = 0; t < together.size(); ++t) {
        const Worker &a = *alone[t], &b = *together[t];
        ASSERT_EQ(a.results.size(), b.results.size()) << round << ", thread " << t;
        size_t differ = 0, first = 0;
        for (size_t i = 0; i < b.results.size(); ++i)
            if (a.results[i] != b.results[i] && differ++ == 0) first = i;
        if (differ == 0) continue;
        // Index 0 is the object's creation, the last one its release.
        const char *what = first == 0                     ? "the first object"
                           : first == b.results.size() - 1 ? "the last release and the helpers' counts"
                                                            : kNames[static_cast<int>(b.script[first - 1].kind)];
        ADD_FAILURE() << round << ", thread " << t << ": " << differ << " of " << b.results.size()
                      << " results differ from the single-threaded run, first at call " << first << " (" << what
                      << (first > 0 && first < b.results.size() - 1 && b.script[first - 1].shared ? ", shared object"
                                                                                                   : "")
                      << ")";
    }
}

TEST_F(PluginThreads, EightCallersGetTheSingleThreadedResults) {
    // The shared object holds its helper from the start, so every thread's
    // publish on it answers alike whatever the order.
    Helper sharedHelper(true, false);
    IPrintOemUI *shared = lib.CreatePlugin();
    ASSERT_NE(nullptr, shared);
    ASSERT_EQ(S_OK, shared->PublishDriverInterface(&sharedHelper));

    auto makeWorkers = [&](int count) {
        std::vector<std::unique_ptr<Worker>> workers;
        for (int t = 0; t < kThreads; ++t) {
            workers.push_back(std::make_unique<Worker>(lib, shared, Script(t, count)));
            workers.back()->count = count;
        }
        return workers;
    };
    auto pointers = [](std::vector<std::unique_ptr<Worker>> &workers) {
        std::vector<Worker *> p;
        for (auto &w : workers) p.push_back(w.get());
        return p;
    };

    // What each thread's calls give when it runs alone.
    auto alone = makeWorkers(kOpsPerThread);
    for (auto &w : alone) RunScript(*w);
    auto warmAlone = makeWorkers(kWarmUpOps);
    for (auto &w : warmAlone) RunScript(*w);

    // A short round first: the first threads set up lasting state of the
    // runtime's and Wine's own; only what grows after it counts.
    auto warm = makeWorkers(kWarmUpOps);
    ASSERT_TRUE(RunTogether(pointers(warm), +[](Worker *w) { RunScript(*w); }));
    ExpectSameResults(warmAlone, warm, "warm-up");

    auto together = makeWorkers(kOpsPerThread);
    mostInside = 0;
    const Figures before = Measure();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(RunTogether(pointers(together), +[](Worker *w) { RunScript(*w); }));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const Figures after = Measure();

    ExpectSameResults(alone, together, "eight threads");
    uint64_t calls = 0, created = 0;
    for (auto &w : together) {
        calls += w->calls;
        created += w->created;
    }
    std::printf("%d threads: %llu calls into the library, %llu plug-in objects created, in %.2f s; "
                "up to %d threads inside the library at once\n",
                kThreads, static_cast<unsigned long long>(calls), static_cast<unsigned long long>(created), seconds,
                mostInside.load());
    std::printf("next handle %#llx -> %#llx, heap busy bytes %lld -> %lld\n",
                static_cast<unsigned long long>(before.nextHandle), static_cast<unsigned long long>(after.nextHandle),
                static_cast<long long>(before.heapBusy), static_cast<long long>(after.heapBusy));
    EXPECT_EQ(before.nextHandle, after.nextHandle) << "kernel handles left open";
    ASSERT_GE(before.heapBusy, 0) << "the process heaps cannot be walked";
    EXPECT_LE(after.heapBusy - before.heapBusy, kHeapTolerance);

    EXPECT_EQ(S_FALSE, lib.canUnloadNow()) << "the shared object is still alive";
    EXPECT_EQ(2, sharedHelper.refs.load()) << "the shared object holds its one helper";
    EXPECT_EQ(0u, shared->Release()) << "references taken by the threads were all given back";
    EXPECT_EQ(1, sharedHelper.refs.load());
    EXPECT_FALSE(sharedHelper.called.load());
    EXPECT_EQ(S_OK, lib.canUnloadNow()) << "nothing is alive";
}

// Several callers publish their helpers on one new object at the same
// moment: the object keeps exactly one of them, and gives every other
// reference it took back at once, and the kept one when it dies.
TEST_F(PluginThreads, ConcurrentPublishKeepsOneHelper) {
    constexpr int kRounds = 200;
    struct Caller {
        IPrintOemUI *object = nullptr;
        std::unique_ptr<Helper> helper;
        HRESULT hr = E_UNEXPECTED;
    };
    int held2 = 0, leaked = 0, failed = 0;
    for (int round = 0; round < kRounds; ++round) {
        IPrintOemUI *object = lib.CreatePlugin();
        ASSERT_NE(nullptr, object);
        std::vector<Caller> callers(kThreads);
        std::vector<Caller *> p;
        for (Caller &c : callers) {
            c.object = object;
            c.helper = std::make_unique<Helper>(true, true);
            p.push_back(&c);
        }
        ASSERT_TRUE(RunTogether(p, +[](Caller *c) { c->hr = c->object->PublishDriverInterface(c->helper.get()); }));
        LONG held = 0;
        for (Caller &c : callers) {
            failed += c.hr != S_OK;
            held += c.helper->refs.load() - 1;
        }
        held2 += held != 1;
        EXPECT_EQ(0u, object->Release());
        for (Caller &c : callers) leaked += c.helper->refs.load() != 1;
    }
    EXPECT_EQ(0, failed) << "publish calls that did not answer S_OK";
    EXPECT_EQ(0, held2) << "rounds (of " << kRounds << ") where the object held other than one helper";
    EXPECT_EQ(0, leaked) << "helpers still referenced after their object died";
}

// Server locks taken and given back by eight threads at once, ending with
// one outstanding per thread: the library stays until the last is given
// back, and not a call longer.
TEST_F(PluginThreads, LockServerCountsExactly) {
    constexpr int kPairs = 20000;
    struct Locker {
        PluginLibrary *lib;
        HRESULT hr = S_OK;
        void Lock(BOOL lock) {
            IClassFactory *factory = nullptr;
            hr = lib->getClassObject(CLSID_OEMUI, IID_IClassFactory, reinterpret_cast<void **>(&factory));
            if (factory == nullptr) return;
            if (lock) {
                for (int i = 0; i < kPairs; ++i) {
                    factory->LockServer(TRUE);
                    factory->LockServer(TRUE);
                    factory->LockServer(FALSE);
                    factory->LockServer(FALSE);
                }
                factory->LockServer(TRUE);  // outlives the factory
            } else {
                factory->LockServer(FALSE);
            }
            factory->Release();
        }
    };
    std::vector<Locker> lockers(kThreads, Locker{&lib});
    std::vector<Locker *> all, firstSix;
    for (Locker &l : lockers) all.push_back(&l);
    firstSix.assign(all.begin(), all.begin() + kThreads - 2);

    ASSERT_TRUE(RunTogether(all, +[](Locker *l) { l->Lock(TRUE); }));
    EXPECT_EQ(S_FALSE, lib.canUnloadNow()) << "eight locks outstanding";
    ASSERT_TRUE(RunTogether(firstSix, +[](Locker *l) { l->Lock(FALSE); }));
    EXPECT_EQ(S_FALSE, lib.canUnloadNow()) << "two locks outstanding";
    ASSERT_TRUE(RunTogether(std::vector<Locker *>{all[kThreads - 2]}, +[](Locker *l) { l->Lock(FALSE); }));
    EXPECT_EQ(S_FALSE, lib.canUnloadNow()) << "one lock outstanding";
    ASSERT_TRUE(RunTogether(std::vector<Locker *>{all[kThreads - 1]}, +[](Locker *l) { l->Lock(FALSE); }));
    EXPECT_EQ(S_OK, lib.canUnloadNow()) << "every lock given back";
    for (const Locker &l : lockers) EXPECT_EQ(S_OK, l.hr);
    std::printf("%d threads: %d LockServer calls, one outstanding per thread, then given back\n", kThreads,
                kThreads * (4 * kPairs + 2));
}

}  // namespace
