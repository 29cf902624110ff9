#!/usr/bin/env python3
"""A file system for power-cut tests: mounted over a folder of the disk (LOWER), it passes every
operation through, and keeps what a power cut could still take away. On a cut it freezes, and
once the processes that used it are gone, it leaves LOWER as the disk could be found after the
cut. Needs root, /dev/fuse and Debian's python3-fuse (fuse-python, libfuse 2).

    powercut.py LOWER MOUNT

Prints the port of its control server (127.0.0.1) on one line, then serves until MOUNT is
unmounted (or it is interrupted).

What a disk keeps, the model (NTFS's, as far as a program can tell it apart):
  - A file's data is durable once the file is flushed (FlushFileBuffers, which Wine makes an
    fsync). Until then each 4 KiB block written since the last flush may or may not be on the
    disk, whichever blocks, in any order; and the file's size may be its new one with zeros
    where data never came, or its size at the last flush.
  - The names (creations, renames, removals, new folders, a file made shorter) go into the
    volume's log in the order they were made, and the log reaches the disk lazily: after a cut
    the names are as some prefix of them left them. A flush of any file or folder writes the
    log up to that point (NTFS flushes its log with a file's metadata), so everything named
    before a flush is kept. A MOVEFILE_WRITE_THROUGH rename is no different: Wine passes no
    such flag down, and on NTFS it promises something only for a move that copies.
  - A file made shorter whose shortening is lost keeps what it had at its last flush (its
    blocks were freed by the shortening, and later writes there went to other blocks).

Each decision comes from one seed: where the cut falls, and what of each file survives. So
a failing cut is replayed by its seed (given a run that makes the same operations).

Control, GET on the port, answers in JSON (a request that waits answers once it may):
  /reset            LOWER emptied, a new session; with ?reference=1 the operations of the
                    session that ends (a whole run, uncut) become the reference for /arm
  /arm?seed=S       cut at a moment S picks among the reference's operations: half of the
                    seeds before one of its writes (the write that takes its file past as many
                    bytes as the reference had written to it), the others before the n-th
                    operation of one kind on one name (a flush, a rename...), n within the
                    reference's count
  /cut?seed=S       cut now, the disk image chosen by S
  /wait?ms=N        whether the layer has cut (waits up to N ms for it), and where
  /apply            after a cut: LOWER made the disk image, and per file kept: its size,
                    the bytes unflushed at the cut, those of them lost, and those written
                    since its flush before last ("unrecorded"); a new session, in which every
                    old handle fails
  /hold?rename_to=NAME&ms=N   the next rename onto a name ending in NAME is made and its
                    caller answered only N ms later; /held?ms=N waits until one was held
  /log              the session's operations so far, one "kind path" a line (text), a
                    write followed by its size

Once cut, every operation fails (EIO) until /apply: nothing more reaches the disk, as nothing
more would have. The processes that used the layer are then to be killed.
"""

import errno
import json
import os
import random
import shutil
import stat
import sys
import tempfile
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import fuse
from fuse import Fuse

fuse.fuse_python_api = (0, 2)

BLOCK = 4096


