// Command ring and worker threads of Vexa. The program thread copies every primitive, with
// the draw state in force, into a pre-allocated ring; VEXA_THREADS workers read the ring in
// submission order, each drawing only its own interleaved bands of 16 rows, so every pixel
// is written by exactly one thread in the order the program drew: the picture is the same
// for any thread count. Ring space is reused once every worker has read it; vxFinish waits
// until every worker has drawn everything handed in.
#include "vexa/vx_local.h"

#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "vexa/vx_system.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VX_PAUSE() _mm_pause()
#else
#define VX_PAUSE() ((void)0)
#endif

namespace {

// Idle workers spin briefly before sleeping, for the next batch of commands; the program
// thread spins less, as on a busy machine its spinning takes time from the workers. After
// the first few rounds a spinning worker yields its core instead of pausing: with more
// threads than cores (the program's and one worker per core), the thread it would keep off
// the core is often the program thread it is waiting for.
constexpr int SPIN_ROUNDS = 1000;
constexpr int SPIN_PAUSES = 20;
constexpr int PRODUCER_SPIN_ROUNDS = 100;
// A worker publishes its read position at least this often within a run of commands (and
// always at the end of what was handed to it).
constexpr std::uint64_t REPORT_BYTES = 16384;

std::atomic<std::uint32_t> wakeSeq;

std::uint64_t nowNs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// Points the worker's batch at the buffers, which may have changed since its last batch.
void beginCommands(VxWorker& w) {
    VxBatch& b = w.batch;
    b.color = vexaDevice.colorBuffers[w.target];
    b.depth = vexaDevice.depthBuffer;
    b.pitch = vexaDevice.width;
    b.fogFine = w.fogFine;
}

const VxCommand* commandAt(std::uint64_t pos) {
    return reinterpret_cast<const VxCommand*>(vexaDevice.ring + (pos & (VX_RING_BYTES - 1)));
}

void execute(VxWorker& w, const VxCommand* c) {
    switch (c->type) {
    case VX_CMD_STATE:
        vxFlushBatch(w);  // batched pixels are drawn with the state they were covered under
        std::memcpy(&w.state, c + 1, sizeof(VxDrawState));
        break;
    case VX_CMD_FOG:
        vxFlushBatch(w);
        std::memcpy(w.fogFine, c + 1, VX_FOG_FINE_ENTRIES);
        break;
    case VX_CMD_PRIMS:
        vxRunPrims(w, reinterpret_cast<const VxPrimCommand*>(c));
        break;
    case VX_CMD_LINE:
        vxRunLine(w, reinterpret_cast<const VxPrimCommand*>(c));
        break;
    case VX_CMD_CLEAR:
        vxFlushBatch(w);
        vxRunClear(w, reinterpret_cast<const VxClearCommand*>(c));
        break;
    case VX_CMD_TARGET:
        vxFlushBatch(w);  // batched pixels belong to the frame before
        w.target = reinterpret_cast<const VxTargetCommand*>(c)->buffer;
        beginCommands(w);
        break;
    default:
        break;
    }
}

// True once per wait when the program thread waits for this worker and `pos` reaches the
// target in `target`: the target is taken, so the reports that follow wake nobody again.
bool producerWaitsFor(VxWorker& w, std::uint64_t pos, std::atomic<std::uint64_t>& target) {
    VxDevice& d = vexaDevice;
    if (d.producerWaiting.load() == 0 || d.producerWorker.load() != w.index) return false;
    std::uint64_t t = target.load();
    return pos >= t && target.compare_exchange_strong(t, ~std::uint64_t(0));
}

// Publishes how far the worker has read, or drawn (drawn implies read).
void wakeProducer(VxWorker& w) {
    w.progress.fetch_add(1);
    vxWakeAll(w.progress);
}

void reportRead(VxWorker& w, std::uint64_t pos) {
    w.readPos.store(pos);
    if (producerWaitsFor(w, pos, vexaDevice.producerTarget)) wakeProducer(w);
}

void reportDone(VxWorker& w, std::uint64_t pos) {
    w.donePos.store(pos);
    w.readPos.store(pos);
    if (producerWaitsFor(w, pos, vexaDevice.producerDoneTarget)) wakeProducer(w);
    if (producerWaitsFor(w, pos, vexaDevice.producerTarget)) wakeProducer(w);
}

// Runs the commands from pos up to pub, publishing the read position as it goes, then
// draws what is batched and reports everything done. A frame's end (the switch of target,
// which draws what is batched) is reported done at once: the program thread waits for a
// frame before it shows it, and must not wait on until the worker has also drawn the
// commands of the next frame, handed in meanwhile, while the other worker idles.
void runCommands(VxWorker& w, std::uint64_t& pos, std::uint64_t pub) {
    VxDevice& d = vexaDevice;
    const bool timed = d.timing.load(std::memory_order_relaxed);
    const std::uint64_t start = timed ? nowNs() : 0;
    std::uint64_t reported = pos;
    beginCommands(w);
    while (pos != pub) {
        const VxCommand* c = commandAt(pos);
        if (c->type == VX_CMD_WRAP) {
            pos += VX_RING_BYTES - (pos & (VX_RING_BYTES - 1));
        } else {
            execute(w, c);
            pos += c->bytes;
            if (c->type == VX_CMD_TARGET) {
                reportDone(w, pos);
                reported = pos;
                continue;
            }
        }
        // A finished command leaves nothing in the ring the worker still needs (pixels
        // in the batch are interpolated or carry copies of their planes), so the read
        // position moves on even with a batch pending. It is published every
        // REPORT_BYTES, and as soon as it reaches what a waiting program thread needs: a
        // store per small command costs more than its triangles, and every store would
        // wake the waiting thread.
        if (pos - reported >= REPORT_BYTES ||
            (d.producerWaiting.load(std::memory_order_relaxed) > 0 &&
             pos >= d.producerTarget.load(std::memory_order_relaxed))) {
            reportRead(w, pos);
            reported = pos;
        }
    }
    vxFlushBatch(w);
    if (timed) w.busyNs.fetch_add(nowNs() - start, std::memory_order_relaxed);
    reportDone(w, pos);
}

void workerMain(VxWorker* worker) {
    VxDevice& d = vexaDevice;
    VxWorker& w = *worker;
    std::uint64_t pos = w.readPos.load();
    for (;;) {
        std::uint64_t pub = d.publishedPos.load(std::memory_order_acquire);
        if (pos == pub) {
            int spin = 0;
            while (spin < SPIN_ROUNDS && d.publishedPos.load(std::memory_order_acquire) == pos &&
                   !d.quit.load(std::memory_order_relaxed)) {
                if (spin < SPIN_PAUSES) {
                    VX_PAUSE();
                } else {
                    std::this_thread::yield();
                }
                ++spin;
            }
            if (spin == SPIN_ROUNDS) {
                d.sleepers.fetch_add(1);
                const std::uint32_t seq = wakeSeq.load();
                if (d.publishedPos.load() == pos && !d.quit.load()) vxWaitWhileEqual(wakeSeq, seq);
                d.sleepers.fetch_sub(1);
            }
            if (d.quit.load() && d.publishedPos.load() == pos) return;
            continue;
        }
        runCommands(w, pos, pub);
    }
}

void publish() {
    VxDevice& d = vexaDevice;
    if (d.published == d.writePos) return;
    d.published = d.writePos;
    d.publishedPos.store(d.writePos);
    if (d.drawInline) {
        // The program's thread is the one worker: everything handed in is drawn now.
        VxWorker& w = *d.workers[0];
        std::uint64_t pos = w.readPos.load();
        runCommands(w, pos, d.published);
        return;
    }
    if (d.sleepers.load() > 0) {
        wakeSeq.fetch_add(1);
        vxWakeAll(wakeSeq);
    }
}

// Waits until every worker has read (or, with `drawn`, drawn) everything before `pos`.
void waitForWorkers(std::uint64_t pos, bool drawn) {
    VxDevice& d = vexaDevice;
    const bool timed = d.timing.load(std::memory_order_relaxed);
    const std::uint64_t start = timed ? nowNs() : 0;
    for (int i = 0; i < d.threadCount; ++i) {
        VxWorker* w = d.workers[i];
        if (!w) continue;
        std::atomic<std::uint64_t>& at = drawn ? w->donePos : w->readPos;
        std::uint64_t r = at.load();
        if (r >= pos) continue;
        for (int spin = 0; spin < PRODUCER_SPIN_ROUNDS && r < pos; ++spin) {
            VX_PAUSE();
            r = at.load();
        }
        d.producerWorker.store(i);
        d.producerTarget.store(drawn ? ~std::uint64_t(0) : pos);
        d.producerDoneTarget.store(drawn ? pos : ~std::uint64_t(0));
        d.producerWaiting.fetch_add(1);
        // The worker bumps its progress word when it reaches the target: a change between the
        // load and the wait makes the wait return at once, so no wake-up is lost.
        for (;;) {
            const std::uint32_t seen = w->progress.load();
            if (at.load() >= pos) break;
            vxWaitWhileEqual(w->progress, seen);
        }
        d.producerWaiting.fetch_sub(1);
    }
    if (timed) d.waitNs += nowNs() - start;
}

}  // namespace

