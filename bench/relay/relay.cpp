// relay: a TCP delay line that makes a server on loopback look like a far mirror.
//
//   relay --target HOST:PORT --delay-ms D [--listen PORT] [--rate BYTES/S] [--shared-rate BYTES/S]
//         [--rate-up BYTES/S] [--burst BYTES] [--buffer BYTES] [--no-handshake]
//         [--target-netns NAME] [--exit-with-parent] [--log]
//
// Listens on 127.0.0.1:PORT (0, the default: any free port, printed as one line on stdout) and
// forwards each accepted connection to the target, giving it:
//   - a one-way delay of D ms in both directions (round trip 2D). It is a delay line, not
//     stop-and-wait: bytes read at time t are written on at t + D while later bytes keep being
//     read, up to --buffer bytes (64 MiB) waiting per direction; on a capped way, only what fills
//     the delay line at that rate and 50 ms more (the sender keeps the rest, as behind a real
//     bottleneck: nothing is read far ahead of the link);
//   - on the way down (target -> client) a rate cap per connection (--rate), a smooth token
//     bucket whose bursts are at most --burst bytes (default: 4 ms of the rate, at least 16 KiB),
//     applied after the delay, where the data leaves for the client: a client that stops reading
//     does not get a burst later. --shared-rate is one such bucket for all connections together
//     (a shared bottleneck), served in turns. --rate-up caps the way up the same way;
//   - the handshake: a client's connect completes at once on loopback, so its first bytes are
//     held as if sent when the SYN-ACK came back (accept + 2D) and then take D: the first
//     request reaches the target 3D after the connect, its first answer byte the client 4D after
//     it (2 round trips, as over a real link). A refused target resets the client at accept + 2D.
//     --no-handshake leaves that out (the first request takes D like any byte);
//   - orderly close (FIN) and reset (RST), each in order after the bytes before it and D later.
// --exit-with-parent ends it when the process that started it ends (so that a test killed on
// its way leaves no relay behind). --target-netns makes the outgoing sockets in that network namespace (/run/netns/NAME), so a
// target there (e.g. behind a tc shaper on that namespace's loopback) is reached from here.
// Rates take k/m/g suffixes (10^3, 10^6, 10^9 bytes/s). Runs until SIGINT/SIGTERM. With --log
// it writes a line per closed connection on stderr (when it was accepted since the relay's
// start; bytes each way; its first and last byte down, from the accept; the rate between) and
// its CPU time at exit.
//
// Single-threaded (epoll + one timerfd for every deadline); data is copied through user space:
// about 10 % of one core at 4 x 16 MB/s here (bench/relay/selftest.py measures it).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

using Nanos = int64_t;
const Nanos kSecond = 1000000000LL;

Nanos Now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * kSecond + ts.tv_nsec;
}