class Inode:
    """A file's bytes, wherever they are now (under its name in LOWER, or in the stash once
    unlinked or replaced), and what of them is durable."""

    def __init__(self, real, size):
        self.real = real
        self.flushed_size = size  # its data is durable up to here
        self.logged_size = size  # its size as the disk's log has it
        self.undo = {}  # block -> its bytes as of the last flush (beyond that size: none)
        self.written = 0  # bytes written to it in this session
        self.marks = [0, 0]  # `written` at its last two flushes
        self.shrinks = []  # journal entries that made it shorter since its last flush

    def size(self):
        return os.stat(self.real).st_size

    def save(self, fd, start, end):
        """Keeps the durable bytes of the blocks in [start, end) before they change."""
        for b in range(start // BLOCK, (max(end, start + 1) - 1) // BLOCK + 1):
            if b not in self.undo:
                keep = max(0, min(BLOCK, self.flushed_size - b * BLOCK))
                self.undo[b] = os.pread(fd, keep, b * BLOCK) if keep else b""

    def unflushed(self):
        size = self.size()
        return sum(max(0, min(BLOCK, size - b * BLOCK)) for b in self.undo)

    def flushed(self):
        self.marks = [self.marks[1], self.written]
        self.flushed_size = self.logged_size = self.size()
        self.undo.clear()
        self.shrinks.clear()

    def image(self, rng, lost_shrinks):
        """The bytes a cut leaves of this file, and how many of its unflushed bytes it lost."""
        with open(self.real, "rb") as f:
            data = bytearray(f.read())
        # A shortening not kept: the blocks from there on are what they were at the flush.
        floor = min((e[2] for e in self.shrinks if id(e) in lost_shrinks), default=None)
        size = self.logged_size if floor is not None else rng.choice([self.logged_size, len(data)])
        lost = 0
        for b, old in sorted(self.undo.items()):
            forced = floor is not None and (b + 1) * BLOCK > floor
            if not forced and rng.random() < 0.5:
                continue  # this block reached the disk
            at = b * BLOCK
            if len(data) < at + BLOCK:
                data.extend(bytes(at + BLOCK - len(data)))
            new = bytes(data[at:at + BLOCK])
            data[at:at + BLOCK] = old.ljust(BLOCK, b"\0")
            lost += sum(1 for x, y in zip(new, data[at:at + BLOCK]) if x != y)
        del data[size:]
        data.extend(bytes(size - len(data)))
        return bytes(data), lost


def hidden(path):
    """A name libfuse gives an open file that was removed, until it is closed."""
    return os.path.basename(path).startswith(".fuse_hidden")


class Handle:
    def __init__(self, fd, inode, epoch):
        self.fd, self.inode, self.epoch = fd, inode, epoch


class PowerCut(Fuse):
    def __init__(self, lower, *args, **kw):
        Fuse.__init__(self, *args, **kw)
        self.lower = os.path.abspath(lower)
        self.stash = tempfile.mkdtemp(prefix=".powercut-stash-", dir=os.path.dirname(self.lower))
        self.cond = threading.Condition(threading.RLock())
        self.reference = []
        self.new_session()

    # --- the model ------------------------------------------------------------------------

    def new_session(self):
        self.epoch = getattr(self, "epoch", 0) + 1
        self.live = {}  # name -> Inode, as the names are now
        self.durable = {}  # name -> Inode, as the disk's log has them
        self.live_dirs, self.durable_dirs = set(), set()
        self.journal = []  # names changed since the log last reached the disk
        self.log = []
        self.armed = None  # (kind, name, n-th time, or bytes before it for a write)
        self.counts = {}
        self.rng = None
        self.cut_at = None
        self.hold = self.held = None
        self.serial = 0
        for name in os.listdir(self.stash):
            os.remove(os.path.join(self.stash, name))

    def path(self, name):
        return self.lower + name

    def known(self, name):
        """The file under `name`, registered on first sight (then durable: it was there)."""
        ino = self.live.get(name)
        if ino is None:
            st = os.lstat(self.path(name))
            if not stat.S_ISREG(st.st_mode):
                return None
            ino = self.live[name] = self.durable[name] = Inode(self.path(name), st.st_size)
        return ino

    def known_dir(self, name):
        if name not in self.live_dirs and os.path.isdir(self.path(name)):
            self.live_dirs.add(name)
            self.durable_dirs.add(name)

    def to_stash(self, name):
        """The file under `name` leaves it, its bytes kept until the log forgets it."""
        ino = self.known(name)
        self.serial += 1
        ino.real = os.path.join(self.stash, str(self.serial))
        os.rename(self.path(name), ino.real)
        del self.live[name]
        return ino

    def commit(self):
        """The log reaches the disk: the names are durable as they are now."""
        self.journal.clear()
        self.durable = dict(self.live)
        self.durable_dirs = set(self.live_dirs)
        for ino in set(self.live.values()):
            ino.logged_size = ino.size()
            ino.shrinks.clear()

    def enter(self, kind, name, size=0):
        """Every operation comes through here, under the lock: it fails once the layer is cut
        (it must not wait: Wine's server makes some of them, and every program of the prefix
        waits on that server), and cuts when it is the armed moment (a write of `size`)."""
        if kind is not None and self.armed and self.cut_at is None:
            want_kind, want_name, n = self.armed
            if (kind, name) == (want_kind, want_name):
                if kind == "write":
                    # The write that would take the file's bytes past n.
                    if self.counts.get((kind, name), 0) + size > n:
                        self.cut("before write %s past %d bytes" % (name, n))
                else:
                    self.counts[kind, name] = self.counts.get((kind, name), 0) + 1
                    if self.counts[kind, name] == n:
                        self.cut("before %s %s #%d" % (kind, name, n))
        if self.cut_at is not None:
            raise OSError(errno.EIO, "cut")
        if kind == "write":
            self.counts[kind, name] = self.counts.get((kind, name), 0) + size
            self.log.append("write %s %d" % (name, size))
        elif kind is not None:
            self.log.append("%s %s" % (kind, name))

    def cut(self, moment):
        self.cut_at = moment
        self.armed = None
        self.cond.notify_all()

    def check(self, fh):
        if fh.epoch != self.epoch:
            raise OSError(errno.EIO, "cut")

    def arm(self, seed):
        self.rng = random.Random(seed)
        moment = None
        ops = [line.split(" ", 1) for line in self.reference]
        writes = [rest.rsplit(" ", 1) for kind, rest in ops if kind == "write"]
        keys = sorted({(k, n) for k, n in ops if k != "write"})
        if writes and (not keys or self.rng.random() < 0.5):
            # Before one of the reference's writes: once as many bytes went to that file.
            i = self.rng.randrange(len(writes))
            name = writes[i][0]
            self.armed = ("write", name, sum(int(n) for f, n in writes[:i] if f == name))
            moment = "write %s past %d bytes" % self.armed[1:]
        elif keys:
            kind, name = self.rng.choice(keys)
            self.armed = (kind, name, self.rng.randint(1, ops.count([kind, name])))
            moment = "%s %s #%d" % self.armed
        return {"armed": moment}

    def apply(self):
        """LOWER as the disk would be found after the cut."""
        if self.cut_at is None:
            raise OSError(errno.EINVAL, "not cut")
        rng = self.rng or random.Random(0)
        kept = rng.randint(0, len(self.journal))
        names, dirs = dict(self.durable), set(self.durable_dirs)
        lost_shrinks = {id(e) for e in self.journal[kept:] if e[0] == "shrink"}
        for e in self.journal[:kept]:
            if e[0] == "link":
                names[e[1]] = e[2]
            elif e[0] == "unlink":
                names.pop(e[1], None)
            elif e[0] == "rename":
                names[e[2]] = names.pop(e[1], e[3])
            elif e[0] == "mkdir":
                dirs.add(e[1])
            elif e[0] == "rmdir":
                dirs.discard(e[1])
        files, summary = {}, {}
        for name, ino in sorted(names.items()):
            unflushed = ino.unflushed()
            files[name], lost = ino.image(rng, lost_shrinks)
            # What a record written after each flush may not cover: the rename of the newest
            # may be lost, so the one before it may be all there is.
            summary[name] = {"size": len(files[name]), "unflushed": unflushed, "lost": lost,
                             "unrecorded": ino.written - ino.marks[0]}
        touched = set(self.live) | set(self.durable) | set(names)
        touched |= {e[1] for e in self.journal if e[0] in ("link", "unlink", "rename")}
        touched |= {e[2] for e in self.journal if e[0] == "rename"}
        for name in touched:
            if os.path.isfile(self.path(name)):
                os.remove(self.path(name))
        for d in sorted(self.live_dirs - dirs, reverse=True):
            shutil.rmtree(self.path(d), ignore_errors=True)
        for d in sorted(dirs):
            os.makedirs(self.path(d), exist_ok=True)
        for name, data in files.items():
            with open(self.path(name), "wb") as f:
                f.write(data)
        result = {"moment": self.cut_at, "names_kept": kept, "names_lost": len(self.journal) - kept,
                  "files": summary}
        self.new_session()
        self.cond.notify_all()
        return result

    def reset(self, reference):
        if reference:
            self.reference = list(self.log)
        for name in os.listdir(self.lower):
            p = os.path.join(self.lower, name)
            shutil.rmtree(p) if os.path.isdir(p) and not os.path.islink(p) else os.remove(p)
        self.new_session()
        self.cond.notify_all()

    # --- the file system --------------------------------------------------------------------

    def getattr(self, path):
        with self.cond:
            self.enter(None, path)
            return os.lstat(self.path(path))

    def readdir(self, path, offset):
        with self.cond:
            self.enter(None, path)
            names = os.listdir(self.path(path))
        for e in [".", ".."] + names:
            yield fuse.Direntry(e)

    def statfs(self):
        return os.statvfs(self.lower)

    def access(self, path, mode):
        with self.cond:
            self.enter(None, path)
            if not os.access(self.path(path), mode):
                return -errno.EACCES

    def utimens(self, path, ts_acc, ts_mod):
        with self.cond:
            self.enter(None, path)
            os.utime(self.path(path), ns=(ts_acc.tv_sec * 10**9 + ts_acc.tv_nsec,
                                          ts_mod.tv_sec * 10**9 + ts_mod.tv_nsec))

    def chmod(self, path, mode):
        with self.cond:
            self.enter(None, path)
            os.chmod(self.path(path), mode)

    def chown(self, path, uid, gid):
        with self.cond:
            self.enter(None, path)
            os.chown(self.path(path), uid, gid)

    def mkdir(self, path, mode):
        with self.cond:
            self.enter("mkdir", path)
            os.mkdir(self.path(path), mode)
            self.live_dirs.add(path)
            self.journal.append(("mkdir", path))

    def rmdir(self, path):
        with self.cond:
            self.enter("rmdir", path)
            self.known_dir(path)
            os.rmdir(self.path(path))
            self.live_dirs.discard(path)
            self.journal.append(("rmdir", path))

    def unlink(self, path):
        with self.cond:
            if hidden(path):
                os.unlink(self.path(path))  # already gone, as far as the disk goes
                return
            self.enter("unlink", path)
            if self.known(path) is None:
                os.unlink(self.path(path))  # not a file we model (a link)
                return
            self.to_stash(path)
            self.journal.append(("unlink", path))

    def rename(self, old, new):
        with self.cond:
            if hidden(new):
                # An open file removed: libfuse keeps it aside until it is closed. For the
                # disk it is removed now; its bytes stay in the stash while the log has it.
                self.enter("unlink", old)
                ino = self.known(old)
                self.serial += 1
                ino.real = os.path.join(self.stash, str(self.serial))
                os.link(self.path(old), ino.real)
                os.rename(self.path(old), self.path(new))
                del self.live[old]
                self.journal.append(("unlink", old))
                return
            self.enter("rename", old + ">" + new)
            ino = self.known(old)
            if ino is None:
                return -errno.EXDEV  # folders are not renamed here
            if os.path.lexists(self.path(new)):
                if self.known(new) is None:
                    return -errno.EISDIR
                self.to_stash(new)
            os.rename(self.path(old), self.path(new))
            ino.real = self.path(new)
            del self.live[old]
            self.live[new] = ino
            self.journal.append(("rename", old, new, ino))
            if self.hold and new.endswith(self.hold[0]):
                # Made, and its caller not answered for a while: whoever looks meanwhile sees
                # the new name. Not until asked: the caller may be Wine's server, and while it
                # waits, so does every program that could ask.
                ms, self.hold, self.held = self.hold[1], None, new
                self.cond.notify_all()
                until = time.monotonic() + ms / 1000
                while time.monotonic() < until:
                    self.cond.wait(until - time.monotonic())

    def shorten(self, ino, fd, size):
        current = ino.size()
        if size < current:
            ino.save(fd, size, current)
            entry = ("shrink", None, size)
            ino.shrinks.append(entry)
            self.journal.append(entry)
        else:
            ino.save(fd, current, size)
        os.ftruncate(fd, size)

    def truncate(self, path, size):
        with self.cond:
            self.enter("truncate", path)
            ino = self.known(path)
            fd = os.open(self.path(path), os.O_RDWR)
            try:
                self.shorten(ino, fd, size)
            finally:
                os.close(fd)

    def open(self, path, flags):
        with self.cond:
            self.enter(None, path)
            ino = self.known(path)
            fd = os.open(self.path(path), os.O_RDWR)
            h = Handle(fd, ino, self.epoch)
            if flags & os.O_TRUNC:
                self.enter("truncate", path)
                self.shorten(ino, fd, 0)
            return h

    def create(self, path, flags, mode):
        with self.cond:
            if os.path.lexists(self.path(path)):
                h = self.open(path, flags)
                return h
            self.enter("create", path)
            fd = os.open(self.path(path), os.O_RDWR | os.O_CREAT | os.O_EXCL, mode)
            ino = self.live[path] = Inode(self.path(path), 0)
            self.journal.append(("link", path, ino))
            return Handle(fd, ino, self.epoch)

    def read(self, path, size, offset, fh):
        with self.cond:
            self.enter(None, path)
            self.check(fh)
            return os.pread(fh.fd, size, offset)

    def write(self, path, buf, offset, fh):
        with self.cond:
            self.enter("write", path, len(buf))
            self.check(fh)
            fh.inode.save(fh.fd, offset, offset + len(buf))
            fh.inode.written += len(buf)
            return os.pwrite(fh.fd, buf, offset)

    def ftruncate(self, path, size, fh):
        with self.cond:
            self.enter("truncate", path)
            self.check(fh)
            self.shorten(fh.inode, fh.fd, size)

    def fgetattr(self, path, fh):
        with self.cond:
            self.enter(None, path)
            self.check(fh)
            return os.fstat(fh.fd)

    def fsync(self, path, datasync, fh):
        with self.cond:
            self.enter("fsync", path)
            self.check(fh)
            os.fsync(fh.fd)
            fh.inode.flushed()
            self.commit()

    def fsyncdir(self, path, datasync, fh=None):
        with self.cond:
            self.enter("fsync", path)
            self.commit()

    def flush(self, path, fh):
        return 0

    def release(self, path, flags, fh):
        os.close(fh.fd)


class Control(BaseHTTPRequestHandler):
    layer = None

    def log_message(self, *args):
        pass

    def do_GET(self):
        url = urllib.parse.urlparse(self.path)
        q = {k: v[0] for k, v in urllib.parse.parse_qs(url.query).items()}
        layer = self.layer
        try:
            with layer.cond:
                if url.path == "/reset":
                    layer.reset(q.get("reference") == "1")
                    answer = {"reference": len(layer.reference)}
                elif url.path == "/arm":
                    answer = layer.arm(int(q["seed"]))
                elif url.path == "/cut":
                    layer.rng = random.Random(int(q.get("seed", 0)))
                    layer.cut("when asked")
                    answer = {"cut": layer.cut_at}
                elif url.path == "/wait":
                    layer.cond.wait_for(lambda: layer.cut_at is not None, int(q.get("ms", 0)) / 1000)
                    answer = {"cut": layer.cut_at}
                elif url.path == "/apply":
                    answer = layer.apply()
                elif url.path == "/hold":
                    layer.hold, layer.held = (q["rename_to"], int(q["ms"])), None
                    answer = {}
                elif url.path == "/held":
                    layer.cond.wait_for(lambda: layer.held is not None, int(q.get("ms", 0)) / 1000)
                    answer = {"held": layer.held}
                elif url.path == "/log":
                    self.reply(200, "".join(line + "\n" for line in layer.log), "text/plain")
                    return
                else:
                    self.reply(404, "{}")
                    return
        except (OSError, KeyError, ValueError) as e:
            self.reply(409, json.dumps({"error": str(e)}))
            return
        self.reply(200, json.dumps(answer))

    def reply(self, status, body, kind="application/json"):
        data = body.encode()
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    lower, mount = sys.argv[1:]
    layer = PowerCut(lower)
    Control.layer = layer
    server = ThreadingHTTPServer(("127.0.0.1", 0), Control)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print(server.server_address[1], flush=True)
    layer.multithreaded = True
    # Nothing cached by the kernel: after /apply the names and sizes change beneath it.
    layer.parse(["powercut", mount, "-f", "-o",
                 "big_writes,max_write=131072,attr_timeout=0,entry_timeout=0,negative_timeout=0,"
                 "fsname=powercut"])
    try:
        layer.main()
    finally:
        shutil.rmtree(layer.stash, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