void vxStartWorkers() {
    VxDevice& d = vexaDevice;
    d.quit.store(false);
    d.sleepers.store(0);
    d.producerWaiting.store(0);
    for (int i = 0; i < VX_MAX_THREADS; ++i) d.workers[i] = nullptr;
    for (int i = 0; i < d.threadCount; ++i) {
        VxWorker* w = new VxWorker();
        w->index = i;
        w->target = d.back;
        w->readPos.store(d.writePos);
        w->donePos.store(d.writePos);
        w->epoch = 1;
        for (int band = 0; band < VX_BAND_TABLE; ++band) {
            w->nextBand[band] = band + (i - band % d.threadCount + d.threadCount) % d.threadCount;
        }
        std::memset(w->fogFine, 0, sizeof w->fogFine);
        d.workers[i] = w;
    }
    if (d.drawInline) return;
    for (int i = 0; i < d.threadCount; ++i) d.workers[i]->thread = std::thread(workerMain, d.workers[i]);
}

void vxStopWorkers() {
    VxDevice& d = vexaDevice;
    vxFinish();
    d.quit.store(true);
    wakeSeq.fetch_add(1);
    vxWakeAll(wakeSeq);
    for (int i = 0; i < d.threadCount; ++i) {
        if (!d.workers[i]) continue;
        if (d.workers[i]->thread.joinable()) d.workers[i]->thread.join();
        delete d.workers[i];
        d.workers[i] = nullptr;
    }
}

