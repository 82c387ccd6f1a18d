"""Sends commands to Audacity's scripting pipe (mod-script-pipe), one per
argument, in order; prints each reply and fails on any that does not end
in "BatchCommand finished: OK".
    pipe.py COMMAND...
Audacity's server opens its ends when it is ready, and the first command
after start-up may get no reply: a probe is sent until one comes."""
import errno
import fcntl
import os
import re
import select
import sys
import time

UID = os.getuid()
TO = "/tmp/audacity_script_pipe.to.%d" % UID
FROM = "/tmp/audacity_script_pipe.from.%d" % UID


def open_fifo(path, flags):
    # Until the server has made the pipe (ENOENT) and, for writing, opened
    # its reading end (ENXIO), a non-blocking open fails.
    for _ in range(1200):
        try:
            return os.open(path, flags | os.O_NONBLOCK)
        except OSError as e:
            if e.errno not in (errno.ENXIO, errno.ENOENT):
                raise
            time.sleep(0.1)
    sys.exit("audacity: the scripting pipe never opened")


def connect():
    # The reply end first, without waiting for the server's writer, which
    # it may open only once a command has come.
    reply = open_fifo(FROM, os.O_RDONLY)
    to = open_fifo(TO, os.O_WRONLY)
    fcntl.fcntl(to, fcntl.F_SETFL, 0)
    return to, reply


def send(conn, command, wait):
    """The reply's lines, or None when none came within `wait` seconds of
    the last byte or the server closed without one."""
    to, reply = conn
    try:
        os.write(to, (command + "\n").encode())
    except BrokenPipeError:
        return None
    data = b""
    while not re.search(rb"BatchCommand finished:[^\n]*\n", data):
        if not select.select([reply], [], [], wait)[0]:
            return None
        chunk = os.read(reply, 65536)
        if not chunk:
            return None
        data += chunk
    return data.decode(errors="replace").strip().splitlines()


def reconnect(conn):
    for fd in conn:
        os.close(fd)
    return connect()


# The first command after start-up may get no reply: probe until one comes.
conn = connect()
for _ in range(20):
    if send(conn, "Help: Command=Help", 5) is not None:
        break
    conn = reconnect(conn)
else:
    sys.exit("audacity: no reply on the scripting pipe")
for command in sys.argv[1:]:
    lines = send(conn, command, 300)
    if lines is None:
        sys.exit("audacity: no reply to " + command)
    print(">> %s\n%s" % (command, "\n".join(lines)), flush=True)
    if not lines[-1].startswith("BatchCommand finished: OK"):
        sys.exit("audacity: %s failed" % command)