[[noreturn]] void Die(const char* what) {
    std::fprintf(stderr, "relay: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

// ---- settings -----------------------------------------------------------------------------

struct Settings {
    std::string listenHost = "127.0.0.1";
    int listenPort = 0;
    sockaddr_in target{};
    Nanos delay = 0;
    double rate = 0, sharedRate = 0, rateUp = 0; // bytes/s, 0: none
    double burst = 0;                             // 0: automatic
    size_t buffer = 64u << 20;
    bool handshake = true;
    std::string netns;
    bool log = false;
} g;

double ParseRate(const char* text) {
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (end == text || v < 0) {
        std::fprintf(stderr, "relay: bad rate %s\n", text);
        std::exit(2);
    }
    switch (*end) {
    case 'k': case 'K': v *= 1e3; break;
    case 'm': case 'M': v *= 1e6; break;
    case 'g': case 'G': v *= 1e9; break;
    case '\0': break;
    default:
        std::fprintf(stderr, "relay: bad rate %s\n", text);
        std::exit(2);
    }
    return v;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: relay --target HOST:PORT --delay-ms D [--listen PORT] [--rate B/S] "
                 "[--shared-rate B/S] [--rate-up B/S] [--burst BYTES] [--buffer BYTES] "
                 "[--no-handshake] [--target-netns NAME] [--exit-with-parent] [--log]\n");
    return 2;
}

// ---- token bucket -------------------------------------------------------------------------

// A sender waits until `step` tokens (half the depth) are there, then sends what the tokens
// allow: bursts of at most `depth` bytes. Tokens stop piling up at the depth only while no one
// waits for them (an idle link or a client that does not read gets no burst later); a sender's
// wake-up that comes late loses nothing.
struct Bucket {
    double rate = 0;  // bytes per second
    double depth = 0; // the largest burst
    double step = 0;  // what a waiting sender waits for
    double tokens = 0;
    bool waiting = false;
    Nanos last = 0;

    void Init(double r, double burst) {
        rate = r;
        depth = burst > 0 ? burst : std::max(16384.0, r * 0.004);
        step = depth / 2;
        tokens = depth;
        last = Now();
    }
    void Refill(Nanos now) {
        if (now > last) {
            const double add = rate * double(now - last) / kSecond;
            tokens = std::min(waiting ? depth + rate * 0.05 : depth, tokens + add);
        }
        waiting = false;
        last = now;
    }
    // When `need` tokens will be there (need <= depth); the sender waits for them.
    Nanos WaitFor(Nanos now, double need) {
        waiting = true;
        return now + Nanos(std::ceil((need - tokens) / rate * kSecond));
    }
};

Bucket sharedBucket;

// ---- byte queue ---------------------------------------------------------------------------

// The bytes of one direction waiting in the relay, in blocks of 64 KiB.
class ByteQueue {
public:
    static const size_t kBlock = 64 * 1024;

    size_t Size() const { return size_; }

    // Reads once from fd into the tail (and a fresh block after it), at most `limit` bytes.
    // Returns readv()'s result. Every block but the last is full.
    ssize_t ReadFrom(int fd, size_t limit) {
        iovec iov[2];
        int count = 0;
        const size_t room = blocks_.empty() ? 0 : kBlock - tailFill_;
        if (room > 0) iov[count++] = iovec{blocks_.back() + tailFill_, std::min(room, limit)};
        char* spare = nullptr;
        if (limit > room) {
            spare = Alloc();
            iov[count++] = iovec{spare, std::min(kBlock, limit - room)};
        }
        const ssize_t n = readv(fd, iov, count);
        size_t left = n > 0 ? size_t(n) : 0;
        size_ += left;
        const size_t inTail = std::min(left, room);
        tailFill_ += inTail;
        left -= inTail;
        if (spare && left > 0) {
            blocks_.push_back(spare);
            tailFill_ = left;
        } else if (spare) {
            Free(spare);
        }
        return n;
    }
    // The first contiguous bytes.
    const char* Front(size_t* len) const {
        const size_t end = blocks_.size() == 1 ? tailFill_ : kBlock;
        *len = std::min(end - headOff_, size_);
        return blocks_.front() + headOff_;
    }
    void Consume(size_t n) {
        size_ -= n;
        headOff_ += n;
        const size_t end = blocks_.size() == 1 ? tailFill_ : kBlock;
        if (headOff_ == end) {
            Free(blocks_.front());
            blocks_.pop_front();
            headOff_ = 0;
            if (blocks_.empty()) tailFill_ = 0;
        }
    }
    void Clear() {
        for (char* b : blocks_) Free(b);
        blocks_.clear();
        size_ = headOff_ = tailFill_ = 0;
    }
    ~ByteQueue() { Clear(); }

private:
    static std::vector<char*>& Pool() {
        static std::vector<char*> pool;
        return pool;
    }
    static char* Alloc() {
        auto& pool = Pool();
        if (pool.empty()) return static_cast<char*>(std::malloc(kBlock));
        char* b = pool.back();
        pool.pop_back();
        return b;
    }
    static void Free(char* b) {
        auto& pool = Pool();
        if (pool.size() < 1024) pool.push_back(b);
        else std::free(b);
    }

    std::deque<char*> blocks_;
    size_t size_ = 0, headOff_ = 0, tailFill_ = 0;
};

// ---- connections --------------------------------------------------------------------------

enum class Mark { Data, Fin, Rst };

struct Event {
    uint64_t end; // stream offset just past this event's bytes (Data), or where it stands
    Nanos due;    // when it may leave
    Mark kind;
};

struct Conn;

struct Side {
    Conn* conn;
    int fd = -1;
    bool isClient;
    uint32_t mask = 0;    // registered with epoll
    bool watched = false; // in the epoll set
};

// One way through the relay: read from `from`, written to `to`.
struct Direction {
    Side* from = nullptr;
    Side* to = nullptr;
    ByteQueue queue;
    std::deque<Event> events;
    uint64_t readTotal = 0, sentTotal = 0;
    bool reading = true;   // still reading from `from`
    bool wantWrite = false; // waiting for `to` to take more (EPOLLOUT)
    bool done = false;     // FIN or RST delivered, or nothing more can go
    Nanos wakeAt = 0;      // a deadline (delay or tokens); 0: none
    Bucket ownBucket;
    Bucket* bucket = nullptr;
    size_t limit = 0; // read no more while this much waits here
    Nanos firstByte = 0, lastByte = 0; // written to `to`
};

struct Conn {
    int id;
    Nanos accepted;
    Side client{this, -1, true}, server{this, -1, false};
    Direction up, down; // up: client -> server, down: server -> client
    bool connected = false;
    bool closed = false;
    const char* how = "?";
};

int ep = -1, timerFd = -1, listenFd = -1, sigFd = -1, netnsFd = -1, homeNsFd = -1;
std::vector<std::unique_ptr<Conn>> conns;
int nextId = 1;
size_t rotate = 0; // where the round over directions starts (turns at a shared bucket)
Nanos armedAt = -1;
Nanos startTime = 0;

// epoll tags: the pointer to a Side; the listen socket, timer and signals by small values.
enum : uint64_t { kTagListen = 1, kTagTimer = 2, kTagSignal = 3 };

// Registers each socket for what is wanted of it now. A socket from which nothing is wanted
// leaves the epoll set: a hang-up, which epoll reports whatever the mask, would otherwise wake
// the loop for ever (e.g. at a peer's close while the queue toward it is full).
void UpdateInterest(Conn* c) {
    if (c->closed) return;
    for (Side* s : {&c->client, &c->server}) {
        if (s->fd < 0) continue;
        Direction& in = s->isClient ? c->up : c->down;   // reads from s
        Direction& out = s->isClient ? c->down : c->up;  // writes to s
        uint32_t mask = 0;
        if (in.reading && in.queue.Size() < in.limit && (s->isClient || c->connected))
            mask |= EPOLLIN;
        if (out.wantWrite || (!s->isClient && !c->connected)) mask |= EPOLLOUT;
        if (mask == s->mask && (mask != 0) == s->watched) continue;
        epoll_event ev{};
        ev.events = mask;
        ev.data.ptr = s;
        if (mask == 0) {
            epoll_ctl(ep, EPOLL_CTL_DEL, s->fd, nullptr);
        } else if (epoll_ctl(ep, s->watched ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, s->fd, &ev) < 0) {
            Die("epoll_ctl");
        }
        s->watched = mask != 0;
        s->mask = mask;
    }
}

void Abort(int fd) {
    linger l{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

void Close(Conn* c, const char* how) {
    if (c->closed) return;
    c->closed = true;
    c->how = how;
    for (Side* s : {&c->client, &c->server}) {
        if (s->fd >= 0) {
            if (s->watched) epoll_ctl(ep, EPOLL_CTL_DEL, s->fd, nullptr);
            close(s->fd);
            s->fd = -1;
        }
    }
    c->up.queue.Clear();
    c->down.queue.Clear();
    if (g.log) {
        const Direction& d = c->down;
        const double span = d.lastByte > d.firstByte ? double(d.lastByte - d.firstByte) / kSecond : 0;
        std::fprintf(stderr,
                     "relay: conn %d accepted at %.3f s, closed (%s) after %.3f s: up %llu B, down "
                     "%llu B, first down byte at %.3f s, last at %.3f s, %.0f B/s between\n",
                     c->id, double(c->accepted - startTime) / kSecond, how,
                     double(Now() - c->accepted) / kSecond,
                     (unsigned long long)c->up.sentTotal, (unsigned long long)d.sentTotal,
                     d.firstByte ? double(d.firstByte - c->accepted) / kSecond : 0.0,
                     d.lastByte ? double(d.lastByte - c->accepted) / kSecond : 0.0,
                     span > 0 ? double(d.sentTotal) / span : 0.0);
    }
}

// The earliest time bytes read now from this direction's source may leave.
Nanos DueFor(Conn* c, Direction& d, Nanos now) {
    Nanos from = now;
    if (g.handshake) {
        // The client can send once the SYN-ACK is back (accept + 2D); the server's accept, and
        // so its first bytes, come with the client's ACK (accept + 3D).
        const Nanos ready = c->accepted + (&d == &c->up ? 2 : 3) * g.delay;
        from = std::max(from, ready);
    }
    Nanos due = from + g.delay;
    if (!d.events.empty()) due = std::max(due, d.events.back().due);
    return due;
}

void PushEvent(Direction& d, Mark kind, Nanos due) {
    if (kind == Mark::Data && !d.events.empty()) {
        Event& last = d.events.back();
        // Bytes due at the same moment share one event.
        if (last.kind == Mark::Data && last.due == due) {
            last.end = d.readTotal;
            return;
        }
    }
    d.events.push_back(Event{d.readTotal, due, kind});
}

// The side s is gone (reset by its peer, or it refused our bytes): nothing more goes to it, and
// an RST goes to the other side after the bytes already on their way there (in place of a FIN
// not yet delivered).
void SideReset(Conn* c, Side* s, Nanos now) {
    Direction& in = s->isClient ? c->up : c->down;  // from s
    Direction& out = s->isClient ? c->down : c->up; // to s
    out.queue.Clear();
    out.events.clear();
    out.done = true;
    out.wantWrite = false;
    out.wakeAt = 0;
    out.reading = false; // what the other side still sends toward s is left unread
    if (!in.events.empty() && in.events.back().kind == Mark::Rst) return;
    in.reading = false;
    while (!in.events.empty() && in.events.back().kind == Mark::Fin)
        in.events.pop_back();
    in.done = false;
    PushEvent(in, Mark::Rst, DueFor(c, in, now));
}

void PumpOut(Conn* c, Direction& d, Nanos now);

void PumpIn(Conn* c, Direction& d, Nanos now) {
    if (c->closed || !d.reading) return;
    if (!d.from->isClient && !c->connected) return;
    size_t budget = 1u << 20; // per turn, so one fast source cannot hold the loop
    while (d.reading && d.queue.Size() < d.limit && budget > 0) {
        const size_t limit = std::min(budget, d.limit - d.queue.Size());
        const ssize_t n = d.queue.ReadFrom(d.from->fd, limit);
        if (n > 0) {
            d.readTotal += size_t(n);
            budget -= std::min(budget, size_t(n));
            PushEvent(d, Mark::Data, DueFor(c, d, now));
        } else if (n == 0) {
            d.reading = false;
            PushEvent(d, Mark::Fin, DueFor(c, d, now));
        } else if (errno == EAGAIN || errno == EINTR) {
            break;
        } else {
            SideReset(c, d.from, now);
            break;
        }
    }
    PumpOut(c, d, now);
}

void PumpOut(Conn* c, Direction& d, Nanos now) {
    if (c->closed || d.done) return;
    d.wakeAt = 0;
    if (!d.to->isClient && !c->connected) return; // the target's connect is still on its way
    while (!d.events.empty()) {
        Event& e = d.events.front();
        if (e.due > now) {
            d.wakeAt = e.due;
            return;
        }
        if (e.kind == Mark::Data) {
            if (e.end <= d.sentTotal) {
                d.events.pop_front();
                continue;
            }
            // What is ripe: up to the end of the last data event that is due (looking no
            // further than one block ahead).
            uint64_t ripeEnd = e.end;
            for (const Event& f : d.events) {
                if (f.due > now || f.kind != Mark::Data || ripeEnd - d.sentTotal >= ByteQueue::kBlock)
                    break;
                ripeEnd = f.end;
            }
            uint64_t want = ripeEnd - d.sentTotal;
            if (d.bucket) {
                d.bucket->Refill(now);
                const double need = std::min(double(want), d.bucket->step);
                if (d.bucket->tokens < need) {
                    d.wakeAt = d.bucket->WaitFor(now, need);
                    return;
                }
                want = std::min<uint64_t>(want, uint64_t(d.bucket->tokens));
                if (d.bucket == &sharedBucket) // one turn at a time at a shared bottleneck
                    want = std::min<uint64_t>(want, uint64_t(d.bucket->step) + 1);
            }
            size_t len = 0;
            const char* p = d.queue.Front(&len);
            len = size_t(std::min<uint64_t>(len, want));
            const ssize_t n = send(d.to->fd, p, len, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR) {
                    d.wantWrite = true;
                    return;
                }
                SideReset(c, d.to, now);
                return;
            }
            d.wantWrite = false;
            d.queue.Consume(size_t(n));
            d.sentTotal += size_t(n);
            if (d.bucket) d.bucket->tokens -= double(n);
            if (!d.firstByte) d.firstByte = now;
            d.lastByte = now;
            if (d.bucket == &sharedBucket) {
                // Let the others have a turn before taking more.
                d.wakeAt = now;
                return;
            }
            continue;
        }
        if (e.kind == Mark::Fin) {
            shutdown(d.to->fd, SHUT_WR);
            d.events.pop_front();
            d.done = true;
            break;
        }
        // Mark::Rst
        Abort(d.to->fd);
        Close(c, d.from->isClient ? "client reset" : "server reset");
        return;
    }
    if (c->up.done && c->down.done) Close(c, "closed");
}

void ServerConnected(Conn* c, Nanos now) {
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(c->server.fd, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) {
        // Refused: the client learns when the answer to its SYN would have come (accept + 2D).
        c->up.queue.Clear();
        c->up.events.clear();
        c->up.done = true;
        c->up.reading = false;
        c->down.reading = false;
        c->down.events.clear();
        const Nanos due = std::max(now + g.delay, c->accepted + (g.handshake ? 2 : 1) * g.delay);
        c->down.events.push_back(Event{0, due, Mark::Rst});
        c->connected = true; // so that the reset can be delivered
        PumpOut(c, c->down, now);
        return;
    }
    c->connected = true;
}

void Accept(Nanos now) {
    for (;;) {
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EAGAIN || errno == EINTR || errno == ECONNABORTED) return;
            if (errno == EMFILE || errno == ENFILE) return;
            Die("accept");
        }
        auto c = std::make_unique<Conn>();
        c->id = nextId++;
        c->accepted = now;
        c->client.fd = fd;
        if (netnsFd >= 0 && setns(netnsFd, CLONE_NEWNET) < 0) Die("setns");
        const int sfd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (netnsFd >= 0 && setns(homeNsFd, CLONE_NEWNET) < 0) Die("setns back");
        if (sfd < 0) Die("socket");
        c->server.fd = sfd;
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        setsockopt(sfd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        c->up.from = &c->client;
        c->up.to = &c->server;
        c->down.from = &c->server;
        c->down.to = &c->client;
        if (g.rate > 0) {
            c->down.ownBucket.Init(g.rate, g.burst);
            c->down.bucket = &c->down.ownBucket;
        }
        if (g.sharedRate > 0) c->down.bucket = &sharedBucket;
        if (g.rateUp > 0) {
            c->up.ownBucket.Init(g.rateUp, g.burst);
            c->up.bucket = &c->up.ownBucket;
        }
        for (Direction* d : {&c->up, &c->down}) {
            // A capped way holds what fills the delay line at its rate and 50 ms (at least
            // 256 KiB) more: enough to keep the link full, while the rest of what the sender
            // has stays with it (its socket), as behind a real bottleneck.
            d->limit = g.buffer;
            if (d->bucket) {
                const double r = d->bucket->rate;
                const double line = r * double(g.delay) / kSecond * (d == &c->up && g.handshake ? 3 : 1);
                d->limit = size_t(std::min(double(g.buffer), line + std::max(262144.0, r * 0.05)));
            }
        }
        Conn* raw = c.get();
        conns.push_back(std::move(c));
        const int r = connect(sfd, reinterpret_cast<const sockaddr*>(&g.target), sizeof g.target);
        if (r == 0) raw->connected = true;
        else if (errno != EINPROGRESS) ServerConnected(raw, now);
        UpdateInterest(raw);
    }
}

void OnSideEvent(Side* s, uint32_t events, Nanos now) {
    Conn* c = s->conn;
    if (c->closed) return;
    if (!s->isClient && !c->connected) {
        if (events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) ServerConnected(c, now);
        if (!c->connected) return;
    }
    Direction& in = s->isClient ? c->up : c->down;
    Direction& out = s->isClient ? c->down : c->up;
    if (events & (EPOLLIN | EPOLLHUP | EPOLLERR)) PumpIn(c, in, now);
    if (c->closed) return;
    if (events & (EPOLLOUT | EPOLLHUP | EPOLLERR)) {
        out.wantWrite = false;
        PumpOut(c, out, now);
    }
    if (c->closed) return;
    if (events & (EPOLLERR | EPOLLHUP)) {
        // An error (reset), or a hang-up while we still have to write: the peer is gone. (A
        // hang-up after our FIN may still leave bytes to read: they are read as usual.)
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(s->fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err != 0 || !out.done) {
            SideReset(c, s, now);
            PumpOut(c, in, now);
        }
    }
}

void ArmTimer(Nanos at) {
    if (at == armedAt) return;
    itimerspec its{};
    if (at > 0) {
        its.it_value.tv_sec = at / kSecond;
        its.it_value.tv_nsec = at % kSecond;
    }
    if (timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &its, nullptr) < 0) Die("timerfd_settime");
    armedAt = at;
}