void* vxQueueReserve(std::uint32_t bytes) {
    VxDevice& d = vexaDevice;
    const std::uint32_t off = std::uint32_t(d.writePos & (VX_RING_BYTES - 1));
    std::uint32_t skip = off + bytes > VX_RING_BYTES ? VX_RING_BYTES - off : 0;
    const std::uint64_t end = d.writePos + skip + bytes;
    if (end > d.writableEnd) {
        // The slowest worker must have read past what this command will overwrite. What
        // it has read stays free: the workers' positions are read again only past that.
        std::uint64_t slowest = d.writePos;  // no worker is past what was written
        for (int i = 0; i < d.threadCount; ++i) {
            if (!d.workers[i]) continue;
            const std::uint64_t r = d.workers[i]->readPos.load();
            slowest = r < slowest ? r : slowest;
        }
        if (slowest + VX_RING_BYTES < end) {
            // Wait for a quarter of the ring at once, not for every command.
            publish();
            const std::uint64_t target = end - VX_RING_BYTES + VX_RING_BYTES / 4;
            waitForWorkers(target, false);
            slowest = target;
        }
        d.writableEnd = slowest + VX_RING_BYTES;
    }
    if (skip) {
        auto* wrap = reinterpret_cast<VxCommand*>(d.ring + off);
        wrap->type = VX_CMD_WRAP;
        wrap->bytes = skip;
        d.writePos += skip;
    }
    return d.ring + (d.writePos & (VX_RING_BYTES - 1));
}

void vxQueuePublish() { publish(); }

void vxQueueStateChanges() {
    VxDevice& d = vexaDevice;
    if (d.stateDirty) {
        vxDeriveDrawState(&d.drawState);
        d.fetchLayout = vxMakeFetchLayout();
        constexpr std::uint32_t bytes = (sizeof(VxCommand) + sizeof(VxDrawState) + 7u) & ~7u;
        auto* c = static_cast<VxCommand*>(vxQueueReserve(bytes));
        c->type = VX_CMD_STATE;
        c->bytes = bytes;
        std::memcpy(c + 1, &d.drawState, sizeof(VxDrawState));
        vxQueueCommit(bytes);
        d.stateDirty = false;
    }
    if (d.fogDirty) {
        vxBuildFogFine(d.state.fogTable, d.fogFine);
        constexpr std::uint32_t bytes = sizeof(VxCommand) + VX_FOG_FINE_ENTRIES;
        static_assert(bytes % 8 == 0);
        auto* c = static_cast<VxCommand*>(vxQueueReserve(bytes));
        c->type = VX_CMD_FOG;
        c->bytes = bytes;
        std::memcpy(c + 1, d.fogFine, VX_FOG_FINE_ENTRIES);
        vxQueueCommit(bytes);
        d.fogDirty = false;
    }
}

void vxSetTiming(bool on) {
    VxDevice& d = vexaDevice;
    if (on && !d.timing.load()) {
        VxTimings discarded;
        vxTakeTimings(&discarded);
    }
    d.timing.store(on);
}

void vxTakeTimings(VxTimings* out) {
    VxDevice& d = vexaDevice;
    std::uint64_t busy = 0;
    int workers = 0;
    for (int i = 0; i < d.threadCount; ++i) {
        if (!d.workers[i]) continue;
        busy += d.workers[i]->busyNs.exchange(0, std::memory_order_relaxed);
        ++workers;
    }
    const std::uint64_t wait = d.waitNs;
    d.waitNs = 0;
    if (out) {
        out->workerBusyMs = static_cast<double>(busy) * 1e-6;
        out->programWaitMs = static_cast<double>(wait) * 1e-6;
        out->workers = workers;
    }
}

void vxWaitDrawn(std::uint64_t pos) {
    publish();
    waitForWorkers(pos, true);
}

void vxQueueTarget(int buffer) {
    auto* c = static_cast<VxTargetCommand*>(vxQueueReserve(sizeof(VxTargetCommand)));
    c->head.type = VX_CMD_TARGET;
    c->head.bytes = sizeof(VxTargetCommand);
    c->buffer = buffer;
    c->pad = 0;
    vxQueueCommit(sizeof(VxTargetCommand));
}

void vxFinish() {
    VxDevice& d = vexaDevice;
    if (!d.initialised) return;
    publish();
    waitForWorkers(d.writePos, true);
    vxPresentPending();
}