void RunDue(Nanos now) {
    const size_t n = conns.size();
    if (n == 0) return;
    for (size_t k = 0; k < n; ++k) {
        Conn* c = conns[(rotate + k) % n].get();
        for (Direction* d : {&c->down, &c->up}) {
            if (!c->closed && d->wakeAt && d->wakeAt <= now) PumpOut(c, *d, now);
        }
    }
    rotate = (rotate + 1) % n;
}

void Sweep() {
    conns.erase(std::remove_if(conns.begin(), conns.end(),
                               [](const std::unique_ptr<Conn>& c) { return c->closed; }),
                conns.end());
}

} // namespace

int main(int argc, char** argv) {
    bool haveTarget = false, haveDelay = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc) std::exit(Usage());
            return argv[++i];
        };
        if (a == "--listen") {
            const std::string v = next();
            const size_t colon = v.rfind(':');
            if (colon != std::string::npos) {
                g.listenHost = v.substr(0, colon);
                g.listenPort = std::atoi(v.c_str() + colon + 1);
            } else {
                g.listenPort = std::atoi(v.c_str());
            }
        } else if (a == "--target") {
            const std::string v = next();
            const size_t colon = v.rfind(':');
            if (colon == std::string::npos) return Usage();
            g.target.sin_family = AF_INET;
            g.target.sin_port = htons(uint16_t(std::atoi(v.c_str() + colon + 1)));
            if (inet_pton(AF_INET, v.substr(0, colon).c_str(), &g.target.sin_addr) != 1)
                return Usage();
            haveTarget = true;
        } else if (a == "--delay-ms") {
            g.delay = Nanos(std::strtod(next(), nullptr) * 1e6);
            haveDelay = true;
        } else if (a == "--rate") {
            g.rate = ParseRate(next());
        } else if (a == "--shared-rate") {
            g.sharedRate = ParseRate(next());
        } else if (a == "--rate-up") {
            g.rateUp = ParseRate(next());
        } else if (a == "--burst") {
            g.burst = ParseRate(next());
        } else if (a == "--buffer") {
            g.buffer = size_t(ParseRate(next()));
        } else if (a == "--no-handshake") {
            g.handshake = false;
        } else if (a == "--target-netns") {
            g.netns = next();
        } else if (a == "--log") {
            g.log = true;
        } else if (a == "--exit-with-parent") {
            const pid_t parent = getppid();
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) return 0; // it has ended already
        } else {
            return Usage();
        }
    }
    if (!haveTarget || !haveDelay || g.delay < 0 || g.buffer < 65536) return Usage();

    if (!g.netns.empty()) {
        netnsFd = open(("/run/netns/" + g.netns).c_str(), O_RDONLY | O_CLOEXEC);
        if (netnsFd < 0) Die("open the network namespace");
        homeNsFd = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        if (homeNsFd < 0) Die("open our network namespace");
    }
    if (g.sharedRate > 0) sharedBucket.Init(g.sharedRate, g.burst);

    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    signal(SIGPIPE, SIG_IGN);

    ep = epoll_create1(EPOLL_CLOEXEC);
    timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    sigFd = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
    listenFd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (ep < 0 || timerFd < 0 || sigFd < 0 || listenFd < 0) Die("setup");
    const int one = 1;
    setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(g.listenPort));
    if (inet_pton(AF_INET, g.listenHost.c_str(), &addr.sin_addr) != 1) return Usage();
    if (bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) Die("bind");
    if (listen(listenFd, 128) < 0) Die("listen");
    socklen_t alen = sizeof addr;
    getsockname(listenFd, reinterpret_cast<sockaddr*>(&addr), &alen);
    for (auto [fd, tag] : {std::pair{listenFd, kTagListen}, {timerFd, kTagTimer}, {sigFd, kTagSignal}}) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = tag;
        if (epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev) < 0) Die("epoll_ctl");
    }
    std::printf("%d\n", ntohs(addr.sin_port));
    std::fflush(stdout);
    startTime = Now();

    epoll_event events[64];
    bool running = true;
    while (running) {
        const int n = epoll_wait(ep, events, 64, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            Die("epoll_wait");
        }
        const Nanos now = Now();
        for (int i = 0; i < n; ++i) {
            const uint64_t tag = events[i].data.u64;
            if (tag == kTagListen) {
                Accept(now);
            } else if (tag == kTagTimer) {
                uint64_t ticks;
                while (read(timerFd, &ticks, sizeof ticks) > 0) {
                }
                armedAt = -1;
            } else if (tag == kTagSignal) {
                running = false;
            } else {
                OnSideEvent(static_cast<Side*>(events[i].data.ptr), events[i].events, now);
            }
        }
        // Every deadline that has come; then the next one.
        RunDue(Now());
        Nanos next = 0;
        for (auto& c : conns) {
            if (c->closed) continue;
            UpdateInterest(c.get());
            for (Direction* d : {&c->up, &c->down})
                if (d->wakeAt && (!next || d->wakeAt < next)) next = d->wakeAt;
        }
        Sweep();
        if (next && next <= Now()) next = Now() + 1; // due already: come back at once
        ArmTimer(next);
    }
    if (g.log) {
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        const double cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
                           ru.ru_stime.tv_usec / 1e6;
        std::fprintf(stderr, "relay: %.3f s of CPU in %.3f s\n", cpu,
                     double(Now() - startTime) / kSecond);
    }
    return 0;
}
